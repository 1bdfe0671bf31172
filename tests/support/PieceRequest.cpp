// Reads a raw piece request through standin's PieceBody reader, so tests and stand-in agree.
#include "PieceRequest.h"

#include <cstdlib>

#include "PieceBody.h"

namespace velmotest {

namespace {

// A header's value, its name spelled exactly as the engine writes it, so that a head whose
// spelling changed no longer reads as a piece request.
std::string HeaderValue(const std::string& strHead, const std::string& strName) {
    const std::string strKey = "\r\n" + strName + ": ";
    size_t nPos = strHead.find(strKey);
    if (nPos == std::string::npos)
        return std::string();
    nPos += strKey.size();
    return strHead.substr(nPos, strHead.find("\r\n", nPos) - nPos);
}

}  // namespace

PieceRequest ParsePieceRequest(const std::string& strRaw) {
    PieceRequest piece;
    const size_t nHeadEnd = strRaw.find("\r\n\r\n");
    if (nHeadEnd == std::string::npos)
        return piece;
    const std::string strHead = strRaw.substr(0, nHeadEnd + 2);
    const std::string strBody = strRaw.substr(nHeadEnd + 4);
    piece.nBodyLength = strBody.size();
    const std::string strLength = HeaderValue(strHead, "Content-Length");
    if (!strLength.empty())
        piece.nContentLength = atoll(strLength.c_str());
    std::string strBoundary, strError;
    standin::PieceBody body;
    if (!standin::MultipartBoundary(HeaderValue(strHead, "Content-Type"), strBoundary) ||
        !standin::ParsePieceBody(strBody, strBoundary, body, strError))
        return piece;
    piece.strFileId = body.strFileId;
    piece.strQuickId = body.strQuickId;
    piece.strRange = body.strRange;
    piece.strHash = body.strHash;
    piece.strFileName = body.strFileName;
    piece.strData.assign(body.pData, body.nData);
    piece.bParsed = true;
    return piece;
}

}  // namespace velmotest
