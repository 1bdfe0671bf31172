// Pieces every engine-level suite needs: a record of the progress reports the engine sends,
// a login observer that counts what finished, a canned login reply, and the threads of this
// process by name.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ProgressReport.h"
#include "core/LoginManager.h"

namespace velmotest {

// One progress report as the callback received it: the engine's own record of it.
using Report = _VelmoUpload::ProgressReport;

class ReportLog {
public:
    // The engine's progress callback; data must be the ReportLog to add to.
    static void Record(std::string strFileName, std::string strFilePath, int64_t nFileSize,
                       int64_t nUploadSize, int nSpeed, int tLeftTime, int status,
                       double fHashPercent, int nErrorCode, std::string strErrorMsg,
                       std::string strPickCode, bool bIsFolder, std::string strTaskInfo,
                       void* data);
    std::vector<Report> All() const;
    // Reports of the path, from report nFrom on.
    std::vector<Report> For(const std::string& strPath, size_t nFrom = 0) const;
    // The last report of the path, or a report with status -1.
    Report Last(const std::string& strPath) const;
    // Running reports (hashing or uploading) of the path, from report nFrom on.
    std::vector<Report> Running(const std::string& strPath, size_t nFrom = 0) const;
    int Count(const std::string& strPath, int status) const;
    size_t Size() const;
    void Clear();

private:
    mutable std::mutex m_lock;  // guards m_reports
    std::vector<Report> m_reports;
};

// Counts LoginFinish and LogoutFinish; registered for its lifetime.
class LoginCounter : public _VelmoUpload::LoginObserver {
public:
    LoginCounter() { _VelmoUpload::LoginManager::AddObserver(this); }
    ~LoginCounter() { _VelmoUpload::LoginManager::RemoveObserver(this); }
    void LoginFinish() override { ++m_nLogins; }
    void LogoutFinish() override { ++m_nLogouts; }
    // Starts a login and waits for its LoginFinish; the outcome is LoginManager::IsLogin().
    bool LoginAndWait(const std::string& strAccount, const std::string& strPwd,
                      bool bRemember = false, bool bAuto = false);

    std::atomic<int> m_nLogins{0};
    std::atomic<int> m_nLogouts{0};
};

// A successful login reply as the service writes it (user 7), with the fields a test wants
// changed: later keys win in the parser, so strOverrides (e.g. "\"user_id\":\"8\"") go last.
std::string LoginReplyJson(const std::string& strOverrides = std::string());
// An HTTP 200 reply carrying strBody, closed after it.
std::string HttpOk(const std::string& strBody);

// Threads of this process that carry the given name (the engine names its own).
int ThreadsNamed(const std::string& strName);
// Every thread of this process.
int ThreadCount();

}  // namespace velmotest
