// HTTP reply framing on any bytes. A body is only ever taken from a 200 reply that is not cut
// short; and as the client stops reading once a reply is complete, bytes arriving after that
// point must change neither the verdict nor the body.
#include "fuzz_check.h"
#include "http/HttpReply.h"

using _VelmoUpload::HttpReply;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strRaw = FuzzText(pData, nSize);
    const int nCode = HttpReply::StatusCode(strRaw);
    FUZZ_CHECK(nCode >= -1 && nCode <= 999);
    const bool bComplete = HttpReply::IsComplete(strRaw);
    const bool bCutShort = HttpReply::IsCutShort(strRaw);
    FUZZ_CHECK(!(bComplete && bCutShort));

    std::string strBody = strRaw;
    const bool bBody = HttpReply::ExtractBody(strBody);
    if (bBody) {
        FUZZ_CHECK(nCode == 200 && !bCutShort);
        FUZZ_CHECK(strBody.size() < strRaw.size());
    } else {
        FUZZ_CHECK(strBody == strRaw);
    }

    const std::string strFirstRead = strRaw.substr(0, strRaw.size() / 2);
    if (HttpReply::IsComplete(strFirstRead)) {
        FUZZ_CHECK(bComplete);
        std::string strFirstBody = strFirstRead;
        FUZZ_CHECK(HttpReply::ExtractBody(strFirstBody) == bBody);
        FUZZ_CHECK(!bBody || strFirstBody == strBody);
    }
    return 0;
}
