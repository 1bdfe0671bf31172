// Progress record, login counter and thread lookups shared by the engine-level suites.
#include "EngineSupport.h"

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "TaskModel.h"
#include "WaitFor.h"

namespace velmotest {

void ReportLog::Record(std::string strFileName, std::string strFilePath, int64_t nFileSize,
                       int64_t nUploadSize, int nSpeed, int tLeftTime, int status,
                       double fHashPercent, int nErrorCode, std::string strErrorMsg,
                       std::string strPickCode, bool bIsFolder, std::string strTaskInfo,
                       void* data) {
    ReportLog* pLog = static_cast<ReportLog*>(data);
    std::lock_guard<std::mutex> lock(pLog->m_lock);
    pLog->m_reports.emplace_back(strFileName, strFilePath, nFileSize, nUploadSize, nSpeed,
                                 tLeftTime, status, fHashPercent, nErrorCode, strErrorMsg,
                                 strPickCode, bIsFolder, strTaskInfo);
}

std::vector<Report> ReportLog::All() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reports;
}

std::vector<Report> ReportLog::For(const std::string& strPath, size_t nFrom) const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<Report> found;
    for (size_t i = nFrom; i < m_reports.size(); ++i)
        if (m_reports[i].strFilePath == strPath)
            found.push_back(m_reports[i]);
    return found;
}

Report ReportLog::Last(const std::string& strPath) const {
    std::vector<Report> found = For(strPath);
    Report none;
    none.status = -1;
    return found.empty() ? none : found.back();
}

std::vector<Report> ReportLog::Running(const std::string& strPath, size_t nFrom) const {
    std::vector<Report> found;
    for (const Report& report : For(strPath, nFrom))
        if (report.status == _VelmoUpload::TaskStatusHash ||
            report.status == _VelmoUpload::TaskStatusUpload)
            found.push_back(report);
    return found;
}

int ReportLog::Count(const std::string& strPath, int status) const {
    const std::vector<Report> found = For(strPath);
    return static_cast<int>(std::count_if(found.begin(), found.end(),
                                          [&](const Report& r) { return r.status == status; }));
}

size_t ReportLog::Size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reports.size();
}

void ReportLog::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_reports.clear();
}

bool LoginCounter::LoginAndWait(const std::string& strAccount, const std::string& strPwd,
                                bool bRemember, bool bAuto) {
    int nBefore = m_nLogins;
    if (!_VelmoUpload::LoginManager::Login(strAccount, strPwd, bRemember, bAuto))
        return false;
    bool bHeard = waitFor([&] { return m_nLogins > nBefore; }, std::chrono::seconds(30));
    return bHeard && _VelmoUpload::LoginManager::IsLogin();
}

std::string LoginReplyJson(const std::string& strOverrides) {
    std::string strJson =
        "{\"state\":true,\"error\":\"\",\"upload_allowed\":1,\"is_vip\":0,\"user_id\":\"7\","
        "\"user_name\":\"scripted\",\"face\":\"http://f/x.png\",\"email\":\"s@x\","
        "\"resource\":\"src\",\"userkey\":\"KEY\",\"url_upload\":\"http://u/up\","
        "\"url_resume\":\"http://u/re\",\"url_cancel\":\"http://u/ca\",\"target\":\"U_7_0\","
        "\"time_limit\":0,\"size_limit\":1000,"
        "\"space\":{\"byte_size_total\":1000,\"byte_size_used\":10,\"byte_size_remain\":990,"
        "\"size_used_percent\":\"1.00\",\"size_total\":\"1000B\",\"size_used\":\"10B\","
        "\"size_remain\":\"990B\"},\"type_limit\":[],\"file_range\":{}";
    if (!strOverrides.empty())
        strJson += "," + strOverrides;
    return strJson + "}";
}

std::string HttpOk(const std::string& strBody) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(strBody.size()) + "\r\nConnection: close\r\n\r\n" + strBody;
}

namespace {

// Calls fn with the name of every thread of this process; one that ends meanwhile is skipped.
template <typename Fn>
int ForEachThread(Fn fn) {
    DIR* pDir = opendir("/proc/self/task");
    if (!pDir)
        return -1;
    int nCount = 0;
    while (dirent* pEntry = readdir(pDir)) {
        if (pEntry->d_name[0] == '.')
            continue;
        std::ifstream in(std::string("/proc/self/task/") + pEntry->d_name + "/comm");
        std::string strComm;
        if (std::getline(in, strComm) && fn(strComm))
            ++nCount;
    }
    closedir(pDir);
    return nCount;
}

}  // namespace

int ThreadsNamed(const std::string& strName) {
    return ForEachThread([&](const std::string& strComm) { return strComm == strName; });
}

int ThreadCount() {
    return ForEachThread([](const std::string&) { return true; });
}

}  // namespace velmotest
