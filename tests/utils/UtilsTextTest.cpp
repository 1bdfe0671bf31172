// Number, size, duration and text conversions, on their boundaries.
#include <gtest/gtest.h>

#include "utils/Utils.h"

using _VelmoUpload::Utils;

namespace {

TEST(UtilsTextTest, ShowSizeSwitchesUnitAtEachBoundary) {
    EXPECT_EQ("0B", Utils::GetShowSize(0));
    EXPECT_EQ("1023B", Utils::GetShowSize(1023));
    EXPECT_EQ("1.00KB", Utils::GetShowSize(1024));
    EXPECT_EQ("1.50KB", Utils::GetShowSize(1536));
    EXPECT_EQ("1024.00KB", Utils::GetShowSize(1048575));
    EXPECT_EQ("1.00MB", Utils::GetShowSize(1048576));
    EXPECT_EQ("1024.00MB", Utils::GetShowSize(1073741823));
    EXPECT_EQ("1.00GB", Utils::GetShowSize(1073741824));
    EXPECT_EQ("1024.00GB", Utils::GetShowSize(1099511627775LL));
    EXPECT_EQ("1.00TB", Utils::GetShowSize(1099511627776LL));
    EXPECT_EQ("2048.00TB", Utils::GetShowSize(2199023255552LL * 1024));
    EXPECT_EQ("-5B", Utils::GetShowSize(-5));
}

TEST(UtilsTextTest, SecondToHourPadsEachPartAndLetsHoursGrow) {
    EXPECT_EQ("00:00:00", Utils::SecondToHour(0));
    EXPECT_EQ("00:00:59", Utils::SecondToHour(59));
    EXPECT_EQ("00:01:00", Utils::SecondToHour(60));
    EXPECT_EQ("01:00:00", Utils::SecondToHour(3600));
    EXPECT_EQ("01:01:01", Utils::SecondToHour(3661));
    EXPECT_EQ("23:59:59", Utils::SecondToHour(86399));
    EXPECT_EQ("100:00:00", Utils::SecondToHour(360000));
}

TEST(UtilsTextTest, NumbersReadAndWrittenAsUnsignedDecimal) {
    EXPECT_EQ(0, Utils::StringS2I("abc"));
    EXPECT_EQ(0, Utils::StringS2I(""));
    EXPECT_EQ(42, Utils::StringS2I("  42kb"));
    EXPECT_EQ(15000000000LL, Utils::StringS2I("15000000000"));
    EXPECT_EQ("0", Utils::StringI2S(0));
    EXPECT_EQ("1099511627776", Utils::StringI2S(1099511627776LL));
    EXPECT_EQ("18446744073709551615", Utils::StringI2S(-1));  // unsigned, never a sign
}

TEST(UtilsTextTest, RangeSplitsAtTheFirstDash) {
    long long nMin = -1, nMax = -1;
    ASSERT_TRUE(Utils::GetNumFromRange("0-1023", nMin, nMax));
    EXPECT_EQ(0, nMin);
    EXPECT_EQ(1023, nMax);
    ASSERT_TRUE(Utils::GetNumFromRange("-7", nMin, nMax));
    EXPECT_EQ(0, nMin);
    EXPECT_EQ(7, nMax);
    ASSERT_TRUE(Utils::GetNumFromRange("100-", nMin, nMax));
    EXPECT_EQ(100, nMin);
    EXPECT_EQ(0, nMax);
    nMin = nMax = 9;
    EXPECT_FALSE(Utils::GetNumFromRange("5", nMin, nMax));
    EXPECT_EQ(9, nMin);
    EXPECT_EQ(9, nMax);
}

TEST(UtilsTextTest, TrimAndLowerCase) {
    EXPECT_EQ("a b", Utils::StringLRTrim("  a b \r\n"));
    EXPECT_EQ("x", Utils::StringLRTrim("\tx\t"));
    EXPECT_EQ("   ", Utils::StringLRTrim("   "));
    EXPECT_EQ(" \r\n", Utils::StringLRTrim(" \r\n"));
    EXPECT_EQ("", Utils::StringLRTrim(""));
    EXPECT_EQ("a\vb", Utils::StringLRTrim("a\vb"));

    EXPECT_EQ("abc1f", Utils::StringToLowerCase("ABC1f"));
    // bytes above ASCII (UTF-8, GBK) pass through untouched
    EXPECT_EQ("\xC3\x89t\xC3\xA9", Utils::StringToLowerCase("\xC3\x89T\xC3\xA9"));
}

TEST(UtilsTextTest, GbkAndUtf8ConvertBothWays) {
    const std::string strUtf8 =
        "\xE7\xBD\x91\xE7\x9B\x98\xE7\xA9\xBA\xE9\x97\xB4 ok";  // 网盘空间 ok
    const std::string strGbk = "\xCD\xF8\xC5\xCC\xBF\xD5\xBC\xE4 ok";
    EXPECT_EQ(strGbk, Utils::StringU2G(strUtf8));
    EXPECT_EQ(strUtf8, Utils::StringG2U(strGbk));
    EXPECT_EQ("plain ascii", Utils::StringU2G("plain ascii"));
    EXPECT_EQ("", Utils::StringG2U(""));

    // a long message crosses any internal buffer size in one piece
    std::string strLongUtf8, strLongGbk;
    for (int i = 0; i < 5000; ++i) {
        strLongUtf8 += strUtf8;
        strLongGbk += strGbk;
    }
    EXPECT_EQ(strLongGbk, Utils::StringU2G(strLongUtf8));
    EXPECT_EQ(strLongUtf8, Utils::StringG2U(strLongGbk));

    // what cannot be converted comes back as it was
    const std::string strBroken = "ab\xFF\xFE";
    EXPECT_EQ(strBroken, Utils::StringU2G(strBroken));
    const std::string strTruncated = "\xCD";  // half a GBK character
    EXPECT_EQ(strTruncated, Utils::StringG2U(strTruncated));
    const std::string strNoGbk = "\xF0\x9F\x98\x80";  // an emoji has no GBK form
    EXPECT_EQ(strNoGbk, Utils::StringU2G(strNoGbk));
}

TEST(UtilsTextTest, CurTimeIsAMillisecondClock) {
    uint32_t nFirst = Utils::GetCurTime();
    struct timespec pause = {0, 30 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    uint32_t nElapsed = Utils::GetCurTime() - nFirst;  // wrap-safe difference
    EXPECT_GE(nElapsed, 25u);
    EXPECT_LT(nElapsed, 5000u);
}

TEST(UtilsTextTest, PlatformHooksDoNothing) {
    std::vector<std::string> files = {"x"};
    std::string strFolder = "y";
    EXPECT_FALSE(Utils::ShowSelectFileDlg(files, nullptr));
    EXPECT_FALSE(Utils::ShowSelectFolderDlg(strFolder, nullptr));
    EXPECT_EQ(1u, files.size());
    EXPECT_EQ("y", strFolder);
}

}  // namespace
