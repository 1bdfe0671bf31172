// CProxySocket transfers exactly like CActiveSocket.
#include "http/sockets/proxy.h"

namespace _VelmoUpload {

CProxySocket::~CProxySocket() = default;

}  // namespace _VelmoUpload
