// The engine against a running stand-in: logged in through LoginManager, started with a
// progress callback that records every report, and helpers to make files and wait for tasks.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "EngineSupport.h"
#include "PieceRequest.h"
#include "RecordingProxy.h"
#include "StandinFixture.h"
#include "Velmoupload.h"
#include "WaitFor.h"
#include "core/ResumeManager.h"
#include "utils/Utils.h"

namespace enginetest {

const long long kMiB = 1048576;
// the task summary once nothing is queued or running
const char kIdle[] = "0,0,0,00:00:00";

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
    // Makes a file of nSize pseudo-random bytes (seeded) under the work folder.
    std::string MakeFile(const std::string& strName, long long nSize, unsigned nSeed = 1);
    // Waits until the path's last report has that status.
    bool WaitForStatus(const std::string& strPath, int status,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Waits until the path has had nCount reports with that status.
    bool WaitForCount(const std::string& strPath, int status, int nCount,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60));
    bool WaitForIdle(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Where the stand-in keeps content by SHA-1; empty when it holds none.
    std::string StoredContent(const std::string& strSha1);
    // The stand-in holds exactly the bytes of the file.
    void ExpectStored(const std::string& strPath);
    // A single file into the account's own folder, queued to start at once.
    bool StartFile(const std::string& strPath);
    // Where the stand-in's last accepted piece left the upload ("offset N"), -1 before one.
    long long LastPieceOffset() const;

    ReportLog m_reports;
    velmotest::LoginCounter m_login;
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
