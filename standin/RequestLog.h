// One line per request on standard output: method, path, account, verdict.
#pragma once

#include <string>

namespace standin {

class RequestLog {
public:
    static void Line(const std::string& strMethod, const std::string& strPath,
                     const std::string& strAccount, const std::string& strVerdict);
    // Any other line (start-up, shutdown), written and flushed whole.
    static void Note(const std::string& strText);
};

}  // namespace standin
