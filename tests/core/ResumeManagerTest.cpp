// The resume store: records and their file, what a new login announces, the save thread's
// life, and what a close must not lose.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "EngineSupport.h"
#include "TestHome.h"
#include "TestHttpServer.h"
#include "Velmoupload.h"
#include "WaitFor.h"
#include "core/FolderManager.h"
#include "core/LoginManager.h"
#include "core/ResumeManager.h"
#include "utils/Utils.h"

using namespace _VelmoUpload;
using velmotest::ReadFile;
using velmotest::TestHttpServer;
using velmotest::ThreadsNamed;
using velmotest::waitFor;
using velmotest::WriteFile;

namespace {

// The save thread names itself, so the process's thread list tells how many are alive.
const char kSaveThread[] = "velmo-resume";

void FillTask(TaskInfo& task, const std::string& strPath, const std::string& strFolder = "") {
    task.strFilePath = strPath;
    task.strFolderPath = strFolder;
    task.strFolderTarget = strFolder.empty() ? "" : "FT";
    task.strFileHash = "HASH-" + strPath;
    task.strFileMDVelmo = "QUICK";
    task.strPickCode = "pc1";
    task.strTarget = "U_1_0";
    task.nFileSize = 1000;
    task.nUploadSize = 250;
    task.ispType = ISPTypeCnc;
}

std::string Record(const std::string& strPath, const std::string& strFolder,
                   const std::string& strFolderTarget, long long nSize, long long nUpload) {
    return "[" + strPath + "]\nfileid=H\nfilesize=" + std::to_string(nSize) +
           "\nfolderpath=" + strFolder + "\nfoldertarget=" + strFolderTarget +
           "\nisp=0\npickcode=\nquickid=Q\ntarget=" + (strFolder.empty() ? "U_1_0" : "") +
           "\nuploadsize=" + std::to_string(nUpload) + "\n";
}

class ResumeManagerTest : public velmotest::TempHomeTest {
protected:
    void TearDown() override {
        UploadManager::UnInitialize();
        ResumeManager::UnInitialize();
        // folders announced by a Load without the upload manager
        FolderManager::DelAllTask();
        LoginManager::Logout();
        EXPECT_TRUE(waitFor([] { return ThreadsNamed(kSaveThread) == 0; }, std::chrono::seconds(3)))
            << "a save thread outlived its store";
        // The engine's other threads end within a second of the logout; letting them finish
        // keeps them from running into the process's static destructors.
        waitFor([] { return velmotest::ThreadCount() == 1; }, std::chrono::seconds(3));
        LoginManager::SetApiHost(std::string());
        TempHomeTest::TearDown();
    }

    void LoginAs(const std::string& strUserId) {
        LoginManager::Logout();
        TestHttpServer server(TestHttpServer::Behaviour::Reply(
            velmotest::HttpOk(velmotest::LoginReplyJson("\"user_id\":\"" + strUserId + "\""))));
        LoginManager::SetApiHost("127.0.0.1:" + std::to_string(server.Port()));
        ASSERT_TRUE(m_counter.LoginAndWait("u", "pw"));
        ASSERT_EQ(strUserId, LoginManager::GetUserId());
    }

    std::string ConfigFolder() const { return m_strHome + "/.Vurozudeduz/upload/"; }
    std::string ResumeFile(const std::string& strUserId) const {
        return ConfigFolder() + strUserId + "_upload.ini";
    }
    void WriteResumeFile(const std::string& strUserId, const std::string& strText) {
        ASSERT_TRUE(Utils::CreateDir(ConfigFolder()));
        WriteFile(ResumeFile(strUserId), strText);
    }
    // Waits until the save thread has written strNeedle into the file.
    bool WaitForFileContaining(const std::string& strPath, const std::string& strNeedle) {
        return waitFor([&] { return ReadFile(strPath).find(strNeedle) != std::string::npos; },
                       std::chrono::seconds(4));
    }

    velmotest::LoginCounter m_counter;
};

TEST_F(ResumeManagerTest, UpdateWritesNineKeysOfSingleFilesAndFolderMembers) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    EXPECT_FALSE(ResumeManager::Initialize()) << "already open";

    TaskInfo single;
    FillTask(single, "/w/single.bin");
    single.ispType = static_cast<ISPType>(-1);  // stored widened without sign
    TaskInfo member;
    FillTask(member, "/w/dir/member.bin", "/w/dir");
    ASSERT_TRUE(ResumeManager::Update(&single, false));
    ASSERT_TRUE(ResumeManager::Update(&member, true));
    ASSERT_TRUE(WaitForFileContaining(ResumeFile("7"), "[/w/dir/member.bin]"));

    std::string strFile = ReadFile(ResumeFile("7"));
    EXPECT_NE(std::string::npos,
              strFile.find("[/w/single.bin]\nfileid=HASH-/w/single.bin\nfilesize=1000\n"
                           "folderpath=\nfoldertarget=\nisp=4294967295\npickcode=pc1\n"
                           "quickid=QUICK\ntarget=U_1_0\nuploadsize=250\n"))
        << strFile;
    // a folder's file never keeps the target it had: the folder logic gives it on every run
    EXPECT_NE(std::string::npos,
              strFile.find("[/w/dir/member.bin]\nfileid=HASH-/w/dir/member.bin\nfilesize=1000\n"
                           "folderpath=/w/dir\nfoldertarget=FT\nisp=2\npickcode=pc1\n"
                           "quickid=QUICK\ntarget=\nuploadsize=250\n"))
        << strFile;

    TaskInfo noPath;
    EXPECT_FALSE(ResumeManager::Update(&noPath, true));
    EXPECT_FALSE(ResumeManager::Update(nullptr, true));
}

TEST_F(ResumeManagerTest, GetFolderResumeInfoCollectsOneFoldersRecords) {
    LoginAs("7");
    WriteResumeFile("7", Record("/w/d/a", "/w/d", "", 10, 1) +
                             Record("/w/dx/b", "/w/dx", "X", 1, 1) +
                             Record("/w/d/s/b", "/w/d", "T1", 20, 2) +
                             Record("/w/d/c", "/w/d", "T2", 30, 3) + Record("/w/e", "", "", 5, 5));
    ASSERT_TRUE(ResumeManager::Initialize());
    ASSERT_TRUE(ResumeManager::Load());

    // exact folder match only; sums add to what is passed in; the first target wins
    long long nTotal = 1000, nUpload = 0;
    std::string strTarget;
    FileList files{"/kept"};
    EXPECT_TRUE(ResumeManager::GetFolderResumeInfo("/w/d", nTotal, nUpload, strTarget, files));
    EXPECT_EQ(1060, nTotal);
    EXPECT_EQ(6, nUpload);
    EXPECT_EQ("T1", strTarget);
    EXPECT_EQ((FileList{"/kept", "/w/d/a", "/w/d/s/b", "/w/d/c"}), files);

    strTarget = "mine";
    EXPECT_TRUE(ResumeManager::GetFolderResumeInfo("/w/dx", nTotal, nUpload, strTarget, files));
    EXPECT_EQ("mine", strTarget) << "a target passed in is kept";
}

TEST_F(ResumeManagerTest, ClosedStoreRefusesEverything) {
    TaskInfo task;
    FillTask(task, "/w/a");
    ResumeInfo info;
    long long nTotal = 0, nUpload = 0;
    std::string strTarget;
    FileList files;
    std::vector<std::string> paths;
    auto expectAllRefused = [&](const char* pWhen) {
        EXPECT_FALSE(ResumeManager::Update(&task, true)) << pWhen;
        EXPECT_FALSE(ResumeManager::Remove("/w/a", true)) << pWhen;
        EXPECT_FALSE(ResumeManager::GetResumeInfo("/w/a", info)) << pWhen;
        EXPECT_FALSE(ResumeManager::GetFolderResumeInfo("/w", nTotal, nUpload, strTarget, files))
            << pWhen;
        EXPECT_FALSE(ResumeManager::GetResumePaths(paths)) << pWhen;
        EXPECT_FALSE(ResumeManager::Save()) << pWhen;
        EXPECT_FALSE(ResumeManager::Load()) << pWhen;
    };
    expectAllRefused("never opened");
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    ASSERT_TRUE(ResumeManager::Update(&task, false));
    ResumeManager::UnInitialize();
    expectAllRefused("after close");
    ResumeManager::UnInitialize();  // a second close is harmless
}

TEST_F(ResumeManagerTest, CloseWritesChangesOfTheLastSecond) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    TaskInfo a, b, c;
    FillTask(a, "/w/a");
    FillTask(b, "/w/b");
    FillTask(c, "/w/c");
    ASSERT_TRUE(ResumeManager::Update(&a, true));
    ASSERT_TRUE(ResumeManager::Update(&b, true));
    ASSERT_TRUE(WaitForFileContaining(ResumeFile("7"), "[/w/b]"));

    // a stop, a progress step and a cancel just before logout
    b.nUploadSize = 777;
    ASSERT_TRUE(ResumeManager::Update(&b, false));
    ASSERT_TRUE(ResumeManager::Remove("/w/a", false));
    ASSERT_TRUE(ResumeManager::Update(&c, false));
    ResumeManager::UnInitialize();

    std::string strText = ReadFile(ResumeFile("7"));
    EXPECT_EQ(std::string::npos, strText.find("[/w/a]"));
    EXPECT_NE(std::string::npos, strText.find("uploadsize=777\n"));
    EXPECT_NE(std::string::npos, strText.find("[/w/c]"));

    // and after a new login the store reads what was written
    ASSERT_TRUE(ResumeManager::Initialize());
    ASSERT_TRUE(ResumeManager::Load());
    std::vector<std::string> paths;
    ASSERT_TRUE(ResumeManager::GetResumePaths(paths));
    EXPECT_EQ((std::vector<std::string>{"/w/b", "/w/c"}), paths);
}

TEST_F(ResumeManagerTest, OneSaveThreadPerOpenStoreAndLogoutEndsIt) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    for (int i = 0; i < 3; ++i) {
        ResumeManager::UnInitialize();
        ASSERT_TRUE(ResumeManager::Initialize());
    }
    EXPECT_TRUE(waitFor([] { return ThreadsNamed(kSaveThread) == 1; }, std::chrono::seconds(3)));
    // past a full pass: the old threads did not merely sleep through the check
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(1, ThreadsNamed(kSaveThread));
    TaskInfo task;
    FillTask(task, "/w/after-reopen");
    ASSERT_TRUE(ResumeManager::Update(&task, false));
    EXPECT_TRUE(WaitForFileContaining(ResumeFile("7"), "[/w/after-reopen]"));

    // a logout ends the thread, and a close still writes what came after
    LoginManager::Logout();
    EXPECT_TRUE(waitFor([] { return ThreadsNamed(kSaveThread) == 0; }, std::chrono::seconds(3)));
    FillTask(task, "/w/after-logout");
    ASSERT_TRUE(ResumeManager::Update(&task, false));
    ResumeManager::UnInitialize();
    EXPECT_NE(std::string::npos, ReadFile(ResumeFile("7")).find("[/w/after-logout]"));
}

// Loading a file and writing it back changes not a byte: records of folders and single
// files, long values, a hundred records, and a record rewritten with its own values.
TEST_F(ResumeManagerTest, LoadedRecordsAreWrittenBackByteForByte) {
    LoginAs("7");
    std::string strText;
    for (int i = 0; i < 100; ++i)
        strText += Record("/home/u/big/d" + std::to_string(i % 7) + "/f" + std::to_string(i),
                          "/home/u/big", i == 0 ? "FT" : "", 1000 + i, i);
    strText += Record("/home/u/" + std::string(300, 'x'), "", "", 5, 0);
    WriteResumeFile("7", strText);
    ASSERT_TRUE(ResumeManager::Initialize());
    ASSERT_TRUE(ResumeManager::Load());

    ResumeInfo resumeInfo;
    ASSERT_TRUE(ResumeManager::GetResumeInfo("/home/u/big/d3/f10", resumeInfo));
    TaskInfo task;
    task.strFilePath = "/home/u/big/d3/f10";
    task.strFolderPath = resumeInfo.strFolderPath;
    task.strFileHash = resumeInfo.strFileHash;
    task.strFileMDVelmo = resumeInfo.strFileMDVelmo;
    task.nFileSize = resumeInfo.nFileSize;
    task.nUploadSize = resumeInfo.nUploadSize;
    // gone from the disk, so what is there at the end was written from the loaded records
    ASSERT_EQ(0, unlink(ResumeFile("7").c_str()));
    ASSERT_TRUE(ResumeManager::Update(&task, true));
    ResumeManager::UnInitialize();
    EXPECT_EQ(strText, ReadFile(ResumeFile("7")));
}

}  // namespace
