// Shared pieces of the account tests: an observer that counts finished logins, a stand-in
// with a known policy, and a scripted API host for replies the stand-in would never send.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "StandinFixture.h"
#include "TestHttpServer.h"
#include "WaitFor.h"
#include "core/LoginManager.h"

namespace accounttest {

using _VelmoUpload::LoginManager;

class CountingObserver : public _VelmoUpload::LoginObserver {
public:
    void LoginFinish() override { ++m_nLogins; }
    void LogoutFinish() override { ++m_nLogouts; }
    std::atomic<int> m_nLogins{0};
    std::atomic<int> m_nLogouts{0};
};

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
        LoginManager::AddObserver(&m_observer);
    }
    void TearDown() override {
        LoginManager::RemoveObserver(&m_observer);
        LoginManager::Logout();
        LoginManager::SetApiHost(std::string());
        StandinFixture::TearDown();
    }
    // Starts a login and waits for its LoginFinish; the outcome is LoginManager::IsLogin().
    bool LoginAndWait(const std::string& strAccount, const std::string& strPwd,
                      bool bRemember = true, bool bAuto = false) {
        int nBefore = m_observer.m_nLogins;
        if (!LoginManager::Login(strAccount, strPwd, bRemember, bAuto))
            return false;
        bool bHeard = velmotest::waitFor([&] { return m_observer.m_nLogins > nBefore; },
                                         std::chrono::seconds(30));
        EXPECT_TRUE(bHeard) << "no LoginFinish";
        return bHeard && LoginManager::IsLogin();
    }
    std::string AccountFile() const { return m_strHome + "/.Vurozudeduz/upload/account.ini"; }

    CountingObserver m_observer;
};

// A successful login reply as the service writes it, with the fields a test wants changed.
std::string LoginReplyJson(const std::string& strOverrides = std::string());
// An HTTP 200 reply carrying strBody, closed after it.
std::string HttpOk(const std::string& strBody);

}  // namespace accounttest
