// The dispatch thread: how many files upload at once, how soon a queued file starts, which
// tasks it reports and with what summary, and that a quick logout and login leaves one of it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "EngineFixture.h"
#include "TestHome.h"
#include "WaitFor.h"

extern char** environ;

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;
const char kIdle[] = "0,0,0,00:00:00";
// set in the copy of this program that runs one test in a process of its own
const char kFreshProcessEnv[] = "VELMO_ENGINE_FRESH_PROCESS";

// Threads of this process that carry the given name.
int ThreadsNamed(const std::string& strName) {
    int nCount = 0;
    DIR* pDir = opendir("/proc/self/task");
    if (!pDir)
        return -1;
    while (dirent* pEntry = readdir(pDir)) {
        if (pEntry->d_name[0] == '.')
            continue;
        std::ifstream in(std::string("/proc/self/task/") + pEntry->d_name + "/comm");
        std::string strComm;
        std::getline(in, strComm);
        nCount += strComm == strName ? 1 : 0;
    }
    closedir(pDir);
    return nCount;
}

// Runs one test of this program in a new process; its exit status.
int RunTestInFreshProcess(const std::string& strTest) {
    char szSelf[4096];
    ssize_t n = readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
    if (n <= 0)
        return -1;
    szSelf[n] = '\0';
    std::string strFilter = "--gtest_filter=" + strTest;
    char* argv[] = {szSelf, &strFilter[0], nullptr};
    std::vector<std::string> env;
    for (char** p = environ; *p; ++p)
        env.push_back(*p);
    env.push_back(std::string(kFreshProcessEnv) + "=1");
    std::vector<char*> envp;
    for (std::string& s : env)
        envp.push_back(&s[0]);
    envp.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, szSelf, nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

class SchedulingTest : public EngineTest {
protected:
    // Every piece waits this long at the service, so uploads overlap for a while.
    void SlowPieces(double fSeconds) {
        Fault("action=stall&on=piece&count=1000&seconds=" + std::to_string(fSeconds));
    }
};

TEST_F(SchedulingTest, AnUploadCountOfZeroStartsAndReportsNothing) {
    ASSERT_TRUE(Login());
    SlowPieces(0.5);
    std::string strRunning = MakeFile("running.bin", 4 * kMiB + 1, 81);
    std::string strQueued = MakeFile("queued.bin", 1000, 82);
    ASSERT_TRUE(StartFile(strRunning));
    ASSERT_TRUE(velmotest::waitFor([&] { return !m_reports.Running(strRunning).empty(); },
                                   std::chrono::seconds(10)));

    // passes running while the count is set have made their reports before it returns
    UploadManager::SetMaxUploadCount(0);
    const size_t nMark = m_reports.Size();
    ASSERT_TRUE(StartFile(strQueued));
    // the running file goes on by itself for a few more passes
    ASSERT_TRUE(WaitForStatus(strRunning, TaskStatusSucceed));
    EXPECT_TRUE(m_reports.Running(strRunning, nMark).empty());
    EXPECT_TRUE(m_reports.Running(strQueued).empty());
    EXPECT_EQ(1, UploadManager::GetTaskCount());
    EXPECT_EQ(0, UploadManager::GetRunningCount());
    EXPECT_EQ(std::vector<int>{TaskStatusInit}, [&] {
        std::vector<int> statuses;
        for (const Report& report : m_reports.For(strQueued))
            statuses.push_back(report.status);
        return statuses;
    }());

    UploadManager::SetMaxUploadCount(1);
    EXPECT_TRUE(WaitForStatus(strQueued, TaskStatusSucceed));
}

TEST_F(SchedulingTest, ThreeFilesUploadAtOnceAndTheFourthWaitsForASlot) {
    ASSERT_TRUE(Login());
    UploadManager::SetMaxUploadCount(3);
    SlowPieces(0.3);
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
        EXPECT_EQ(velmotest::ReadFile(strPath),
                  velmotest::ReadFile(StoredContent(FileSha1(strPath))));
}

TEST_F(SchedulingTest, AQueuedFileStartsAsSoonAsTheSlotFrees) {
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
}

TEST_F(SchedulingTest, ASingleTaskEndsWithTheIdleSummary) {
    ASSERT_TRUE(Login());
    std::string strDone = MakeFile("done.bin", 5000, 111);
    ASSERT_TRUE(StartFile(strDone));
    ASSERT_TRUE(WaitForStatus(strDone, TaskStatusSucceed));
    EXPECT_EQ(kIdle, m_reports.Last(strDone).strTaskInfo);
    ASSERT_TRUE(WaitForIdle());

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

TEST_F(SchedulingTest, TheFirstSummaryCountsTheRegisteredTasks) {
    // the summary is built once per process, so this runs where nothing was reported yet
    if (!getenv(kFreshProcessEnv)) {
        EXPECT_EQ(0,
                  RunTestInFreshProcess("SchedulingTest.TheFirstSummaryCountsTheRegisteredTasks"));
        return;
    }
    ASSERT_TRUE(Login());
    UploadManager::SetMaxUploadCount(0);
    // two tasks registered the way a folder hands them over, without a report of their own
    long long nTotal = 0;
    for (long long nSize : {3000LL, 4000LL}) {
        PTaskInfo pTask = new TaskInfo;
        pTask->strFilePath = MakeFile("member" + std::to_string(nSize) + ".bin", nSize, 120);
        pTask->strTarget = LoginManager::GetTarget();
        ASSERT_TRUE(UploadManager::AddTask(pTask));
        nTotal += nSize;
    }
    ASSERT_TRUE(m_reports.All().empty());
    std::string strFile = MakeFile("single.bin", 5000, 121);
    ASSERT_TRUE(StartFile(strFile));
    EXPECT_EQ("2," + std::to_string(nTotal) + ",0,00:00:00", m_reports.Last(strFile).strTaskInfo);
}

TEST_F(SchedulingTest, ALogoutAndLoginWithinASecondLeaveOneDispatchThread) {
    const std::string kDispatchThread = "velmo-dispatch";
    ASSERT_TRUE(Login());
    ASSERT_TRUE(velmotest::waitFor([&] { return ThreadsNamed(kDispatchThread) == 1; },
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
        EXPECT_TRUE(velmotest::waitFor([&] { return ThreadsNamed(kDispatchThread) == 1; },
                                       std::chrono::seconds(5)))
            << ThreadsNamed(kDispatchThread) << " dispatch threads";
    }
}

}  // namespace
