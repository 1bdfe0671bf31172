// CActiveSocket: resolve with getaddrinfo (safe on many threads at once) and connect within
// the connect time-out, then go back to blocking mode for the transfer.
#include "http/sockets/ActiveSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "http/sockets/NetTimeouts.h"

namespace _VelmoUpload {

CActiveSocket::CActiveSocket(CSocketType nType) : CSimpleSocket(nType) {}

bool CActiveSocket::Open(const char* pAddr, uint16_t nPort) {
    if (!IsSocketValid()) {
        SetSocketError(SocketInvalidSocket);
        return false;
    }
    if (pAddr == nullptr) {
        SetSocketError(SocketInvalidAddress);
        return false;
    }
    if (nPort == 0) {
        SetSocketError(SocketInvalidPort);
        return false;
    }

    memset(&m_stServerSockaddr, 0, sizeof(m_stServerSockaddr));
    m_stServerSockaddr.sin_family = AF_INET;

    struct addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* pResult = nullptr;
    int rc = getaddrinfo(pAddr, nullptr, &hints, &pResult);
    if (rc != 0 || pResult == nullptr) {
        if (rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL || rc == EAI_ADDRFAMILY ||
            rc == EAI_AGAIN)
            SetSocketError(SocketInvalidAddress);
        if (pResult)
            freeaddrinfo(pResult);
        return false;
    }
    m_stServerSockaddr.sin_addr = reinterpret_cast<struct sockaddr_in*>(pResult->ai_addr)->sin_addr;
    freeaddrinfo(pResult);
    if (m_stServerSockaddr.sin_addr.s_addr == INADDR_NONE) {
        SetSocketError(SocketInvalidAddress);
        return false;
    }
    m_stServerSockaddr.sin_port = htons(nPort);

    if (!ConnectWithTimeout())
        return false;

    socklen_t nLen = sizeof(m_stClientSockaddr);
    getsockname(m_socket, reinterpret_cast<struct sockaddr*>(&m_stClientSockaddr), &nLen);
    ApplyIdleTimeouts();
    SetSocketError(SocketSuccess);
    return true;
}

bool CActiveSocket::ConnectWithTimeout() {
    int nFlags = fcntl(m_socket, F_GETFL, 0);
    fcntl(m_socket, F_SETFL, nFlags | O_NONBLOCK);

    errno = 0;
    int rc = connect(m_socket, reinterpret_cast<struct sockaddr*>(&m_stServerSockaddr),
                     sizeof(m_stServerSockaddr));
    if (rc != 0 && errno == EINPROGRESS) {
        struct pollfd pfd;
        pfd.fd = m_socket;
        pfd.events = POLLOUT;
        int nWait;
        do {
            pfd.revents = 0;
            nWait = poll(&pfd, 1, NetTimeouts::ConnectMs());
        } while (nWait < 0 && errno == EINTR);
        if (nWait == 0) {
            errno = ETIMEDOUT;
        } else if (nWait > 0) {
            int nErr = 0;
            socklen_t nErrLen = sizeof(nErr);
            getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &nErr, &nErrLen);
            errno = nErr;
            rc = nErr == 0 ? 0 : -1;
        }
    }
    TranslateSocketError();
    if (rc != 0)
        return false;

    fcntl(m_socket, F_SETFL, nFlags & ~O_NONBLOCK);
    return true;
}

}  // namespace _VelmoUpload
