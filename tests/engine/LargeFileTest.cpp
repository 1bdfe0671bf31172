// Files past 2 and 4 GiB, sparse, random bytes only around both boundaries and at the end: every
// piece must carry the bytes at the offset it names. The engine suite's longest test.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
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

    // Where the stand-in's last accepted piece left the upload ("offset N"), -1 before one.
    long long LastPieceOffset() const {
        const std::vector<std::string> lines = LogLines(kPieces);
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->rfind(" offset ") != std::string::npos)
                return atoll(it->c_str() + it->rfind(" offset ") + 8);
        return -1;
    }

    // With the stand-in down, makes it hold nTo bytes of the upload instead of nHeld, zeros
    // beyond nHeld as in the file there, and starts it again.
    void HoldZerosUpTo(const std::string& strPickCode, long long nHeld, long long nTo) {
        m_standin.Stop();
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
        standin::ContentFiles files;
        ASSERT_TRUE(files.Open(StandinDataDir()));
        ASSERT_EQ(0, truncate(files.PartialPath(strPickCode).c_str(), nTo));
        RestartStandin();
    }
};

std::string ReadAt(const std::string& strPath, long long nOffset, long long nLength) {
    std::ifstream in(strPath, std::ios::binary);
    std::string strBytes(static_cast<size_t>(nLength), '\0');
    in.seekg(nOffset);
    in.read(&strBytes[0], nLength);
    strBytes.resize(static_cast<size_t>(in.gcount()));
    return strBytes;
}

TEST_F(LargeFileTest, PiecesPastTwoAndFourGiBCarryTheirOwnBytes) {
    ASSERT_TRUE(Login());
    const long long nSize = 4 * kGiB + 8 * kMiB + 5, nMark = 3 * kMiB;
    // random bytes at each region, zeros between: each region straddles a boundary, so the
    // pieces on both sides of it differ
    const long long vOffsets[] = {2 * kGiB - kMiB - 17, 4 * kGiB - kMiB - 17, nSize - nMark};
    const std::string strPath = m_strWork + "/large.bin";
    int fd = open(strPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_EQ(0, ftruncate(fd, nSize));
    std::mt19937 rng(7);
    std::string strBlock(static_cast<size_t>(nMark), '\0');
    for (long long nOffset : vOffsets) {
        for (char& c : strBlock)
            c = static_cast<char>(rng());
        ASSERT_EQ(nMark, pwrite(fd, strBlock.data(), strBlock.size(), nOffset));
    }
    close(fd);

    // pieces wait a moment at the service, so the upload can be stopped between two of them
    const std::string kSlowPieces = "action=stall&on=piece&seconds=0.1&count=100000";
    Fault(kSlowPieces);
    ASSERT_TRUE(StartFile(strPath));
    ASSERT_TRUE(WaitForLog(kPieces, 1, std::chrono::seconds(120)));
    ASSERT_TRUE(UploadManager::StopTask(strPath, true, TaskStatusStop));
    ASSERT_TRUE(WaitForIdle());
    ResumeInfo record;
    ASSERT_TRUE(ResumeManager::GetResumeInfo(strPath, record));
    ASSERT_EQ(40u, record.strFileHash.size());

    // Uploading gigabytes of zeros would take most of a minute: the service is made to hold
    // them, and the engine sends the pieces around each boundary and at the end.
    HoldZerosUpTo(record.strPickCode, LastPieceOffset(), 2 * kGiB - 2 * kMiB);
    Fault(kSlowPieces);
    ASSERT_TRUE(UploadManager::StartTask(strPath, "", ISPTypeAuto, "", "", true));
    ASSERT_TRUE(velmotest::waitFor([&] { return LastPieceOffset() >= 2 * kGiB + 2 * kMiB; },
                                   std::chrono::seconds(60)));
    ASSERT_TRUE(UploadManager::StopTask(strPath, true, TaskStatusStop));
    ASSERT_TRUE(WaitForIdle());
    HoldZerosUpTo(record.strPickCode, LastPieceOffset(), 4 * kGiB - 2 * kMiB);
    ASSERT_TRUE(UploadManager::StartTask(strPath, "", ISPTypeAuto, "", "", true));
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
