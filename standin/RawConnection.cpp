// Finding and driving a request's socket by hand.
#include "RawConnection.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace standin {

namespace {

bool SameEndpoint(const sockaddr_storage& addr, const std::string& strAddr, int nPort) {
    char buf[INET6_ADDRSTRLEN] = {0};
    int nGotPort = 0;
    if (addr.ss_family == AF_INET) {
        const auto* p = reinterpret_cast<const sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &p->sin_addr, buf, sizeof(buf));
        nGotPort = ntohs(p->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto* p = reinterpret_cast<const sockaddr_in6*>(&addr);
        inet_ntop(AF_INET6, &p->sin6_addr, buf, sizeof(buf));
        nGotPort = ntohs(p->sin6_port);
    } else {
        return false;
    }
    if (nGotPort != nPort)
        return false;
    std::string strGot = buf;
    // an IPv4 peer on a dual-stack socket shows as ::ffff:a.b.c.d
    return strGot == strAddr || strGot == "::ffff:" + strAddr || "::ffff:" + strGot == strAddr;
}

int LocalPort(int fd) {
    sockaddr_storage addr;
    socklen_t nLen = sizeof(addr);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0)
        return -1;
    if (addr.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return -1;
}

bool SendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t nSent = send(fd, p, n, MSG_NOSIGNAL);
        if (nSent < 0 && errno == EINTR)
            continue;
        if (nSent <= 0)
            return false;
        p += nSent;
        n -= static_cast<size_t>(nSent);
    }
    return true;
}

// Sleeps in short steps so that a stopping server is not held up.
bool PauseMs(int nMs, const std::atomic<bool>& bStopping) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (bStopping)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(nMs, 20)));
    }
    return true;
}

}  // namespace

int FindConnectionSocket(const std::string& strPeerAddr, int nPeerPort, int nLocalPort) {
    DIR* pDir = opendir("/proc/self/fd");
    if (!pDir)
        return -1;
    int nFound = -1;
    while (dirent* pEntry = readdir(pDir)) {
        char* pEnd = nullptr;
        long fd = strtol(pEntry->d_name, &pEnd, 10);
        if (!pEnd || *pEnd != '\0' || fd < 0 || fd == dirfd(pDir))
            continue;
        sockaddr_storage peer;
        socklen_t nLen = sizeof(peer);
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &nLen) != 0)
            continue;
        if (SameEndpoint(peer, strPeerAddr, nPeerPort) &&
            (nLocalPort <= 0 || LocalPort(static_cast<int>(fd)) == nLocalPort)) {
            nFound = static_cast<int>(fd);
            break;
        }
    }
    closedir(pDir);
    return nFound;
}

void DropConnection(int fd) {
    if (fd < 0)
        return;
    linger lin;
    lin.l_onoff = 1;
    lin.l_linger = 0;
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &lin, sizeof(lin));
    shutdown(fd, SHUT_RDWR);
}

bool SendChunkedReply(int fd, const std::string& strBody, int nChunks, int nPauseMs,
                      const std::atomic<bool>& bStopping) {
    std::string strHead =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
        "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    bool bOk = SendAll(fd, strHead.data(), strHead.size());
    if (nChunks < 1)
        nChunks = 1;
    size_t nStep =
        (strBody.size() + static_cast<size_t>(nChunks) - 1) / static_cast<size_t>(nChunks);
    if (nStep == 0)
        nStep = 1;
    for (size_t nPos = 0; bOk && nPos < strBody.size(); nPos += nStep) {
        if (!PauseMs(nPauseMs, bStopping))
            break;
        size_t n = std::min(nStep, strBody.size() - nPos);
        char szSize[32];
        snprintf(szSize, sizeof(szSize), "%zx\r\n", n);
        std::string strChunk = szSize + strBody.substr(nPos, n) + "\r\n";
        bOk = SendAll(fd, strChunk.data(), strChunk.size());
    }
    if (bOk && PauseMs(nPauseMs, bStopping))
        bOk = SendAll(fd, "0\r\n\r\n", 5);
    shutdown(fd, SHUT_RDWR);
    return bOk;
}

bool SendKeptAliveReply(int fd, const std::string& strBody, double fSeconds,
                        const std::atomic<bool>& bStopping) {
    std::string strReply =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
        std::to_string(strBody.size()) + "\r\nConnection: Keep-Alive\r\nKeep-Alive: timeout=" +
        std::to_string(static_cast<long long>(fSeconds)) + "\r\n\r\n" + strBody;
    bool bOk = SendAll(fd, strReply.data(), strReply.size());
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long long>(fSeconds * 1000));
    while (bOk && !bStopping && std::chrono::steady_clock::now() < deadline) {
        pollfd pfd;
        pfd.fd = fd;
        pfd.events = POLLIN | POLLRDHUP;
        pfd.revents = 0;
        int nReady = poll(&pfd, 1, 50);
        if (nReady > 0) {
            char buf[4096];
            ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                break;  // the peer closed: it framed the reply without waiting for us
        }
    }
    shutdown(fd, SHUT_RDWR);
    return bOk;
}

}  // namespace standin
