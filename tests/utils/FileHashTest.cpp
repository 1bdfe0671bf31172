// Whole-file SHA-1 and MDVelmo on real files, checked against the system's sha1sum, plus the
// progress callback, error codes and the sampling of files beyond 4 GiB.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "TestHome.h"
#include "utils/Utils.h"

using _VelmoUpload::Utils;
using velmotest::RandomBytes;
using velmotest::WriteFile;

namespace {

const char kEmptySha1[] = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

// The reference digest, from a program that shares no code with the client; upper-cased to
// compare with the client's texts.
std::string Sha1sum(const std::string& strPath) {
    std::string strHash(40, '?');
    if (FILE* pPipe = popen(("sha1sum '" + strPath + "'").c_str(), "r")) {
        if (fread(&strHash[0], 1, strHash.size(), pPipe) != strHash.size())
            strHash = "no sha1sum output";
        pclose(pPipe);
    }
    for (char& c : strHash)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return strHash;
}

// The MDVelmo input laid out by hand: the five blocks at the given offsets, then the size.
std::string SampleBytes(const std::string& strContent, const std::vector<long long>& offsets) {
    std::string strSamples;
    for (long long nOffset : offsets)
        strSamples += strContent.substr(static_cast<size_t>(nOffset), 5120);
    return strSamples + std::to_string(strContent.size());
}

std::vector<long long> g_totals;
int g_nCallsBeforeCancel = -1;

bool RecordProgress(std::string strPath, long long nHashed) {
    (void)strPath;
    g_totals.push_back(nHashed);
    return g_nCallsBeforeCancel < 0 || static_cast<int>(g_totals.size()) < g_nCallsBeforeCancel;
}

class FileHashTest : public velmotest::TempHomeTest {
protected:
    void SetUp() override {
        velmotest::TempHomeTest::SetUp();
        g_totals.clear();
        g_nCallsBeforeCancel = -1;
    }

    std::string MakeFile(const std::string& strName, const std::string& strContent) {
        const std::string strPath = m_strWork + "/" + strName;
        WriteFile(strPath, strContent);
        return strPath;
    }

    std::string Sha1sumOfBytes(const std::string& strContent) {
        return Sha1sum(MakeFile("expected.bin", strContent));
    }
};

// Sizes around the 8 KiB read steps, the small-file limit of MDVelmo and the larger reads (the
// SHA-1 padding boundaries and both block paths are the digest tests' part).
TEST_F(FileHashTest, WholeFileAndSmallMDVelmoMatchSha1sum) {
    for (size_t nSize :
         {0, 1, 8191, 8192, 8193, 25600, 25601, (1 << 20) - 1, 1 << 20, (1 << 20) + 1}) {
        SCOPED_TRACE(nSize);
        const std::string strPath =
            MakeFile("f" + std::to_string(nSize), RandomBytes(nSize, nSize + 1));
        const std::string strExpected = Sha1sum(strPath);
        std::string strHash;
        int nError = 0;
        ASSERT_TRUE(Utils::GetFileHash(strPath, strHash, nError, nullptr));
        EXPECT_EQ(strExpected, strHash);
        EXPECT_EQ(0, nError);

        // The progress path hashes in 8 KiB steps and must reach the same digest.
        std::string strWithProgress;
        ASSERT_TRUE(Utils::GetFileHash(strPath, strWithProgress, nError, RecordProgress));
        EXPECT_EQ(strExpected, strWithProgress);

        if (nSize <= 25600) {
            std::string strMDVelmo;
            ASSERT_TRUE(Utils::GetFileMDVelmo(strPath, strMDVelmo, nError));
            EXPECT_EQ(strExpected, strMDVelmo);
        }
    }
}

TEST_F(FileHashTest, SampledMDVelmoMatchesSha1sumOfTheSamples) {
    // Offsets worked out apart from the client, with exact x87 extended arithmetic.
    const struct {
        size_t nSize;
        std::vector<long long> offsets;
    } kCases[] = {
        {25601, {0, 3328, 9472, 15872, 20481}},
        {100000, {0, 13000, 36999, 61999, 94880}},
        {1048575, {0, 136314, 387972, 650116, 1043455}},
        {1048576, {0, 136314, 387973, 650117, 1043456}},
        {1048577, {0, 136315, 387973, 650117, 1043457}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.nSize);
        const std::string strContent = RandomBytes(c.nSize, static_cast<unsigned>(c.nSize));
        const std::string strPath = MakeFile("big.bin", strContent);
        const std::string strExpected = Sha1sumOfBytes(SampleBytes(strContent, c.offsets));
        std::string strMDVelmo;
        int nError = 0;
        ASSERT_TRUE(Utils::GetFileMDVelmo(strPath, strMDVelmo, nError)) << nError;
        EXPECT_EQ(strExpected, strMDVelmo);
        EXPECT_NE(Sha1sum(strPath), strMDVelmo);
    }
}

TEST_F(FileHashTest, ProgressSeesEveryStepThenTheSizeAndCanCancel) {
    // a file that spans several large reads still reports every 8 KiB step, in order
    const size_t nLarge = 3 * 1024 * 1024 + 100;
    const std::string strLarge = MakeFile("large.bin", RandomBytes(nLarge, 2));
    std::string strHash;
    int nError = 0;
    ASSERT_TRUE(Utils::GetFileHash(strLarge, strHash, nError, RecordProgress));
    EXPECT_EQ(Sha1sum(strLarge), strHash);
    ASSERT_EQ((nLarge + 8191) / 8192, g_totals.size());
    for (size_t i = 0; i + 1 < g_totals.size(); ++i)
        ASSERT_EQ(8192 * static_cast<long long>(i + 1), g_totals[i]);
    EXPECT_EQ(static_cast<long long>(nLarge), g_totals.back());

    // an empty file never calls back
    g_totals.clear();
    ASSERT_TRUE(Utils::GetFileHash(MakeFile("empty", ""), strHash, nError, RecordProgress));
    EXPECT_EQ(kEmptySha1, strHash);
    EXPECT_TRUE(g_totals.empty());

    // a cancel stops with 1001 at that step, even with reads already queued ahead
    for (int nCancelAt : {1, 200}) {
        g_totals.clear();
        g_nCallsBeforeCancel = nCancelAt;
        strHash = "untouched";
        EXPECT_FALSE(Utils::GetFileHash(strLarge, strHash, nError, RecordProgress));
        EXPECT_EQ(1001, nError);
        EXPECT_EQ("untouched", strHash);
        EXPECT_EQ(static_cast<size_t>(nCancelAt), g_totals.size());
    }
}

TEST_F(FileHashTest, FilesThatCannotBeReadGiveTheirErrors) {
    const std::string strSecret = MakeFile("secret", "data");
    ASSERT_EQ(0, chmod(strSecret.c_str(), 0));
    const bool bPermissionsApply = access(strSecret.c_str(), R_OK) != 0;
    // a directory opens but cannot be read: a read error for SHA-1, and for MDVelmo the
    // small-file code or a short sample, whichever its reported size leads to
    struct stat st;
    ASSERT_EQ(0, stat(m_strWork.c_str(), &st));
    const struct {
        std::string strPath;
        int nHashError, nMDVelmoError;
    } kCases[] = {
        {m_strWork + "/missing", ENOENT, ENOENT},
        {m_strWork, 1101, st.st_size <= 25600 ? 1106 : 1104},
        {strSecret, EACCES, EACCES},
    };
    for (const auto& c : kCases) {
        if (c.strPath == strSecret && !bPermissionsApply)
            continue;  // permissions do not apply to this user
        std::string strHash = "untouched";
        int nError = 0;
        EXPECT_FALSE(Utils::GetFileHash(c.strPath, strHash, nError, RecordProgress));
        EXPECT_EQ(c.nHashError, nError) << c.strPath;
        EXPECT_FALSE(Utils::GetFileMDVelmo(c.strPath, strHash, nError));
        EXPECT_EQ(c.nMDVelmoError, nError) << c.strPath;
        EXPECT_EQ("untouched", strHash);
    }
    EXPECT_TRUE(g_totals.empty());
}

TEST_F(FileHashTest, SparseFileBeyond4GiBIsSampledAtTheRightOffsets) {
    const long long nSize = 5LL * 1024 * 1024 * 1024 + 12345;
    // Worked out apart from the client, with exact x87 extended arithmetic.
    const long long kOffsets[5] = {0, 697933790, 1986426942, 3328607308, nSize - 5120};
    const std::string strPath = m_strWork + "/sparse.bin";
    const int fd = open(strPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, nSize) != 0) {
        close(fd);
        GTEST_SKIP() << "file system refuses a file of this size";
    }
    // Random data around every sample, so a block read even one byte off changes the digest;
    // everything else stays a hole.
    for (int i = 0; i < 5; ++i) {
        const long long nStart = kOffsets[i] >= 4096 ? kOffsets[i] - 4096 : 0;
        const std::string strNoise = RandomBytes(5120 + 8192, 10 + i);
        const size_t nLength =
            static_cast<size_t>(std::min<long long>(strNoise.size(), nSize - nStart));
        ASSERT_EQ(static_cast<ssize_t>(nLength), pwrite(fd, strNoise.data(), nLength, nStart));
    }
    std::string strSamples;
    for (long long nOffset : kOffsets) {
        char block[5120];
        ASSERT_EQ(5120, pread(fd, block, sizeof(block), nOffset));
        strSamples.append(block, sizeof(block));
    }
    close(fd);
    strSamples += std::to_string(nSize);

    std::string strMDVelmo;
    int nError = 0;
    ASSERT_TRUE(Utils::GetFileMDVelmo(strPath, strMDVelmo, nError)) << nError;
    EXPECT_EQ(Sha1sumOfBytes(strSamples), strMDVelmo);
}

}  // namespace
