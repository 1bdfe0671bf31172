// Uploads that do not go straight through: connections that break in a piece, gateways that
// lose the upload server, a file that shrinks, and a cancel. (A stop and a start again are
// proven by the large-file case here and by both programs end to end.)
#include <gtest/gtest.h>

#include <unistd.h>

#include "EngineFixture.h"
#include "TestHome.h"
#include "core/ResumeManager.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;

class InterruptedUploadTest : public EngineTest {};

TEST_F(InterruptedUploadTest, AConnectionDroppedInAPieceIsRetriedUntilThePieceLands) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("dropped.bin", 3 * kMiB + 5, 71);
    Fault("action=drop&on=piece&count=2");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed)) << m_reports.Last(strPath).nErrorCode;
    EXPECT_EQ(2u, LogLines("[fault drop]").size());
    EXPECT_EQ(0u, LogLines("refused").size());
    ExpectStored(strPath);
}

TEST_F(InterruptedUploadTest, AFileThatShrankFailsThePieceItCannotRead) {
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

TEST_F(InterruptedUploadTest, ACancelledUploadIsDroppedOnTheServiceOnce) {
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

class GatewayTest : public ProxiedEngineTest {};

TEST_F(GatewayTest, GatewayFailuresAndLostRepliesAreRetriedFromTheServicesOffset) {
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

}  // namespace
