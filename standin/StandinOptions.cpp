// Command-line parsing for velmo-standin; defaults come from the client's own constants.
#include "StandinOptions.h"

#include <cstdlib>
#include <cstring>

#include "ServiceConstants.h"

namespace standin {

namespace {

bool ParseNumber(const std::string& strText, long long& nValue) {
    if (strText.empty() || strText.size() > 18)
        return false;
    for (char c : strText)
        if (c < '0' || c > '9')
            return false;
    nValue = std::strtoll(strText.c_str(), nullptr, 10);
    return true;
}

bool ParseSeconds(const std::string& strText, double& fValue) {
    if (strText.empty())
        return false;
    char* pEnd = nullptr;
    fValue = std::strtod(strText.c_str(), &pEnd);
    return pEnd && *pEnd == '\0' && fValue >= 0;
}

// "0".."2" or the names the help text uses.
bool ParseHashKind(const std::string& strKind, int& nKind) {
    if (strKind == "0" || strKind == "sha1")
        nKind = 0;
    else if (strKind == "1" || strKind == "mdvelmo" || strKind == "quick")
        nKind = 1;
    else if (strKind == "2" || strKind == "all")
        nKind = 2;
    else
        return false;
    return true;
}

bool ParseFileRange(const std::string& strValue, Policy& policy) {
    std::string::size_type nEq = strValue.find('=');
    if (nEq == std::string::npos)
        return false;
    int nKind = 0;
    if (!ParseHashKind(strValue.substr(0, nEq), nKind))
        return false;
    std::string strRange = strValue.substr(nEq + 1);
    std::string::size_type nDash = strRange.find('-');
    if (nDash == std::string::npos)
        return false;
    long long nMin = 0, nMax = 0;
    std::string strMin = strRange.substr(0, nDash), strMax = strRange.substr(nDash + 1);
    if ((!strMin.empty() && !ParseNumber(strMin, nMin)) ||
        (!strMax.empty() && !ParseNumber(strMax, nMax)))
        return false;
    policy.fileRange[nKind] = strRange;
    return true;
}

}  // namespace

int DefaultPort() {
    std::string strHost = _VelmoUpload::kDefaultApiHost;
    std::string::size_type nColon = strHost.rfind(':');
    if (nColon == std::string::npos)
        return 80;
    return std::atoi(strHost.c_str() + nColon + 1);
}

std::string DefaultDataDir() {
    const char* pHome = std::getenv("HOME");
    std::string strHome = pHome && *pHome ? pHome : "/tmp";
    return strHome + "/.velmo-standin";
}

std::string UsageText() {
    return "usage: velmo-standin [options]\n"
           "A local stand-in for the cloud-drive service the client uploads to.\n"
           "\n"
           "  --bind ADDR            address to listen on (default 127.0.0.1)\n"
           "  --port N               port to listen on (default " +
           std::to_string(DefaultPort()) +
           ", the client's built-in API host; 0 picks a free one)\n"
           "  --data DIR             records and file content (default ~/.velmo-standin)\n"
           "  --user NAME:PASSWORD   an account (repeatable; demo:demo when none is given)\n"
           "  --quota BYTES          space of each account (default 100 GiB)\n"
           "  --size-limit BYTES     largest file accepted (default 2 GiB)\n"
           "  --time-limit SECONDS   pause the client makes before each file (default 0)\n"
           "  --type-limit EXT       files with this extension need both digests (repeatable)\n"
           "  --file-range KIND=MIN-MAX\n"
           "                         size range per digest kind: 0 or sha1, 1 or mdvelmo,\n"
           "                         2 or all; MAX 0 means no upper bound (repeatable)\n"
           "  --upload-allowed N     the login reply's upload_allowed (2: newer client exists)\n"
           "  --public-url URL       base of the URLs handed out (behind a proxy)\n"
           "  --help                 this text\n"
           "\n"
           "Fault control (loopback only): POST /_standin/fault, POST /_standin/reset.\n";
}

namespace {

// Every option but --help takes a value, inline ("--port=0") or as the next argument.
bool IsValueOption(const std::string& strArg) {
    static const char* const kOptions[] = {"--bind",           "--port",       "--data",
                                           "--user",           "--quota",      "--size-limit",
                                           "--time-limit",     "--type-limit", "--file-range",
                                           "--upload-allowed", "--public-url"};
    for (const char* pOption : kOptions)
        if (strArg == pOption)
            return true;
    return false;
}

// One option with its value into opts; false with strError when the value does not fit.
bool ApplyOption(const std::string& strArg, std::string strV, Options& opts,
                 std::string& strError) {
    long long nNum = 0;
    if (strArg == "--bind") {
        opts.strBind = strV;
    } else if (strArg == "--port") {
        if (!ParseNumber(strV, nNum) || nNum > 65535) {
            strError = "--port takes a number from 0 to 65535";
            return false;
        }
        opts.nPort = static_cast<int>(nNum);
    } else if (strArg == "--data") {
        opts.strDataDir = strV;
        if (opts.strDataDir.empty()) {
            strError = "--data needs a folder";
            return false;
        }
    } else if (strArg == "--user") {
        std::string::size_type nColon = strV.find(':');
        if (nColon == std::string::npos || nColon == 0 || nColon + 1 == strV.size()) {
            strError = "--user takes NAME:PASSWORD";
            return false;
        }
        opts.vUsers.emplace_back(strV.substr(0, nColon), strV.substr(nColon + 1));
    } else if (strArg == "--quota" || strArg == "--size-limit") {
        if (!ParseNumber(strV, nNum)) {
            strError = strArg + " takes a number of bytes";
            return false;
        }
        (strArg == "--quota" ? opts.policy.nQuota : opts.policy.nSizeLimit) = nNum;
    } else if (strArg == "--time-limit") {
        if (!ParseSeconds(strV, opts.policy.fTimeLimit)) {
            strError = "--time-limit takes a number of seconds";
            return false;
        }
    } else if (strArg == "--type-limit") {
        if (!strV.empty() && strV[0] == '.')
            strV.erase(0, 1);
        opts.policy.vTypeLimit.push_back(strV);
    } else if (strArg == "--file-range") {
        if (!ParseFileRange(strV, opts.policy)) {
            strError = "--file-range takes KIND=MIN-MAX, KIND one of 0, 1, 2";
            return false;
        }
    } else if (strArg == "--upload-allowed") {
        if (!ParseNumber(strV, nNum) || nNum > 1000000) {
            strError = "--upload-allowed takes a number";
            return false;
        }
        opts.policy.nUploadAllowed = static_cast<int>(nNum);
    } else if (strArg == "--public-url") {
        opts.strPublicUrl = strV;
        while (!opts.strPublicUrl.empty() && opts.strPublicUrl.back() == '/')
            opts.strPublicUrl.pop_back();
        if (opts.strPublicUrl.compare(0, 7, "http://") != 0) {
            strError = "--public-url takes an http:// URL";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& opts, std::string& strError) {
    opts.nPort = DefaultPort();
    opts.strDataDir = DefaultDataDir();
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        std::string strValue;
        bool bHasInline = false;
        std::string::size_type nEq = strArg.find('=');
        if (strArg.compare(0, 2, "--") == 0 && nEq != std::string::npos) {
            strValue = strArg.substr(nEq + 1);
            strArg = strArg.substr(0, nEq);
            bHasInline = true;
        }
        if (strArg == "--help" || strArg == "-h") {
            opts.bHelp = true;
            continue;
        }
        if (!IsValueOption(strArg)) {
            strError = "unknown option " + strArg + " (see --help)";
            return false;
        }
        if (!bHasInline) {
            if (i + 1 >= argc) {
                strError = strArg + " needs a value";
                return false;
            }
            strValue = argv[++i];
        }
        if (!ApplyOption(strArg, strValue, opts, strError))
            return false;
    }
    return true;
}

}  // namespace standin
