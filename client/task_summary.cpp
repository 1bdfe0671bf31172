// Reading the engine's summary text without fixed buffers.
#include "task_summary.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace rodedudir {

namespace {

// One decimal field up to the next ","; false when it is not one.
bool ReadNumber(const std::string& strText, size_t& nPos, long long& nValue) {
    size_t nEnd = strText.find(',', nPos);
    std::string strField =
        strText.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
    if (strField.empty())
        return false;
    char* pEnd = nullptr;
    errno = 0;
    long long n = strtoll(strField.c_str(), &pEnd, 10);
    if (errno != 0 || pEnd == strField.c_str())
        return false;
    nValue = n;
    nPos = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    return true;
}

}  // namespace

TaskSummary parse_task_summary(const std::string& strText) {
    TaskSummary summary;
    size_t nPos = 0;
    long long nValue = 0;
    if (!ReadNumber(strText, nPos, nValue))
        return summary;
    summary.nFiles = static_cast<int>(nValue < 0 ? 0 : (nValue > INT_MAX ? INT_MAX : nValue));
    if (!ReadNumber(strText, nPos, summary.nTotalSize))
        return summary;
    if (!ReadNumber(strText, nPos, summary.nSpeed))
        return summary;
    size_t nEnd = strText.find_first_of(" \t\r\n", nPos);
    summary.strTimeLeft =
        strText.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
    return summary;
}

}  // namespace rodedudir
