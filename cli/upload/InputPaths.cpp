// Path checks and lexical absolute paths for velmoupload-cli.
#include "InputPaths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace velmocli {

bool CheckInputPath(const std::string& strPath, bool& bIsDir, std::string& strError) {
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0) {
        strError = strerror(errno);
        return false;
    }
    bIsDir = S_ISDIR(st.st_mode);
    if (!bIsDir && !S_ISREG(st.st_mode)) {
        strError = "not a regular file or folder";
        return false;
    }
    if (access(strPath.c_str(), bIsDir ? (R_OK | X_OK) : R_OK) != 0) {
        strError = strerror(errno);
        return false;
    }
    return true;
}

std::string AbsolutePath(const std::string& strPath) {
    std::string strFull = strPath;
    if (strFull.empty() || strFull[0] != '/') {
        std::vector<char> cwd(4096);
        while (!getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE)
                return strPath;  // the engine then sees the path as given
            cwd.resize(cwd.size() * 2);
        }
        strFull = std::string(cwd.data()) + "/" + strFull;
    }
    std::string strClean;
    std::string::size_type nStart = 0;
    while (nStart <= strFull.size()) {
        std::string::size_type nSlash = strFull.find('/', nStart);
        if (nSlash == std::string::npos)
            nSlash = strFull.size();
        std::string strPart = strFull.substr(nStart, nSlash - nStart);
        if (!strPart.empty() && strPart != ".")
            strClean += "/" + strPart;
        nStart = nSlash + 1;
    }
    return strClean.empty() ? "/" : strClean;
}

}  // namespace velmocli
