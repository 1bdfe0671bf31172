// The dispatch thread: how many files upload at once, how soon a queued file starts, the
// summary once tasks end, and that a quick logout and login leaves one of it.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineFixture.h"
#include "TestHome.h"
#include "ThreadNames.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;
const char kIdle[] = "0,0,0,00:00:00";

class SchedulingTest : public EngineTest {};

TEST_F(SchedulingTest, ThreeFilesUploadAtOnceAndTheFourthWaitsForASlot) {
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

TEST_F(SchedulingTest, ALogoutAndLoginWithinASecondLeaveOneDispatchThread) {
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

}  // namespace
