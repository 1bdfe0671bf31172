// How the engine meets what goes wrong around an upload: refusals, unusable replies, broken
// connections and gateways, a shrinking file, a cancel, restarts and a full configuration folder.
#include <sys/mount.h>
#include <unistd.h>

#include "EngineFixture.h"
#include "core/ErrorManager.h"
#include "http/FormText.h"
#include "ini/QvIniFile.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

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

TEST_F(StartRefusalTest, RefusedFilesAndEveryOtherEndLeaveTheIdleSummary) {
    ASSERT_TRUE(Login());
    const std::string strTarget = LoginManager::GetTarget();
    ExpectRefused(m_strWork + "/no-such-file.bin", strTarget, ENOENT);
    ExpectRefused(MakeFile("nowhere.bin", 10), "", 1012);
    ExpectRefused(MakeFile("over.bin", 2 * kMiB + 1), strTarget, 1014);
    // exactly the limit: accepted here and by the service
    std::string strLimit = MakeFile("limit.bin", 2 * kMiB, 3);
    ASSERT_TRUE(Upload(strLimit));
    EXPECT_EQ(TaskStatusInit, m_reports.For(strLimit).front().status);
    ExpectStored(strLimit);
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(kIdle, m_reports.All().back().strTaskInfo);
    // a queued file stopped or cancelled before it ran
    UploadManager::SetMaxUploadCount(0);
    for (TaskStatus status : {TaskStatusStop, TaskStatusCancel}) {
        std::string strQueued = MakeFile("queued" + std::to_string(status) + ".bin", 5000, 112);
        ASSERT_TRUE(StartFile(strQueued));
        ASSERT_TRUE(UploadManager::StopTask(strQueued, true, status));
        EXPECT_EQ(status, m_reports.Last(strQueued).status);
        EXPECT_EQ(kIdle, m_reports.Last(strQueued).strTaskInfo);
        EXPECT_EQ(0, UploadManager::GetTaskCount());
    }
}

// Every file gets the quick digest only, so a known one makes the service answer 300.
class QuickDigestTest : public ProxiedEngineTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        std::vector<std::string> vArgs = ProxiedEngineTest::StandinArgs();
        vArgs.insert(vArgs.end(), {"--file-range", "mdvelmo=0-0"});
        return vArgs;
    }
};

TEST_F(QuickDigestTest, A300BringsTheSha1OnceAndASecond300EndsTheUpload) {
    ASSERT_TRUE(Login());
    std::string strFirst = MakeFile("first.bin", kMiB + 100, 5);
    ASSERT_TRUE(Upload(strFirst));
    std::vector<std::string> dispatches = m_proxy.Requests("POST /files/upload");
    ASSERT_EQ(1u, dispatches.size());
    EXPECT_NE(std::string::npos, dispatches[0].find("&fileid=&")) << "SHA-1 sent unasked";

    // the same content: 300, then the SHA-1, and the content held needs no piece
    std::string strSecond = m_strWork + "/second.bin";
    velmotest::WriteFile(strSecond, velmotest::ReadFile(strFirst));
    const size_t nPieces = m_proxy.Requests(kPieces).size();
    const size_t nChecks = m_proxy.Requests("GET /2.0/check").size();
    ASSERT_TRUE(Upload(strSecond));
    dispatches = m_proxy.Requests("POST /files/upload");
    ASSERT_EQ(3u, dispatches.size());
    EXPECT_NE(std::string::npos, dispatches[1].find("&fileid=&"));
    EXPECT_NE(std::string::npos, dispatches[2].find("&fileid=" + FileSha1(strSecond) + "&"));
    EXPECT_EQ(1u, LogLines("refused 300").size());
    EXPECT_EQ(nPieces, m_proxy.Requests(kPieces).size());
    EXPECT_EQ(nChecks, m_proxy.Requests("GET /2.0/check").size());

    // a 300 to the dispatch that carried the SHA-1 ends the upload instead of hashing again
    std::string strThird = MakeFile("third.bin", 5000, 6);
    Fault("action=status&on=dispatch&statuscode=300&count=2");
    ASSERT_TRUE(StartFile(strThird));
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(TaskStatusError, m_reports.Last(strThird).status);
    EXPECT_EQ(300, m_reports.Last(strThird).nErrorCode);
    EXPECT_EQ(5u, m_proxy.Requests("POST /files/upload").size());
}

TEST_F(ProxiedEngineTest, ARefusedOrUnusableReplyEndsTheTaskWithItsCode) {
    ASSERT_TRUE(Login());
    unsigned nSeed = 40;
    // strMsg: the service's own message in UTF-8, shown instead of the catalogue's
    auto expectFails = [&](const std::string& strName, int nCode, const std::string& strMsg) {
        SCOPED_TRACE(strName);
        const std::string strPath = MakeFile(strName, 3000, ++nSeed);
        ASSERT_TRUE(Upload(strPath, TaskStatusError));
        Report failed = m_reports.Last(strPath);
        EXPECT_EQ(nCode, failed.nErrorCode);
        if (!strMsg.empty()) {
            EXPECT_EQ(Utils::StringU2G(strMsg), failed.strErrorMsg);
            EXPECT_NE(ErrorManager::GetErrorMessage(nCode), failed.strErrorMsg);
        }
        ASSERT_TRUE(WaitForIdle());
    };
    for (const std::string strOn : {"dispatch", "piece"}) {
        const std::string strMsg = "\xE6\x96\x87\xE4\xBB\xB6\xE6\x97\xA0\xE6\x95\x88 " + strOn;
        Fault("action=status&on=" + strOn + "&statuscode=402&statusmsg=" + UrlEncode(strMsg));
        expectFails(strOn + ".bin", 402, strMsg);
    }

    // replies that arrive but cannot be used are not retried
    const size_t nPieces = m_proxy.Requests(kPieces).size();
    m_proxy.AnswerInstead(kPieces, 0,
                          "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n", false);
    expectFails("refused.bin", 1010, "");
    m_proxy.AnswerInstead(kPieces, 0, "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nnot json!",
                          true);
    expectFails("garbled.bin", 1011, "");
    EXPECT_EQ(nPieces + 2, m_proxy.Requests(kPieces).size());
}

TEST_F(ProxiedEngineTest, NoSpaceStopsEveryOtherTask) {
    ASSERT_TRUE(Login());
    UploadManager::SetMaxUploadCount(2);
    // (fault that leaves the account without room, code the failing file ends with)
    const std::pair<std::string, int> cases[] = {{"action=full&on=space", 1013},
                                                 {"action=full&on=dispatch", 410}};
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

// The file changes after it was hashed (resumed: not hashed again), while the check waits at the
// service: a piece it cannot give whole is never sent, changed bytes are refused, never stored.
TEST_F(EngineTest, AFileThatShrankOrChangedUnderWayFailsAndIsNeverStored) {
    ASSERT_TRUE(Login());
    for (const std::string strWay : {"shrunk", "resumed", "rewritten"}) {
        SCOPED_TRACE(strWay);
        const std::string strPath = MakeFile(strWay + ".bin", 3 * kMiB, 75 + strWay.size());
        const std::string strHashed = FileSha1(strPath);
        const bool bResumed = strWay == "resumed";
        if (bResumed) {
            Fault("action=stall&on=piece&seconds=0.3&count=100000");
            ASSERT_TRUE(StartFile(strPath));
            ASSERT_TRUE(WaitForLog(kPieces, LogLines(kPieces).size() + 1));
            ASSERT_TRUE(UploadManager::StopTask(strPath, true, TaskStatusStop));
            ASSERT_TRUE(WaitForIdle());
        }
        const std::string strDispatch = bResumed ? "POST /files/resume" : "POST /files/upload";
        const size_t nDispatches = LogLines(strDispatch).size();
        const size_t nChecks = LogLines("GET /2.0/check").size();
        Fault("action=stall&on=check&seconds=0.5");
        ASSERT_TRUE(bResumed ? UploadManager::StartTask(strPath, "", ISPTypeAuto, "", "", true)
                             : StartFile(strPath));
        ASSERT_TRUE(WaitForLog(strDispatch, nDispatches + 1));
        std::string strContent = velmotest::ReadFile(strPath);
        strContent[static_cast<size_t>(kMiB + kMiB / 2)] ^= 0x5a;  // in the second piece
        if (strWay == "rewritten")
            velmotest::WriteFile(strPath, strContent);
        else
            ASSERT_EQ(0, truncate(strPath.c_str(), kMiB + 100));
        // by the end of the check's stall a piece still in flight from before the stop has
        // landed, and a piece sent after it would still be waiting at the service
        ASSERT_TRUE(WaitForLog("GET /2.0/check", nChecks + 1));
        const size_t nLanded = LogLines(kPieces).size();
        ASSERT_TRUE(WaitForStatus(strPath, TaskStatusError));
        EXPECT_EQ(strWay == "rewritten" ? 405 : 1010, m_reports.Last(strPath).nErrorCode);
        if (strWay != "rewritten") {  // fresh, the first piece was whole; nothing more is sent
            EXPECT_EQ(nLanded + (bResumed ? 0 : 1), LogLines(kPieces).size());
        }
        EXPECT_TRUE(StoredContent(strHashed).empty());
        EXPECT_TRUE(StoredContent(FileSha1(strPath)).empty());
    }
}

TEST_F(EngineTest, ACancelledUploadIsDroppedOnTheServiceOnce) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("cancelled.bin", 4 * kMiB, 73);
    Fault("action=stall&on=piece&seconds=0.3&count=100");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForLog(kPieces, 1));
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
    // piece requests as the gateway sees them: 0 piece 0; 1 piece 1, lost before the service;
    // 2 piece 1 again; 3 piece 2, stored but answered 504; 4 piece 3, stored and the
    // connection closed without a reply; 5 piece 4
    m_proxy.AnswerInstead(
        kPieces, 1, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 11\r\n\r\nBad Gateway", false);
    m_proxy.AnswerInstead(kPieces, 3, "HTTP/1.1 504 Gateway Timeout\r\nContent-Length: 0\r\n\r\n",
                          true);
    m_proxy.AnswerInstead(kPieces, 4, "", true);
    std::string strPath = MakeFile("gateway.bin", 4 * kMiB + 5, 74);
    ASSERT_TRUE(Upload(strPath));
    std::vector<std::string> sent = m_proxy.Requests(kPieces);
    ASSERT_EQ(6u, sent.size());
    const char* const kRanges[] = {"0-1048576",       "1048576-2097152", "1048576-2097152",
                                   "2097152-3145728", "3145728-4194304", "4194304-4194309"};
    for (size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(kRanges[i], ParsePieceRequest(sent[i]).strRange) << i;
    EXPECT_EQ(5u, LogLines(kPieces).size());
    EXPECT_EQ(4u, m_proxy.Requests("GET /2.0/check").size());
    EXPECT_EQ(0u, LogLines("refused").size());
    ExpectStored(strPath);
}

TEST_F(EngineTest, ADroppedConnectionOrAServiceRestartInTheMiddleLosesNothing) {
    ASSERT_TRUE(Login());
    for (const std::string strWay : {"dropped", "restarted", "killed"}) {
        SCOPED_TRACE(strWay);
        const std::string strPath = MakeFile(strWay + ".bin", 6 * kMiB + 3, 80 + strWay.size());
        // slow pieces, so the restart comes while one is under way
        Fault(strWay == "dropped" ? "action=drop&on=piece&count=2"
                                  : "action=stall&on=piece&seconds=0.2&count=1000");
        ASSERT_TRUE(StartFile(strPath));
        if (strWay != "dropped") {
            ASSERT_TRUE(WaitForLog(kPieces, LogLines(kPieces).size() + 2));
            RestartStandin(strWay == "killed");
        }
        ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed, std::chrono::seconds(90)))
            << m_reports.Last(strPath).nErrorCode;
        ExpectStored(strPath);
        if (strWay == "dropped") {  // each dropped piece sent again, none refused
            EXPECT_EQ(2u, LogLines("[fault drop]").size());
            EXPECT_EQ(0u, LogLines("refused").size());
        }
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
        m_bMounted = mount("tmpfs", m_strConfig.c_str(), "tmpfs", 0, "size=64k,mode=0700") == 0;
        ASSERT_TRUE(m_bMounted) << strerror(errno);
    }
    void TearDown() override {
        EngineTest::TearDown();
        if (m_bMounted)
            umount2(m_strConfig.c_str(), MNT_DETACH);
    }
    std::string m_strConfig;
    bool m_bMounted = false;
};

TEST_F(ConfigFolderTest, AFullOrReadOnlyConfigFolderNeitherStopsUploadsNorCorruptsTheResumeFile) {
    ASSERT_TRUE(Login());
    const std::string strResume = m_strConfig + "/" + LoginManager::GetUserId() + "_upload.ini";
    const std::string strFiller = m_strConfig + "/filler";
    auto remount = [&](unsigned long nFlags) {
        return mount(nullptr, m_strConfig.c_str(), nullptr, MS_REMOUNT | nFlags, nullptr) == 0;
    };
    for (const std::string strWay : {"full", "read-only"}) {
        // two hundred files: their records outgrow the folder's room, or cannot be written
        for (int i = 0; i < 200; ++i)
            MakeFile(strWay + "/file-" + std::to_string(i) + "-with-a-long-name", 2000 + i,
                     static_cast<unsigned>(100 + i));
        if (strWay == "full")  // fill what room is left
            velmotest::WriteFile(strFiller, std::string(60 * 1024, 'f'));
        else
            ASSERT_TRUE(remount(MS_RDONLY)) << strerror(errno);
        const std::string strFolder = m_strWork + "/" + strWay;
        ASSERT_TRUE(
            UploadManager::UploadFolder(strFolder, LoginManager::GetTarget(), ISPTypeAuto, true));
        ASSERT_TRUE(WaitForStatus(strFolder, TaskStatusSucceed, std::chrono::seconds(120)))
            << strWay << ": " << m_reports.Last(strFolder).status;
        // the resume file, if any, reads as a store of whole records
        if (Utils::IsExist(strResume)) {
            const std::string strText = velmotest::ReadFile(strResume);
            ASSERT_TRUE(strText.empty() || strText.back() == '\n') << "cut short";
            QvIniFile ini;
            ASSERT_TRUE(ini.Load(strResume));
            std::list<std::string> sections;
            ini.GetSections(sections);
            std::string strValue;
            for (const std::string& strSection : sections)
                EXPECT_TRUE(ini.GetValue(strSection, "uploadsize", strValue)) << strSection;
        }
        // back to normal for the next round
        ASSERT_TRUE(strWay == "full" ? unlink(strFiller.c_str()) == 0 : remount(0));
    }
}
}  // namespace
