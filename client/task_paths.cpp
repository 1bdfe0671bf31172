// Making the user's paths into the engine's task keys.
#include "task_paths.h"

#include <unistd.h>

#include <climits>

namespace rodedudir {

std::string trim_blanks(const std::string& strText) {
    const char* kBlanks = " \t\r\n\v\f";
    size_t nBegin = strText.find_first_not_of(kBlanks);
    if (nBegin == std::string::npos)
        return std::string();
    return strText.substr(nBegin, strText.find_last_not_of(kBlanks) - nBegin + 1);
}

std::string make_absolute(const std::string& strPath) {
    if (trim_blanks(strPath).empty() || strPath[0] == '/')
        return strPath;
    char szCwd[PATH_MAX];
    if (!getcwd(szCwd, sizeof(szCwd)))
        return strPath;
    std::string strCwd = szCwd;
    if (strPath == ".")
        return strCwd;
    if (strPath.compare(0, 2, "./") == 0)
        return (strCwd == "/" ? "" : strCwd) + strPath.substr(1);
    return (strCwd == "/" ? "" : strCwd) + "/" + strPath;
}

std::string normalize_task_path(const std::string& strPath) {
    // a name may begin or end with a blank; only a path that names nothing loses them
    std::string strKey = access(strPath.c_str(), F_OK) == 0 ? strPath : trim_blanks(strPath);
    if (strKey.empty())
        return strKey;
    strKey = make_absolute(strKey);
    while (strKey.size() > 1 && strKey.back() == '/')
        strKey.pop_back();
    return strKey;
}

}  // namespace rodedudir
