// Folders across stops, cancels, logouts and accounts: what the resume file holds, what a login
// shows, and that starting again finishes the tree without sending a file twice. Stop, cancel
// and logout come while uploads run, so the sanitizer builds see records freed under threads.
#include <gtest/gtest.h>

#include "FolderFixture.h"
#include "WaitFor.h"
#include "core/FolderManager.h"
#include "core/ResumeManager.h"
#include "ini/QvIniFile.h"
#include "utils/Utils.h"

using namespace foldertest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;

class FolderResumeTest : public FolderTest {
protected:
    // A folder of two small files at two levels and two larger ones that take a few pieces.
    std::vector<std::string> MakePics(const std::string& strName) {
        return {MakeFile(strName + "/a.jpg", 3000, 1), MakeFile(strName + "/2012/x.jpg", 4000, 2),
                MakeFile(strName + "/2012/big.bin", 3 * kMiB + 10, 3),
                MakeFile(strName + "/2013/big2.bin", 2 * kMiB + 20, 4)};
    }
    // Reports made since report number nFrom.
    std::vector<enginetest::Report> ReportsSince(size_t nFrom) const {
        std::vector<enginetest::Report> all = m_reports.All();
        return std::vector<enginetest::Report>(all.begin() + static_cast<long>(nFrom), all.end());
    }
    bool WaitForUploads(int nRunning) {
        return velmotest::waitFor([&] { return UploadManager::GetRunningCount() >= nRunning; },
                                  std::chrono::seconds(20));
    }
    void ExpectUploadedOnce(const std::string& strFolder, const std::string& strAccount = "alice") {
        RemoteTree remote = Remote(strAccount);
        for (const auto& file : LocalTree(strFolder)) {
            EXPECT_EQ(file.second, remote.files[file.first]) << file.first;
            EXPECT_EQ(1, remote.fileRecords[file.first]) << file.first;
        }
    }
    static std::set<std::string> Set(const std::vector<std::string>& paths) {
        return std::set<std::string>(paths.begin(), paths.end());
    }
};

TEST_F(FolderResumeTest, AfterALogoutTheNextLoginShowsWhatWasLeftAndStartingFinishesIt) {
    ASSERT_TRUE(Login());
    const std::string strT = LoginManager::GetTarget();
    const std::string strSingle = MakeFile("single.bin", 5000, 9);
    ASSERT_FALSE(UploadManager::StartTask(strSingle, strT, ISPTypeAuto, "", "", false));
    const std::string strPics = FolderPath("pics");
    std::vector<std::string> files = MakePics("pics");
    const std::string strBig = files[2];

    // log out while the big file is part way through, several uploads running
    UploadManager::SetMaxUploadCount(3);
    Fault("action=stall&on=piece&seconds=0.2&count=1000");
    ASSERT_TRUE(UploadManager::UploadFolder(strPics, strT, ISPTypeAuto, true));
    ASSERT_TRUE(velmotest::waitFor(
        [&] {
            ResumeInfo record;
            return ResumeManager::GetResumeInfo(strBig, record) && record.nUploadSize > 0;
        },
        std::chrono::seconds(30)));
    const std::string strResume = ResumeFile();
    Logout();
    ClearFaults();
    // a piece already sent lands at the service after the stop; the next run starts after it
    ASSERT_TRUE(velmotest::waitFor([] { return UploadManager::GetRunningCount() <= 0; },
                                   std::chrono::seconds(20)));
    std::vector<std::string> left = ResumeSections(strResume);
    ASSERT_TRUE(Set(left).count(strSingle));
    ASSERT_TRUE(Set(left).count(strBig));

    // what the file holds is what the login shows
    long long nLeftTotal = 0, nLeftUploaded = 0;
    {
        QvIniFile ini(strResume);
        ASSERT_TRUE(ini.Load());
        for (const std::string& strPath : left) {
            if (strPath == strSingle)
                continue;
            std::string strValue;
            ini.GetValue(strPath, "filesize", strValue);
            nLeftTotal += Utils::StringS2I(strValue);
            ini.GetValue(strPath, "uploadsize", strValue);
            nLeftUploaded += Utils::StringS2I(strValue);
        }
    }
    const size_t nBefore = m_reports.Size();
    ASSERT_TRUE(Login());
    std::vector<enginetest::Report> folder, single;
    for (const enginetest::Report& report : ReportsSince(nBefore)) {
        if (report.strFilePath == strPics)
            folder.push_back(report);
        if (report.strFilePath == strSingle)
            single.push_back(report);
    }
    ASSERT_EQ(2u, folder.size());
    EXPECT_TRUE(folder[0].isFolder);
    EXPECT_EQ(TaskStatusStop, folder[0].status);
    EXPECT_EQ(0, folder[0].nFileSize);
    EXPECT_EQ(TaskStatusStop, folder[1].status);
    EXPECT_EQ(nLeftTotal, folder[1].nFileSize);
    EXPECT_EQ(nLeftUploaded, folder[1].nUploadSize);
    EXPECT_GT(nLeftUploaded, 0);
    ASSERT_EQ(1u, single.size());
    EXPECT_FALSE(single[0].isFolder);
    EXPECT_EQ(TaskStatusStop, single[0].status);
    EXPECT_EQ(0, UploadManager::GetTaskCount());

    ASSERT_TRUE(UploadManager::StartTask(strSingle, "", ISPTypeAuto, "", "", true));
    ASSERT_TRUE(UploadManager::UploadFolder(strPics, strT, ISPTypeAuto, true));
    ASSERT_TRUE(WaitForStatus(strSingle, TaskStatusSucceed));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusSucceed));
    ExpectUploadedOnce(strPics);
    EXPECT_EQ(enginetest::FileSha1(strSingle), Remote().files["single.bin"]);
    // the big file went on under the upload the service already had
    std::vector<Dispatch> big = DispatchesOf("big.bin");
    ASSERT_EQ(2u, big.size());
    EXPECT_EQ("resume", big[1].strKind);
    EXPECT_FALSE(big[1].strPickCode.empty());
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {}));
}

TEST_F(FolderResumeTest, AFolderCancelledWhileUploadingLeavesNoRecords) {
    ASSERT_TRUE(Login());
    const std::string strSingle = MakeFile("single.bin", 5000, 9);
    ASSERT_FALSE(
        UploadManager::StartTask(strSingle, LoginManager::GetTarget(), ISPTypeAuto, "", "", false));
    const std::string strPics = FolderPath("pics");
    MakePics("pics");
    UploadManager::SetMaxUploadCount(3);
    Fault("action=stall&on=piece&seconds=0.2&count=1000");
    ASSERT_TRUE(UploadManager::UploadFolder(strPics, LoginManager::GetTarget(), ISPTypeAuto, true));
    ASSERT_TRUE(WaitForUploads(2));
    ASSERT_TRUE(UploadManager::CancelTask(strPics));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusCancel));
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(nullptr, FolderManager::GetTask(strPics));
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {strSingle}));
}

TEST_F(FolderResumeTest, CancellingAFolderKnownOnlyFromTheResumeFileRemovesAllItsRecords) {
    ASSERT_TRUE(Login());
    const std::string strT = LoginManager::GetTarget();
    const std::string strSingle = MakeFile("single.bin", 5000, 9);
    ASSERT_FALSE(UploadManager::StartTask(strSingle, strT, ISPTypeAuto, "", "", false));
    const std::string strOld = FolderPath("old");
    std::vector<std::string> oldFiles = {MakeFile("old/a.jpg", 3000, 1),
                                         MakeFile("old/sub/b.jpg", 3000, 2)};
    ASSERT_TRUE(UploadManager::UploadFolder(strOld, strT, ISPTypeAuto, false));
    ASSERT_TRUE(WaitForResumeFile(ResumeFile(), {strSingle, oldFiles[0], oldFiles[1]}));
    Logout();

    // shown after the login from its records only; gone from the disk meanwhile
    ASSERT_TRUE(Login());
    ASSERT_EQ(TaskStatusStop, m_reports.Last(strOld).status);
    velmotest::RemoveTree(strOld);
    ASSERT_TRUE(UploadManager::CancelTask(strOld));
    ASSERT_TRUE(WaitForStatus(strOld, TaskStatusCancel));
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {strSingle}));
    EXPECT_EQ(nullptr, FolderManager::GetTask(strOld));

    // records of a folder no folder record stands for
    const std::string strStray = FolderPath("stray");
    std::vector<std::string> strayFiles = {MakeFile("stray/c.jpg", 3000, 3),
                                           MakeFile("stray/d/e.jpg", 3000, 4)};
    for (const std::string& strPath : strayFiles) {
        TaskInfo task;
        task.strFolderPath = strStray;
        task.strFolderTarget = strT;
        task.strFilePath = strPath;
        task.nFileSize = 3000;
        ASSERT_TRUE(ResumeManager::Update(&task, true));
    }
    ASSERT_TRUE(WaitForResumeFile(ResumeFile(), {strSingle, strayFiles[0], strayFiles[1]}));
    ASSERT_TRUE(UploadManager::CancelTask(strStray));
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {strSingle}));
    EXPECT_TRUE(Dispatches().empty());
}

}  // namespace
