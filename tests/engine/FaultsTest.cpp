// How the engine meets what goes wrong around an upload: refusals and unusable replies from
// the service, connections and gateways that break in a piece, a file that shrinks, a cancel,
// the service restarting in the middle, and a configuration folder that fills up or turns
// read-only while the resume file is saved.
#include <sys/mount.h>
#include <unistd.h>

#include "EngineFixture.h"
#include "core/ErrorManager.h"
#include "http/FormText.h"
#include "ini/QvIniFile.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

// ---------------------------------------------------------------- refused before any request

class StartRefusalTest : public EngineTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user", "alice:wonderland", "--size-limit", std::to_string(2 * kMiB)};
    }

    // A refused file: StartTask says no, and the one report is an error with this code.
    void ExpectRefused(const std::string& strPath, const std::string& strTarget, int nCode) {
        SCOPED_TRACE(strPath);
        EXPECT_FALSE(UploadManager::StartTask(strPath, strTarget, ISPTypeAuto, "", "", true));
        std::vector<Report> reports = m_reports.For(strPath);
        ASSERT_EQ(1u, reports.size());
        EXPECT_EQ(TaskStatusError, reports[0].status);
        EXPECT_EQ(nCode, reports[0].nErrorCode);
        EXPECT_EQ(ErrorManager::GetErrorMessage(nCode), reports[0].strErrorMsg);
        EXPECT_EQ(kIdle, reports[0].strTaskInfo);
        EXPECT_EQ(0, UploadManager::GetTaskCount());
    }
};

TEST_F(StartRefusalTest, EmptyMissingUntargetedAndOversizedFilesAreRefusedWithTheirCodes) {
    ASSERT_TRUE(Login());
    const std::string strTarget = LoginManager::GetTarget();
    ExpectRefused(MakeFile("empty.bin", 0), strTarget, 1000);
    ExpectRefused(m_strWork + "/no-such-file.bin", strTarget, ENOENT);
    ExpectRefused(MakeFile("nowhere.bin", 10), "", 1012);
    ExpectRefused(MakeFile("over.bin", 2 * kMiB + 1), strTarget, 1014);

    // exactly the limit: accepted here and by the service
    std::string strLimit = MakeFile("limit.bin", 2 * kMiB, 3);
    ASSERT_TRUE(StartFile(strLimit));
    ASSERT_TRUE(WaitForStatus(strLimit, TaskStatusSucceed)) << m_reports.Last(strLimit).nErrorCode;
    EXPECT_EQ(TaskStatusInit, m_reports.For(strLimit).front().status);
    ExpectStored(strLimit);
}

// ---------------------------------------------------------------- 300: the SHA-1 is needed

class QuickDigestTest : public ProxiedEngineTest {
protected:
    // every file gets the quick digest only, so a known one makes the service ask for more
    std::vector<std::string> StandinArgs() const override {
        std::vector<std::string> vArgs = ProxiedEngineTest::StandinArgs();
        vArgs.insert(vArgs.end(), {"--file-range", "mdvelmo=0-0"});
        return vArgs;
    }
};

TEST_F(QuickDigestTest, AKnownQuickDigestBringsTheSha1AndASecondDispatch) {
    ASSERT_TRUE(Login());
    std::string strFirst = MakeFile("first.bin", kMiB + 100, 5);
    ASSERT_TRUE(StartFile(strFirst));
    ASSERT_TRUE(WaitForStatus(strFirst, TaskStatusSucceed));
    std::vector<std::string> dispatches = m_proxy.Requests("POST /files/upload");
    ASSERT_EQ(1u, dispatches.size());
    EXPECT_NE(std::string::npos, dispatches[0].find("&fileid=&")) << "SHA-1 sent unasked";

    std::string strSecond = m_strWork + "/second.bin";
    velmotest::WriteFile(strSecond, velmotest::ReadFile(strFirst));
    const size_t nPieces = m_proxy.Requests("POST /2.0/bigupload").size();
    ASSERT_TRUE(StartFile(strSecond));
    ASSERT_TRUE(WaitForStatus(strSecond, TaskStatusSucceed))
        << m_reports.Last(strSecond).nErrorCode;

    dispatches = m_proxy.Requests("POST /files/upload");
    ASSERT_EQ(3u, dispatches.size());
    EXPECT_NE(std::string::npos, dispatches[1].find("&fileid=&"));
    EXPECT_NE(std::string::npos, dispatches[2].find("&fileid=" + FileSha1(strSecond) + "&"));
    EXPECT_EQ(1u, LogLines("refused 300").size());
    EXPECT_EQ(nPieces, m_proxy.Requests("POST /2.0/bigupload").size());
}

// ---------------------------------------------------------------- refusals and full accounts

TEST_F(ProxiedEngineTest, ASha1DispatchAnsweredWith300EndsWith300) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("collide.bin", 5000, 6);
    Fault("action=status&on=dispatch&statuscode=300");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusError));
    EXPECT_EQ(300, m_reports.Last(strPath).nErrorCode);
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(1u, m_proxy.Requests("POST /files/upload").size());
}

TEST_F(ProxiedEngineTest, ARefusalShowsTheServicesOwnMessage) {
    ASSERT_TRUE(Login());
    // (kind of request, its message in UTF-8)
    const std::pair<std::string, std::string> cases[] = {
        {"dispatch", "\xE6\x96\x87\xE4\xBB\xB6\xE5\x90\x8D\xE4\xB8\x8D\xE5\x90\x88\xE6\xB3\x95"},
        {"piece", "\xE5\x88\x86\xE7\x89\x87\xE6\x97\xA0\xE6\x95\x88 (piece)"},
    };
    unsigned nSeed = 40;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::string strPath = MakeFile(c.first + ".bin", 3000, ++nSeed);
        Fault("action=status&on=" + c.first + "&statuscode=402&statusmsg=" + UrlEncode(c.second));
        ASSERT_TRUE(StartFile(strPath));
        ASSERT_TRUE(WaitForStatus(strPath, TaskStatusError));
        Report failed = m_reports.Last(strPath);
        EXPECT_EQ(402, failed.nErrorCode);
        EXPECT_EQ(Utils::StringU2G(c.second), failed.strErrorMsg);
        EXPECT_NE(ErrorManager::GetErrorMessage(402), failed.strErrorMsg);
        ASSERT_TRUE(WaitForIdle());
    }
}

TEST_F(ProxiedEngineTest, NoSpaceStopsEveryOtherTask) {
    ASSERT_TRUE(Login());
    UploadManager::SetMaxUploadCount(2);
    // (fault that leaves the account without room, code the failing file ends with)
    const std::pair<std::string, int> cases[] = {
        {"action=full&on=space", 1013},
        {"action=full&on=dispatch", 410},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        const std::string strTag = std::to_string(c.second);
        std::string strRunning = MakeFile("running" + strTag + ".bin", 4 * kMiB + 7, 51);
        std::string strFailing = MakeFile("failing" + strTag + ".bin", 1000, 52);
        std::string strQueued = MakeFile("queued" + strTag + ".bin", 1000, 53);
        // it spends a while in its pieces, so the others come and go meanwhile
        Fault("action=stall&on=piece&seconds=0.4&count=100");
        ASSERT_TRUE(StartFile(strRunning));
        ASSERT_TRUE(WaitForLog("GET /2.0/check", LogLines("GET /2.0/check").size() + 1));
        Fault(c.first);
        ASSERT_TRUE(StartFile(strFailing));
        ASSERT_TRUE(StartFile(strQueued));

        ASSERT_TRUE(WaitForStatus(strFailing, TaskStatusError));
        EXPECT_EQ(c.second, m_reports.Last(strFailing).nErrorCode);
        ASSERT_TRUE(WaitForIdle());
        EXPECT_EQ(TaskStatusStop, m_reports.Last(strRunning).status);
        EXPECT_EQ(TaskStatusStop, m_reports.Last(strQueued).status);
        EXPECT_EQ(0, m_reports.Running(strQueued).size());
        ClearFaults();
    }
}

TEST_F(ProxiedEngineTest, APieceReplyThatArrivesButIsUnusableEndsTheTask) {
    ASSERT_TRUE(Login());
    m_proxy.AnswerInstead("POST /2.0/bigupload", 0,
                          "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n", false);
    m_proxy.AnswerInstead("POST /2.0/bigupload", 1,
                          "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nnot json!", true);
    std::string strRefused = MakeFile("refused.bin", 2000, 61);
    std::string strGarbled = MakeFile("garbled.bin", 2000, 62);
    ASSERT_TRUE(StartFile(strRefused));
    ASSERT_TRUE(WaitForStatus(strRefused, TaskStatusError));
    EXPECT_EQ(1010, m_reports.Last(strRefused).nErrorCode);
    ASSERT_TRUE(StartFile(strGarbled));
    ASSERT_TRUE(WaitForStatus(strGarbled, TaskStatusError));
    EXPECT_EQ(1011, m_reports.Last(strGarbled).nErrorCode);
    EXPECT_EQ(2u, m_proxy.Requests("POST /2.0/bigupload").size());
}

TEST_F(EngineTest, AConnectionDroppedInAPieceIsRetriedUntilThePieceLands) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("dropped.bin", 3 * kMiB + 5, 71);
    Fault("action=drop&on=piece&count=2");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed)) << m_reports.Last(strPath).nErrorCode;
    EXPECT_EQ(2u, LogLines("[fault drop]").size());
    EXPECT_EQ(0u, LogLines("refused").size());
    ExpectStored(strPath);
}

TEST_F(EngineTest, AFileThatShrankFailsThePieceItCannotRead) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("shrinking.bin", 3 * kMiB, 75);
    // the check waits at the service; the file loses its tail meanwhile, after it was hashed
    Fault("action=stall&on=check&seconds=0.5");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForLog("POST /files/upload", 1));
    ASSERT_EQ(0, truncate(strPath.c_str(), kMiB + 100));
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusError));
    EXPECT_EQ(1010, m_reports.Last(strPath).nErrorCode);
    // the first piece was whole; the second was never sent with bytes the file did not give
    EXPECT_EQ(1u, LogLines("POST /2.0/bigupload").size());
}

// Resumed, the file is not hashed again: its pieces are read as they are sent, and one the
// file can no longer give whole is never sent.
TEST_F(EngineTest, AResumedFileThatShrankFailsThePieceItCannotRead) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("shrinking-resumed.bin", 3 * kMiB, 76);
    Fault("action=stall&on=piece&seconds=0.3&count=100000");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForLog("POST /2.0/bigupload", 1));
    ASSERT_TRUE(UploadManager::StopTask(strPath, true, TaskStatusStop));
    ASSERT_TRUE(WaitForIdle());

    // the check waits at the service; the file loses its tail meanwhile
    Fault("action=stall&on=check&seconds=0.5");
    ASSERT_TRUE(UploadManager::StartTask(strPath, "", ISPTypeAuto, "", "", true));
    ASSERT_TRUE(WaitForLog("POST /files/resume", 1));
    ASSERT_EQ(0, truncate(strPath.c_str(), kMiB + 100));
    // by the end of the check's longer stall a piece still in flight from before the stop has
    // landed, and a piece sent after it would still be waiting at the service
    ASSERT_TRUE(WaitForLog("GET /2.0/check", 2));
    const size_t nLanded = LogLines("POST /2.0/bigupload").size();
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusError));
    EXPECT_EQ(1010, m_reports.Last(strPath).nErrorCode);
    EXPECT_EQ(nLanded, LogLines("POST /2.0/bigupload").size());
}

TEST_F(EngineTest, ACancelledUploadIsDroppedOnTheServiceOnce) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("cancelled.bin", 4 * kMiB, 73);
    Fault("action=stall&on=piece&seconds=0.3&count=100");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForLog("POST /2.0/bigupload", 1));
    ASSERT_TRUE(UploadManager::CancelTask(strPath));
    EXPECT_EQ(TaskStatusCancel, m_reports.Last(strPath).status);
    ASSERT_TRUE(WaitForIdle());
    std::vector<std::string> cancels = LogLines("POST /files/cancel");
    ASSERT_EQ(1u, cancels.size());
    EXPECT_NE(std::string::npos, cancels[0].find("ok: upload dropped")) << cancels[0];
    ResumeInfo record;
    EXPECT_FALSE(ResumeManager::GetResumeInfo(strPath, record));
    EXPECT_EQ(1, m_reports.Count(strPath, TaskStatusCancel));
}

TEST_F(ProxiedEngineTest, GatewayFailuresAndLostRepliesAreRetriedFromTheServicesOffset) {
    ASSERT_TRUE(Login());
    const char kBadGateway[] = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 11\r\n\r\nBad Gateway";
    const char kTimeout[] = "HTTP/1.1 504 Gateway Timeout\r\nContent-Length: 0\r\n\r\n";
    // piece requests as the gateway sees them: 0 piece 0; 1 piece 1, lost before the service;
    // 2 piece 1 again; 3 piece 2, stored but answered 504; 4 piece 3, stored and the
    // connection closed without a reply; 5 piece 4
    m_proxy.AnswerInstead("POST /2.0/bigupload", 1, kBadGateway, false);
    m_proxy.AnswerInstead("POST /2.0/bigupload", 3, kTimeout, true);
    m_proxy.AnswerInstead("POST /2.0/bigupload", 4, "", true);
    std::string strPath = MakeFile("gateway.bin", 4 * kMiB + 5, 74);
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed)) << m_reports.Last(strPath).nErrorCode;

    std::vector<std::string> sent = m_proxy.Requests("POST /2.0/bigupload");
    ASSERT_EQ(6u, sent.size());
    const char* const kRanges[] = {"0-1048576",       "1048576-2097152", "1048576-2097152",
                                   "2097152-3145728", "3145728-4194304", "4194304-4194309"};
    for (size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(kRanges[i], ParsePieceRequest(sent[i]).strRange) << i;
    EXPECT_EQ(5u, LogLines("POST /2.0/bigupload").size());
    EXPECT_EQ(4u, m_proxy.Requests("GET /2.0/check").size());
    EXPECT_EQ(0u, LogLines("refused").size());
    ExpectStored(strPath);
}

TEST_F(EngineTest, AServiceRestartedInTheMiddleOfAnUploadLosesNothing) {
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
