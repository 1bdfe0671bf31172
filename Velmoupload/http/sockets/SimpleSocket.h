// Base of the socket tree: owns one descriptor, a receive buffer and the last error.
// Sockets are blocking; time-outs (NetTimeouts.h) bound every wait so no peer holds a caller
// forever.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/time.h>

#include <cstdint>

namespace _VelmoUpload {

enum CSocketType {
    SocketTypeInvalid = 0,
    SocketTypeTcp = 1,
    SocketTypeUdp = 2,
    SocketTypeTcp6 = 3,
    SocketTypeUdp6 = 4,
    SocketTypeRaw = 5,
};

enum CSocketError {
    SocketError = -1,
    SocketSuccess = 0,
    SocketInvalidSocket = 1,
    SocketInvalidAddress = 2,
    SocketInvalidPort = 3,
    SocketConnectionRefused = 4,
    SocketTimedout = 5,
    SocketEwouldblock = 6,
    SocketNotconnected = 7,
    SocketEinprogress = 8,
    SocketInterrupted = 9,
    SocketConnectionAborted = 10,
    SocketProtocolError = 11,
    SocketFirewallError = 12,
    SocketInvalidSocketBuffer = 13,
    SocketConnectionReset = 14,
    SocketAddressInUse = 15,
    SocketInvalidPointer = 16,
    SocketEunknown = 17,
};

// Holds back the broken-pipe signal on this thread while it lives, and takes off again one that
// arose meanwhile: a file sent to a peer that went away must give EPIPE, never end the process,
// and unlike send() the kernel's file-to-socket call has no flag for that.
class SigPipeBlock {
public:
    SigPipeBlock();
    ~SigPipeBlock();
    SigPipeBlock(const SigPipeBlock&) = delete;
    SigPipeBlock& operator=(const SigPipeBlock&) = delete;

private:
    sigset_t m_old;
    bool m_bBlocked = false;
    bool m_bWasPending = false;
};

class CSimpleSocket {
public:
    explicit CSimpleSocket(CSocketType nType = SocketTypeTcp);
    virtual ~CSimpleSocket();
    CSimpleSocket(const CSimpleSocket&) = delete;
    CSimpleSocket& operator=(const CSimpleSocket&) = delete;

    // Creates the descriptor; must come before Open.
    virtual bool Initialize();
    // Frees the buffer and closes the descriptor; true only when one was closed.
    virtual bool Close();
    virtual bool IsSocketValid() { return m_socket != -1; }
    // One receive of up to nMaxBytes into the socket's own buffer: the count, 0 when the
    // peer closed (or the socket is invalid), -1 on error or time-out.
    virtual int32_t Receive(int32_t nMaxBytes);
    // Sends the whole buffer: its size, 0 for an invalid socket or an empty buffer, -1 when the
    // connection failed or stalled before all of it was taken.
    virtual int32_t Send(const uint8_t* pBuf, size_t bytesToSend);

    // Sends nBytes of the open file nFd from nOffset straight from the page cache, with no copy
    // through this process: nBytes, fewer when the file ended first, 0 for an invalid socket, -1
    // when the connection failed or stalled. Must run under a SigPipeBlock.
    int32_t SendFile(int nFd, long long nOffset, size_t nBytes);

    // The bytes of the last successful Receive (m_nBytesReceived of them), or null.
    uint8_t* GetData() { return m_pBuffer; }
    int32_t GetBytesReceived() const { return m_nBytesReceived; }
    int32_t GetBytesSent() const { return m_nBytesSent; }
    CSocketError GetSocketError() const { return m_socketErrno; }
    int GetSocketDescriptor() const { return m_socket; }

protected:
    // Maps the errno of the last system call to m_socketErrno.
    void TranslateSocketError();
    void SetSocketError(CSocketError error) { m_socketErrno = error; }
    // Applies the idle time-out to both directions of a connected socket.
    void ApplyIdleTimeouts();

    int m_socket;
    CSocketError m_socketErrno;
    uint8_t* m_pBuffer;
    int32_t m_nBufferSize;
    int32_t m_nSocketDomain;
    CSocketType m_nSocketType;
    int32_t m_nBytesReceived;
    int32_t m_nBytesSent;
    uint32_t m_nFlags;
    bool m_bIsBlocking;
    struct timeval m_stConnectTimeout;
    struct timeval m_stRecvTimeout;
    struct timeval m_stSendTimeout;
    struct sockaddr_in m_stServerSockaddr;
    struct sockaddr_in m_stClientSockaddr;
};

}  // namespace _VelmoUpload
