// How the engine answers what the service says: files it refuses before asking, the request
// for the SHA-1, refusals with the service's own message, a full account that stops everything,
// and replies that arrive but cannot be used.
#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "TestHome.h"
#include "core/ErrorManager.h"
#include "http/FormText.h"
#include "utils/Utils.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;
const char kIdle[] = "0,0,0,00:00:00";

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

class ServiceReplyTest : public ProxiedEngineTest {
protected:
    // A file that spends a while in its pieces, so other tasks can come and go meanwhile.
    void StartSlowFile(const std::string& strPath) {
        Fault("action=stall&on=piece&seconds=0.4&count=100");
        ASSERT_TRUE(StartFile(strPath));
        ASSERT_TRUE(WaitForLog("GET /2.0/check", LogLines("GET /2.0/check").size() + 1));
    }
};

TEST_F(ServiceReplyTest, ASha1DispatchAnsweredWith300EndsWith300) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("collide.bin", 5000, 6);
    Fault("action=status&on=dispatch&statuscode=300");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusError));
    EXPECT_EQ(300, m_reports.Last(strPath).nErrorCode);
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(1u, m_proxy.Requests("POST /files/upload").size());
}

TEST_F(ServiceReplyTest, ARefusalShowsTheServicesOwnMessage) {
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

TEST_F(ServiceReplyTest, NoSpaceStopsEveryOtherTask) {
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
        StartSlowFile(strRunning);
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

TEST_F(ServiceReplyTest, APieceReplyThatArrivesButIsUnusableEndsTheTask) {
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

}  // namespace
