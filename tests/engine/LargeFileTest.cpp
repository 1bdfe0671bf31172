// Files past 2 GiB and 4 GiB: every piece must come from the offset it names. A sparse file
// keeps the disk work small; random bytes around both boundaries and at the end make a wrongly
// positioned piece visible. The longest test of the engine suite: the file is hashed whole by
// the engine and by the stand-in.
#include <fcntl.h>
#include <unistd.h>

#include <random>

#include "ContentFiles.h"
#include "EngineFixture.h"
#include "Store.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kGiB = 1024 * kMiB;

class LargeFileTest : public EngineTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user",       "alice:wonderland",       "--quota", std::to_string(64 * kGiB),
                "--size-limit", std::to_string(16 * kGiB)};
    }

    // With the stand-in down, makes it hold nTo bytes of the upload instead of nHeld: the file
    // is zeros in between (no region of vOffsets reaches into it), and so is the extension.
    void HoldZerosUpTo(const std::string& strPickCode, long long nHeld, long long nTo,
                       const std::vector<long long>& vOffsets, long long nLength) {
        ASSERT_LE(nHeld, nTo);
        for (long long nOffset : vOffsets)
            ASSERT_TRUE(nOffset + nLength <= nHeld || nOffset >= nTo) << nOffset;
        m_standin.Stop();
        {
            standin::Store store;
            store.Open(StandinDataDir() + "/standin.db");
            ASSERT_TRUE(store.Transact([&](standin::Records& rec) {
                standin::Upload upload;
                if (!rec.UploadByPickCode(strPickCode, upload) || upload.nOffset != nHeld)
                    return false;
                upload.nOffset = nTo;
                rec.UpdateUpload(upload);
                return true;
            }));
        }
        standin::ContentFiles files;
        ASSERT_TRUE(files.Open(StandinDataDir()));
        ASSERT_EQ(0, truncate(files.PartialPath(strPickCode).c_str(), nTo));
        RestartStandin();
    }

    // Random bytes at each of vOffsets (nLength each) in a sparse file of nSize bytes.
    std::string MakeSparseFile(const std::string& strName, long long nSize,
                               const std::vector<long long>& vOffsets, long long nLength) {
        std::string strPath = m_strWork + "/" + strName;
        int fd = open(strPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(0, ftruncate(fd, nSize));
        std::mt19937 rng(7);
        std::string strBlock(static_cast<size_t>(nLength), '\0');
        for (long long nOffset : vOffsets) {
            for (char& c : strBlock)
                c = static_cast<char>(rng());
            EXPECT_EQ(nLength, pwrite(fd, strBlock.data(), strBlock.size(), nOffset));
        }
        close(fd);
        return strPath;
    }
};

std::string ReadAt(const std::string& strPath, long long nOffset, long long nLength) {
    std::string strBytes(static_cast<size_t>(nLength), '\0');
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t n = fd >= 0 ? pread(fd, &strBytes[0], strBytes.size(), nOffset) : -1;
    if (fd >= 0)
        close(fd);
    strBytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return strBytes;
}

TEST_F(LargeFileTest, PiecesPastTwoAndFourGiBCarryTheirOwnBytes) {
    ASSERT_TRUE(Login());
    const long long nSize = 4 * kGiB + 8 * kMiB + 5;
    const long long nMark = 3 * kMiB;
    // each region straddles a boundary, so the pieces on both sides of it differ; between
    // them the file is zeros
    const std::vector<long long> vOffsets = {2 * kGiB - kMiB - 17, 4 * kGiB - kMiB - 17,
                                             nSize - nMark};
    std::string strPath = MakeSparseFile("large.bin", nSize, vOffsets, nMark);
    const std::string kPieces = "POST /2.0/bigupload";
    // pieces wait a moment at the service, so the upload can be stopped between two of them
    const std::string kSlowPieces = "action=stall&on=piece&seconds=0.1&count=100000";

    Fault(kSlowPieces);
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForLog(kPieces, 1, std::chrono::seconds(120)));
    ASSERT_TRUE(UploadManager::StopTask(strPath, true, TaskStatusStop));
    ASSERT_TRUE(WaitForIdle());
    ResumeInfo record;
    ASSERT_TRUE(ResumeManager::GetResumeInfo(strPath, record));
    ASSERT_FALSE(record.strPickCode.empty());
    ASSERT_EQ(40u, record.strFileHash.size());

    // Uploading gigabytes of zeros would take most of a minute: the service is made to hold
    // them, and the engine sends the pieces around each boundary and at the end.
    const long long vJumps[] = {2 * kGiB - 2 * kMiB, 4 * kGiB - 2 * kMiB};
    const long long vStopAt[] = {2 * kGiB + 2 * kMiB, -1};
    for (int nPhase = 0; nPhase < 2; ++nPhase) {
        SCOPED_TRACE(nPhase);
        HoldZerosUpTo(record.strPickCode, LastPieceOffset(), vJumps[nPhase], vOffsets, nMark);
        if (vStopAt[nPhase] >= 0)
            Fault(kSlowPieces);
        ASSERT_TRUE(UploadManager::StartTask(strPath, "", ISPTypeAuto, "", "", true));
        if (vStopAt[nPhase] < 0)
            break;
        ASSERT_TRUE(velmotest::waitFor([&] { return LastPieceOffset() >= vStopAt[nPhase]; },
                                       std::chrono::seconds(60)));
        ASSERT_TRUE(UploadManager::StopTask(strPath, true, TaskStatusStop));
        ASSERT_TRUE(WaitForIdle());
    }
    ASSERT_TRUE(WaitForCount(strPath, TaskStatusSucceed, 1, std::chrono::seconds(120)))
        << m_reports.Last(strPath).nErrorCode;
    EXPECT_EQ(0u, LogLines("refused").size());

    // the service stores content under the SHA-1 of what it received, after checking it
    // against the one the engine computed from the file
    std::string strStored = StoredContent(record.strFileHash);
    ASSERT_FALSE(strStored.empty()) << "nothing stored under " << record.strFileHash;
    long long nStoredSize = 0;
    ASSERT_TRUE(Utils::GetFileSize(strStored, nStoredSize));
    EXPECT_EQ(nSize, nStoredSize);
    for (long long nOffset : vOffsets)
        EXPECT_TRUE(ReadAt(strPath, nOffset, nMark) == ReadAt(strStored, nOffset, nMark))
            << "bytes at " << nOffset;
}

}  // namespace
