// The command line of velmoupload-cli: what it was asked to do, or why the request is unusable.
#pragma once

#include <string>
#include <vector>

namespace velmocli {

struct CliOptions {
    bool bHelp = false;
    std::string strServer;  // empty: the built-in API host
    std::string strUser;    // empty: the remembered account
    bool bPasswordStdin = false;
    bool bRemember = false;
    bool bAuto = false;
    int nJobs = 1;
    bool bResume = false;
    std::vector<std::string> paths;
};

// False with a one-line reason when the arguments make no sense together.
bool ParseCliOptions(int argc, char** argv, CliOptions& opts, std::string& strError);

std::string CliUsageText();

}  // namespace velmocli
