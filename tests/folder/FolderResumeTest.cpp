// Folders across stops, cancels, logouts and accounts, and resume files as a crash, a full disk
// or an editor may leave them: every resumed upload ends, sound records are kept.
#include <algorithm>
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
    // A single file added stopped, whose record must outlive whatever happens to the folders, and
    // a folder of two small files and two of a few pieces started, slow pieces keeping it running.
    void StartPics() {
        ASSERT_TRUE(Login());
        m_strSingle = MakeFile("single.bin", 5000, 9);
        EXPECT_FALSE(UploadManager::StartTask(m_strSingle, LoginManager::GetTarget(), ISPTypeAuto,
                                              "", "", false));
        MakeFile("pics/a.jpg", 3000, 1);
        MakeFile("pics/2012/x.jpg", 4000, 2);
        m_strBig = MakeFile("pics/2012/big.bin", 3 * kMiB + 10, 3);
        MakeFile("pics/2013/big2.bin", 2 * kMiB + 20, 4);
        UploadManager::SetMaxUploadCount(3);
        Fault("action=stall&on=piece&seconds=0.2&count=1000");
        m_strPics = FolderPath("pics");
        ASSERT_TRUE(UploadFolder(m_strPics));
    }
    std::string m_strSingle, m_strBig, m_strPics;
};

TEST_F(FolderResumeTest, AfterALogoutTheNextLoginShowsWhatWasLeftAndStartingFinishesIt) {
    // log out while the big file is part way through
    ASSERT_NO_FATAL_FAILURE(StartPics());
    ResumeInfo record;
    ASSERT_TRUE(velmotest::waitFor(
        [&] { return ResumeManager::GetResumeInfo(m_strBig, record) && record.nUploadSize > 0; },
        std::chrono::seconds(30)));
    const std::string strResume = ResumeFile();
    Logout();
    ClearFaults();
    // a piece already sent lands at the service after the stop; the next run starts after it
    ASSERT_TRUE(velmotest::waitFor([] { return UploadManager::GetRunningCount() <= 0; },
                                   std::chrono::seconds(20)));
    std::vector<std::string> left = ResumeSections(strResume);
    ASSERT_EQ(1, std::count(left.begin(), left.end(), m_strSingle));
    ASSERT_EQ(1, std::count(left.begin(), left.end(), m_strBig));

    // what the file holds is what the login shows
    long long nLeftTotal = 0, nLeftUploaded = 0;
    QvIniFile ini(strResume);
    ASSERT_TRUE(ini.Load());
    for (const std::string& strPath : left) {
        std::string strTotal, strUploaded;
        ini.GetValue(strPath, "filesize", strTotal);
        ini.GetValue(strPath, "uploadsize", strUploaded);
        nLeftTotal += strPath == m_strSingle ? 0 : Utils::StringS2I(strTotal);
        nLeftUploaded += strPath == m_strSingle ? 0 : Utils::StringS2I(strUploaded);
    }
    const size_t nBefore = m_reports.Size();
    ASSERT_TRUE(Login());
    const std::vector<enginetest::Report> folder = m_reports.For(m_strPics, nBefore);
    const std::vector<enginetest::Report> single = m_reports.For(m_strSingle, nBefore);
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

    ASSERT_TRUE(UploadManager::StartTask(m_strSingle, "", ISPTypeAuto, "", "", true));
    ASSERT_TRUE(UploadFolder(m_strPics));
    ASSERT_TRUE(WaitForStatus(m_strSingle, TaskStatusSucceed));
    ASSERT_TRUE(WaitForStatus(m_strPics, TaskStatusSucceed));
    std::map<std::string, std::string> expected = LocalTree(m_strPics);
    expected["single.bin"] = enginetest::FileSha1(m_strSingle);
    EXPECT_EQ(expected, Remote().files);
    // the big file went on under the upload the service already had
    std::vector<Dispatch> big = Dispatches("big.bin");
    ASSERT_EQ(2u, big.size());
    EXPECT_EQ("resume", big[1].strKind);
    EXPECT_FALSE(big[1].strPickCode.empty());
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {}));
}

TEST_F(FolderResumeTest, ACancelledFolderLeavesNoRecordsWhetherUploadingOrKnownOnlyFromThem) {
    ASSERT_NO_FATAL_FAILURE(StartPics());
    ASSERT_TRUE(velmotest::waitFor([] { return UploadManager::GetRunningCount() >= 2; },
                                   std::chrono::seconds(20)));
    ASSERT_TRUE(UploadManager::CancelTask(m_strPics));
    ASSERT_TRUE(WaitForStatus(m_strPics, TaskStatusCancel));
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(nullptr, FolderManager::GetTask(m_strPics));
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {m_strSingle}));
    const size_t nSent = Dispatches().size();

    // a folder added stopped, then known after the login from its records only
    const std::string strOld = FolderPath("old");
    const std::string strA = MakeFile("old/a.jpg", 3000, 1),
                      strB = MakeFile("old/sub/b.jpg", 3000, 2);
    ASSERT_TRUE(UploadFolder(strOld, false));
    ASSERT_TRUE(WaitForResumeFile(ResumeFile(), {m_strSingle, strA, strB}));
    Logout();
    ASSERT_TRUE(Login());
    ASSERT_EQ(TaskStatusStop, m_reports.Last(strOld).status);
    velmotest::RemoveTree(strOld);  // gone from the disk meanwhile
    ASSERT_TRUE(UploadManager::CancelTask(strOld));
    ASSERT_TRUE(WaitForStatus(strOld, TaskStatusCancel));
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {m_strSingle}));
    EXPECT_EQ(nullptr, FolderManager::GetTask(strOld));

    // records of a folder no folder record stands for
    const std::string strStray = FolderPath("stray");
    const std::string strC = MakeFile("stray/c.jpg", 3000, 3),
                      strE = MakeFile("stray/d/e.jpg", 3000, 4);
    for (const std::string& strPath : {strC, strE})
        ASSERT_TRUE(Remember(strStray, strPath, true));
    ASSERT_TRUE(WaitForResumeFile(ResumeFile(), {m_strSingle, strC, strE}));
    ASSERT_TRUE(UploadManager::CancelTask(strStray));
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {m_strSingle}));
    EXPECT_EQ(nSent, Dispatches().size());
}

class DamagedRecordsTest : public FolderTest {
protected:
    // A stopped folder of three files at two levels and a stopped single file, as a logout in
    // the middle of a backup leaves them; the resume file's text.
    std::string StoreStoppedUploads() {
        m_strPics = FolderPath("pics");
        m_strA = MakeFile("pics/a.jpg", 3000, 1);
        MakeFile("pics/2012/x.jpg", 4000, 2);
        MakeFile("pics/2012/y.jpg", 5000, 3);
        m_strSingle = MakeFile("single.bin", 6000, 4);
        EXPECT_TRUE(Login());
        EXPECT_TRUE(UploadFolder(m_strPics, false));
        EXPECT_FALSE(UploadManager::StartTask(m_strSingle, LoginManager::GetTarget(), ISPTypeAuto,
                                              "", "", false));
        EXPECT_TRUE(WaitForCount(m_strPics, TaskStatusStop, 2));
        EXPECT_TRUE(Dispatches().empty()) << "a folder added stopped sent a file";
        m_strResume = ResumeFile();
        Logout();
        return velmotest::ReadFile(m_strResume);
    }

    // Logs in with this resume file, resumes everything as velmoupload-cli --resume does; false
    // (with what is pending) when a resumed upload has not ended by the deadline.
    bool ResumeAllEnds(const std::string& strFile, std::string& strPending) {
        velmotest::WriteFile(m_strResume, strFile);
        m_reports.Clear();
        if (!Login()) {
            strPending = "login";
            return false;
        }
        const std::vector<std::string> uploads = velmocli::UnfinishedUploads();
        for (const std::string& strPath : uploads)
            Utils::IsDir(strPath) ? UploadFolder(strPath) : StartFile(strPath);
        auto pending = [&] {
            strPending.clear();
            for (const std::string& strPath : uploads) {
                int status = m_reports.Last(strPath).status;
                if (status != TaskStatusSucceed && status != TaskStatusError)
                    strPending += strPath + " ";
            }
            return strPending;
        };
        bool bEnded = velmotest::waitFor(
            [&] { return pending().empty() && UploadManager::GetRunningCount() <= 0; },
            std::chrono::seconds(20));
        Logout();
        velmotest::waitFor([] { return UploadManager::GetRunningCount() <= 0; },
                           std::chrono::seconds(10));
        return bEnded;
    }

    std::string m_strPics, m_strA, m_strSingle, m_strResume;
};

TEST_F(DamagedRecordsTest, DamagedRecordsAreDroppedAndEveryResumedUploadEnds) {
    const std::string strSound = StoreStoppedUploads();
    ASSERT_NE(std::string::npos, strSound.find("[" + m_strSingle + "]")) << strSound;
    // the record of the folder's first file, and the text around it
    const size_t nBegin = strSound.find("[" + m_strA + "]\n"), nEnd = strSound.find("\n[", nBegin);
    ASSERT_NE(std::string::npos, nBegin) << strSound;
    const std::string strBefore = strSound.substr(0, nBegin),
                      strA = strSound.substr(nBegin,
                                             nEnd == std::string::npos ? nEnd : nEnd + 1 - nBegin),
                      strAfter = strSound.substr(nBegin + strA.size());
    enum Where { kInA, kFirst, kEvery };  // where the pattern is replaced
    struct Case {
        const char* pszWhat;
        Where where;
        std::string strPattern, strWith;
        bool bSingleKept;  // the single file's record survives and uploads
    };
    const Case cases[] = {
        {"sound", kFirst, "", "", true},
        {"a member outside its folder", kInA, "\\[.*\\]", "[/elsewhere/a.jpg]", true},
        {"a negative size", kInA, "filesize=\\d+", "filesize=-3000", true},
        {"a huge size", kInA, "filesize=\\d+", "filesize=99999999999999999999", true},
        {"more uploaded than the file holds", kInA, "uploadsize=0", "uploadsize=999999", true},
        {"a number with letters", kInA, "isp=0", "isp=0x", true},
        {"a field missing", kInA, "pickcode=[^\n]*\n", "", true},
        {"no remote folder for a folder's file", kInA, "foldertarget=U_[^\n]*",
         "foldertarget=", true},
        {"a path with a NUL byte", kInA, "a\\.jpg\\]", std::string("a\0.jpg]", 7), true},
        {"a record repeated", kFirst, "[\\s\\S]*", "$&$&", true},
        {"CR LF line ends", kEvery, "\n", "\r\n", true},
        {"a megabyte-long line", kFirst, "^", std::string(1 << 20, 'z') + "\n", true},
        // cut inside the single file's record: it is gone, the folder's files are kept
        {"cut short", kFirst, "(/single)[\\s\\S]*", "$1", false},
    };
    for (const Case& c : cases) {
        auto replace = [&](const std::string& strText) {
            return std::regex_replace(strText, std::regex(c.strPattern), c.strWith,
                                      c.where == kEvery ? std::regex_constants::format_default
                                                        : std::regex_constants::format_first_only);
        };
        std::string strPending;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(ResumeAllEnds(
            c.where == kInA ? strBefore + replace(strA) + strAfter : replace(strSound), strPending))
            << c.pszWhat << ": " << strPending;
        std::string strErr = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.bSingleKept, m_reports.Last(m_strSingle).status == TaskStatusSucceed)
            << c.pszWhat << "\n"
            << strErr;
        // what was dropped is named
        if (c.strWith == "[/elsewhere/a.jpg]") {
            EXPECT_NE(std::string::npos,
                      strErr.find("/elsewhere/a.jpg: the file is not below its folder"))
                << strErr;
        }
    }
}

TEST_F(DamagedRecordsTest, RandomlyCorruptedFilesNeverLeaveAnUploadWaiting) {
    const std::string strSound = StoreStoppedUploads();
    std::mt19937 rng(20261206);
    for (int nVariant = 0; nVariant < 60 && !HasFailure(); ++nVariant) {
        std::string strFile = strSound;
        int nDamages = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < nDamages && !strFile.empty(); ++i) {
            size_t nAt = rng() % strFile.size();
            const unsigned nKind = rng() % 5;
            if (nKind == 0)  // a flipped bit
                strFile[nAt] = static_cast<char>(strFile[nAt] ^ (1 << (rng() % 8)));
            else if (nKind == 1)  // cut short
                strFile.resize(nAt);
            else if (nKind == 2)  // a NUL
                strFile.insert(nAt, 1, '\0');
            else if (nKind == 3)  // a different number
                strFile = std::regex_replace(
                    strFile, std::regex("=\\d+"),
                    "=" + std::to_string(static_cast<long long>(rng()) - 2000000000LL),
                    std::regex_constants::format_first_only);
            else  // a line lost
                strFile.erase(nAt, strFile.find('\n', nAt) - nAt);
        }
        std::string strPending;
        testing::internal::CaptureStderr();
        bool bEnded = ResumeAllEnds(strFile, strPending);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(bEnded) << "variant " << nVariant << " left " << strPending;
    }
}
}  // namespace
