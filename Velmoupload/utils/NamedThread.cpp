// Named threads: the name is set by the thread itself before its body runs, so whoever finds
// the thread by its name finds it doing its work.
#include "utils/NamedThread.h"

#include <pthread.h>

#include <string>
#include <system_error>

namespace _VelmoUpload {

namespace {

// the kernel refuses longer names rather than cutting them
constexpr size_t kMaxNameLength = 15;

}  // namespace

std::thread StartNamedThread(const char* pName, std::function<void()> body) {
    std::string strName = std::string(pName).substr(0, kMaxNameLength);
    return std::thread([strName, body = std::move(body)] {
        pthread_setname_np(pthread_self(), strName.c_str());
        body();
    });
}

bool StartDetachedThread(const char* pName, std::function<void()> body) {
    try {
        StartNamedThread(pName, std::move(body)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace _VelmoUpload
