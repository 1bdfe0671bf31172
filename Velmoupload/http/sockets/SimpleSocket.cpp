// CSimpleSocket: descriptor, buffer and error bookkeeping shared by every socket.
#include "http/sockets/SimpleSocket.h"

#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "http/sockets/NetTimeouts.h"

namespace _VelmoUpload {

namespace {

bool SigPipePending() {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigPipeBlock::SigPipeBlock() {
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    // one that was already waiting is someone else's and stays
    m_bWasPending = SigPipePending();
    m_bBlocked = pthread_sigmask(SIG_BLOCK, &block, &m_old) == 0;
}

SigPipeBlock::~SigPipeBlock() {
    if (!m_bBlocked)
        return;
    const int nSavedErrno = errno;
    if (!m_bWasPending && SigPipePending()) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const struct timespec zero = {0, 0};
        while (sigtimedwait(&pipe, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    errno = nSavedErrno;
}

CSimpleSocket::CSimpleSocket(CSocketType nType)
    : m_socket(-1),
      m_socketErrno(SocketInvalidSocket),
      m_pBuffer(nullptr),
      m_nBufferSize(0),
      m_nSocketDomain(AF_INET),
      m_nSocketType(SocketTypeInvalid),
      m_nBytesReceived(-1),
      m_nBytesSent(-1),
      m_nFlags(0),
      m_bIsBlocking(true) {
    m_stConnectTimeout.tv_sec = 1;
    m_stConnectTimeout.tv_usec = 0;
    memset(&m_stRecvTimeout, 0, sizeof(m_stRecvTimeout));
    memset(&m_stSendTimeout, 0, sizeof(m_stSendTimeout));
    memset(&m_stServerSockaddr, 0, sizeof(m_stServerSockaddr));
    memset(&m_stClientSockaddr, 0, sizeof(m_stClientSockaddr));
    // only IPv4 TCP is ever asked for; other kinds stay invalid and Initialize refuses them
    if (nType == SocketTypeTcp) {
        m_nSocketDomain = AF_INET;
        m_nSocketType = SocketTypeTcp;
    }
}

CSimpleSocket::~CSimpleSocket() {
    Close();
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
}

bool CSimpleSocket::Initialize() {
    errno = 0;
    if (m_nSocketType != SocketTypeTcp) {
        SetSocketError(SocketInvalidSocket);
        return false;
    }
    m_socket = socket(m_nSocketDomain, SOCK_STREAM | SOCK_CLOEXEC, 0);
    TranslateSocketError();
    return IsSocketValid();
}

bool CSimpleSocket::Close() {
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_nBufferSize = 0;
    bool bClosed = false;
    errno = 0;
    if (IsSocketValid()) {
        if (close(m_socket) == 0)
            bClosed = true;
        m_socket = -1;
    }
    TranslateSocketError();
    return bClosed;
}

void CSimpleSocket::ApplyIdleTimeouts() {
    int nIdleMs = NetTimeouts::IdleMs();
    m_stRecvTimeout.tv_sec = nIdleMs / 1000;
    m_stRecvTimeout.tv_usec = (nIdleMs % 1000) * 1000;
    m_stSendTimeout = m_stRecvTimeout;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &m_stRecvTimeout, sizeof(m_stRecvTimeout));
    setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &m_stSendTimeout, sizeof(m_stSendTimeout));
}

int32_t CSimpleSocket::Send(const uint8_t* pBuf, size_t bytesToSend) {
    SetSocketError(SocketSuccess);
    m_nBytesSent = 0;
    if (!IsSocketValid() || pBuf == nullptr || bytesToSend == 0)
        return 0;

    // A send that stalls stops at the idle time-out, possibly after taking part of the buffer;
    // finishing the rest here keeps a caller from taking a cut request for a sent one.
    size_t nTotal = 0;
    while (nTotal < bytesToSend) {
        errno = 0;
        // MSG_NOSIGNAL: a peer that went away gives EPIPE, never a SIGPIPE that ends the process
        ssize_t n = send(m_socket, pBuf + nTotal, bytesToSend - nTotal, MSG_NOSIGNAL);
        TranslateSocketError();
        if (n < 0) {
            if (m_socketErrno == SocketInterrupted)
                continue;
            m_nBytesSent = -1;
            return -1;
        }
        nTotal += static_cast<size_t>(n);
    }
    m_nBytesSent = static_cast<int32_t>(nTotal);
    return m_nBytesSent;
}

int32_t CSimpleSocket::SendFile(int nFd, long long nOffset, size_t nBytes) {
    SetSocketError(SocketSuccess);
    m_nBytesSent = 0;
    if (!IsSocketValid() || nFd < 0 || nBytes == 0)
        return 0;
    off_t nPos = static_cast<off_t>(nOffset);
    size_t nTotal = 0;
    // as Send: a partial transfer is continued, so a stall is the only way to stop short
    while (nTotal < nBytes) {
        errno = 0;
        ssize_t n = sendfile(m_socket, nFd, &nPos, nBytes - nTotal);
        TranslateSocketError();
        if (n < 0) {
            if (m_socketErrno == SocketInterrupted)
                continue;
            m_nBytesSent = -1;
            return -1;
        }
        if (n == 0)
            break;  // the file ends before the bytes asked for
        nTotal += static_cast<size_t>(n);
    }
    m_nBytesSent = static_cast<int32_t>(nTotal);
    return m_nBytesSent;
}

int32_t CSimpleSocket::Receive(int32_t nMaxBytes) {
    m_nBytesReceived = 0;
    if (!IsSocketValid())
        return 0;
    if (nMaxBytes <= 0) {
        SetSocketError(SocketInvalidSocketBuffer);
        return 0;
    }
    if (m_pBuffer && m_nBufferSize != nMaxBytes) {
        delete[] m_pBuffer;
        m_pBuffer = nullptr;
    }
    if (!m_pBuffer) {
        m_pBuffer = new uint8_t[nMaxBytes];
        m_nBufferSize = nMaxBytes;
    }
    SetSocketError(SocketSuccess);
    ssize_t n;
    do {
        errno = 0;
        n = recv(m_socket, m_pBuffer, static_cast<size_t>(nMaxBytes), static_cast<int>(m_nFlags));
        TranslateSocketError();
    } while (n < 0 && m_socketErrno == SocketInterrupted);
    m_nBytesReceived = static_cast<int32_t>(n);
    if (n < 0) {
        // a failed receive leaves no stale bytes behind for GetData
        delete[] m_pBuffer;
        m_pBuffer = nullptr;
        m_nBufferSize = 0;
    }
    return m_nBytesReceived;
}

void CSimpleSocket::TranslateSocketError() {
    switch (errno) {
        case 0:
            m_socketErrno = SocketSuccess;
            break;
        case EPERM:
            m_socketErrno = SocketFirewallError;
            break;
        case EINTR:
            m_socketErrno = SocketInterrupted;
            break;
        case EBADF:
        case ENOMEM:
        case EACCES:
        case ENFILE:
        case EMFILE:
        case ENOTSOCK:
        case EPROTONOSUPPORT:
        case EAFNOSUPPORT:
        case ENOBUFS:
            m_socketErrno = SocketInvalidSocket;
            break;
        case EAGAIN:
            m_socketErrno = SocketEwouldblock;
            break;
        case EFAULT:
            m_socketErrno = SocketInvalidSocketBuffer;
            break;
        case EINVAL:
        case EPROTO:
            m_socketErrno = SocketProtocolError;
            break;
        case ENOPROTOOPT:
        case ECONNRESET:
            m_socketErrno = SocketConnectionReset;
            break;
        case ECONNABORTED:
            m_socketErrno = SocketConnectionAborted;
            break;
        case ENOTCONN:
            m_socketErrno = SocketNotconnected;
            break;
        case ETIMEDOUT:
            m_socketErrno = SocketTimedout;
            break;
        case ECONNREFUSED:
            m_socketErrno = SocketConnectionRefused;
            break;
        case EINPROGRESS:
            m_socketErrno = SocketEinprogress;
            break;
        default:
            m_socketErrno = SocketEunknown;
            break;
    }
}

}  // namespace _VelmoUpload
