// The engine against a running stand-in: logged in through LoginManager, started with a
// progress callback that records every report, and helpers to make files and wait for tasks.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "RecordingProxy.h"
#include "StandinFixture.h"
#include "Velmoupload.h"
#include "core/LoginManager.h"

namespace enginetest {

// One progress report as the callback received it.
struct Report {
    std::string strFileName, strFilePath;
    long long nFileSize = 0, nUploadSize = 0;
    int nSpeed = 0, tLeftTime = 0, status = 0;
    double fHashPercent = 0;
    int nErrorCode = 0;
    std::string strErrorMsg, strPickCode;
    bool bIsFolder = false;
    std::string strTaskInfo;
};

class ReportLog {
public:
    void Add(const Report& report);
    std::vector<Report> All() const;
    std::vector<Report> For(const std::string& strPath) const;
    // The last report of the path, or a report with status -1.
    Report Last(const std::string& strPath) const;
    // Running reports (hashing or uploading) of the path, from report nFrom on.
    std::vector<Report> Running(const std::string& strPath, size_t nFrom = 0) const;
    // Reports of the path with that status.
    int Count(const std::string& strPath, int status) const;
    size_t Size() const;
    void Clear();

private:
    mutable std::mutex m_lock;  // guards m_reports
    std::vector<Report> m_reports;
};

class EngineTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override;
    void SetUp() override;
    void TearDown() override;

    // Logs in through the engine's own session (observer + wait).
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
    // A single file into the account's own folder, queued to start at once.
    bool StartFile(const std::string& strPath);
    // Where the stand-in's last accepted piece left the upload ("offset N"), -1 before one.
    long long LastPieceOffset() const;

    static void OnProgress(std::string strFileName, std::string strFilePath, int64_t nFileSize,
                           int64_t nUploadSize, int nSpeed, int tLeftTime, int status,
                           double fHashPercent, int nErrorCode, std::string strErrorMsg,
                           std::string strPickCode, bool bIsFolder, std::string strTaskInfo,
                           void* data);

    ReportLog m_reports;
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
