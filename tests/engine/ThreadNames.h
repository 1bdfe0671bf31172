// How many threads of this process carry a name: the engine names its dispatch and folder
// threads, so a test can tell that one ended or that no second one was started.
#pragma once

#include <dirent.h>

#include <fstream>
#include <string>

namespace velmotest {

inline int ThreadsNamed(const std::string& strName) {
    DIR* pDir = opendir("/proc/self/task");
    if (!pDir)
        return -1;
    int nCount = 0;
    while (dirent* pEntry = readdir(pDir)) {
        std::ifstream in(std::string("/proc/self/task/") + pEntry->d_name + "/comm");
        std::string strComm;
        nCount += pEntry->d_name[0] != '.' && std::getline(in, strComm) && strComm == strName;
    }
    closedir(pDir);
    return nCount;
}

}  // namespace velmotest
