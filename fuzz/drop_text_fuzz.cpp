// A drop's text on any bytes (any application can drop on the window): every entry is a
// "file://" line of the text, in order, without its line end, and turning one into a file
// name gives an absolute path or the entry unchanged.
#include "drop_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strText = FuzzText(pData, nSize);
    size_t nFrom = 0;
    for (const std::string& strUri : rodedudir::split_drop_uris(strText)) {
        FUZZ_CHECK(strUri.compare(0, 7, "file://") == 0);
        FUZZ_CHECK(strUri.find('\n') == std::string::npos);
        size_t nAt = strText.find(strUri, nFrom);
        FUZZ_CHECK(nAt != std::string::npos);
        nFrom = nAt + strUri.size();
        const std::string strName = rodedudir::get_filename_from_uri(strUri);
        FUZZ_CHECK(strName == strUri || (!strName.empty() && strName[0] == '/'));
    }
    return 0;
}
