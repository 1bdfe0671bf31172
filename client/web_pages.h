// The service's web pages the window opens, all on the API host, and the browser start.
#pragma once

#include <string>

namespace rodedudir {

enum class WebPage { Home, Register, ForgotPassword, ForgotAccount, UpgradeVip, ClientDownload };

// "http://" + the API host + "/" and the page's query.
std::string web_page_url(WebPage page);
// Starts "xdg-open URL" without waiting for it; false when it cannot be started.
bool open_web_page(const std::string& strUrl);

// The API host from VELMO_API_HOST when set and well-formed (HOST:PORT); empty otherwise,
// with strError saying what was wrong when it was set.
std::string api_host_from_environment(std::string& strError);

}  // namespace rodedudir
