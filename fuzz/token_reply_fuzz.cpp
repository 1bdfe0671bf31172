// The token reply on any bytes: a refused or unreadable reply yields no URL to open.
#include "fuzz_check.h"
#include "login_access.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string strUrl;
    if (!_VelmoUpload::LoginReplyFuzzAccess::ReadToken(FuzzText(pData, nSize), strUrl))
        FUZZ_CHECK(strUrl.empty());
    return 0;
}
