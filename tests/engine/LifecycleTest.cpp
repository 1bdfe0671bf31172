// Tasks ended from outside while their threads run: stop, cancel, logout and another login in
// the middle of uploads, and a stop while the file is being hashed. Run under AddressSanitizer
// and ThreadSanitizer as well: these are the paths where a record could be freed under a thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "EngineFixture.h"
#include "TestHome.h"
#include "WaitFor.h"
#include "core/ResumeManager.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;

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

}  // namespace
