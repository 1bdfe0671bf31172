// The scripted test peer: one accept thread and one thread per connection, all of them waiting
// through poll() on a stop pipe as well, so the destructor never hangs on a silent client.
#include "TestHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace velmotest {

namespace {

// Content-Length of a request header, 0 when there is none.
size_t ContentLength(const std::string& strHeader) {
    const char* pField = strcasestr(strHeader.c_str(), "\r\ncontent-length:");
    return pField ? static_cast<size_t>(strtoull(pField + 17, nullptr, 10)) : 0;
}

int MakeLoopbackSocket() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket() failed");
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd);
        throw std::runtime_error("bind() to a loopback port failed");
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    struct sockaddr_in addr;
    socklen_t nLen = sizeof(addr);
    getsockname(fd, reinterpret_cast<struct sockaddr*>(&addr), &nLen);
    return ntohs(addr.sin_port);
}

}  // namespace

TestHttpServer::TestHttpServer(Behaviour behaviour)
    : TestHttpServer(std::vector<Behaviour>{std::move(behaviour)}) {}

TestHttpServer::TestHttpServer(std::vector<Behaviour> vScript) : m_vScript(std::move(vScript)) {
    if (m_vScript.empty())
        m_vScript.push_back(Behaviour::Silent());
    if (pipe2(m_nStopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2() failed");
    m_nListenFd = MakeLoopbackSocket();
    if (listen(m_nListenFd, 64) != 0)
        throw std::runtime_error("listen() failed");
    m_nPort = BoundPort(m_nListenFd);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    // the pipe is never read, so it stays readable and wakes every poll() for good
    char c = 'x';
    ssize_t nIgnored = write(m_nStopPipe[1], &c, 1);
    (void)nIgnored;
    m_acceptThread.join();
    // the accept thread has ended: no handler is added any more
    for (std::thread& t : m_vHandlers)
        t.join();
    close(m_nListenFd);
    close(m_nStopPipe[0]);
    close(m_nStopPipe[1]);
}

std::string TestHttpServer::Url(const std::string& strPath) const {
    return "http://127.0.0.1:" + std::to_string(m_nPort) + strPath;
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vRequests;
}

int TestHttpServer::Connections() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nConnections;
}

uint16_t TestHttpServer::UnusedPort() {
    int fd = MakeLoopbackSocket();
    const uint16_t nPort = BoundPort(fd);
    close(fd);
    return nPort;
}

bool TestHttpServer::WaitFd(int fd, short nEvents) const {
    struct pollfd fds[2] = {{fd, nEvents, 0}, {m_nStopPipe[0], POLLIN, 0}};
    int n;
    while ((n = poll(fds, 2, -1)) < 0 && errno == EINTR) {
    }
    // ready, or an error/hang-up that the next call reports
    return n > 0 && fds[1].revents == 0;
}

size_t TestHttpServer::Recv(int fd, char* pBuf, size_t nSize) const {
    for (;;) {
        if (!WaitFd(fd, POLLIN))
            return 0;
        ssize_t n = recv(fd, pBuf, nSize, 0);
        if (n >= 0 || (errno != EAGAIN && errno != EINTR))
            return n > 0 ? static_cast<size_t>(n) : 0;
    }
}

bool TestHttpServer::Pause(int nMs) const {
    // a pause is a poll of the stop pipe alone: it ends early only when the server stops
    struct pollfd fd = {m_nStopPipe[0], POLLIN, 0};
    return poll(&fd, 1, nMs) == 0;
}

void TestHttpServer::AcceptLoop() {
    while (WaitFd(m_nListenFd, POLLIN)) {
        int fd = accept4(m_nListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int nOne = 1;
        // each piece goes out as its own segment instead of waiting to be coalesced
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t nIndex = static_cast<size_t>(m_nConnections);
        const Behaviour& behaviour =
            m_vScript[nIndex < m_vScript.size() ? nIndex : m_vScript.size() - 1];
        ++m_nConnections;
        m_vHandlers.emplace_back([this, fd, &behaviour] { Serve(fd, behaviour); });
    }
}

std::string TestHttpServer::ReadRequest(int fd, int nPauseMs) const {
    std::string strRequest;
    size_t nWanted = std::string::npos;  // total size, known once the header has ended
    std::vector<char> buf(256 * 1024);
    for (size_t n; strRequest.size() < nWanted && (n = Recv(fd, buf.data(), buf.size())) > 0;) {
        strRequest.append(buf.data(), n);
        if (nPauseMs > 0 && !Pause(nPauseMs))
            break;
        std::string::size_type nEnd = strRequest.find("\r\n\r\n");
        if (nWanted == std::string::npos && nEnd != std::string::npos)
            nWanted = nEnd + 4 + ContentLength(strRequest.substr(0, nEnd + 2));
    }
    return strRequest;
}

bool TestHttpServer::SendAll(int fd, const std::string& strBytes) const {
    for (size_t nSent = 0; nSent < strBytes.size();) {
        if (!WaitFd(fd, POLLOUT))
            return false;
        // MSG_NOSIGNAL: a client that went away must not take the test process down
        ssize_t n = send(fd, strBytes.data() + nSent, strBytes.size() - nSent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        nSent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

void TestHttpServer::Serve(int fd, const Behaviour& behaviour) {
    std::string strRequest;
    if (behaviour.bReadRequest) {
        strRequest = ReadRequest(fd, behaviour.nReadPauseMs);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vRequests.push_back(strRequest);
    }

    const std::vector<std::string> vPieces =
        behaviour.fnReply ? std::vector<std::string>{behaviour.fnReply(strRequest)}
                          : behaviour.vPieces;
    bool bOk = true;
    for (size_t i = 0; bOk && i < vPieces.size(); ++i)
        bOk = (i == 0 || Pause(behaviour.nPauseMs)) && SendAll(fd, vPieces[i]);

    switch (behaviour.eEnd) {
        case End::Close:
            // Half-close, then drain until the client closes: closing with unread bytes
            // would turn the FIN into a reset and could cost the client the reply.
            shutdown(fd, SHUT_WR);
            for (char buf[4096]; Recv(fd, buf, sizeof(buf)) > 0;) {
            }
            break;
        case End::CloseAtOnce:
            break;
        case End::KeepOpen:
            Pause(-1);
            break;
        case End::Reset: {
            struct linger stLinger = {1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &stLinger, sizeof(stLinger));
            break;
        }
    }
    close(fd);
}

}  // namespace velmotest
