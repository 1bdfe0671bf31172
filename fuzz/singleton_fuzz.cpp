// The single-instance message on any bytes (any local process of the user may send one). A
// refused message asks for nothing and says why; a taken one holds a path inside the message
// that a second start could have sent; and every path a second start sends arrives whole.
#include "fuzz_check.h"
#include "single_instance.h"

using rodedudir::SingletonRequest;

namespace {

// the two command fields with their separators, as the sender writes them
constexpr size_t kCommandsLength = 24;

void CheckPathArrives(const std::string& strPath) {
    std::string strMessage;
    if (!rodedudir::format_singleton_message(strPath, strMessage)) {
        FUZZ_CHECK(strPath.size() > rodedudir::kSingletonMessageMax - kCommandsLength);
        return;
    }
    SingletonRequest request;
    std::string strWhy;
    bool bTaken = rodedudir::parse_singleton_message(strMessage, request, strWhy);
    // a NUL would cut the path short where it is used
    FUZZ_CHECK(bTaken == (strPath.find('\0') == std::string::npos));
    FUZZ_CHECK(!bTaken || (request.bRestore && request.bAddTask && request.strPath == strPath));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strMessage = FuzzText(pData, nSize);
    SingletonRequest request;
    std::string strWhy;
    if (!rodedudir::parse_singleton_message(strMessage, request, strWhy)) {
        FUZZ_CHECK(!request.bRestore && !request.bAddTask && request.strPath.empty());
        FUZZ_CHECK(!strWhy.empty());
    } else {
        const std::string& strPath = request.strPath;
        FUZZ_CHECK(request.bRestore && (request.bAddTask || strPath.empty()));
        FUZZ_CHECK(strMessage.size() <= rodedudir::kSingletonMessageMax);
        FUZZ_CHECK(strPath.size() + kCommandsLength <= strMessage.size());
        FUZZ_CHECK(
            strMessage.compare(strMessage.size() - strPath.size(), strPath.size(), strPath) == 0);
        if (request.bAddTask)
            CheckPathArrives(strPath);
    }
    CheckPathArrives(strMessage);
    return 0;
}
