// What reaches the service: the pieces a file is cut into, each piece request's declared
// length, range, digests and bytes, the stored content, and uploads that send no piece at all.

#include "EngineFixture.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

class UploadContentTest : public ProxiedEngineTest {
protected:
    // Uploads a fresh file and returns the piece requests it took.
    std::vector<PieceRequest> UploadAndCollect(const std::string& strPath) {
        size_t nBefore = m_proxy.Requests("POST /2.0/bigupload").size();
        EXPECT_TRUE(StartFile(strPath));
        EXPECT_TRUE(WaitForStatus(strPath, TaskStatusSucceed))
            << "code " << m_reports.Last(strPath).nErrorCode;
        std::vector<std::string> requests = m_proxy.Requests("POST /2.0/bigupload");
        std::vector<PieceRequest> pieces;
        for (size_t i = nBefore; i < requests.size(); ++i)
            pieces.push_back(ParsePieceRequest(requests[i]));
        return pieces;
    }
};

TEST_F(UploadContentTest, PiecesCoverTheFileExactlyAndTheServiceStoresItsBytes) {
    ASSERT_TRUE(Login());
    struct Case {
        long long nSize;
        std::vector<std::string> ranges;
    };
    const Case cases[] = {
        {1, {"0-1"}},
        {kMiB, {"0-1048576"}},
        {kMiB + 1, {"0-1048576", "1048576-1048577"}},
        {3 * kMiB + 5, {"0-1048576", "1048576-2097152", "2097152-3145728", "3145728-3145733"}},
    };
    unsigned nSeed = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.nSize));
        std::string strPath = MakeFile("size" + std::to_string(c.nSize) + ".bin", c.nSize, ++nSeed);
        const std::string strContent = velmotest::ReadFile(strPath);
        const std::string strSha1 = FileSha1(strPath);

        std::vector<PieceRequest> pieces = UploadAndCollect(strPath);
        const std::string strPickCode = m_reports.Last(strPath).strPickCode;
        EXPECT_FALSE(strPickCode.empty());
        ASSERT_EQ(c.ranges.size(), pieces.size());
        for (size_t i = 0; i < pieces.size(); ++i) {
            const PieceRequest& piece = pieces[i];
            ASSERT_TRUE(piece.bParsed) << "piece " << i;
            EXPECT_EQ(c.ranges[i], piece.strRange);
            EXPECT_EQ(static_cast<long long>(piece.nBodyLength), piece.nContentLength);
            long long nStart = static_cast<long long>(i) * kMiB;
            EXPECT_TRUE(piece.strData == strContent.substr(static_cast<size_t>(nStart), kMiB))
                << "bytes of piece " << i;
            std::string strPieceHash;
            Utils::GetHash(reinterpret_cast<const unsigned char*>(piece.strData.data()),
                           static_cast<unsigned>(piece.strData.size()), strPieceHash);
            EXPECT_EQ(strPieceHash, piece.strHash);
            EXPECT_EQ(strSha1, piece.strFileId);
            EXPECT_EQ(strPickCode, piece.strFileName);
        }
        std::string strStored = StoredContent(strSha1);
        ASSERT_FALSE(strStored.empty());
        EXPECT_TRUE(velmotest::ReadFile(strStored) == strContent);
        Report done = m_reports.Last(strPath);
        EXPECT_EQ(c.nSize, done.nFileSize);
        EXPECT_EQ(c.nSize, done.nUploadSize);
    }
}

TEST_F(UploadContentTest, ContentTheServiceHoldsIsFinishedWithoutAPiece) {
    ASSERT_TRUE(Login());
    std::string strFirst = MakeFile("first.bin", 2 * kMiB + 3, 21);
    ASSERT_TRUE(StartFile(strFirst));
    ASSERT_TRUE(WaitForStatus(strFirst, TaskStatusSucceed));
    ASSERT_TRUE(WaitForIdle());
    const size_t nPieces = m_proxy.Requests("POST /2.0/bigupload").size();
    const size_t nChecks = m_proxy.Requests("GET /2.0/check").size();
    ASSERT_EQ(3u, nPieces);

    // the same file again, and the same content under another name
    std::string strCopy = m_strWork + "/copy.bin";
    velmotest::WriteFile(strCopy, velmotest::ReadFile(strFirst));
    ASSERT_TRUE(StartFile(strFirst));
    ASSERT_TRUE(WaitForCount(strFirst, TaskStatusSucceed, 2));
    ASSERT_TRUE(StartFile(strCopy));
    ASSERT_TRUE(WaitForStatus(strCopy, TaskStatusSucceed));
    ASSERT_TRUE(WaitForIdle());

    EXPECT_EQ(nPieces, m_proxy.Requests("POST /2.0/bigupload").size());
    EXPECT_EQ(nChecks, m_proxy.Requests("GET /2.0/check").size());
    EXPECT_EQ(3u, m_proxy.Requests("POST /files/upload").size());
    EXPECT_EQ(1u, LogLines("rapid: same file already there").size());
    EXPECT_EQ(1u, LogLines("rapid: content held").size());
    for (const std::string& strPath : {strFirst, strCopy}) {
        Report done = m_reports.Last(strPath);
        EXPECT_EQ(done.nFileSize, done.nUploadSize) << strPath;
        EXPECT_EQ(0, done.nErrorCode);
    }
}

TEST_F(UploadContentTest, AFileRewrittenAfterItWasHashedIsRefusedNeverStored) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("rewritten.bin", 3 * kMiB, 31);
    const std::string strHashed = FileSha1(strPath);
    // the check waits at the service; the second piece's bytes change meanwhile, size kept
    Fault("action=stall&on=check&seconds=0.5");
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForLog("POST /files/upload", 1));
    std::string strContent = velmotest::ReadFile(strPath);
    strContent[static_cast<size_t>(kMiB + kMiB / 2)] ^= 0x5a;
    velmotest::WriteFile(strPath, strContent);
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusError));
    EXPECT_EQ(405, m_reports.Last(strPath).nErrorCode);
    EXPECT_TRUE(StoredContent(strHashed).empty());
    EXPECT_TRUE(StoredContent(FileSha1(strPath)).empty());
}

}  // namespace
