// Shared pieces of the account tests: a stand-in with a known policy, a login that waits for
// its outcome, and canned replies for a scripted API host the stand-in would never send.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "LoginWaiter.h"
#include "StandinFixture.h"
#include "TestHttpServer.h"

namespace accounttest {

using _VelmoUpload::LoginManager;

// A password whose length makes the client take it for a remembered hash.
constexpr char kFortyCharPassword[] = "Abcdefghij0123456789abcdefghij0123456789";
constexpr long long kQuota = 50000000;
constexpr long long kSizeLimit = 9000000;

class AccountTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user",           "alice:wonderland",
                "--user",           std::string("carol:") + kFortyCharPassword,
                "--user",           "a&b=c:odd name",
                "--quota",          std::to_string(kQuota),
                "--size-limit",     std::to_string(kSizeLimit),
                "--time-limit",     "2.5",
                "--type-limit",     "jpg",
                "--type-limit",     "mov",
                "--file-range",     "0=0-1048576",
                "--file-range",     "1=1048576-",
                "--upload-allowed", "2"};
    }
    void SetUp() override {
        StandinFixture::SetUp();
        if (HasFatalFailure())
            return;
        LoginManager::Logout();
        LoginManager::SetApiHost(StandinHost());
    }
    void TearDown() override {
        LoginManager::Logout();
        LoginManager::SetApiHost(std::string());
        StandinFixture::TearDown();
    }
    bool LoginAndWait(const std::string& strAccount, const std::string& strPwd,
                      bool bRemember = true, bool bAuto = false) {
        return m_login.LoginAndWait(strAccount, strPwd, bRemember, bAuto);
    }
    // The API host answers the next connections with these bodies, as HTTP 200 replies.
    void ScriptApiHost(const std::vector<std::string>& vBodies);
    std::string AccountFile() const { return m_strHome + "/.Vurozudeduz/upload/account.ini"; }

    velmotest::LoginWaiter m_login;
    std::unique_ptr<velmotest::TestHttpServer> m_pScripted;
};

// A successful login reply as the service writes it, with the fields a test wants changed.
std::string LoginReplyJson(const std::string& strOverrides = std::string());

}  // namespace accounttest
