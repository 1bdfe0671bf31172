// Parsing of velmoupload-cli's arguments; "--name value" and "--name=value" both work.
#include "CliOptions.h"

#include <cstdlib>

#include "core/LoginManager.h"

namespace velmocli {

using _VelmoUpload::LoginManager;

namespace {

// More would only open more connections than any upload server lets one account use.
constexpr long kMaxJobs = 64;

bool ParseJobs(const std::string& strText, int& nJobs) {
    if (strText.empty() || strText.size() > 3)
        return false;
    for (char c : strText)
        if (c < '0' || c > '9')
            return false;
    long n = std::strtol(strText.c_str(), nullptr, 10);
    if (n < 1 || n > kMaxJobs)
        return false;
    nJobs = static_cast<int>(n);
    return true;
}

}  // namespace

std::string CliUsageText() {
    return "usage: velmoupload-cli [--server HOST:PORT] [--user NAME [--password-stdin] "
           "[--remember] [--auto]]\n"
           "                       [--jobs N] [--resume] [PATH...]\n"
           "Uploads files to the account's default folder on the cloud drive.\n"
           "\n"
           "  --server HOST:PORT  the service's API host (default: $VELMO_API_HOST, else the\n"
           "                      built-in one)\n"
           "  --user NAME         log in as NAME; the password is asked on the terminal\n"
           "                      (without --user: the account remembered by an earlier login)\n"
           "  --password-stdin    read the password from the first line of standard input\n"
           "  --remember          remember the account and its password hash for later runs\n"
           "  --auto              mark the remembered account for automatic login\n"
           "  --jobs N            upload N files at once (default 1, at most 64)\n"
           "  --resume            continue every unfinished upload of the account\n"
           "  --help              this text\n"
           "\n"
           "Without PATH and without --resume it lists the unfinished uploads.\n"
           "Exit status: 0 all uploads succeeded, 1 an upload or the login failed,\n"
           "2 bad usage, 130 interrupted (run again with --resume to continue).\n";
}

bool ParseCliOptions(int argc, char** argv, CliOptions& opts, std::string& strError) {
    opts = CliOptions();
    bool bOptionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        if (bOptionsEnd || strArg.empty() || strArg[0] != '-' || strArg == "-") {
            opts.paths.push_back(strArg);
            continue;
        }
        if (strArg == "--") {
            bOptionsEnd = true;
            continue;
        }
        std::string strValue;
        bool bInline = false;
        std::string::size_type nEq = strArg.find('=');
        if (strArg.compare(0, 2, "--") == 0 && nEq != std::string::npos) {
            strValue = strArg.substr(nEq + 1);
            strArg = strArg.substr(0, nEq);
            bInline = true;
        }
        auto takeValue = [&]() {
            if (bInline)
                return true;
            if (i + 1 >= argc) {
                strError = strArg + " needs a value";
                return false;
            }
            strValue = argv[++i];
            return true;
        };
        auto noValue = [&]() {
            if (bInline)
                strError = strArg + " takes no value";
            return !bInline;
        };

        if (strArg == "--help" || strArg == "-h") {
            if (!noValue())
                return false;
            opts.bHelp = true;
        } else if (strArg == "--server") {
            if (!takeValue())
                return false;
            if (!LoginManager::IsValidApiHost(strValue)) {
                strError = "--server takes HOST:PORT, not \"" + strValue + "\"";
                return false;
            }
            opts.strServer = strValue;
        } else if (strArg == "--user") {
            if (!takeValue())
                return false;
            if (strValue.empty()) {
                strError = "--user needs an account name";
                return false;
            }
            opts.strUser = strValue;
        } else if (strArg == "--password-stdin") {
            if (!noValue())
                return false;
            opts.bPasswordStdin = true;
        } else if (strArg == "--remember") {
            if (!noValue())
                return false;
            opts.bRemember = true;
        } else if (strArg == "--auto") {
            if (!noValue())
                return false;
            opts.bAuto = true;
        } else if (strArg == "--jobs" || strArg == "-j") {
            if (!takeValue())
                return false;
            if (!ParseJobs(strValue, opts.nJobs)) {
                strError = "--jobs takes a number from 1 to " + std::to_string(kMaxJobs) +
                           ", not \"" + strValue + "\"";
                return false;
            }
        } else if (strArg == "--resume") {
            if (!noValue())
                return false;
            opts.bResume = true;
        } else if (strArg == "--password" || strArg == "-p") {
            // refused outright: other users see a process's arguments
            strError =
                "a password is never taken from the command line; use the terminal "
                "prompt or --password-stdin";
            return false;
        } else {
            strError = "unknown option " + strArg + " (see --help)";
            return false;
        }
    }
    if (opts.bHelp)
        return true;
    // the desktop client honours the same variable, so one setting points both elsewhere
    const char* pszEnvHost = getenv("VELMO_API_HOST");
    if (opts.strServer.empty() && pszEnvHost && *pszEnvHost) {
        if (!LoginManager::IsValidApiHost(pszEnvHost)) {
            strError = std::string("VELMO_API_HOST takes HOST:PORT, not \"") + pszEnvHost + "\"";
            return false;
        }
        opts.strServer = pszEnvHost;
    }
    if (opts.strUser.empty() && (opts.bPasswordStdin || opts.bRemember || opts.bAuto)) {
        strError = "--password-stdin, --remember and --auto need --user NAME";
        return false;
    }
    return true;
}

}  // namespace velmocli
