// Driving a request's socket by hand.
#include "RawConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace standin {

namespace {

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
