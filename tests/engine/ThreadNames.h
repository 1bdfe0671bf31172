// How many threads of this process carry a name: the engine names its dispatch and folder
// threads, so a test can tell that one ended or that no second one was started.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace velmotest {

inline int ThreadsNamed(const std::string& strName) {
    int nCount = 0;
    std::error_code error;  // a thread that ends during the walk is simply not counted
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream in(task.path() / "comm");
        std::string strComm;
        nCount += std::getline(in, strComm) && strComm == strName;
    }
    return nCount;
}

}  // namespace velmotest
