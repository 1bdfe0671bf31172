// One plain HTTP/1.1 GET or form POST per call, each on its own connection.
#pragma once

#include <string>

#include "http/sockets/proxy.h"

namespace _VelmoUpload {

class QvHttpClient {
public:
    QvHttpClient();

    // True with the body of a 200 reply; on false strResponse holds whatever raw bytes arrived.
    bool Get(const std::string& strUrl, std::string& strResponse);
    // strPostData goes out as it is: the caller has form-encoded it (FormText).
    bool Post(const std::string& strUrl, const std::string& strPostData, std::string& strResponse);

    static void GetUrlInfo(const std::string& strUrl, std::string& strScheme, std::string& strHost,
                           int& nPort, std::string& strPath);
    static bool _connect_server(CProxySocket& socket, const std::string& strServer, int nPort);
    // Reads a reply until it is complete or the server closes; false on a failed receive.
    static bool _read_reply(CProxySocket& socket, std::string& strResponse);
    static bool _get_body(std::string& strResponse);

    std::string m_strUserAgent;

private:
    bool Request(const std::string& strUrl, const std::string* pPostData, std::string& strResponse);
};

}  // namespace _VelmoUpload
