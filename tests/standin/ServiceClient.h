// A test client for the stand-in that builds every request byte for byte as the client does
// (login form and signature, signed dispatch, check, multipart piece), with hooks to spoil
// any one field, and reads each reply until the server closes the connection.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

namespace standintest {

struct Reply {
    bool bComplete = false;  // a whole HTTP reply arrived
    bool bServerClosed = false;
    bool bJson = false;
    int nHttpStatus = 0;
    std::string strHead;  // status line and headers
    std::string strBody;  // de-chunked
    Json::Value json;

    std::string Header(const std::string& strName) const;  // case-insensitive, "" when absent
    int StatusCode() const { return json.get("statuscode", -1).asInt(); }
};

// A loopback connection to nPort, -1 when refused.
int Connect(uint16_t nPort);
bool SendAll(int fd, const std::string& strData);
// Reads until the server closes (or nTimeoutMs passes without a byte), then closes fd.
Reply ReadReply(int fd, int nTimeoutMs = 10000);
// Sends the request bytes and reads the reply.
Reply Exchange(uint16_t nPort, const std::string& strRequest, int nTimeoutMs = 10000);
std::string GetRequest(const std::string& strPath);
std::string PostRequest(const std::string& strPath, const std::string& strBody,
                        const std::string& strContentType = "application/x-www-form-urlencoded");

// Content the tests upload, with the digests the client would send for it.
struct Content {
    std::string strData, strSha1, strQuickId;
};
Content MakeContent(const std::string& strScratchDir, size_t nSize, unsigned nSeed);

// What a dispatch says about a file; an empty target is the account's.
struct FileAsk {
    std::string strFileName = "file.bin";
    long long nFileSize = 0;
    std::string strTarget, strPath, strFileId, strQuickId, strPickCode;
};
FileAsk AskFor(const Content& content, const std::string& strFileName = "file.bin");

// The upload a dispatch handed out.
struct Ticket {
    std::string strPickCode, strUploadKey, strFileId, strQuickId;
    long long nEts = 0, nFileSize = 0;
};

// Spoils one field of a piece request.
struct PieceSpoil {
    std::string strRange, strHash, strFileId, strFileName, strSig;
};

class ServiceClient {
public:
    explicit ServiceClient(uint16_t nPort) : m_nPort(nPort) {}

    // Signs with the password's SHA-1, at the time shifted by nTimeShift; on success the
    // session fields are filled.
    Reply Login(const std::string& strAccount, const std::string& strPassword,
                long long nTimeShift = 0);
    // To the upload URL (resume URL when the ask has a pick code, cancel URL when bCancel);
    // bEncode percent-encodes the form values as the engine does; strSig spoils the signature.
    Reply Dispatch(const FileAsk& ask, bool bEncode = false, bool bCancel = false,
                   const std::string& strSig = "");
    static Ticket TicketOf(const Reply& dispatched, const FileAsk& ask);
    Reply Check(const Ticket& ticket, const std::string& strSig = "");
    Reply Piece(const Ticket& ticket, const Content& content, long long nOffset,
                const PieceSpoil& spoil = PieceSpoil());
    // Check, then every piece from the offset it gives; the reply of the last request.
    Reply UploadAll(const Ticket& ticket, const Content& content);
    std::string UploadQuery(const Ticket& ticket, const std::string& strSig) const;

    uint16_t m_nPort;
    std::string m_strUserId, m_strUserKey, m_strTarget;
    std::string m_strUploadPath, m_strResumePath, m_strCancelPath;
};

}  // namespace standintest
