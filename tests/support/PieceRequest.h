// A piece request as the engine sent it, taken apart with the stand-in's own multipart reader.
#pragma once

#include <string>

namespace velmotest {

struct PieceRequest {
    bool bParsed = false;
    long long nContentLength = -1;
    size_t nBodyLength = 0;
    std::string strFileId, strQuickId, strRange, strHash, strFileName;
    std::string strData;
};

// The raw request (head and body); bParsed false when the body is not a well-formed piece.
PieceRequest ParsePieceRequest(const std::string& strRaw);

}  // namespace velmotest
