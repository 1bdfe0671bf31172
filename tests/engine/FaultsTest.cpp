// Faults around an upload that nobody controls: the service restarting (cleanly or killed) in
// the middle, and the configuration folder that fills up or turns read-only while uploads run
// and the resume file is saved. The upload ends, nothing stored is lost, the resume file stays
// whole.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "EngineFixture.h"
#include "TestHome.h"
#include "WaitFor.h"
#include "ini/QvIniFile.h"
#include "utils/Utils.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;

class FaultsTest : public EngineTest {};

TEST_F(FaultsTest, AServiceRestartedInTheMiddleOfAnUploadLosesNothing) {
    ASSERT_TRUE(Login());
    for (bool bCrash : {false, true}) {
        const std::string strPath =
            MakeFile(bCrash ? "killed.bin" : "restarted.bin", 6 * kMiB + 3, bCrash ? 81 : 82);
        // slow pieces, so the restart comes while one is under way
        Fault("action=stall&on=piece&seconds=0.2&count=1000");
        ASSERT_TRUE(StartFile(strPath));
        ASSERT_TRUE(WaitForLog("POST /2.0/bigupload", 2));
        RestartStandin(bCrash);
        ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed, std::chrono::seconds(90)))
            << (bCrash ? "after SIGKILL: " : "after a clean restart: ")
            << m_reports.Last(strPath).nErrorCode;
        ExpectStored(strPath);
    }
}

// The configuration folder (resume file and all) on a small file system of its own, which
// the test fills up or makes read-only while a folder of many files uploads.
class ConfigFolderTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (HasFatalFailure())
            return;
        if (geteuid() != 0)
            GTEST_SKIP() << "mounting a file system needs root";
        std::string strFolder;
        Utils::GetConfigFolder(strFolder);
        m_strConfig = strFolder.substr(0, strFolder.size() - 1);
        ASSERT_TRUE(Utils::CreateDir(strFolder));
        ASSERT_EQ(0, mount("tmpfs", m_strConfig.c_str(), "tmpfs", 0, "size=64k,mode=0700"))
            << strerror(errno);
        m_bMounted = true;
    }
    void TearDown() override {
        EngineTest::TearDown();
        if (m_bMounted)
            umount2(m_strConfig.c_str(), MNT_DETACH);
    }
    // A resume file that reads as a store of whole records (or is absent).
    static void ExpectWhole(const std::string& strFile) {
        if (!Utils::IsExist(strFile))
            return;
        const std::string strText = velmotest::ReadFile(strFile);
        ASSERT_TRUE(strText.empty() || strText.back() == '\n') << "cut short";
        QvIniFile ini;
        ASSERT_TRUE(ini.Load(strFile));
        std::list<std::string> sections;
        ini.GetSections(sections);
        for (const std::string& strSection : sections) {
            std::string strValue;
            EXPECT_TRUE(ini.GetValue(strSection, "uploadsize", strValue)) << strSection;
        }
    }
    std::string m_strConfig;
    bool m_bMounted = false;
};

TEST_F(ConfigFolderTest, AFullOrReadOnlyConfigFolderNeitherStopsUploadsNorCorruptsTheResumeFile) {
    ASSERT_TRUE(Login());
    const std::string strResume = m_strConfig + "/" + LoginManager::GetUserId() + "_upload.ini";
    for (const char* pszWhat : {"full", "read-only"}) {
        // two hundred files: their records outgrow the folder's room, or cannot be written
        const std::string strFolder = m_strWork + "/" + pszWhat;
        for (int i = 0; i < 200; ++i)
            MakeFile(std::string(pszWhat) + "/file-" + std::to_string(i) + "-with-a-long-name",
                     2000 + i, static_cast<unsigned>(100 + i));
        if (std::string(pszWhat) == "full") {
            // fill what room is left
            velmotest::WriteFile(m_strConfig + "/filler", std::string(60 * 1024, 'f'));
        } else {
            ASSERT_EQ(0,
                      mount(nullptr, m_strConfig.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr))
                << strerror(errno);
        }
        ASSERT_TRUE(
            UploadManager::UploadFolder(strFolder, LoginManager::GetTarget(), ISPTypeAuto, true));
        ASSERT_TRUE(WaitForStatus(strFolder, TaskStatusSucceed, std::chrono::seconds(120)))
            << pszWhat << ": " << m_reports.Last(strFolder).status;
        ExpectWhole(strResume);
        // back to normal for the next round
        if (std::string(pszWhat) == "full")
            unlink((m_strConfig + "/filler").c_str());
        else
            ASSERT_EQ(0, mount(nullptr, m_strConfig.c_str(), nullptr, MS_REMOUNT, nullptr));
    }
}

}  // namespace
