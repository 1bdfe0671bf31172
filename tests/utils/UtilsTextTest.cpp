// Number, size, duration and text conversions, on their boundaries.
#include <gtest/gtest.h>

#include "utils/Utils.h"

using _VelmoUpload::Utils;

namespace {

TEST(UtilsTextTest, SizesDurationsAndNumbersOnTheirBoundaries) {
    const std::pair<long long, const char*> kSizes[] = {{0, "0B"},
                                                        {1023, "1023B"},
                                                        {1024, "1.00KB"},
                                                        {1536, "1.50KB"},
                                                        {1048575, "1024.00KB"},
                                                        {1048576, "1.00MB"},
                                                        {1073741824, "1.00GB"},
                                                        {1099511627776LL, "1.00TB"},
                                                        {2251799813685248LL, "2048.00TB"},
                                                        {-5, "-5B"}};
    for (const auto& size : kSizes)
        EXPECT_EQ(size.second, Utils::GetShowSize(size.first)) << size.first;
    EXPECT_EQ("100:00:00", Utils::SecondToHour(360000));

    EXPECT_EQ(0, Utils::StringS2I("abc"));
    EXPECT_EQ(42, Utils::StringS2I("  42kb"));
    EXPECT_EQ(15000000000LL, Utils::StringS2I("15000000000"));

    long long nMin = -1, nMax = -1;
    ASSERT_TRUE(Utils::GetNumFromRange("100-", nMin, nMax));
    EXPECT_EQ(100, nMin);
    EXPECT_EQ(0, nMax);
    ASSERT_TRUE(Utils::GetNumFromRange("-7", nMin, nMax));
    EXPECT_EQ(7, nMax);
    EXPECT_FALSE(Utils::GetNumFromRange("5", nMin, nMax));
    EXPECT_EQ(7, nMax);
}

TEST(UtilsTextTest, TrimAndLowerCaseLeaveOtherBytesAlone) {
    EXPECT_EQ("a b", Utils::StringLRTrim("  a b \r\n"));
    EXPECT_EQ("a\vb", Utils::StringLRTrim("\ta\vb\t"));
    // bytes above ASCII (UTF-8, GBK) pass through untouched
    EXPECT_EQ("abc1f\xC3\x89t", Utils::StringToLowerCase("ABC1f\xC3\x89T"));
}

TEST(UtilsTextTest, GbkAndUtf8ConvertBothWays) {
    const std::string strUtf8 =
        "\xE7\xBD\x91\xE7\x9B\x98\xE7\xA9\xBA\xE9\x97\xB4 ok";  // 网盘空间 ok
    const std::string strGbk = "\xCD\xF8\xC5\xCC\xBF\xD5\xBC\xE4 ok";
    // a long message crosses any internal buffer size in one piece
    std::string strLongUtf8, strLongGbk;
    for (int i = 0; i < 5000; ++i) {
        strLongUtf8 += strUtf8;
        strLongGbk += strGbk;
    }
    EXPECT_EQ(strLongGbk, Utils::StringU2G(strLongUtf8));
    EXPECT_EQ(strLongUtf8, Utils::StringG2U(strLongGbk));
    EXPECT_EQ("", Utils::StringG2U(""));
    // what cannot be converted comes back as it was: broken UTF-8, half a GBK character, and
    // an emoji, which has no GBK form
    EXPECT_EQ("ab\xFF\xFE", Utils::StringU2G("ab\xFF\xFE"));
    EXPECT_EQ("\xCD", Utils::StringG2U("\xCD"));
    EXPECT_EQ("\xF0\x9F\x98\x80", Utils::StringU2G("\xF0\x9F\x98\x80"));
}

}  // namespace
