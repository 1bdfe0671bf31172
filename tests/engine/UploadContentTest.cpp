// What reaches the service: each piece's length, range and bytes, and the stored content (the
// stand-in refuses a wrong digest, file id or pick code, so a finished upload proves those).
#include "EngineFixture.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

using UploadContentTest = ProxiedEngineTest;

TEST_F(UploadContentTest, PiecesCoverTheFileExactlyAndTheServiceStoresItsBytes) {
    ASSERT_TRUE(Login());
    // (size, the ranges of its pieces)
    const std::pair<long long, std::vector<std::string>> cases[] = {
        {1, {"0-1"}},
        {kMiB, {"0-1048576"}},
        {kMiB + 1, {"0-1048576", "1048576-1048577"}},
        {3 * kMiB + 5, {"0-1048576", "1048576-2097152", "2097152-3145728", "3145728-3145733"}},
    };
    unsigned nSeed = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.first));
        std::string strPath = MakeFile("size" + std::to_string(c.first) + ".bin", c.first, ++nSeed);
        const std::string strContent = velmotest::ReadFile(strPath);
        const size_t nBefore = m_proxy.Requests(kPieces).size();
        ASSERT_TRUE(Upload(strPath));
        const Report done = m_reports.Last(strPath);
        EXPECT_FALSE(done.strPickCode.empty());
        EXPECT_EQ(c.first, done.nFileSize);
        EXPECT_EQ(c.first, done.nUploadSize);
        const std::vector<std::string> sent = m_proxy.Requests(kPieces);
        ASSERT_EQ(nBefore + c.second.size(), sent.size());
        for (size_t i = 0; i < c.second.size(); ++i) {
            const PieceRequest piece = ParsePieceRequest(sent[nBefore + i]);
            ASSERT_TRUE(piece.bParsed) << "piece " << i;
            EXPECT_EQ(c.second[i], piece.strRange);
            EXPECT_EQ(static_cast<long long>(piece.nBodyLength), piece.nContentLength);
            EXPECT_TRUE(piece.strData == strContent.substr(i * kMiB, kMiB)) << "piece " << i;
        }
        ExpectStored(strPath);
    }
}

}  // namespace
