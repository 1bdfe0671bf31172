// Raw requests to the stand-in, shaped as the client's own.
#include "ServiceClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>
#include <random>

#include "ServiceConstants.h"
#include "TestHome.h"
#include "core/JsonRead.h"
#include "http/FormText.h"
#include "http/HttpReply.h"
#include "utils/Utils.h"

using _VelmoUpload::HttpReply;
using _VelmoUpload::Utils;

namespace standintest {

namespace {

// The path (and query) of an http:// URL.
std::string PathOf(const std::string& strUrl) {
    size_t nSlash = strUrl.find('/', strUrl.find("://") + 3);
    return nSlash == std::string::npos ? "/" : strUrl.substr(nSlash);
}

std::string Sha1(const std::string& s) {
    std::string strHash;
    Utils::GetHash(s, strHash);
    return strHash;
}

}  // namespace

std::string Reply::Header(const std::string& strName) const {
    const std::string strKey = "\r\n" + Utils::StringToLowerCase(strName) + ":";
    size_t nStart = Utils::StringToLowerCase(strHead).find(strKey);
    if (nStart == std::string::npos)
        return std::string();
    nStart = strHead.find_first_not_of(' ', nStart + strKey.size());
    return strHead.substr(nStart, strHead.find("\r\n", nStart) - nStart);
}

int Connect(uint16_t nPort) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(nPort);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& strData) {
    // a blocking send returns short only when the server has closed
    return send(fd, strData.data(), strData.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(strData.size());
}

Reply ReadReply(int fd, int nTimeoutMs) {
    Reply reply;
    std::string strRaw;
    timeval timeout{nTimeoutMs / 1000, (nTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    char buf[65536];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof(buf), 0)) > 0)
        strRaw.append(buf, static_cast<size_t>(n));
    reply.bServerClosed = n == 0;
    close(fd);
    size_t nHeadEnd = strRaw.find("\r\n\r\n");
    if (nHeadEnd == std::string::npos)
        return reply;
    reply.strHead = strRaw.substr(0, nHeadEnd + 2);
    reply.strBody = strRaw.substr(nHeadEnd + 4);
    reply.nHttpStatus = HttpReply::StatusCode(strRaw);
    reply.bComplete = !HttpReply::IsCutShort(strRaw);
    if (HttpReply::ExtractBody(strRaw))  // a 200's body, de-chunked
        reply.strBody = strRaw;
    reply.bJson = _VelmoUpload::JsonParse(reply.strBody, reply.json);
    return reply;
}

Reply Exchange(uint16_t nPort, const std::string& strRequest, int nTimeoutMs) {
    int fd = Connect(nPort);
    if (fd < 0)
        return Reply();
    SendAll(fd, strRequest);  // a refusal may come before the server took it all
    return ReadReply(fd, nTimeoutMs);
}

std::string GetRequest(const std::string& strPath) {
    return "GET " + strPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Velmoupload\r\n\r\n";
}

std::string PostRequest(const std::string& strPath, const std::string& strBody,
                        const std::string& strContentType) {
    return "POST " + strPath +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(strBody.size()) +
           "\r\nUser-Agent: Velmoupload\r\nContent-Type: " + strContentType + "\r\n\r\n" + strBody;
}

Content LoggedInTest::Make(size_t nSize, unsigned nSeed) {
    Content content;
    std::mt19937 rng(nSeed);
    content.strData.resize(nSize);
    for (char& c : content.strData)
        c = static_cast<char>(rng());
    content.strSha1 = Sha1(content.strData);
    std::string strPath = m_strWork + "/content-" + std::to_string(nSeed);
    velmotest::WriteFile(strPath, content.strData);
    int nError = 0;
    Utils::GetFileMDVelmo(strPath, content.strQuickId, nError);
    return content;
}

FileAsk AskFor(const Content& content, const std::string& strFileName) {
    const long long nSize = static_cast<long long>(content.strData.size());
    return FileAsk{strFileName, nSize, "", "", content.strSha1, content.strQuickId, ""};
}

Reply ServiceClient::Login(const std::string& strAccount, const std::string& strPassword,
                           long long nTimeShift) {
    std::string strTime = std::to_string(static_cast<long long>(time(nullptr)) + nTimeShift);
    std::string strSign = Utils::GetMD5(strAccount + Utils::StringToLowerCase(Sha1(strPassword)) +
                                        strTime + _VelmoUpload::kLoginSalt);
    std::string strBody = "account=" + strAccount + "&_time=" + strTime +
                          "&version=" + _VelmoUpload::kPluginVersion + "&sign=" + strSign;
    Reply reply = Exchange(m_nPort, PostRequest("/app/clogin", strBody));
    if (reply.bJson && reply.json.get("state", false).asBool()) {
        m_strUserId = reply.json["user_id"].asString();
        m_strUserKey = reply.json["userkey"].asString();
        m_strTarget = reply.json["target"].asString();
        m_strUploadPath = PathOf(reply.json["url_upload"].asString());
        m_strResumePath = PathOf(reply.json["url_resume"].asString());
        m_strCancelPath = PathOf(reply.json["url_cancel"].asString());
    }
    return reply;
}

Reply ServiceClient::Dispatch(const FileAsk& ask, bool bEncode, bool bCancel,
                              const std::string& strSig) {
    std::string strTarget = ask.strTarget.empty() ? m_strTarget : ask.strTarget;
    std::string strInner =
        Utils::StringToLowerCase(Sha1(m_strUserId + ask.strFileId + ask.strQuickId +
                                      ask.strPickCode + strTarget + _VelmoUpload::kAppId));
    std::string strSign = Sha1(m_strUserKey + strInner + _VelmoUpload::kAppKey);
    std::string strPath =
        bCancel ? m_strCancelPath : (ask.strPickCode.empty() ? m_strUploadPath : m_strResumePath);
    strPath += std::string("?appid=0&appversion=") + _VelmoUpload::kPluginVersion +
               "&format=json&isp=0&sig=" + (strSig.empty() ? strSign : strSig);
    auto value = [bEncode](const std::string& s) {
        return bEncode ? _VelmoUpload::UrlEncode(s) : s;
    };
    std::string strBody = "userid=" + value(m_strUserId) + "&filename=" + value(ask.strFileName) +
                          "&filesize=" + std::to_string(ask.nFileSize) +
                          "&target=" + value(strTarget) + "&path=" + value(ask.strPath) +
                          "&fileid=" + value(ask.strFileId) + "&quickid=" + value(ask.strQuickId) +
                          "&pickcode=" + value(ask.strPickCode);
    return Exchange(m_nPort, PostRequest(strPath, strBody));
}

std::string ServiceClient::UploadQuery(const Ticket& ticket, const std::string& strSig) const {
    std::string strSign = Sha1(_VelmoUpload::kAppKey + ticket.strUploadKey + _VelmoUpload::kAppId);
    return std::string("?appid=0&appversion=") + _VelmoUpload::kPluginVersion +
           "&format=json&ets=" + std::to_string(ticket.nEts) +
           "&filesize=" + std::to_string(ticket.nFileSize) + "&userid=" + m_strUserId +
           "&pickcode=" + ticket.strPickCode + "&sig=" + (strSig.empty() ? strSign : strSig);
}

Reply ServiceClient::Check(const Ticket& ticket, const std::string& strSig) {
    return Exchange(m_nPort, GetRequest("/2.0/check" + UploadQuery(ticket, strSig)));
}

Reply ServiceClient::Piece(const Ticket& ticket, const Content& content, long long nOffset,
                           const PieceSpoil& spoil) {
    const std::string strBoundary = _VelmoUpload::kUploadBoundary;
    std::string strPiece =
        content.strData.substr(static_cast<size_t>(nOffset), _VelmoUpload::kPieceSize);
    auto part = [&](const std::string& strName, const std::string& strValue,
                    const std::string& strSpoiled) {
        return "--" + strBoundary + "\r\nContent-Disposition: form-data; name=\"" + strName +
               "\"\r\n\r\n" + (strSpoiled.empty() ? strValue : strSpoiled) + "\r\n";
    };
    std::string strRange = std::to_string(nOffset) + "-" +
                           std::to_string(nOffset + static_cast<long long>(strPiece.size()));
    std::string strHead = part("fileid", ticket.strFileId, spoil.strFileId) +
                          part("quickid", ticket.strQuickId, "") +
                          part("ctrange", strRange, spoil.strRange) +
                          part("cthash", Sha1(strPiece), spoil.strHash) + "--" + strBoundary +
                          "\r\nContent-Disposition: form-data; name=\"uploadfile\"; filename=\"" +
                          (spoil.strFileName.empty() ? ticket.strPickCode : spoil.strFileName) +
                          "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    std::string strBody = strHead + strPiece + "\r\n--" + strBoundary + "--";
    std::string strRequest = "POST /2.0/bigupload" + UploadQuery(ticket, spoil.strSig) +
                             " HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: 127.0.0.1\r\n"
                             "Accept: */*\r\nContent-Length: " +
                             std::to_string(strBody.size()) +
                             "\r\nContent-Type: multipart/form-data; boundary=" + strBoundary +
                             "\r\nUser-Agent: Velmoupload\r\n\r\n" + strBody;
    return Exchange(m_nPort, strRequest);
}

Reply ServiceClient::UploadAll(const Ticket& ticket, const Content& content) {
    Reply reply = Check(ticket);
    while (reply.StatusCode() == 0) {
        long long nOffset = static_cast<long long>(reply.json["offset"].asDouble());
        if (nOffset >= ticket.nFileSize)
            break;
        reply = Piece(ticket, content, nOffset);
    }
    return reply;
}

}  // namespace standintest
