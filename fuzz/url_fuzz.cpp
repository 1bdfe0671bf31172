// URL splitting on any text (the service hands out the upload URLs): a port in range, a path
// that starts with "/" and is the URL's own ending, a host taken from the URL.
#include "fuzz_check.h"
#include "http/QvHttpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strUrl = FuzzText(pData, nSize);
    std::string strScheme, strHost, strPath;
    int nPort = -1;
    _VelmoUpload::QvHttpClient::GetUrlInfo(strUrl, strScheme, strHost, nPort, strPath);
    FUZZ_CHECK(nPort >= 0 && nPort <= 65535);
    FUZZ_CHECK(!strPath.empty() && strPath[0] == '/');
    FUZZ_CHECK(strPath == "/" ||
               (strUrl.size() >= strPath.size() &&
                strUrl.compare(strUrl.size() - strPath.size(), strPath.size(), strPath) == 0));
    FUZZ_CHECK(strUrl.find(strHost) != std::string::npos);
    return 0;
}
