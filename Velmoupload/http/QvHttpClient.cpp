// The HTTP client: request texts byte for byte as the service expects them, and replies read
// until their own framing says they are complete.
#include "http/QvHttpClient.h"

#include <chrono>

#include "http/HttpReply.h"
#include "http/sockets/NetTimeouts.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

namespace {
// every receive asks for this much; the socket keeps one buffer of it per connection
constexpr int32_t kReceiveSize = 5120;
// far beyond any reply the service sends (a few hundred bytes of JSON)
constexpr size_t kMaxReplySize = 4 * 1024 * 1024;
}  // namespace

QvHttpClient::QvHttpClient() : m_strUserAgent("Velmoupload") {}

void QvHttpClient::GetUrlInfo(const std::string& strUrl, std::string& strScheme,
                              std::string& strHost, int& nPort, std::string& strPath) {
    strScheme = "http";
    nPort = 80;
    strPath = "/";

    std::string strRest = strUrl;
    std::string::size_type nSep = strUrl.find("://");
    if (nSep != std::string::npos && nSep > 0)
        strScheme = strUrl.substr(0, nSep);
    if (nSep != std::string::npos)
        strRest = strUrl.substr(nSep + 3);

    std::string::size_type nSlash = strRest.find('/');
    std::string strHostPart =
        (nSlash == std::string::npos || nSlash == 0) ? strRest : strRest.substr(0, nSlash);
    std::string::size_type nColon = strHostPart.find(':');
    if (nColon != std::string::npos && nColon > 0) {
        // read wide and range-checked: narrowing first would let 4294967376 wrap to port 80
        long long nValue = Utils::StringS2I(strHostPart.substr(nColon + 1));
        nPort = (nValue >= 0 && nValue <= 65535) ? static_cast<int>(nValue) : 0;
        strHost = strHostPart.substr(0, nColon);
    } else {
        strHost = strHostPart;
    }
    if (nSlash != std::string::npos && nSlash > 0)
        strPath = strRest.substr(nSlash);
}

bool QvHttpClient::_connect_server(CProxySocket& socket, const std::string& strServer, int nPort) {
    // a port outside 1..65535 is no port at all
    uint16_t nWirePort = (nPort > 0 && nPort <= 65535) ? static_cast<uint16_t>(nPort) : 0;
    return socket.Open(strServer.c_str(), nWirePort);
}

bool QvHttpClient::_read_reply(CProxySocket& socket, std::string& strResponse) {
    // The idle time-out ends a silent peer, not one that trickles a byte now and then: the
    // whole reply must come within twice that time, and no reply of the service is large.
    const auto tDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(2LL * NetTimeouts::IdleMs());
    for (;;) {
        if (std::chrono::steady_clock::now() > tDeadline || strResponse.size() > kMaxReplySize)
            return false;
        int32_t n = socket.Receive(kReceiveSize);
        if (n == 0)
            return true;  // the server closed: whatever came is the reply
        if (n < 0)
            return false;
        strResponse.append(reinterpret_cast<const char*>(socket.GetData()), static_cast<size_t>(n));
        // a kept-alive connection never closes: stop as soon as the reply says it is whole
        if (HttpReply::IsComplete(strResponse))
            return true;
    }
}

bool QvHttpClient::_get_body(std::string& strResponse) {
    return HttpReply::ExtractBody(strResponse);
}

bool QvHttpClient::Get(const std::string& strUrl, std::string& strResponse) {
    return Request(strUrl, nullptr, strResponse);
}

bool QvHttpClient::Post(const std::string& strUrl, const std::string& strPostData,
                        std::string& strResponse) {
    return Request(strUrl, &strPostData, strResponse);
}

bool QvHttpClient::Request(const std::string& strUrl, const std::string* pPostData,
                           std::string& strResponse) {
    std::string strScheme, strHost, strPath;
    int nPort = 80;
    GetUrlInfo(strUrl, strScheme, strHost, nPort, strPath);
    strResponse.clear();

    CProxySocket socket;
    if (!socket.Initialize())
        return false;
    if (!_connect_server(socket, strHost, nPort)) {
        socket.Close();
        return false;
    }

    std::string strHead;
    if (pPostData) {
        strHead = "POST " + strPath + " HTTP/1.1\r\nHost: " + strHost + "\r\nContent-Length: " +
                  Utils::StringI2S(static_cast<long long>(pPostData->size())) +
                  "\r\nUser-Agent: " + m_strUserAgent +
                  "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n";
    } else {
        strHead = "GET " + strPath + " HTTP/1.1\r\nHost: " + strHost +
                  "\r\nUser-Agent: " + m_strUserAgent + "\r\n\r\n";
    }
    if (socket.Send(reinterpret_cast<const uint8_t*>(strHead.data()), strHead.size()) <= 0) {
        socket.Close();
        return false;
    }
    // an empty form fails here, without waiting for a reply
    if (pPostData &&
        socket.Send(reinterpret_cast<const uint8_t*>(pPostData->data()), pPostData->size()) <= 0) {
        socket.Close();
        return false;
    }

    bool bOk = _read_reply(socket, strResponse) && _get_body(strResponse);
    socket.Close();
    return bOk;
}

}  // namespace _VelmoUpload
