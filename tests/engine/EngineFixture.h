// The engine against a running stand-in: logged in through LoginManager, started with a
// progress callback that records every report, and helpers to make files and wait for tasks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EngineSupport.h"
#include "PieceRequest.h"
#include "StandinFixture.h"
#include "TestHttpServer.h"
#include "Velmoupload.h"
#include "WaitFor.h"
#include "core/ResumeManager.h"
#include "utils/Utils.h"

namespace enginetest {

const long long kMiB = 1048576;
const char kIdle[] = "0,0,0,00:00:00";  // the task summary once nothing is queued or running
const char kPieces[] = "POST /2.0/bigupload";

using velmotest::ParsePieceRequest;
using velmotest::PieceRequest;
using velmotest::Report;
using velmotest::ReportLog;

class EngineTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override;
    void SetUp() override;
    void TearDown() override;

    // Logs in through the engine's own session and starts the engine.
    bool Login(const std::string& strAccount = "alice", const std::string& strPwd = "wonderland");
    // Ends the engine and the session, as a logout from the window does.
    void Logout();
    // nSize pseudo-random bytes (seeded) under the work folder.
    std::string MakeFile(const std::string& strName, long long nSize, unsigned nSeed = 1);
    bool WaitForStatus(const std::string& strPath, int status,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Until the path has had nCount reports with that status.
    bool WaitForCount(const std::string& strPath, int status, int nCount,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60));
    bool WaitForIdle(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Where the stand-in keeps content by SHA-1; empty when it holds none.
    std::string StoredContent(const std::string& strSha1);
    void ExpectStored(const std::string& strPath);  // the service holds exactly the file's bytes
    // A single file into the account's own folder, queued to start at once.
    bool StartFile(const std::string& strPath);
    // StartFile, then waits for the status; the failure names the status and code reached.
    testing::AssertionResult Upload(const std::string& strPath,
                                    int status = _VelmoUpload::TaskStatusSucceed);

    ReportLog m_reports;
    velmotest::LoginCounter m_login;
};

// A gateway in front of the stand-in's upload addresses: it passes every request on, keeps a
// copy of each, and answers a chosen one itself, as a proxy that lost its upstream would.
class RecordingProxy {
public:
    RecordingProxy();
    // Requests before this is set are answered with nothing.
    void SetUpstream(uint16_t nPort) { m_nUpstream = nPort; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_pServer->Port()); }
    // Requests whose request line starts with strStart, in the order they were read.
    std::vector<std::string> Requests(const std::string& strStart) const;
    // The nIndex-th request (from 0, counted from this call) that starts with strStart gets
    // strReply instead of the stand-in's answer; with bForward it still reaches the stand-in first.
    void AnswerInstead(const std::string& strStart, int nIndex, const std::string& strReply,
                       bool bForward);

private:
    struct Rule {
        std::string strStart;
        int nIndex;
        std::string strReply;
        bool bForward;
        int nSeen;
    };
    std::string Handle(const std::string& strRequest);
    std::string Forward(const std::string& strRequest) const;

    std::atomic<uint16_t> m_nUpstream{0};
    std::mutex m_mutex;  // guards m_vRules
    std::vector<Rule> m_vRules;
    // last: destroyed first, so no handler thread outlives the members it uses
    std::unique_ptr<velmotest::TestHttpServer> m_pServer;
};

// The same, with the upload addresses the stand-in hands out pointing at a recording gateway:
// dispatch, check and piece requests pass through m_proxy.
class ProxiedEngineTest : public EngineTest {
protected:
    std::vector<std::string> StandinArgs() const override;
    void SetUp() override;

    RecordingProxy m_proxy;
};

// The SHA-1 text of a file, as sha1sum prints it but upper case.
std::string FileSha1(const std::string& strPath);

}  // namespace enginetest
