// The dispatch thread and the tasks' lives: how many files upload at once, how soon a queued
// file starts, the summary once tasks end, a quick logout and login leaving one dispatch
// thread; tasks stopped, cancelled and logged out while their threads run (run under ASan and
// TSan too: where a record could be freed under a thread); and eight uploads churned for
// VELMO_CHURN_SECONDS (short here; scripts/churn.sh runs it long).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "EngineFixture.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

TEST_F(EngineTest, ThreeFilesUploadAtOnceAndTheFourthWaitsForASlot) {
    ASSERT_TRUE(Login());
    UploadManager::SetMaxUploadCount(3);
    // every piece waits at the service, so uploads overlap for a while
    Fault("action=stall&on=piece&count=1000&seconds=0.3");
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        paths.push_back(MakeFile("file" + std::to_string(i) + ".bin", 2 * kMiB + 1, 90 + i));
        ASSERT_TRUE(StartFile(paths.back()));
    }
    int nMost = 0;
    bool bAllDone = velmotest::waitFor(
        [&] {
            nMost = std::max(nMost, UploadManager::GetRunningCount());
            for (const std::string& strPath : paths)
                if (m_reports.Last(strPath).status != TaskStatusSucceed)
                    return false;
            return true;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(bAllDone);
    EXPECT_EQ(3, nMost);

    // the fourth file shows up running only once one of the first three has finished
    std::vector<Report> all = m_reports.All();
    size_t nFirstDone = all.size(), nFourthRuns = all.size();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].status == TaskStatusSucceed && all[i].strFilePath != paths[3])
            nFirstDone = std::min(nFirstDone, i);
        if ((all[i].status == TaskStatusHash || all[i].status == TaskStatusUpload) &&
            all[i].strFilePath == paths[3])
            nFourthRuns = std::min(nFourthRuns, i);
    }
    EXPECT_LT(nFirstDone, nFourthRuns);
    for (const std::string& strPath : paths)
        ExpectStored(strPath);
}

TEST_F(EngineTest, AQueuedFileStartsAsSoonAsTheSlotFreesAndTheLastToEndLeavesTheIdleSummary) {
    ASSERT_TRUE(Login());
    // small files one at a time: when each start waited for the once-a-second pass, every
    // file would be started, and so reported running, by a pass of its own
    const int nFiles = 8;
    std::vector<std::string> paths;
    for (int i = 0; i < nFiles; ++i)
        paths.push_back(MakeFile("small" + std::to_string(i) + ".bin", 100, 100 + i));
    for (const std::string& strPath : paths)
        ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForStatus(paths.back(), TaskStatusSucceed));
    ASSERT_TRUE(WaitForIdle());
    size_t nRunningReports = 0;
    for (const std::string& strPath : paths) {
        EXPECT_EQ(TaskStatusSucceed, m_reports.Last(strPath).status) << strPath;
        nRunningReports += m_reports.Running(strPath).size();
    }
    EXPECT_LT(nRunningReports, static_cast<size_t>(nFiles / 2));
    // the last task to end leaves the idle summary, however it ends
    EXPECT_EQ(kIdle, m_reports.All().back().strTaskInfo);

    UploadManager::SetMaxUploadCount(0);
    for (TaskStatus status : {TaskStatusStop, TaskStatusCancel}) {
        std::string strQueued = MakeFile("queued" + std::to_string(status) + ".bin", 5000, 112);
        ASSERT_TRUE(StartFile(strQueued));
        ASSERT_TRUE(UploadManager::StopTask(strQueued, true, status));
        Report last = m_reports.Last(strQueued);
        EXPECT_EQ(status, last.status);
        EXPECT_EQ(kIdle, last.strTaskInfo);
        EXPECT_EQ(0, UploadManager::GetTaskCount());
    }
}

TEST_F(EngineTest, ALogoutAndLoginWithinASecondLeaveOneDispatchThread) {
    const std::string kDispatchThread = "velmo-dispatch";
    ASSERT_TRUE(Login());
    ASSERT_TRUE(velmotest::waitFor([&] { return velmotest::ThreadsNamed(kDispatchThread) == 1; },
                                   std::chrono::seconds(5)));
    for (int nRound = 0; nRound < 3; ++nRound) {
        SCOPED_TRACE(nRound);
        UploadManager::UnInitialize();
        LoginManager::Logout();
        ASSERT_TRUE(Login());
        std::string strPath = MakeFile("round" + std::to_string(nRound) + ".bin", 2 * kMiB, 130);
        ASSERT_TRUE(StartFile(strPath));
        ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed));
        EXPECT_EQ(1, m_reports.Count(strPath, TaskStatusSucceed));
        EXPECT_TRUE(velmotest::waitFor(
            [&] { return velmotest::ThreadsNamed(kDispatchThread) == 1; }, std::chrono::seconds(5)))
            << velmotest::ThreadsNamed(kDispatchThread) << " dispatch threads";
    }
}

class LifecycleTest : public EngineTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user",      "alice:wonderland", "--user",
                "bob:builder", "--size-limit",     std::to_string(8192 * kMiB)};
    }
};

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
    UploadManager::UnInitialize();
    LoginManager::Logout();

    // another account while alice's stopped uploads are still ending
    ASSERT_TRUE(Login("bob", "builder"));
    std::vector<std::string> bob;
    for (int i = 0; i < 2; ++i) {
        bob.push_back(MakeFile("bob" + std::to_string(i) + ".bin", kMiB + i, 150 + i));
        ASSERT_TRUE(StartFile(bob.back()));
    }
    for (const std::string& strPath : bob)
        ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed));
    ASSERT_TRUE(WaitForIdle());
    ASSERT_TRUE(velmotest::waitFor([] { return UploadManager::GetRunningCount() == 0; },
                                   std::chrono::seconds(10)));
    ResumeInfo record;
    for (const std::string& strPath : alice)
        EXPECT_FALSE(ResumeManager::GetResumeInfo(strPath, record))
            << "in bob's store: " << strPath;

    // alice again: everything but the cancelled file is waiting for her, and goes on
    UploadManager::UnInitialize();
    LoginManager::Logout();
    ClearFaults();
    m_reports.Clear();
    ASSERT_TRUE(Login("alice", "wonderland"));
    for (size_t i = 0; i < alice.size(); ++i) {
        EXPECT_EQ(i != 1, ResumeManager::GetResumeInfo(alice[i], record)) << alice[i];
        EXPECT_EQ(i != 1 ? TaskStatusStop : -1, m_reports.Last(alice[i]).status) << alice[i];
    }
    for (size_t i = 0; i < alice.size(); ++i) {
        if (i == 1)
            continue;
        ASSERT_TRUE(UploadManager::StartTask(alice[i], "", ISPTypeAuto, "", "", true));
        ASSERT_TRUE(WaitForStatus(alice[i], TaskStatusSucceed)) << alice[i];
        ExpectStored(alice[i]);
    }
    // a cancel whose thread ended after the logout is not sent in another account's name
    EXPECT_TRUE(LogLines("POST /files/cancel bob").empty());
}

TEST_F(LifecycleTest, AStopWhileHashingEndsAtTheNextBlock) {
    ASSERT_TRUE(Login());
    // a large sparse file, so that the SHA-1 takes seconds
    const std::string strPath = m_strWork + "/hashing.bin";
    int fd = open(strPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, 3LL * 1024 * kMiB));
    close(fd);

    for (int nRound = 0; nRound < 2; ++nRound) {
        SCOPED_TRACE(nRound);
        size_t nMark = m_reports.Size();
        ASSERT_TRUE(UploadManager::StartTask(strPath, LoginManager::GetTarget(), ISPTypeAuto, "",
                                             "", true));
        ASSERT_TRUE(velmotest::waitFor(
            [&] {
                std::vector<Report> running = m_reports.Running(strPath, nMark);
                return !running.empty() && running.back().status == TaskStatusHash &&
                       running.back().fHashPercent > 0;
            },
            std::chrono::seconds(30)));
        ASSERT_TRUE(UploadManager::StopTask(strPath, true, TaskStatusStop));
        EXPECT_EQ(TaskStatusStop, m_reports.Last(strPath).status);
        // the first round's thread may still be between two blocks while the second starts
    }
    ASSERT_TRUE(WaitForIdle());
    ASSERT_TRUE(velmotest::waitFor([] { return UploadManager::GetRunningCount() == 0; },
                                   std::chrono::seconds(30)));
    ResumeInfo record;
    ASSERT_TRUE(ResumeManager::GetResumeInfo(strPath, record));
    EXPECT_TRUE(record.strFileHash.empty()) << "hashing ran to the end";
    EXPECT_TRUE(record.strPickCode.empty());
    EXPECT_TRUE(LogLines("POST /files/").empty());
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
    int nLogouts = 0, nActions = 0;
    while (std::chrono::steady_clock::now() < tEnd) {
        const std::string& strPath = files[rng() % files.size()];
        switch (rng() % 6) {
            case 0:
            case 1:
            case 2:
                StartFile(strPath);
                break;
            case 3:
                UploadManager::StopTask(strPath, true, TaskStatusStop);
                break;
            case 4:
                UploadManager::CancelTask(strPath);
                break;
            default:
                UploadManager::StopAllTask(true);
                break;
        }
        ++nActions;
        if (std::chrono::steady_clock::now() >= tNextLogout) {
            UploadManager::UnInitialize();
            LoginManager::Logout();
            ASSERT_TRUE(Login());
            UploadManager::SetMaxUploadCount(8);
            ++nLogouts;
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
    EXPECT_EQ(0, UploadManager::GetRunningCount());
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

    int nSucceeded = 0;
    for (const std::string& strPath : files) {
        if (m_reports.Count(strPath, TaskStatusSucceed) == 0)
            continue;
        ++nSucceeded;
        ExpectStored(strPath);
    }
    EXPECT_EQ(static_cast<int>(files.size()), nSucceeded) << "started again at the end, all end";
    RecordProperty("actions", nActions);
    RecordProperty("logouts", nLogouts);
}
}  // namespace
