// A login observer that counts finished logins and logouts, and a login that waits for its
// LoginFinish: the engine, folder and account suites log in this way.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "WaitFor.h"
#include "core/LoginManager.h"

namespace velmotest {

class LoginWaiter : public _VelmoUpload::LoginObserver {
public:
    LoginWaiter() { _VelmoUpload::LoginManager::AddObserver(this); }
    ~LoginWaiter() { _VelmoUpload::LoginManager::RemoveObserver(this); }
    void LoginFinish() override { ++m_nLogins; }
    void LogoutFinish() override { ++m_nLogouts; }

    // Starts a login and waits for its LoginFinish; the outcome is whether it logged in.
    bool LoginAndWait(const std::string& strAccount, const std::string& strPwd,
                      bool bRemember = true, bool bAuto = false) {
        const int nBefore = m_nLogins;
        return _VelmoUpload::LoginManager::Login(strAccount, strPwd, bRemember, bAuto) &&
               waitFor([&] { return m_nLogins > nBefore; }, std::chrono::seconds(30)) &&
               _VelmoUpload::LoginManager::IsLogin();
    }

    std::atomic<int> m_nLogins{0};
    std::atomic<int> m_nLogouts{0};
};

}  // namespace velmotest
