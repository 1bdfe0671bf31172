// The quota reply on any bytes, read in a logged-in session: it may change the figures, never
// who is logged in.
#include "fuzz_check.h"
#include "login_access.h"

using _VelmoUpload::LoginManager;
using _VelmoUpload::LoginReplyFuzzAccess;

namespace {
const char kLoginReply[] = R"({"state":true,"error":"","user_id":"100001","user_name":"demo"})";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    LoginReplyFuzzAccess::Reset();
    LoginReplyFuzzAccess::ReadLogin(kLoginReply);
    FUZZ_CHECK(LoginManager::IsLogin());
    LoginReplyFuzzAccess::ReadSpace(FuzzText(pData, nSize));
    FUZZ_CHECK(LoginManager::IsLogin() && LoginManager::GetUserId() == "100001");
    return 0;
}
