// Reads and writes of a served connection.
#include "ConnectionStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace standin {

namespace {

thread_local ConnectionStream* t_pCurrent = nullptr;

bool WaitFor(int fd, short nEvents, int nTimeoutMs) {
    pollfd pfd{fd, nEvents, 0};
    for (;;) {
        int n = poll(&pfd, 1, nTimeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

void AddressOf(const sockaddr_storage& addr, std::string& strIp, int& nPort) {
    char buf[INET6_ADDRSTRLEN] = {0};
    if (addr.ss_family == AF_INET) {
        const auto* p = reinterpret_cast<const sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &p->sin_addr, buf, sizeof(buf));
        nPort = ntohs(p->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto* p = reinterpret_cast<const sockaddr_in6*>(&addr);
        inet_ntop(AF_INET6, &p->sin6_addr, buf, sizeof(buf));
        nPort = ntohs(p->sin6_port);
    }
    strIp = buf;
}

}  // namespace

ConnectionStream::ConnectionStream(int fd, std::string strRead, int nReadTimeoutMs,
                                   int nWriteTimeoutMs)
    : m_fd(fd),
      m_strRead(std::move(strRead)),
      m_nReadTimeoutMs(nReadTimeoutMs),
      m_nWriteTimeoutMs(nWriteTimeoutMs) {
    t_pCurrent = this;
}

ConnectionStream::~ConnectionStream() {
    if (t_pCurrent == this)
        t_pCurrent = nullptr;
}

ConnectionStream* ConnectionStream::Current() {
    return t_pCurrent;
}

bool ConnectionStream::is_readable() const {
    return m_nReadPos < m_strRead.size() || WaitFor(m_fd, POLLIN, m_nReadTimeoutMs);
}

bool ConnectionStream::is_writable() const {
    return WaitFor(m_fd, POLLOUT, m_nWriteTimeoutMs);
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (m_nReadPos < m_strRead.size()) {
        size_t n = std::min(size, m_strRead.size() - m_nReadPos);
        memcpy(ptr, m_strRead.data() + m_nReadPos, n);
        m_nReadPos += n;
        return static_cast<ssize_t>(n);
    }
    if (!is_readable())
        return -1;
    for (;;) {
        ssize_t n = recv(m_fd, ptr, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    if (!is_writable())
        return -1;
    for (;;) {
        ssize_t n = send(m_fd, ptr, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage addr;
    socklen_t nLen = sizeof(addr);
    memset(&addr, 0, sizeof(addr));
    if (getpeername(m_fd, reinterpret_cast<sockaddr*>(&addr), &nLen) == 0)
        AddressOf(addr, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage addr;
    socklen_t nLen = sizeof(addr);
    memset(&addr, 0, sizeof(addr));
    if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &nLen) == 0)
        AddressOf(addr, ip, port);
}

size_t ConnectionStream::ReadFully(char* pData, size_t nSize) {
    size_t nHave = 0;
    while (nHave < nSize) {
        ssize_t n = read(pData + nHave, nSize - nHave);
        if (n <= 0)
            break;
        nHave += static_cast<size_t>(n);
    }
    return nHave;
}

}  // namespace standin
