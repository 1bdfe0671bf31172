// The session's reply readers, reached without a network, and a session put back between
// inputs to the state a login attempt starts from, so no input sees what the one before left.
#pragma once

#include <string>

#include "core/LoginManager.h"

namespace _VelmoUpload {

struct LoginReplyFuzzAccess {
    // logged out, with an attempt under way as the login thread starts one
    static void Reset() {
        LoginManager::Logout();
        MutexLocker lock(LoginManager::m_sessionLock);
        LoginManager::m_nLoginError = LoginManager::kLoginBadReply;
    }
    static void ReadLogin(const std::string& strBody) {
        LoginManager::_ReadLoginReply(strBody, "demo", std::string(), false, false);
    }
    static bool ReadSpace(const std::string& strBody) {
        return LoginManager::_ReadSpaceReply(strBody);
    }
    static bool ReadToken(const std::string& strBody, std::string& strUrl) {
        return LoginManager::_ReadTokenReply(strBody, strUrl);
    }
};

}  // namespace _VelmoUpload
