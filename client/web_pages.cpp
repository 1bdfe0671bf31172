// Web addresses on the service's own host, so a client pointed at another service (or the
// stand-in) sends the user to that service's pages.
#include "web_pages.h"

#include <glibmm/spawn.h>

#include <cstdlib>
#include <iostream>
#include <vector>

#include "core/LoginManager.h"

namespace rodedudir {

std::string web_page_url(WebPage page) {
    const char* pszQuery = "";
    switch (page) {
        case WebPage::Home:
            break;
        case WebPage::Register:
            pszQuery = "?ct=register";
            break;
        case WebPage::ForgotPassword:
            pszQuery = "?ct=forgot_passwd";
            break;
        case WebPage::ForgotAccount:
            pszQuery = "?ct=forgot_account";
            break;
        case WebPage::UpgradeVip:
            pszQuery = "?ct=vip";
            break;
        case WebPage::ClientDownload:
            pszQuery = "?ct=client";
            break;
    }
    return "http://" + _VelmoUpload::LoginManager::GetApiHost() + "/" + pszQuery;
}

bool open_web_page(const std::string& strUrl) {
    try {
        Glib::spawn_async(std::string(), std::vector<std::string>{"xdg-open", strUrl},
                          Glib::SPAWN_SEARCH_PATH);
        return true;
    } catch (const Glib::Error& e) {
        const std::string strWhy = e.what();  // as bytes, see get_filename_from_uri
        std::cout << "xdg-open " << strUrl << " failed: " << strWhy << std::endl;
        return false;
    }
}

std::string api_host_from_environment(std::string& strError) {
    const char* pszHost = getenv("VELMO_API_HOST");
    if (!pszHost || !*pszHost)
        return std::string();
    if (!_VelmoUpload::LoginManager::IsValidApiHost(pszHost)) {
        strError = std::string("VELMO_API_HOST must be HOST:PORT, not \"") + pszHost + "\"";
        return std::string();
    }
    return pszHost;
}

}  // namespace rodedudir
