// The login: the session calls its observer on the login thread, so the observer only queues
// an event and the main thread goes on from there.
#include "LoginStep.h"

#include "PasswordReader.h"
#include "SignalWatcher.h"
#include "core/LoginManager.h"

namespace velmocli {

using _VelmoUpload::LoginManager;
using _VelmoUpload::LoginObserver;

namespace {

class QueueingObserver final : public LoginObserver {
public:
    explicit QueueingObserver(EventQueue& queue) : m_queue(queue) {}
    ~QueueingObserver() = default;

    void LoginFinish() override {
        CliEvent event;
        event.kind = CliEvent::LoginDone;
        m_queue.Push(event);
    }
    void LogoutFinish() override {}

private:
    EventQueue& m_queue;
};

struct Credentials {
    std::string strAccount;
    std::string strPassword;  // as typed, or the remembered 40-digit hash
    bool bRemember = false;
    bool bAuto = false;
};

LoginResult GetCredentials(const CliOptions& opts, Credentials& cred, std::string& strMessage) {
    if (opts.strUser.empty()) {
        bool bRemember = false, bAuto = false;
        if (!LoginManager::GetAccountInfo(cred.strAccount, cred.strPassword, bRemember, bAuto) ||
            cred.strAccount.empty()) {
            strMessage = "no remembered account; log in once with --user NAME --remember";
            return LoginResult::NoAccount;
        }
        if (cred.strPassword.empty()) {
            strMessage = "the account " + cred.strAccount +
                         " was remembered without its password; log in with --user " +
                         cred.strAccount + " --remember";
            return LoginResult::NoAccount;
        }
        // logging in again with the stored flags leaves account.ini as it was
        cred.bRemember = bRemember;
        cred.bAuto = bAuto;
        return LoginResult::LoggedIn;
    }

    cred.strAccount = opts.strUser;
    cred.bRemember = opts.bRemember;
    cred.bAuto = opts.bAuto;
    PasswordResult result =
        opts.bPasswordStdin
            ? ReadPasswordFromStdin(SignalWatcher::WakeFd(), cred.strPassword, strMessage)
            : ReadPasswordFromTerminal("Password for " + opts.strUser + ": ",
                                       SignalWatcher::WakeFd(), cred.strPassword, strMessage);
    if (result == PasswordResult::Interrupted)
        return LoginResult::Interrupted;
    return result == PasswordResult::Ok ? LoginResult::LoggedIn : LoginResult::BadInput;
}

}  // namespace

LoginResult LogIn(const CliOptions& opts, EventQueue& queue, const std::atomic<bool>& bInterrupted,
                  std::string& strMessage) {
    if (!opts.strServer.empty())
        LoginManager::SetApiHost(opts.strServer);

    Credentials cred;
    LoginResult result = GetCredentials(opts, cred, strMessage);
    if (result != LoginResult::LoggedIn)
        return result;
    if (bInterrupted)
        return LoginResult::Interrupted;

    // registered for the rest of the process: a login thread outlives an interrupted wait
    QueueingObserver* pObserver = new QueueingObserver(queue);
    LoginManager::AddObserver(pObserver);
    if (!LoginManager::Login(cred.strAccount, cred.strPassword, cred.bRemember, cred.bAuto)) {
        strMessage = "cannot start the login";
        return LoginResult::Refused;
    }
    for (;;) {
        bool bDone = false;
        for (const CliEvent& event : queue.WaitAndTakeAll(std::chrono::seconds(1)))
            bDone = bDone || event.kind == CliEvent::LoginDone;
        if (bInterrupted)
            return LoginResult::Interrupted;
        if (bDone)
            break;
    }
    if (LoginManager::IsLogin())
        return LoginResult::LoggedIn;
    strMessage = LoginManager::GetErrTip();
    if (strMessage.empty())
        strMessage = "the service refused the login without a reason";
    return LoginResult::Refused;
}

}  // namespace velmocli
