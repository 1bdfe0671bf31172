// A socket that connects out: host lookup (IPv4, first address) and a bounded connect.
#pragma once

#include "http/sockets/SimpleSocket.h"

namespace _VelmoUpload {

class CActiveSocket : public CSimpleSocket {
public:
    explicit CActiveSocket(CSocketType nType = SocketTypeTcp);
    ~CActiveSocket() override = default;

    // Resolves pAddr (a name or a dotted address) and connects to nPort.
    virtual bool Open(const char* pAddr, uint16_t nPort);

private:
    bool ConnectWithTimeout();
};

}  // namespace _VelmoUpload
