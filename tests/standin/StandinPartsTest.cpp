// The stand-in's readers on their own: form fields raw and encoded, the piece body, and status
// texts that must agree with the client's catalogue.
#include <gtest/gtest.h>

#include "FormFields.h"
#include "PieceBody.h"
#include "ServiceConstants.h"
#include "ServiceReplies.h"
#include "core/ErrorManager.h"
#include "utils/Utils.h"

namespace standin {
namespace {

TEST(StandinFormFieldsTest, RawValuesKeepTheirAmpersandsAndEncodedOnesAreDecoded) {
    FormFields f = FormFields::Parse("userid=7&filename=a&b=c.txt&filesize=3&path=",
                                     {"userid", "filename", "filesize", "path"});
    EXPECT_EQ("a&b=c.txt", f.Get("filename"));
    EXPECT_EQ("3", f.Get("filesize"));
    EXPECT_TRUE(f.Has("path"));
    EXPECT_EQ("filesize",
              FormFields::Parse("userid=7", {"userid"}).FirstMissing({"userid", "filesize"}));
    FormFields g = FormFields::Parse("name=x%20y%26z&raw=c++ 1&bad=100%", {"name", "raw", "bad"});
    EXPECT_EQ("x y&z", g.Get("name"));
    EXPECT_EQ("c++ 1", g.Get("raw"));
    EXPECT_EQ("100%", g.Get("bad"));
}

std::string Part(const std::string& strName, const std::string& strValue) {
    return "--" + std::string(_VelmoUpload::kUploadBoundary) +
           "\r\nContent-Disposition: form-data; name=\"" + strName + "\"\r\n\r\n" + strValue +
           "\r\n";
}

std::string ClientBody(const std::string& strData, const std::string& strSkip = "") {
    std::string strBody;
    for (const char* pName : {"fileid", "quickid", "ctrange", "cthash"})
        if (strSkip != pName)
            strBody += Part(pName, std::string(pName) + "-value");
    return strBody + "--" + _VelmoUpload::kUploadBoundary +
           "\r\nContent-Disposition: form-data; name=\"uploadfile\"; filename=\"pick\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           strData + "\r\n--" + _VelmoUpload::kUploadBoundary + "--";
}

TEST(StandinPieceBodyTest, ReadsTheClientsBodyWithBinaryData) {
    std::string strData("\r\n--\0\xff data \r\n", 14);
    std::string strBody = ClientBody(strData);
    std::string strBoundary, strError;
    ASSERT_TRUE(MultipartBoundary(
        std::string("multipart/form-data; boundary=") + _VelmoUpload::kUploadBoundary,
        strBoundary));
    PieceBody piece;
    ASSERT_TRUE(ParsePieceBody(strBody, strBoundary, piece, strError)) << strError;
    EXPECT_EQ("fileid-value", piece.strFileId);
    EXPECT_EQ("ctrange-value", piece.strRange);
    EXPECT_EQ("pick", piece.strFileName);
    EXPECT_EQ(strData, std::string(piece.pData, piece.nData));
}

TEST(StandinPieceBodyTest, RefusesMissingRepeatedAndUnknownParts) {
    std::string strError;
    PieceBody piece;
    const std::string strB = _VelmoUpload::kUploadBoundary;
    EXPECT_FALSE(ParsePieceBody(ClientBody("x", "cthash"), strB, piece, strError));
    EXPECT_FALSE(ParsePieceBody(Part("fileid", "1") + ClientBody("x"), strB, piece, strError));
    EXPECT_FALSE(ParsePieceBody(Part("extra", "1") + ClientBody("x"), strB, piece, strError));
    EXPECT_FALSE(ParsePieceBody(ClientBody("x"), "otherboundary", piece, strError));
    std::string strCut = ClientBody("xyz");
    EXPECT_FALSE(ParsePieceBody(strCut.substr(0, strCut.size() - 10), strB, piece, strError));
    std::string strBoundary;
    EXPECT_FALSE(MultipartBoundary("application/x-www-form-urlencoded", strBoundary));
    long long nStart = 0, nEnd = 0;
    EXPECT_TRUE(ParseRange("1048576-1048577", nStart, nEnd));
    EXPECT_EQ(1048577, nEnd);
    for (const char* pBad : {"5-5", "-1-3", "1-", "a-b", "3-2", "1-99999999999999999999"})
        EXPECT_FALSE(ParseRange(pBad, nStart, nEnd)) << pBad;
}

TEST(StandinStatusTextTest, EveryServiceCodeSaysWhatTheClientsCatalogueSays) {
    for (int nCode : {300, 400, 401, 402, 403, 404, 405, 410, 411, 412, 500, 501, 502, 600, 10014})
        EXPECT_EQ(
            _VelmoUpload::Utils::StringG2U(_VelmoUpload::ErrorManager::GetErrorMessage(nCode)),
            StatusText(nCode))
            << nCode;
}

}  // namespace
}  // namespace standin
