// The socket type of every request the client makes: a TCP CActiveSocket.
#pragma once

#include "http/sockets/ActiveSocket.h"

namespace _VelmoUpload {

class CProxySocket : public CActiveSocket {
public:
    CProxySocket() : CActiveSocket(SocketTypeTcp) {}
    ~CProxySocket() override;
};

}  // namespace _VelmoUpload
