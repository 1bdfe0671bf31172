// Request log lines, whole and flushed, so that a reader of the pipe never sees half a line.
#include "RequestLog.h"

#include <cstdio>
#include <mutex>

namespace standin {

namespace {
std::mutex g_logMutex;
}

void RequestLog::Line(const std::string& strMethod, const std::string& strPath,
                      const std::string& strAccount, const std::string& strVerdict) {
    Note(strMethod + " " + strPath + " " + (strAccount.empty() ? "-" : strAccount) + " " +
         strVerdict);
}

void RequestLog::Note(const std::string& strText) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::string strLine = strText;
    for (char& c : strLine)
        if (c == '\n' || c == '\r')
            c = ' ';
    strLine += '\n';
    fwrite(strLine.data(), 1, strLine.size(), stdout);
    fflush(stdout);
}

}  // namespace standin
