// Upload throughput of velmo-standin: posts a file as 1 MiB piece uploads over loopback, one
// request per connection as the client does, and prints MB/s. The piece digests are computed
// before the clock starts, so the figure is what the stand-in accepts, not what this driver
// hashes. bench/standin_bench.sh runs it next to curl and nginx.
#include <arpa/inet.h>
#include <fcntl.h>
#include <json/json.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ServiceConstants.h"
#include "utils/Utils.h"

using _VelmoUpload::Utils;

namespace {

int g_nPort = 0;

int Connect() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(g_nPort));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        perror("connect");
        exit(1);
    }
    int nOne = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
    return fd;
}

// Sends the parts in order, reads the reply until the server closes, returns its JSON body.
Json::Value Exchange(const std::vector<std::pair<const char*, size_t>>& vParts) {
    int fd = Connect();
    std::vector<iovec> vIov;
    for (const auto& part : vParts)
        vIov.push_back(iovec{const_cast<char*>(part.first), part.second});
    size_t nIndex = 0;
    while (nIndex < vIov.size()) {
        ssize_t n = writev(fd, vIov.data() + nIndex, static_cast<int>(vIov.size() - nIndex));
        if (n <= 0) {
            perror("send");
            exit(1);
        }
        size_t nLeft = static_cast<size_t>(n);
        while (nIndex < vIov.size() && nLeft >= vIov[nIndex].iov_len)
            nLeft -= vIov[nIndex++].iov_len;
        if (nIndex < vIov.size()) {
            vIov[nIndex].iov_base = static_cast<char*>(vIov[nIndex].iov_base) + nLeft;
            vIov[nIndex].iov_len -= nLeft;
        }
    }
    std::string strReply;
    char buf[8192];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof(buf), 0)) > 0)
        strReply.append(buf, static_cast<size_t>(n));
    close(fd);
    std::string strBody = strReply.substr(strReply.find("\r\n\r\n") + 4);
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> pReader(builder.newCharReader());
    std::string strErrors;
    if (!pReader->parse(strBody.data(), strBody.data() + strBody.size(), &value, &strErrors)) {
        fprintf(stderr, "unreadable reply: %s\n", strReply.c_str());
        exit(1);
    }
    return value;
}

Json::Value Post(const std::string& strPath, const std::string& strBody) {
    std::string strHead = "POST " + strPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                          std::to_string(strBody.size()) +
                          "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n";
    return Exchange({{strHead.data(), strHead.size()}, {strBody.data(), strBody.size()}});
}

std::string Sha1(const std::string& s) {
    std::string strHash;
    Utils::GetHash(s, strHash);
    return strHash;
}

std::string PathOf(const std::string& strUrl) {
    return strUrl.substr(strUrl.find('/', strUrl.find("://") + 3));
}

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(addr);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &nLen);
    close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--free-port") {
        printf("%d\n", FreePort());
        return 0;
    }
    if (argc < 3) {
        fprintf(stderr,
                "usage: standin_bench PORT FILE [USER PASSWORD]\n"
                "       standin_bench --free-port\n");
        return 2;
    }
    g_nPort = atoi(argv[1]);
    std::string strFile = argv[2];
    std::string strUser = argc > 4 ? argv[3] : "demo", strPassword = argc > 4 ? argv[4] : "demo";

    int fd = open(strFile.c_str(), O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) {
        fprintf(stderr, "cannot read %s\n", strFile.c_str());
        return 1;
    }
    const long long nSize = st.st_size;
    const char* pData = static_cast<const char*>(
        mmap(nullptr, static_cast<size_t>(nSize), PROT_READ, MAP_SHARED, fd, 0));
    std::string strSha1, strQuickId;
    int nError = 0;
    Utils::GetFileHash(strFile, strSha1, nError, nullptr);
    Utils::GetFileMDVelmo(strFile, strQuickId, nError);
    std::vector<std::string> vPieceHash;
    for (long long nOff = 0; nOff < nSize; nOff += _VelmoUpload::kPieceSize) {
        std::string strHash;
        Utils::GetHash(reinterpret_cast<const unsigned char*>(pData + nOff),
                       static_cast<unsigned>(std::min(_VelmoUpload::kPieceSize, nSize - nOff)),
                       strHash);
        vPieceHash.push_back(strHash);
    }

    std::string strTime = std::to_string(static_cast<long long>(time(nullptr)));
    std::string strSign = Utils::GetMD5(strUser + Utils::StringToLowerCase(Sha1(strPassword)) +
                                        strTime + _VelmoUpload::kLoginSalt);
    Json::Value login =
        Post("/app/clogin", "account=" + strUser + "&_time=" + strTime +
                                "&version=" + _VelmoUpload::kPluginVersion + "&sign=" + strSign);
    if (!login["state"].asBool()) {
        fprintf(stderr, "login refused: %s\n", login["error"].asString().c_str());
        return 1;
    }
    std::string strUserId = login["user_id"].asString(), strTarget = login["target"].asString();
    std::string strInner = Utils::StringToLowerCase(
        Sha1(strUserId + strSha1 + strQuickId + strTarget + _VelmoUpload::kAppId));
    std::string strSig = Sha1(login["userkey"].asString() + strInner + _VelmoUpload::kAppKey);
    Json::Value dispatch =
        Post(PathOf(login["url_upload"].asString()) + "?appid=0&appversion=" +
                 _VelmoUpload::kPluginVersion + "&format=json&isp=0&sig=" + strSig,
             "userid=" + strUserId + "&filename=bench-" + strTime +
                 "&filesize=" + std::to_string(nSize) + "&target=" + strTarget +
                 "&path=&fileid=" + strSha1 + "&quickid=" + strQuickId + "&pickcode=");
    if (dispatch["statuscode"].asInt() != 0 || dispatch["status"].asInt() != 1) {
        fprintf(stderr, "dispatch refused: %s\n", dispatch.toStyledString().c_str());
        return 1;
    }
    std::string strPick = dispatch["pickcode"].asString();
    std::string strQuery =
        std::string("?appid=0&appversion=") + _VelmoUpload::kPluginVersion +
        "&format=json&ets=" + std::to_string(dispatch["uploadtime"].asInt64()) +
        "&filesize=" + std::to_string(nSize) + "&userid=" + strUserId + "&pickcode=" + strPick +
        "&sig=" +
        Sha1(_VelmoUpload::kAppKey + dispatch["uploadkey"].asString() + _VelmoUpload::kAppId);
    const std::string strBoundary = _VelmoUpload::kUploadBoundary;
    const std::string strTail = "\r\n--" + strBoundary + "--";

    auto start = std::chrono::steady_clock::now();
    long long nOffset = 0;
    size_t nPiece = 0;
    while (nOffset < nSize) {
        long long nLen = std::min(_VelmoUpload::kPieceSize, nSize - nOffset);
        std::string strParts;
        auto part = [&](const char* pName, const std::string& strValue) {
            strParts += "--" + strBoundary + "\r\nContent-Disposition: form-data; name=\"" + pName +
                        "\"\r\n\r\n" + strValue + "\r\n";
        };
        part("fileid", strSha1);
        part("quickid", strQuickId);
        part("ctrange", std::to_string(nOffset) + "-" + std::to_string(nOffset + nLen));
        part("cthash", vPieceHash[nPiece]);
        strParts += "--" + strBoundary +
                    "\r\nContent-Disposition: form-data; name=\"uploadfile\"; filename=\"" +
                    strPick + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
        std::string strHead =
            "POST /2.0/bigupload" + strQuery +
            " HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
            "Content-Length: " +
            std::to_string(strParts.size() + static_cast<size_t>(nLen) + strTail.size()) +
            "\r\nContent-Type: multipart/form-data; boundary=" + strBoundary +
            "\r\nUser-Agent: Velmoupload\r\n\r\n";
        Json::Value reply = Exchange({{strHead.data(), strHead.size()},
                                      {strParts.data(), strParts.size()},
                                      {pData + nOffset, static_cast<size_t>(nLen)},
                                      {strTail.data(), strTail.size()}});
        if (reply["statuscode"].asInt() != 0) {
            fprintf(stderr, "piece at %lld refused: %s\n", nOffset, reply.toStyledString().c_str());
            return 1;
        }
        nOffset = reply["offset"].asInt64();
        ++nPiece;
    }
    double fSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%lld %.6f %zu\n", nSize, fSeconds, nPiece);
    return 0;
}
