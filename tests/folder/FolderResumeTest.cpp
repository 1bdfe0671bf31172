// Folders across stops, cancels, logouts and accounts: what the resume file holds, what a login
// shows, and that starting again finishes the tree without sending a file twice. Stop, cancel
// and logout come while uploads run, so the sanitizer builds see records freed under threads.
// Resume files as a crash, a full disk or an editor may leave them: whatever the file says, every
// resumed upload ends (succeeded or failed), sound records are kept and the rest are named.
#include <algorithm>
#include <functional>
#include <random>
#include <regex>

#include "FolderFixture.h"
#include "core/FolderManager.h"
#include "ini/QvIniFile.h"
#include "upload/EngineQueries.h"

using namespace foldertest;
using namespace _VelmoUpload;

namespace {

class FolderResumeTest : public FolderTest {
protected:
    // A folder of two small files at two levels and two larger ones that take a few pieces.
    std::vector<std::string> MakePics(const std::string& strName) {
        return {MakeFile(strName + "/a.jpg", 3000, 1), MakeFile(strName + "/2012/x.jpg", 4000, 2),
                MakeFile(strName + "/2012/big.bin", 3 * kMiB + 10, 3),
                MakeFile(strName + "/2013/big2.bin", 2 * kMiB + 20, 4)};
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
    ASSERT_EQ(1, std::count(left.begin(), left.end(), strSingle));
    ASSERT_EQ(1, std::count(left.begin(), left.end(), strBig));

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
    const std::vector<enginetest::Report> folder = m_reports.For(strPics, nBefore);
    const std::vector<enginetest::Report> single = m_reports.For(strSingle, nBefore);
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
    RemoteTree remote = Remote();
    std::map<std::string, std::string> expected = LocalTree(strPics);
    expected["single.bin"] = enginetest::FileSha1(strSingle);
    EXPECT_EQ(expected, remote.files);
    for (const auto& record : remote.fileRecords)
        EXPECT_EQ(1, record.second) << record.first << " stored more than once";
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
    ASSERT_TRUE(velmotest::waitFor([] { return UploadManager::GetRunningCount() >= 2; },
                                   std::chrono::seconds(20)));
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

class DamagedRecordsTest : public FolderTest {
protected:
    // A stopped folder of three files at two levels and a stopped single file, as a logout in
    // the middle of a backup leaves them; the resume file's text.
    std::string StoreStoppedUploads() {
        m_strPics = FolderPath("pics");
        m_files = {MakeFile("pics/a.jpg", 3000, 1), MakeFile("pics/2012/x.jpg", 4000, 2),
                   MakeFile("pics/2012/y.jpg", 5000, 3)};
        m_strSingle = MakeFile("single.bin", 6000, 4);
        EXPECT_TRUE(Login());
        const std::string strT = LoginManager::GetTarget();
        EXPECT_TRUE(UploadManager::UploadFolder(m_strPics, strT, ISPTypeAuto, false));
        EXPECT_FALSE(UploadManager::StartTask(m_strSingle, strT, ISPTypeAuto, "", "", false));
        EXPECT_TRUE(WaitForCount(m_strPics, TaskStatusStop, 2));
        EXPECT_TRUE(Dispatches().empty()) << "a folder added stopped sent a file";
        m_strResume = ResumeFile();
        Logout();
        return velmotest::ReadFile(m_strResume);
    }

    // Logs in with this resume file, resumes everything as velmoupload-cli --resume does, and
    // waits until each resumed upload has ended; false (with what is pending) when one has
    // not after the deadline.
    bool ResumeAllEnds(const std::string& strFile, std::string& strPending) {
        velmotest::WriteFile(m_strResume, strFile);
        m_reports.Clear();
        if (!Login()) {
            strPending = "login";
            return false;
        }
        const std::vector<std::string> uploads = velmocli::UnfinishedUploads();
        const std::string strT = LoginManager::GetTarget();
        for (const std::string& strPath : uploads) {
            if (Utils::IsDir(strPath))
                UploadManager::UploadFolder(strPath, strT, ISPTypeAuto, true);
            else
                UploadManager::StartTask(strPath, strT, ISPTypeAuto, "", "", true);
        }
        auto ended = [&](const std::string& strPath) {
            int status = m_reports.Last(strPath).status;
            return status == TaskStatusSucceed || status == TaskStatusError;
        };
        bool bEnded = velmotest::waitFor(
            [&] {
                for (const std::string& strPath : uploads)
                    if (!ended(strPath))
                        return false;
                return UploadManager::GetRunningCount() <= 0;
            },
            std::chrono::seconds(20));
        for (const std::string& strPath : uploads)
            if (!ended(strPath))
                strPending += strPath + " ";
        Logout();
        velmotest::waitFor([] { return UploadManager::GetRunningCount() <= 0; },
                           std::chrono::seconds(10));
        return bEnded;
    }

    std::string m_strPics, m_strSingle, m_strResume;
    std::vector<std::string> m_files;
};

// The text with the first match of a pattern replaced.
std::string Replace(const std::string& strText, const std::string& strPattern,
                    const std::string& strWith) {
    return std::regex_replace(strText, std::regex(strPattern), strWith,
                              std::regex_constants::format_first_only);
}

// The text with the first match of a pattern replaced inside one record only.
std::string ReplaceIn(const std::string& strText, const std::string& strSection,
                      const std::string& strPattern, const std::string& strWith) {
    size_t nBegin = strText.find("[" + strSection + "]\n");
    if (nBegin == std::string::npos)
        return strText;
    size_t nEnd = strText.find("\n[", nBegin);
    nEnd = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    return strText.substr(0, nBegin) +
           Replace(strText.substr(nBegin, nEnd - nBegin), strPattern, strWith) +
           strText.substr(nEnd);
}

TEST_F(DamagedRecordsTest, DamagedRecordsAreDroppedAndEveryResumedUploadEnds) {
    const std::string strSound = StoreStoppedUploads();
    ASSERT_NE(std::string::npos, strSound.find("[" + m_strSingle + "]")) << strSound;
    const std::string strA = m_files[0];
    // damage to the folder's first file
    auto inA = [&](const std::string& strPattern, const std::string& strWith) {
        return [=](const std::string& s) { return ReplaceIn(s, strA, strPattern, strWith); };
    };
    struct Case {
        const char* pszWhat;
        std::function<std::string(const std::string&)> damage;
        bool bSingleKept;  // the single file's record survives and uploads
    };
    const Case cases[] = {
        {"sound", [](const std::string& s) { return s; }, true},
        {"a member outside its folder", inA("\\[.*\\]", "[/elsewhere/a.jpg]"), true},
        {"a negative size", inA("filesize=\\d+", "filesize=-3000"), true},
        {"a huge size", inA("filesize=\\d+", "filesize=99999999999999999999"), true},
        {"more uploaded than the file holds", inA("uploadsize=0", "uploadsize=999999"), true},
        {"a number with letters", inA("isp=0", "isp=0x"), true},
        {"a field missing", inA("pickcode=[^\n]*\n", ""), true},
        {"no remote folder for a folder's file", inA("foldertarget=U_[^\n]*", "foldertarget="),
         true},
        {"a path with a NUL byte", inA("a\\.jpg\\]", std::string("a\0.jpg]", 7)), true},
        {"a record repeated", [&](const std::string& s) { return s + s; }, true},
        {"CR LF line ends",
         [](const std::string& s) { return std::regex_replace(s, std::regex("\n"), "\r\n"); },
         true},
        {"a megabyte-long line",
         [](const std::string& s) { return std::string(1 << 20, 'z') + "\n" + s; }, true},
        // cut inside the single file's record: it is gone, the folder's files are kept
        {"cut short",
         [&](const std::string& s) { return s.substr(0, s.find("[" + m_strSingle) + 9); }, false},
    };
    for (const Case& c : cases) {
        std::string strPending;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(ResumeAllEnds(c.damage(strSound), strPending))
            << c.pszWhat << ": " << strPending;
        std::string strErr = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.bSingleKept, m_reports.Last(m_strSingle).status == TaskStatusSucceed)
            << c.pszWhat << "\n"
            << strErr;
        // what was dropped is named
        if (std::string(c.pszWhat) == "a member outside its folder") {
            EXPECT_NE(std::string::npos,
                      strErr.find("/elsewhere/a.jpg: the file is not below its folder"))
                << strErr;
        }
    }
}

TEST_F(DamagedRecordsTest, RandomlyCorruptedFilesNeverLeaveAnUploadWaiting) {
    const std::string strSound = StoreStoppedUploads();
    std::mt19937 rng(20261206);
    for (int nVariant = 0; nVariant < 60; ++nVariant) {
        std::string strFile = strSound;
        int nDamages = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < nDamages && !strFile.empty(); ++i) {
            size_t nAt = rng() % strFile.size();
            switch (rng() % 5) {
                case 0:  // a flipped bit
                    strFile[nAt] = static_cast<char>(strFile[nAt] ^ (1 << (rng() % 8)));
                    break;
                case 1:  // cut short
                    strFile.resize(nAt);
                    break;
                case 2:  // a NUL
                    strFile.insert(nAt, 1, '\0');
                    break;
                case 3:  // a different number
                    strFile =
                        Replace(strFile, "=\\d+",
                                "=" + std::to_string(static_cast<long long>(rng()) - 2000000000LL));
                    break;
                default:  // a line lost
                    strFile.erase(nAt, strFile.find('\n', nAt) - nAt);
                    break;
            }
        }
        std::string strPending;
        testing::internal::CaptureStderr();
        bool bEnded = ResumeAllEnds(strFile, strPending);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(bEnded) << "variant " << nVariant << " left " << strPending;
        if (HasFailure())
            break;
    }
}
}  // namespace
