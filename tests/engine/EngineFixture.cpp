// Engine fixture: a stand-in, a logged-in session and a recording progress callback.
#include "EngineFixture.h"

#include <random>

#include "ContentFiles.h"
#include "TestHome.h"

using namespace _VelmoUpload;

namespace enginetest {

std::vector<std::string> EngineTest::StandinArgs() const {
    return {"--user",  "alice:wonderland", "--user",       "bob:builder",
            "--quota", "200000000",        "--size-limit", "100000000"};
}

void EngineTest::SetUp() {
    StandinFixture::SetUp();
    if (HasFatalFailure())
        return;
    LoginManager::SetApiHost(StandinHost());
    // the engine's settings are process-wide: every test starts from the defaults
    UploadManager::SetMaxUploadCount(1);
}

void EngineTest::TearDown() {
    Logout();
    // upload threads of this test end on their own once stopped; give them the moment
    velmotest::waitFor([] { return UploadManager::GetRunningCount() <= 0; },
                       std::chrono::seconds(10));
    LoginManager::SetApiHost(std::string());
    StandinFixture::TearDown();
}

bool EngineTest::Login(const std::string& strAccount, const std::string& strPwd) {
    if (!m_login.LoginAndWait(strAccount, strPwd, /*bRemember=*/true))
        return false;
    UploadManager::Initialize(&ReportLog::Record, &m_reports);
    return true;
}

void EngineTest::Logout() {
    UploadManager::UnInitialize();
    LoginManager::Logout();
}

std::string EngineTest::MakeFile(const std::string& strName, long long nSize, unsigned nSeed) {
    std::string strPath = m_strWork + "/" + strName, strData(static_cast<size_t>(nSize), '\0');
    Utils::CreateDir(Utils::GetParentDir(strPath));
    std::mt19937 rng(nSeed);
    for (char& c : strData)
        c = static_cast<char>(rng());
    velmotest::WriteFile(strPath, strData);
    return strPath;
}

bool EngineTest::WaitForStatus(const std::string& strPath, int status,
                               std::chrono::milliseconds timeout) {
    return velmotest::waitFor([&] { return m_reports.Last(strPath).status == status; }, timeout);
}

bool EngineTest::WaitForCount(const std::string& strPath, int status, int nCount,
                              std::chrono::milliseconds timeout) {
    return velmotest::waitFor([&] { return m_reports.Count(strPath, status) >= nCount; }, timeout);
}

bool EngineTest::WaitForIdle(std::chrono::milliseconds timeout) {
    return velmotest::waitFor(
        [] { return UploadManager::GetTaskCount() == 0 && UploadManager::GetRunningCount() <= 0; },
        timeout);
}

std::string EngineTest::StoredContent(const std::string& strSha1) {
    standin::ContentFiles files;
    files.Open(StandinDataDir());
    std::string strPath = files.ContentPath(strSha1);
    return Utils::IsExist(strPath) ? strPath : std::string();
}

void EngineTest::ExpectStored(const std::string& strPath) {
    const std::string strStored = StoredContent(FileSha1(strPath));
    ASSERT_FALSE(strStored.empty()) << strPath << " is not on the service";
    EXPECT_TRUE(velmotest::ReadFile(strPath) == velmotest::ReadFile(strStored)) << strPath;
}

bool EngineTest::StartFile(const std::string& strPath) {
    return UploadManager::StartTask(strPath, LoginManager::GetTarget(), ISPTypeAuto, "", "", true);
}

testing::AssertionResult EngineTest::Upload(const std::string& strPath, int status) {
    if (StartFile(strPath) && WaitForStatus(strPath, status))
        return testing::AssertionSuccess();
    const Report last = m_reports.Last(strPath);
    return testing::AssertionFailure()
           << strPath << " ended " << last.status << ", code " << last.nErrorCode;
}

std::vector<std::string> ProxiedEngineTest::StandinArgs() const {
    std::vector<std::string> vArgs = EngineTest::StandinArgs();
    vArgs.insert(vArgs.end(), {"--public-url", m_proxy.Url()});
    return vArgs;
}

void ProxiedEngineTest::SetUp() {
    EngineTest::SetUp();
    m_proxy.SetUpstream(StandinPort());
}

std::string FileSha1(const std::string& strPath) {
    std::string strHash;
    int nErrorCode = 0;
    Utils::GetFileHash(strPath, strHash, nErrorCode, nullptr);
    return strHash;
}

}  // namespace enginetest
