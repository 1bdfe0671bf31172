// Resume files as a crash, a full disk or an editor may leave them: whatever the file says, every
// resumed upload ends (succeeded or failed), sound records are kept and the rest are named.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>

#include "upload/EngineQueries.h"
#include "FolderFixture.h"
#include "TestHome.h"
#include "WaitFor.h"
#include "core/ResumeManager.h"
#include "utils/Utils.h"

using namespace foldertest;
using namespace _VelmoUpload;

namespace {

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
