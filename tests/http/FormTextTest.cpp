// Form and query values: what gets percent-encoded, what must go out untouched, and that
// decoding gives back exactly what was encoded.
#include <gtest/gtest.h>

#include <string>

#include "http/FormText.h"

using _VelmoUpload::FormText;
using _VelmoUpload::UrlDecode;
using _VelmoUpload::UrlEncode;

namespace {

TEST(FormTextTest, ValuesAreEncodedAndDecodedBackByteForByte) {
    EXPECT_EQ("Tom%20%26%20Jerry.mp4", UrlEncode("Tom & Jerry.mp4"));
    EXPECT_EQ("50%25%2Boff.txt", UrlEncode("50%+off.txt"));
    EXPECT_EQ("a%3Db%3Fc%2Fd%23e", UrlEncode("a=b?c/d#e"));
    EXPECT_EQ("%E6%96%87%00%0D%0A%FF", UrlEncode(std::string("\xE6\x96\x87\0\r\n\xFF", 7)));
    // hashes, version and numbers go out byte-identical
    const std::string strPlain =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-._~linux_1.0.1026.4";
    EXPECT_EQ(strPlain, UrlEncode(strPlain));

    std::string strAll;
    for (int c = 0; c < 256; ++c)
        strAll += static_cast<char>(c);
    EXPECT_EQ(std::string::npos, UrlEncode(strAll).find_first_of(" &=+#?/\r\n"))
        << "an encoded value must not be able to split a form";
    EXPECT_TRUE(UrlDecode(UrlEncode(strAll)) == strAll);

    // "+" reads as a space; a "%" without two hex digits after it is taken literally
    EXPECT_EQ("Tom & Jerry.mp4", UrlDecode("Tom+%26+Jerry.mp4"));
    EXPECT_EQ(
        "\xAB\xCD"
        "100%%4%zz%4g",
        UrlDecode("%ab%Cd100%%4%zz%4g"));
}

TEST(FormTextTest, FieldsAreJoinedWithOnlyTheirValuesEncoded) {
    FormText form;
    form.Add("filename", "Tom & Jerry.mp4").Add("filesize", "1024").Add("empty", "");
    EXPECT_EQ("filename=Tom%20%26%20Jerry.mp4&filesize=1024&empty=", form.Text());
    EXPECT_EQ("", FormText().Text());
}

}  // namespace
