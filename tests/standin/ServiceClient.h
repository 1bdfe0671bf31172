// A client that builds every request byte for byte as the engine does, with hooks to spoil any
// field; and the stand-in tests' fixture: two accounts, a small policy, alice logged in.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <memory>
#include <string>

#include "StandinFixture.h"

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
Reply Exchange(uint16_t nPort, const std::string& strRequest, int nTimeoutMs = 10000);
std::string GetRequest(const std::string& strPath);
std::string PostRequest(const std::string& strPath, const std::string& strBody,
                        const std::string& strContentType = "application/x-www-form-urlencoded");

// Content the tests upload, with the digests the client would send for it.
struct Content {
    std::string strData, strSha1, strQuickId;
};

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

constexpr long long kQuota = 20000000;
constexpr long long kSizeLimit = 9000000;
constexpr long long kPiece = 1048576;

class LoggedInTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user",  "alice:wonderland",     "--user",       "bob:builder",
                "--quota", std::to_string(kQuota), "--size-limit", std::to_string(kSizeLimit)};
    }
    void SetUp() override {
        StandinFixture::SetUp();
        if (!HasFatalFailure())
            Relogin();
    }
    // A fresh session, e.g. after a restart.
    void Relogin() {
        m_pClient.reset(new ServiceClient(StandinPort()));
        Reply reply = m_pClient->Login("alice", "wonderland");
        ASSERT_TRUE(reply.json.get("state", false).asBool()) << reply.strBody;
    }
    ServiceClient& Client() { return *m_pClient; }
    // Dispatches an upload that is not held yet (new, or resumed) and returns its ticket.
    Ticket Start(const FileAsk& ask) {
        Reply reply = Client().Dispatch(ask);
        EXPECT_EQ(0, reply.StatusCode()) << reply.strBody;
        EXPECT_EQ(1, reply.json["status"].asInt()) << reply.strBody;
        return {reply.json["pickcode"].asString(),
                reply.json["uploadkey"].asString(),
                ask.strFileId,
                ask.strQuickId,
                static_cast<long long>(reply.json["uploadtime"].asDouble()),
                ask.nFileSize};
    }
    Ticket Start(const Content& content, const std::string& strName = "file.bin") {
        return Start(AskFor(content, strName));
    }
    Content Make(size_t nSize, unsigned nSeed);  // written to a file to take its quick digest
    Reply Space() {
        return Exchange(StandinPort(),
                        GetRequest("/app/user/space?source=x&user_id=" + Client().m_strUserId));
    }
    long long Used() { return Space().json["space"]["byte_size_used"].asInt64(); }
    // The stand-in's page that lists every stored file and folder.
    std::string Page() { return Exchange(StandinPort(), GetRequest("/")).strBody; }
    bool Listed(const std::string& strText) { return Page().find(strText) != std::string::npos; }

    std::unique_ptr<ServiceClient> m_pClient;
};

}  // namespace standintest
