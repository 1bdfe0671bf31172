// Form and query values: what gets percent-encoded, what must go out untouched, and that
// decoding gives back exactly what was encoded.
#include <gtest/gtest.h>

#include <string>

#include "http/FormText.h"

using _VelmoUpload::FormText;
using _VelmoUpload::UrlDecode;
using _VelmoUpload::UrlEncode;

namespace {

TEST(FormTextTest, ReservedAndSpecialCharactersAreEncoded) {
    EXPECT_EQ("Tom%20%26%20Jerry.mp4", UrlEncode("Tom & Jerry.mp4"));
    EXPECT_EQ("50%25%2Boff.txt", UrlEncode("50%+off.txt"));
    EXPECT_EQ("a%3Db%3Fc%2Fd%23e", UrlEncode("a=b?c/d#e"));
    // bytes of a UTF-8 name, each as upper-case hex
    EXPECT_EQ("%E6%96%87%E4%BB%B6", UrlEncode("\xE6\x96\x87\xE4\xBB\xB6"));
    EXPECT_EQ("%00%0D%0A%FF", UrlEncode(std::string("\0\r\n\xFF", 4)));
    EXPECT_EQ("", UrlEncode(""));
}

TEST(FormTextTest, OrdinaryValuesGoOutByteIdentical) {
    const std::string vValues[] = {
        "0123456789",
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ",
        "-._~",
        "linux_1.0.1026.4",
        "da39a3ee5e6b4b0d3255bfef95601890afd80709",
        "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709",
        "1234567890123",
    };
    for (const std::string& strValue : vValues) {
        EXPECT_EQ(strValue, UrlEncode(strValue));
        EXPECT_EQ(strValue, UrlDecode(strValue));
    }
}

TEST(FormTextTest, DecodingUndoesEncodingForEveryByte) {
    std::string strAll;
    for (int c = 0; c < 256; ++c)
        strAll += static_cast<char>(c);
    const std::string strEncoded = UrlEncode(strAll);
    EXPECT_EQ(std::string::npos, strEncoded.find_first_of(" &=+#?/\r\n"))
        << "an encoded value must not be able to split a form";
    EXPECT_TRUE(UrlDecode(strEncoded) == strAll);
    for (int c = 0; c < 256; ++c) {
        const std::string strOne(1, static_cast<char>(c));
        EXPECT_EQ(strOne, UrlDecode(UrlEncode(strOne))) << "byte " << c;
    }
}

TEST(FormTextTest, DecodingReadsPlusAsSpaceAndKeepsStrayPercents) {
    EXPECT_EQ("Tom & Jerry.mp4", UrlDecode("Tom+%26+Jerry.mp4"));
    EXPECT_EQ("50%+off.txt", UrlDecode("50%25%2Boff.txt"));
    EXPECT_EQ("\xAB\xCD", UrlDecode("%ab%Cd"));
    // a "%" without two hex digits after it is taken literally
    EXPECT_EQ("100%", UrlDecode("100%"));
    EXPECT_EQ("%4", UrlDecode("%4"));
    EXPECT_EQ("%zz%4g", UrlDecode("%zz%4g"));
    EXPECT_EQ("A", UrlDecode("%41"));
}

TEST(FormTextTest, FieldsAreJoinedWithOnlyTheirValuesEncoded) {
    FormText form;
    form.Add("filename", "Tom & Jerry.mp4").Add("filesize", "1024").Add("target", "U_1_0");
    EXPECT_EQ("filename=Tom%20%26%20Jerry.mp4&filesize=1024&target=U_1_0", form.Text());
    EXPECT_EQ("", FormText().Text());
    EXPECT_EQ("empty=", FormText().Add("empty", "").Text());
}

}  // namespace
