// The login session: the signed login on its own thread, the reply read field by field into
// the session, the remembered account in "account.ini", and the token URL. One lock guards
// every session member, so the window, the upload threads and a quota refresh never see one
// half-written.
#include "core/LoginManager.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

#include "ServiceConstants.h"
#include "core/ErrorManager.h"
#include "core/JsonRead.h"
#include "http/FormText.h"
#include "http/QvHttpClient.h"
#include "utils/NamedThread.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

Mutex LoginManager::m_sessionLock;
bool LoginManager::m_bIsLogin = false;
bool LoginManager::m_bIsVip = false;
int LoginManager::m_nAllowUpload = 0;
double LoginManager::m_fTimeLimit = 0.0;
long long LoginManager::m_nTotalSize = 0;
long long LoginManager::m_nUsedSize = 0;
long long LoginManager::m_nRemainSize = 0;
std::string LoginManager::m_strUsedPercent;
std::string LoginManager::m_strShowTotalSize;
std::string LoginManager::m_strShowUsedSize;
std::string LoginManager::m_strShowRemainSize;
long long LoginManager::m_nMaxUploadSize = 0;
std::string LoginManager::m_strErrTip;
int LoginManager::m_nLoginError = 0;
std::string LoginManager::m_strUserId;
std::string LoginManager::m_strUserName;
std::string LoginManager::m_strSpaceInfo;
std::string LoginManager::m_strFaceUrl;
std::string LoginManager::m_strEmail;
std::string LoginManager::m_strResource;
std::string LoginManager::m_strUserKey;
std::string LoginManager::m_strUploadUrl;
std::string LoginManager::m_strResumeUrl;
std::string LoginManager::m_strCancelUrl;
std::string LoginManager::m_strTarget;
std::string LoginManager::m_strAccountPath;
std::vector<std::string> LoginManager::m_hashType;
std::map<HashType, std::pair<long long, long long>> LoginManager::m_hashRange;
std::string LoginManager::m_strApiHost = kDefaultApiHost;
QvIniFile LoginManager::m_iniFile;
Mutex LoginManager::m_observerLock;
std::list<LoginObserver*> LoginManager::m_observerList;

namespace {
const char kAccountFileName[] = "account.ini";
constexpr size_t kPasswordHashLength = 40;
}  // namespace

// ---------------------------------------------------------------- login

bool LoginManager::Login(const std::string& strAccount, const std::string& strPwd, bool bRemember,
                         bool bAuto) {
    if (IsLogin()) {
        LoginNotify();
        return true;
    }
    AccountInfo* pInfo = new (std::nothrow) AccountInfo;
    if (!pInfo)
        return false;
    pInfo->strAccount = strAccount;
    pInfo->strPwd = strPwd;
    pInfo->bRemember = bRemember;
    pInfo->bAuto = bAuto;

    // the login thread: starts here, ends at the bottom of _LoginThread; nobody joins it
    if (!StartDetachedThread("velmo-login", [pInfo] { _LoginThread(pInfo); })) {
        delete pInfo;
        return false;
    }
    return true;
}

void* LoginManager::_LoginThread(void* pArguments) {
    if (!pArguments)
        return reinterpret_cast<void*>(-1);
    _Initialize();
    AccountInfo* pInfo = static_cast<AccountInfo*>(pArguments);
    _DoLogin(*pInfo);
    delete pInfo;
    LoginNotify();
    return nullptr;
}

void LoginManager::_DoLogin(const AccountInfo& info) {
    {
        // until this attempt knows better; the tip of an earlier one stays, as callers expect
        MutexLocker lock(m_sessionLock);
        m_nLoginError = kLoginBadReply;
    }
    // a remembered account replays its stored 40-digit hash in place of the password
    std::string strHash;
    if (info.strPwd.size() == kPasswordHashLength) {
        strHash = info.strPwd;
    } else if (!Utils::GetHash(info.strPwd, strHash)) {
        MutexLocker lock(m_sessionLock);
        m_nLoginError = kLoginNothingToSend;
        return;  // an empty password: nothing is sent
    }
    strHash = Utils::StringToLowerCase(strHash);

    const std::string strTime = Utils::StringI2S(static_cast<long long>(time(nullptr)));
    // signed over the raw account name; only the wire form is percent-encoded
    const std::string strSign = Utils::GetMD5(info.strAccount + strHash + strTime + kLoginSalt);
    FormText body;
    body.Add("account", info.strAccount)
        .Add("_time", strTime)
        .Add("version", kPluginVersion)
        .Add("sign", strSign);

    QvHttpClient client;
    std::string strResponse;
    if (!client.Post(_ApiUrl("/app/clogin"), body.Text(), strResponse)) {
        std::string strTip = Utils::StringG2U(ErrorManager::GetErrorMessage(kLoginNoReply));
        MutexLocker lock(m_sessionLock);
        m_strErrTip = strTip;
        m_nLoginError = kLoginNoReply;
        return;
    }
    _ReadLoginReply(strResponse, info.strAccount, info.bRemember ? strHash : std::string(),
                    info.bRemember, info.bAuto);
}

void LoginManager::_ReadLoginReply(const std::string& strBody, const std::string& strAccount,
                                   const std::string& strSession, bool bRemember, bool bAuto) {
    Json::Value root;
    if (!JsonParse(strBody, root))
        return;

    std::string strUserId;
    {
        MutexLocker lock(m_sessionLock);
        try {
            // each member is set as soon as its field is read: a bad field stops the reading
            // there and leaves what came before it
            // an earlier reply that broke off half-way must not leave its limits behind
            m_hashType.clear();
            m_hashRange.clear();
            m_bIsLogin = JsonBool(JsonField(root, "state"));
            m_strErrTip = JsonText(JsonField(root, "error"));
            if (!m_bIsLogin) {
                m_nLoginError = kLoginRefused;
                return;
            }

            m_nAllowUpload = JsonInt(JsonField(root, "upload_allowed"));
            m_bIsVip = JsonBool(JsonField(root, "is_vip"));
            m_strUserId = JsonText(JsonField(root, "user_id"));
            m_strUserName = JsonText(JsonField(root, "user_name"));
            m_strFaceUrl = JsonText(JsonField(root, "face"));
            m_strEmail = JsonText(JsonField(root, "email"));
            m_strResource = JsonText(JsonField(root, "resource"));
            m_strUserKey = JsonText(JsonField(root, "userkey"));
            m_strUploadUrl = JsonText(JsonField(root, "url_upload"));
            m_strResumeUrl = JsonText(JsonField(root, "url_resume"));
            m_strCancelUrl = JsonText(JsonField(root, "url_cancel"));
            m_strTarget = JsonText(JsonField(root, "target"));
            m_fTimeLimit = JsonDouble(JsonField(root, "time_limit"));
            m_nMaxUploadSize = JsonInt64(JsonField(root, "size_limit"));
            const Json::Value& space = JsonField(root, "space");
            m_nTotalSize = JsonInt64(JsonField(space, "byte_size_total"));
            m_nUsedSize = JsonInt64(JsonField(space, "byte_size_used"));
            m_nRemainSize = JsonInt64(JsonField(space, "byte_size_remain"));

            const Json::Value& typeLimit = JsonField(root, "type_limit");
            if (typeLimit.isObject())
                throw JsonTypeError("type_limit");
            if (typeLimit.isArray())
                for (Json::ArrayIndex i = 0; i < typeLimit.size(); ++i)
                    m_hashType.push_back(JsonText(typeLimit[i]));

            const Json::Value& fileRange = JsonField(root, "file_range");
            const char* const kKinds[] = {"0", "1", "2"};
            for (int nKind = 0; nKind < 3; ++nKind) {
                long long nMin = 0, nMax = 0;
                if (Utils::GetNumFromRange(JsonText(JsonField(fileRange, kKinds[nKind])), nMin,
                                           nMax))
                    m_hashRange[static_cast<HashType>(nKind)] = std::make_pair(nMin, nMax);
            }

            m_strUsedPercent = JsonText(JsonField(space, "size_used_percent"));
            m_strShowTotalSize = JsonText(JsonField(space, "size_total"));
            m_strShowUsedSize = JsonText(JsonField(space, "size_used"));
            m_strShowRemainSize = JsonText(JsonField(space, "size_remain"));
            m_strSpaceInfo = m_strShowUsedSize + "|" + m_strShowTotalSize + "|" + m_strUsedPercent;
            strUserId = m_strUserId;
            m_nLoginError = 0;
        } catch (...) {
            m_bIsLogin = false;
            return;
        }
    }

    // only the account that logged in last is remembered
    m_iniFile.Clear();
    m_iniFile.Update(strUserId, "account", strAccount);
    m_iniFile.Update(strUserId, "session", strSession);
    m_iniFile.Update(strUserId, "remember", Utils::StringI2S(bRemember ? 1 : 0));
    m_iniFile.Update(strUserId, "auto", Utils::StringI2S(bAuto ? 1 : 0));
    m_iniFile.Save();  // a file that cannot be written does not undo the login
}

bool LoginManager::_Initialize() {
    MutexLocker lock(m_sessionLock);
    if (!m_strAccountPath.empty())
        return true;
    std::string strFolder;
    Utils::GetConfigFolder(strFolder);
    Utils::CreateDir(strFolder);
    m_strAccountPath = strFolder + kAccountFileName;
    m_iniFile.SetIniPath(m_strAccountPath);
    Utils::OutputDebugStringEx("ACCOUNT PATH: " + m_strAccountPath);
    return true;
}

bool LoginManager::GetAccountInfo(std::string& strAccount, std::string& strPwd, bool& bRemember,
                                  bool& bAuto) {
    _Initialize();
    m_iniFile.Load();
    std::list<std::string> sections;
    m_iniFile.GetSections(sections);
    if (sections.empty()) {
        strAccount.clear();
        strPwd.clear();
        bRemember = false;
        bAuto = false;
        return false;
    }
    const std::string& strSection = sections.front();
    std::string strRemember, strAuto;
    // the one line the user gets when the remembered account cannot be used as it stands
    std::string strFile;
    {
        MutexLocker lock(m_sessionLock);
        strFile = m_strAccountPath;
    }
    auto unusable = [&strFile](const char* pszWhy) {
        fprintf(stderr, "account file %s: %s\n", strFile.c_str(), pszWhy);
        return false;
    };
    if (!m_iniFile.GetValue(strSection, "account", strAccount))
        return unusable("the remembered account has no name; log in again");
    if (!m_iniFile.GetValue(strSection, "session", strPwd))
        return unusable("the remembered account is incomplete; log in again");
    if (!m_iniFile.GetValue(strSection, "remember", strRemember))
        return unusable("the remembered account is incomplete; log in again");
    bRemember = Utils::StringS2I(strRemember) != 0;
    if (!m_iniFile.GetValue(strSection, "auto", strAuto))
        return unusable("the remembered account is incomplete; log in again");
    bAuto = Utils::StringS2I(strAuto) != 0;
    bool bNameSound = !strAccount.empty();
    for (char c : strAccount)
        bNameSound = bNameSound && static_cast<unsigned char>(c) >= 0x20;
    if (!bNameSound)
        return unusable("the remembered account name is damaged; log in again");
    // the stored password is its 40-digit hash; anything else would only be refused
    bool bHashSound = strPwd.size() == kPasswordHashLength;
    for (char c : strPwd)
        bHashSound = bHashSound && isxdigit(static_cast<unsigned char>(c));
    if (!strPwd.empty() && !bHashSound) {
        unusable("the remembered password is damaged and is not used; type it again");
        strPwd.clear();
    }
    return true;
}

bool LoginManager::Logout() {
    {
        MutexLocker lock(m_sessionLock);
        m_bIsLogin = false;
        m_bIsVip = false;
        m_nAllowUpload = 0;
        m_fTimeLimit = 0.0;
        m_nTotalSize = m_nUsedSize = m_nRemainSize = 0;
        m_nMaxUploadSize = 0;
        for (std::string* pText :
             {&m_strUsedPercent, &m_strShowTotalSize, &m_strShowUsedSize, &m_strShowRemainSize,
              &m_strErrTip, &m_strUserId, &m_strUserName, &m_strSpaceInfo, &m_strFaceUrl,
              &m_strEmail, &m_strResource, &m_strUserKey, &m_strUploadUrl, &m_strResumeUrl,
              &m_strCancelUrl, &m_strTarget, &m_strAccountPath})
            pText->clear();
        m_hashType.clear();
        m_hashRange.clear();
    }
    // the file stays on disk: the remembered account outlives the logout
    m_iniFile.SetIniPath(std::string());
    m_iniFile.Clear();
    LogoutNotify();
    return true;
}

std::string LoginManager::GetTokenUrl() {
    std::string strUserId, strResource;
    {
        MutexLocker lock(m_sessionLock);
        if (!m_bIsLogin)
            return std::string();
        strUserId = m_strUserId;
        strResource = m_strResource;
    }
    FormText query;
    query.Add("user_id", strUserId)
        .Add("source", strResource)
        .Add("app", kAppId)
        .Add("version", kPluginVersion);
    QvHttpClient client;
    std::string strResponse;
    if (!client.Get(_ApiUrl("/app/user/login?" + query.Text()), strResponse))
        return std::string();
    std::string strUrl;
    if (!_ReadTokenReply(strResponse, strUrl))
        return std::string();
    return strUrl;
}

bool LoginManager::_ReadTokenReply(const std::string& strBody, std::string& strUrl) {
    Json::Value root;
    if (!JsonParse(strBody, root))
        return false;
    try {
        if (!JsonBool(JsonField(root, "state")))
            return false;
        strUrl = JsonText(JsonField(root, "url"));
    } catch (...) {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- observers

void LoginManager::AddObserver(LoginObserver* pLoginObserver) {
    MutexLocker lock(m_observerLock);
    for (LoginObserver* pObserver : m_observerList)
        if (pObserver == pLoginObserver)
            return;
    m_observerList.push_back(pLoginObserver);
}

void LoginManager::RemoveObserver(LoginObserver* pLoginObserver) {
    MutexLocker lock(m_observerLock);
    m_observerList.remove(pLoginObserver);
}

void LoginManager::LoginNotify() {
    std::list<LoginObserver*> observers;
    {
        MutexLocker lock(m_observerLock);
        observers = m_observerList;
    }
    for (LoginObserver* pObserver : observers)
        pObserver->LoginFinish();
}

void LoginManager::LogoutNotify() {
    std::list<LoginObserver*> observers;
    {
        MutexLocker lock(m_observerLock);
        observers = m_observerList;
    }
    for (LoginObserver* pObserver : observers)
        pObserver->LogoutFinish();
}

// ---------------------------------------------------------------- API host

void LoginManager::SetApiHost(const std::string& strApiHost) {
    MutexLocker lock(m_sessionLock);
    m_strApiHost = strApiHost.empty() ? std::string(kDefaultApiHost) : strApiHost;
}

std::string LoginManager::GetApiHost() {
    MutexLocker lock(m_sessionLock);
    return m_strApiHost;
}

bool LoginManager::IsValidApiHost(const std::string& strApiHost) {
    std::string::size_type nColon = strApiHost.rfind(':');
    std::string strHost = strApiHost.substr(0, nColon);
    if (strHost.empty() || strHost.find_first_of("/ ?#") != std::string::npos)
        return false;
    if (nColon == std::string::npos)
        return true;
    std::string strPort = strApiHost.substr(nColon + 1);
    if (strPort.empty() || strPort.size() > 5)
        return false;
    for (char c : strPort)
        if (c < '0' || c > '9')
            return false;
    long nPort = std::strtol(strPort.c_str(), nullptr, 10);
    return nPort >= 1 && nPort <= 65535;
}

std::string LoginManager::_ApiUrl(const std::string& strPathAndQuery) {
    return "http://" + GetApiHost() + strPathAndQuery;
}

// ---------------------------------------------------------------- accessors

#define VELMO_SESSION_GETTER(Type, Name, Member) \
    Type LoginManager::Name() {                  \
        MutexLocker lock(m_sessionLock);         \
        return Member;                           \
    }

VELMO_SESSION_GETTER(bool, IsLogin, m_bIsLogin)
VELMO_SESSION_GETTER(std::string, GetUserId, m_strUserId)
VELMO_SESSION_GETTER(std::string, GetName, m_strUserName)
VELMO_SESSION_GETTER(std::string, GetErrTip, m_strErrTip)
VELMO_SESSION_GETTER(int, GetLoginError, m_nLoginError)
VELMO_SESSION_GETTER(std::string, GetSpaceInfo, m_strSpaceInfo)
VELMO_SESSION_GETTER(std::string, GetFaceUrl, m_strFaceUrl)
VELMO_SESSION_GETTER(std::string, GetEmail, m_strEmail)
VELMO_SESSION_GETTER(std::string, GetResource, m_strResource)
VELMO_SESSION_GETTER(std::string, GetUserKey, m_strUserKey)
VELMO_SESSION_GETTER(std::string, GetUploadUrl, m_strUploadUrl)
VELMO_SESSION_GETTER(std::string, GetResumeUrl, m_strResumeUrl)
VELMO_SESSION_GETTER(std::string, GetCancelUrl, m_strCancelUrl)
VELMO_SESSION_GETTER(std::string, GetTarget, m_strTarget)
VELMO_SESSION_GETTER(bool, IsVip, m_bIsVip)
VELMO_SESSION_GETTER(int, IsAllowUpload, m_nAllowUpload)
VELMO_SESSION_GETTER(long long, GetTotalSize, m_nTotalSize)
VELMO_SESSION_GETTER(long long, GetUsedSize, m_nUsedSize)
VELMO_SESSION_GETTER(long long, GetRemainSize, m_nRemainSize)
VELMO_SESSION_GETTER(std::string, GetUsedPercentString, m_strUsedPercent)
VELMO_SESSION_GETTER(std::string, GetShowTotalSize, m_strShowTotalSize)
VELMO_SESSION_GETTER(std::string, GetShowUsedSize, m_strShowUsedSize)
VELMO_SESSION_GETTER(std::string, GetShowRemainSize, m_strShowRemainSize)
VELMO_SESSION_GETTER(long long, GetMaxUploadSize, m_nMaxUploadSize)

#undef VELMO_SESSION_GETTER

}  // namespace _VelmoUpload
