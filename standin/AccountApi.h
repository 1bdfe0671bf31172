// The API host's account requests: login, web token and space.
#pragma once

#include <json/json.h>

#include "FormFields.h"
#include "ServiceContext.h"

namespace standin {

// A login signature is taken this many seconds either side of the server's clock.
constexpr long long kLoginWindowSeconds = 600;

ApiResult HandleLogin(ServiceContext& ctx, const FormFields& body, bool bReportFull);
ApiResult HandleToken(ServiceContext& ctx, const FormFields& query);
ApiResult HandleSpace(ServiceContext& ctx, const FormFields& query, bool bReportFull);

// The "space" object for an account with nUsed bytes of nTotal.
Json::Value SpaceObject(long long nUsed, long long nTotal);

// The account whose user id is strUserId (decimal), false when there is none.
bool AccountByUserId(ServiceContext& ctx, const std::string& strUserId, Account& account);

// The target text that names a folder of an account: "U_<user id>_<folder id>".
std::string FolderTarget(long long nUserId, long long nFolderId);

}  // namespace standin
