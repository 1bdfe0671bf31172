// Digests of bytes in memory: SHA-1 on both block paths, MD5 texts, the Utils digest texts and the
// MDVelmo sample offsets that must match the service's x87 arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <random>
#include <string>
#include <vector>

#include "TestHome.h"
#include "utils/Utils.h"
#include "utils/sha1.h"

using _VelmoUpload::SHA1;
using _VelmoUpload::Utils;
using velmotest::RandomBytes;

namespace {

std::string Hex(const unsigned char* p, size_t n) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Feeds the message in pieces whose sizes cycle through splits.
std::string Sha1InPieces(const std::string& strMessage, const std::vector<size_t>& splits) {
    SHA1 sha;
    size_t nPos = 0;
    for (size_t i = 0; nPos < strMessage.size(); ++i) {
        const size_t n = std::min(splits[i % splits.size()], strMessage.size() - nPos);
        EXPECT_TRUE(sha.Input(Bytes(strMessage) + nPos, n));
        nPos += n;
    }
    unsigned char digest[SHA1::DigestSize];
    EXPECT_TRUE(sha.Result(digest));
    return Hex(digest, sizeof(digest));
}

std::string Sha1(const std::string& strMessage) {
    return Sha1InPieces(strMessage, {strMessage.size() + 1});
}

// Runs each case once on the portable code and once on the SHA extensions.
class DigestSha1PathTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        const bool bHardware = GetParam();
        if (bHardware && !SHA1::HardwareAvailable())
            GTEST_SKIP() << "CPU has no SHA extensions";
        SHA1::ForcePortable(!bHardware);
        ASSERT_EQ(bHardware, SHA1::HardwareActive());
    }
    void TearDown() override { SHA1::ForcePortable(false); }
};

TEST_P(DigestSha1PathTest, PublishedVectorsWhateverTheSplits) {
    std::string strRepeated;
    for (int i = 0; i < 80; ++i)
        strRepeated += "01234567";
    const std::pair<std::string, const char*> kVectors[] = {
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {strRepeated, "DEA356A2CDDD90C7A7ECEDC5EBB563934F460452"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
    for (const auto& v : kVectors) {
        EXPECT_EQ(v.second, Sha1(v.first));
        EXPECT_EQ(v.second, Sha1InPieces(v.first, {1000}));
    }
    // lengths around the padding boundary (55/56 bytes into a block) and several blocks long
    for (size_t nLength : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u, 8193u}) {
        SCOPED_TRACE(nLength);
        const std::string strMessage = RandomBytes(nLength, static_cast<unsigned>(nLength));
        const std::string strWhole = Sha1(strMessage);
        EXPECT_EQ(strWhole, Sha1InPieces(strMessage, {1}));
        EXPECT_EQ(strWhole, Sha1InPieces(strMessage, {63, 65}));
        EXPECT_EQ(strWhole, Sha1InPieces(strMessage, {7, 128, 0, 200}));
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, DigestSha1PathTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ShaNi" : "Portable";
                         });

TEST(DigestMd5Test, Rfc1321Suite) {
    const std::pair<const char*, const char*> kCases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.second, Utils::GetMD5(c.first)) << c.first;
}

TEST(DigestUtilsTest, GetHashTextsAndRefusals) {
    std::string strHash;
    ASSERT_TRUE(Utils::GetHash(std::string("abc"), strHash));
    EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", strHash);
    // bytes past a NUL still count
    ASSERT_TRUE(Utils::GetHash(Bytes(std::string("a\0b", 3)), 3, strHash));
    EXPECT_EQ(Sha1(std::string("a\0b", 3)), strHash);
    strHash = "untouched";
    EXPECT_FALSE(Utils::GetHash(std::string(), strHash));
    EXPECT_FALSE(Utils::GetHash(nullptr, 3, strHash));
    EXPECT_EQ("untouched", strHash);
}

#if LDBL_MANT_DIG == 64
void ExpectLikeExtended(long long nSize) {
    long long offsets[5];
    Utils::GetMDVelmoOffsets(nSize, offsets);
    const long long nExpected[5] = {
        0, static_cast<long long>(static_cast<long double>(nSize) * 0.13),
        static_cast<long long>(static_cast<long double>(nSize) * 0.37),
        static_cast<long long>(static_cast<long double>(nSize) * 0.62), nSize - 5120};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(nExpected[i], offsets[i]) << "size " << nSize << " offset " << i;
}
#endif

TEST(DigestMDVelmoOffsetsTest, MatchesExtendedPrecisionEverywhere) {
#if LDBL_MANT_DIG == 64
    // Every size of the first few blocks.
    for (long long nSize = 25601; nSize <= 200000; ++nSize)
        ExpectLikeExtended(nSize);

    // Odd multiples of powers of two put the product exactly halfway between two 64-bit
    // significands, where only ties-to-even gives the x87 answer.
    for (int nShift = 0; nShift < 48; ++nShift) {
        for (long long nOdd = 1; nOdd < (1LL << 14); nOdd += 2) {
            const long long nSize = nOdd << nShift;
            if (nSize > 25600)
                ExpectLikeExtended(nSize);
        }
    }

    // Powers of two and their neighbours up to the largest size.
    for (int nBit = 15; nBit < 63; ++nBit) {
        const long long nPower = 1LL << nBit;
        for (long long nDelta = -3; nDelta <= 3; ++nDelta)
            ExpectLikeExtended(nPower + nDelta);
    }
    ExpectLikeExtended(0x7FFFFFFFFFFFFFFFLL);

    // Sizes spread evenly over every magnitude up to 2^62.
    std::mt19937_64 gen(20240601);
    for (int i = 0; i < 300000; ++i) {
        const int nBits = 15 + static_cast<int>(gen() % 48);
        const long long nSize =
            static_cast<long long>(gen() >> (64 - nBits)) | (1LL << (nBits - 1));
        ExpectLikeExtended(nSize);
    }
#else
    GTEST_SKIP() << "long double is not the x87 extended format here";
#endif
}

}  // namespace
