// The tasks' lives: stops, cancels and logouts while threads run (the sanitizer builds watch for
// records freed under them), and churn for VELMO_CHURN_SECONDS (scripts/churn.sh runs it long).
#include <algorithm>
#include <cstdlib>
#include <random>

#include "EngineFixture.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

using LifecycleTest = EngineTest;

TEST_F(LifecycleTest, StopCancelLogoutAndAnotherLoginWhileUploadsRun) {
    ASSERT_TRUE(Login("alice", "wonderland"));
    UploadManager::SetMaxUploadCount(3);
    Fault("action=stall&on=piece&seconds=0.2&count=1000&user=alice");
    std::vector<std::string> alice;
    for (int i = 0; i < 5; ++i) {
        alice.push_back(MakeFile("alice" + std::to_string(i) + ".bin", 3 * kMiB + i, 140 + i));
        ASSERT_TRUE(StartFile(alice.back()));
    }
    ASSERT_TRUE(velmotest::waitFor([] { return UploadManager::GetRunningCount() == 3; },
                                   std::chrono::seconds(10)));
    ASSERT_TRUE(UploadManager::StopTask(alice[0], true, TaskStatusStop));
    ASSERT_TRUE(UploadManager::CancelTask(alice[1]));
    Logout();

    // another account while alice's stopped uploads are still ending
    ASSERT_TRUE(Login("bob", "builder"));
    const std::vector<std::string> bob = {MakeFile("bob0.bin", kMiB, 150),
                                          MakeFile("bob1.bin", kMiB + 1, 151)};
    for (const std::string& strPath : bob)
        ASSERT_TRUE(StartFile(strPath));
    for (const std::string& strPath : bob)
        ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed));
    ASSERT_TRUE(WaitForIdle());
    ResumeInfo record;
    for (const std::string& strPath : alice)
        EXPECT_FALSE(ResumeManager::GetResumeInfo(strPath, record))
            << "in bob's store: " << strPath;

    // alice again: everything but the cancelled file is waiting for her, and goes on
    Logout();
    m_reports.Clear();
    ASSERT_TRUE(Login("alice", "wonderland"));
    for (size_t i = 0; i < alice.size(); ++i) {
        EXPECT_EQ(i != 1, ResumeManager::GetResumeInfo(alice[i], record)) << alice[i];
        EXPECT_EQ(i != 1 ? TaskStatusStop : -1, m_reports.Last(alice[i]).status) << alice[i];
    }
    alice.erase(alice.begin() + 1);
    UploadManager::SetMaxUploadCount(3);
    for (const std::string& strPath : alice)
        ASSERT_TRUE(UploadManager::StartTask(strPath, "", ISPTypeAuto, "", "", true));
    int nMost = 0;
    ASSERT_TRUE(velmotest::waitFor(
        [&] {
            nMost = std::max(nMost, UploadManager::GetRunningCount());
            return UploadManager::GetTaskCount() == 0;
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(3, nMost);
    // three at a time: the fourth shows up running only once one of the others has finished
    const std::vector<Report> all = m_reports.All();
    size_t nFirstDone = all.size(), nFourthRuns = all.size();
    for (size_t i = all.size(); i-- > 0;) {  // backwards: the first of each is kept
        const bool bFourth = all[i].strFilePath == alice[3];
        if (!bFourth && all[i].status == TaskStatusSucceed)
            nFirstDone = i;
        if (bFourth && (all[i].status == TaskStatusHash || all[i].status == TaskStatusUpload))
            nFourthRuns = i;
    }
    EXPECT_LT(nFirstDone, nFourthRuns);
    for (const std::string& strPath : alice) {
        EXPECT_EQ(TaskStatusSucceed, m_reports.Last(strPath).status) << strPath;
        ExpectStored(strPath);
    }
    // a cancel whose thread ended after the logout is not sent in another account's name
    EXPECT_TRUE(LogLines("POST /files/cancel bob").empty());
}

class ChurnTest : public EngineTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user", "alice:wonderland", "--quota", "100000000000"};
    }
};

TEST_F(ChurnTest, EightUploadsWhileTasksAreStoppedStartedCancelledAndTheUserComesAndGoes) {
    const char* pszSeconds = getenv("VELMO_CHURN_SECONDS");
    const int nSeconds = pszSeconds && atoi(pszSeconds) > 0 ? atoi(pszSeconds) : 12;
    std::mt19937 rng(nSeconds);
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        // mostly small, some of a few pieces
        long long nSize = i % 8 == 0 ? 2 * kMiB + i : 1000 + static_cast<long long>(rng() % 60000);
        files.push_back(
            MakeFile("churn/f" + std::to_string(i), nSize, static_cast<unsigned>(200 + i)));
    }
    ASSERT_TRUE(Login());
    UploadManager::SetMaxUploadCount(8);
    // slow pieces keep several uploads under way at each moment
    Fault("action=stall&on=piece&seconds=0.05&count=100000");
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    auto tNextLogout = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < tEnd) {
        const std::string& strPath = files[rng() % files.size()];
        const unsigned nAction = rng() % 6;
        if (nAction < 3)
            StartFile(strPath);
        else if (nAction == 3)
            UploadManager::StopTask(strPath, true, TaskStatusStop);
        else if (nAction == 4)
            UploadManager::CancelTask(strPath);
        else
            UploadManager::StopAllTask(true);
        if (std::chrono::steady_clock::now() >= tNextLogout) {
            Logout();
            ASSERT_TRUE(Login());
            UploadManager::SetMaxUploadCount(8);
            tNextLogout = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 40));
    }

    // the churn ends; everything still wanted runs to its end
    ClearFaults();
    for (const std::string& strPath : files)
        StartFile(strPath);
    ASSERT_TRUE(WaitForIdle(std::chrono::seconds(120)))
        << UploadManager::GetTaskCount() << " tasks, " << UploadManager::GetRunningCount()
        << " running";
    // the registry's totals came back to nothing: a lone upload's running report counts it
    // alone ("1,<its size>,...")
    const std::string strLast = MakeFile("churn/last", 3 * kMiB, 999);
    Fault("action=stall&on=piece&seconds=1&count=3");
    ASSERT_TRUE(StartFile(strLast));
    ASSERT_TRUE(velmotest::waitFor([&] { return !m_reports.Running(strLast).empty(); },
                                   std::chrono::seconds(30)));
    EXPECT_EQ(0u, m_reports.Running(strLast).back().strTaskInfo.find(
                      "1," + std::to_string(3 * kMiB) + ","))
        << m_reports.Running(strLast).back().strTaskInfo;
    ASSERT_TRUE(WaitForStatus(strLast, TaskStatusSucceed));
    // however often the user came and went, one dispatch thread is left
    EXPECT_TRUE(velmotest::waitFor([] { return velmotest::ThreadsNamed("velmo-dispatch") == 1; },
                                   std::chrono::seconds(5)))
        << velmotest::ThreadsNamed("velmo-dispatch") << " dispatch threads";
    // started again at the end, every file ends stored
    for (const std::string& strPath : files) {
        EXPECT_LT(0, m_reports.Count(strPath, TaskStatusSucceed)) << strPath;
        ExpectStored(strPath);
    }
}
}  // namespace
