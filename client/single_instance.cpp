// The single-instance channel: where the socket lives, who may use it, and the message that
// travels over it.
#include "single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace rodedudir {

namespace {

const char kSocketName[] = "ZOVBACKUP_SINGLETON";
// a client that connects and then says nothing must not hold the server thread for long
constexpr int kReadTimeoutMs = 2000;
// a running instance that does not take the connection within this time is not answering
constexpr int kConnectTimeoutS = 5;

int g_nListenFd = -1;

// A folder that is the user's own and closed to everyone else.
bool IsPrivateDir(const std::string& strDir) {
    struct stat st;
    return lstat(strDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 077) == 0;
}

bool FillAddress(const std::string& strPath, sockaddr_un& addr) {
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (strPath.size() >= sizeof(addr.sun_path))
        return false;
    memcpy(addr.sun_path, strPath.c_str(), strPath.size());
    return true;
}

bool PeerIsUs(int nFd) {
    ucred cred;
    socklen_t nLen = sizeof(cred);
    return getsockopt(nFd, SOL_SOCKET, SO_PEERCRED, &cred, &nLen) == 0 && cred.uid == getuid();
}

// Connects to a running instance and hands it the message; false when nobody of ours answers.
bool SendToRunning(const std::string& strSocket, const std::string& strMessage) {
    sockaddr_un addr;
    if (!FillAddress(strSocket, addr))
        return false;
    int nFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0)
        return false;
    timeval tv = {kConnectTimeoutS, 0};
    setsockopt(nFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    bool bSent = false;
    if (connect(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && PeerIsUs(nFd)) {
        size_t nDone = 0;
        while (nDone < strMessage.size()) {
            ssize_t n =
                send(nFd, strMessage.data() + nDone, strMessage.size() - nDone, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            nDone += static_cast<size_t>(n);
        }
        bSent = nDone == strMessage.size();
        // the end of the stream ends the message
        shutdown(nFd, SHUT_WR);
    }
    close(nFd);
    return bSent;
}

int BindAndListen(const std::string& strSocket, std::string& strError) {
    sockaddr_un addr;
    if (!FillAddress(strSocket, addr)) {
        strError = "socket path too long: " + strSocket;
        return -1;
    }
    int nFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0) {
        strError = std::string("socket: ") + strerror(errno);
        return -1;
    }
    if (bind(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(nFd, 16) != 0) {
        strError = "cannot listen on " + strSocket + ": " + strerror(errno);
        close(nFd);
        unlink(strSocket.c_str());
        return -1;
    }
    return nFd;
}

}  // namespace

bool format_singleton_message(const std::string& strPath, std::string& strMessage) {
    std::string strText = std::string(kRestoreCommand) + ";" + kAddTaskCommand + ";" + strPath;
    if (strText.size() > kSingletonMessageMax)
        return false;
    strMessage.swap(strText);
    return true;
}

bool parse_singleton_message(const std::string& strMessage, SingletonRequest& request,
                             std::string& strWhy) {
    request = SingletonRequest();
    // fewer bytes than the two commands with their separators
    if (strMessage.size() < 24) {
        strWhy = "message too short";
        return false;
    }
    if (strMessage.size() > kSingletonMessageMax) {
        strWhy = "message too long";
        return false;
    }
    size_t nFirst = strMessage.find(';');
    if (nFirst == std::string::npos || nFirst > kSingletonCommandMax) {
        strWhy = "first field too long";
        return false;
    }
    size_t nSecond = strMessage.find(';', nFirst + 1);
    if (nSecond == std::string::npos || nSecond - nFirst - 1 > kSingletonCommandMax) {
        strWhy = "second field too long";
        return false;
    }
    // commands are compared on their first 11 bytes
    if (strMessage.compare(0, strlen(kRestoreCommand), kRestoreCommand) != 0 ||
        nFirst < strlen(kRestoreCommand)) {
        strWhy = "not a restore command";
        return false;
    }
    std::string strPath = strMessage.substr(nSecond + 1);
    if (strPath.find('\0') != std::string::npos) {
        strWhy = "path holds a NUL byte";
        return false;
    }
    request.bRestore = true;
    request.bAddTask =
        nSecond - nFirst - 1 >= strlen(kAddTaskCommand) &&
        strMessage.compare(nFirst + 1, strlen(kAddTaskCommand), kAddTaskCommand) == 0;
    if (request.bAddTask)
        request.strPath.swap(strPath);
    return true;
}

std::string singleton_socket_path(std::string& strError) {
    const char* pszRuntime = getenv("XDG_RUNTIME_DIR");
    if (pszRuntime && pszRuntime[0] == '/' && IsPrivateDir(pszRuntime))
        return std::string(pszRuntime) + "/" + kSocketName;

    std::string strDir = std::string("/tmp/") + kSocketName + "-" + std::to_string(getuid());
    if (mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST) {
        strError = "cannot create " + strDir + ": " + strerror(errno);
        return std::string();
    }
    // someone else's folder under our name would let them talk to us, or us to them
    if (!IsPrivateDir(strDir)) {
        strError = strDir + " is not a folder of this user closed to others";
        return std::string();
    }
    return strDir + "/" + kSocketName;
}

ClaimResult claim_single_instance(const std::string& strPath, std::string& strError) {
    std::string strMessage;
    if (!format_singleton_message(strPath, strMessage)) {
        strError = "the path is longer than a running instance can take: " + strPath;
        return ClaimResult::PathTooLong;
    }
    std::string strSocket = singleton_socket_path(strError);
    if (strSocket.empty())
        return ClaimResult::First;

    // two starts at once take turns here, so only one of them binds
    int nLockFd =
        open((strSocket + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (nLockFd >= 0)
        while (flock(nLockFd, LOCK_EX) != 0 && errno == EINTR) {
        }

    ClaimResult result = ClaimResult::First;
    if (SendToRunning(strSocket, strMessage)) {
        result = ClaimResult::HandedOver;
    } else {
        // nobody answers: whatever file is there is left from a run that ended
        unlink(strSocket.c_str());
        g_nListenFd = BindAndListen(strSocket, strError);
    }
    if (nLockFd >= 0)
        close(nLockFd);
    return result;
}

int listening_fd() {
    return g_nListenFd;
}

bool check_singleton(const char* pszPath) {
    std::string strMessage, strError;
    if (!format_singleton_message(pszPath ? pszPath : "", strMessage))
        return false;
    std::string strSocket = singleton_socket_path(strError);
    return !strSocket.empty() && SendToRunning(strSocket, strMessage);
}

bool read_singleton_request(int nConnFd, SingletonRequest& request, std::string& strWhy) {
    if (!PeerIsUs(nConnFd)) {
        strWhy = "connection from another user";
        return false;
    }
    std::string strMessage;
    char szBuffer[1024];
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
    for (;;) {
        int nLeft = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         deadline - std::chrono::steady_clock::now())
                                         .count());
        if (nLeft <= 0) {
            strWhy = "message not ended in time";
            return false;
        }
        pollfd pfd = {nConnFd, POLLIN, 0};
        int nReady = poll(&pfd, 1, nLeft);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0) {
            strWhy = "message not ended in time";
            return false;
        }
        ssize_t n = recv(nConnFd, szBuffer, sizeof(szBuffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            strWhy = std::string("read: ") + strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        strMessage.append(szBuffer, static_cast<size_t>(n));
        if (strMessage.size() > kSingletonMessageMax) {
            strWhy = "message too long";
            return false;
        }
    }
    return parse_singleton_message(strMessage, request, strWhy);
}

}  // namespace rodedudir
