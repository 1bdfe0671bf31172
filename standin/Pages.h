// The web pages: the home page with every account's folders and files (what the client's
// "WebDisk" button opens), the register / password / appeal pages, and the account picture.
#pragma once

#include <string>

#include "ServiceContext.h"

namespace standin {

// strCt: the "ct" query value; strUserId limits the home page to one account when not empty.
std::string PageHtml(ServiceContext& ctx, const std::string& strCt, const std::string& strUserId);

// A small PNG served as every account's picture.
std::string FacePng();

}  // namespace standin
