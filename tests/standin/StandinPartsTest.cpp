// The stand-in's piece reader on its own, and status texts that must agree with the client's
// catalogue.
#include <gtest/gtest.h>

#include "PieceBody.h"
#include "ServiceConstants.h"
#include "ServiceReplies.h"
#include "core/ErrorManager.h"
#include "utils/Utils.h"

namespace standin {
namespace {

const std::string kBoundary = _VelmoUpload::kUploadBoundary;

std::string Part(const std::string& strName) {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + strName +
           "\"\r\n\r\n" + strName + "-value\r\n";
}

// The client's body, without the part strSkip.
std::string ClientBody(const std::string& strSkip = "") {
    std::string strBody;
    for (const char* pName : {"fileid", "quickid", "ctrange", "cthash"})
        if (strSkip != pName)
            strBody += Part(pName);
    return strBody + "--" + kBoundary +
           "\r\nContent-Disposition: form-data; name=\"uploadfile\"; filename=\"pick\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\nxyz\r\n--" +
           kBoundary + "--";
}

TEST(StandinPieceBodyTest, RefusesMissingRepeatedAndUnknownPartsAndBadRanges) {
    std::string strError;
    PieceBody piece;
    ASSERT_TRUE(ParsePieceBody(ClientBody(), kBoundary, piece, strError)) << strError;
    const std::string strCut = ClientBody().substr(0, ClientBody().size() - 10);
    for (const std::string& strBad : {ClientBody("cthash"), Part("fileid") + ClientBody(),
                                      Part("extra") + ClientBody(), strCut})
        EXPECT_FALSE(ParsePieceBody(strBad, kBoundary, piece, strError)) << strBad;
    EXPECT_FALSE(ParsePieceBody(ClientBody(), "otherboundary", piece, strError));
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
