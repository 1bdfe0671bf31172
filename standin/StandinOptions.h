// Command-line options of velmo-standin: where it listens and stores, its accounts, and the
// upload policy its login replies hand out.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace standin {

struct Policy {
    long long nQuota = 107374182400LL;     // per account, bytes
    long long nSizeLimit = 2147483648LL;   // the client seeks pieces with a 32-bit offset
    double fTimeLimit = 0;                 // seconds the client pauses before each file
    std::vector<std::string> vTypeLimit;   // extensions whose files need both digests
    std::map<int, std::string> fileRange;  // hash kind -> "MIN-MAX"
    int nUploadAllowed = 1;
};

struct Options {
    std::string strBind = "127.0.0.1";
    int nPort = 0;
    std::string strDataDir;
    std::vector<std::pair<std::string, std::string>> vUsers;  // name, password
    Policy policy;
    std::string strPublicUrl;  // empty: derived from the address actually bound
    bool bHelp = false;
};

// The port of the client's built-in API host: where the stand-in listens unless told.
int DefaultPort();
std::string DefaultDataDir();
std::string UsageText();

// Fills opts from argv; false with a one-line reason in strError on a bad option.
bool ParseOptions(int argc, char** argv, Options& opts, std::string& strError);

}  // namespace standin
