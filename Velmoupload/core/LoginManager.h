// The one user session of the process: login and its signature, the account's identity, keys,
// upload addresses, quota and upload policy, the remembered account, and login observers.
#pragma once

#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ServiceConstants.h"
#include "TaskModel.h"
#include "core/ErrorManager.h"
#include "ini/QvIniFile.h"
#include "utils/mutex.h"

namespace _VelmoUpload {

// Told when a login attempt or a logout has finished; runs on the thread that finished it.
class LoginObserver {
public:
    virtual void LoginFinish() = 0;
    virtual void LogoutFinish() = 0;

protected:
    ~LoginObserver() = default;
};

// What Login hands to its thread; the thread deletes it.
struct AccountInfo {
    std::string strAccount;
    std::string strPwd;
    bool bRemember = false;
    bool bAuto = false;
};

class LoginManager {
    // the reply readers are fed without a network by the fuzz targets
    friend struct LoginReplyFuzzAccess;

public:
    static bool Login(const std::string& strAccount, const std::string& strPwd, bool bRemember,
                      bool bAuto);
    static bool Logout();
    static bool GetAccountInfo(std::string& strAccount, std::string& strPwd, bool& bRemember,
                               bool& bAuto);
    static std::string GetTokenUrl();

    static void AddObserver(LoginObserver* pLoginObserver);
    static void RemoveObserver(LoginObserver* pLoginObserver);
    static void LoginNotify();
    static void LogoutNotify();

    // host[:port] of the service's API; the built-in one unless replaced (tests, headless client).
    static void SetApiHost(const std::string& strApiHost);
    static std::string GetApiHost();
    // host or host:port with the port in range; anything else would only fail later as "no
    // network"
    static bool IsValidApiHost(const std::string& strApiHost);

    // ---- session ----
    static bool IsLogin();
    static std::string GetUserId();
    static std::string GetName();
    static std::string GetErrTip();
    // Why the last login attempt failed, so a window can name the real reason: 0 when it
    // succeeded, else one of the codes below (catalogue codes).
    static int GetLoginError();
    // refused, GetErrTip has the service's text; an empty password; a reply that could not
    // be read; the service could not be reached
    static constexpr int kLoginRefused = ServiceCode::kUnknownUser;
    static constexpr int kLoginNothingToSend = ServiceCode::kBadParameter;
    static constexpr int kLoginBadReply = ServiceCode::kInternal;
    static constexpr int kLoginNoReply = kErrNoNetwork;
    static std::string GetSpaceInfo();
    static std::string GetFaceUrl();
    static std::string GetEmail();
    static std::string GetResource();
    static std::string GetUserKey();
    static std::string GetUploadUrl();
    static std::string GetResumeUrl();
    static std::string GetCancelUrl();
    static std::string GetTarget();

    // ---- quota and upload policy ----
    static bool GetSpace();
    static bool IsVip();
    static int IsAllowUpload();
    static long long GetTotalSize();
    static long long GetUsedSize();
    static long long GetRemainSize();
    static std::string GetUsedPercentString();
    static std::string GetShowTotalSize();
    static std::string GetShowUsedSize();
    static std::string GetShowRemainSize();
    static long long GetMaxUploadSize();
    static double GetTimeLimit();
    static bool NeedHashAll(const std::string& strFilePath);
    static HashType GetHashType(long long nFileSize);

    static bool _Initialize();
    static void* _LoginThread(void* pArguments);

private:
    // Sends the login and fills the session from its reply; the outcome is in m_bIsLogin.
    static void _DoLogin(const AccountInfo& info);
    static void _ReadLoginReply(const std::string& strBody, const std::string& strAccount,
                                const std::string& strSession, bool bRemember, bool bAuto);
    // The quota and token replies, read apart from their requests.
    static bool _ReadSpaceReply(const std::string& strBody);
    static bool _ReadTokenReply(const std::string& strBody, std::string& strUrl);
    static std::string _ApiUrl(const std::string& strPathAndQuery);

    // guards every session member below (not the observer list, not m_iniFile, which has its own)
    static Mutex m_sessionLock;
    static bool m_bIsLogin;
    static bool m_bIsVip;
    static int m_nAllowUpload;
    static double m_fTimeLimit;
    static long long m_nTotalSize;
    static long long m_nUsedSize;
    static long long m_nRemainSize;
    static std::string m_strUsedPercent;
    static std::string m_strShowTotalSize;
    static std::string m_strShowUsedSize;
    static std::string m_strShowRemainSize;
    static long long m_nMaxUploadSize;
    static std::string m_strErrTip;
    static int m_nLoginError;
    static std::string m_strUserId;
    static std::string m_strUserName;
    static std::string m_strSpaceInfo;
    static std::string m_strFaceUrl;
    static std::string m_strEmail;
    static std::string m_strResource;
    static std::string m_strUserKey;
    static std::string m_strUploadUrl;
    static std::string m_strResumeUrl;
    static std::string m_strCancelUrl;
    static std::string m_strTarget;
    static std::string m_strAccountPath;
    static std::vector<std::string> m_hashType;
    static std::map<HashType, std::pair<long long, long long>> m_hashRange;
    static std::string m_strApiHost;

    static QvIniFile m_iniFile;
    // guards m_observerList; observers are called on a copy, outside it
    static Mutex m_observerLock;
    static std::list<LoginObserver*> m_observerList;
};

}  // namespace _VelmoUpload
