// The login reply on any bytes: the session ends logged in exactly when the attempt reports no
// error, since the window shows either the account or the reason.
#include "fuzz_check.h"
#include "login_access.h"

using _VelmoUpload::LoginManager;
using _VelmoUpload::LoginReplyFuzzAccess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    LoginReplyFuzzAccess::Reset();
    LoginReplyFuzzAccess::ReadLogin(FuzzText(pData, nSize));
    FUZZ_CHECK(LoginManager::IsLogin() == (LoginManager::GetLoginError() == 0));
    return 0;
}
