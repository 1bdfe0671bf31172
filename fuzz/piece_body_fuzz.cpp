// A piece upload on any bytes: the Content-Type on the first line, the body after it (the
// client's boundary when the line names none; the line is also read as a range). A body that
// is taken lies inside what arrived and has no field that holds the boundary (the piece may:
// a file can hold any bytes, the boundary's text among them, and is read up to the closing
// delimiter); a range that is taken is a non-empty stretch from 0 up.
#include "PieceBody.h"
#include "ServiceConstants.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strInput = FuzzText(pData, nSize);
    const size_t nLineEnd = strInput.find('\n');
    const std::string strType = strInput.substr(0, nLineEnd);
    const std::string strBody =
        nLineEnd == std::string::npos ? std::string() : strInput.substr(nLineEnd + 1);

    std::string strBoundary;
    if (standin::MultipartBoundary(strType, strBoundary))
        FUZZ_CHECK(!strBoundary.empty() && strBoundary.size() <= 200);
    else
        strBoundary = _VelmoUpload::kUploadBoundary;

    standin::PieceBody piece;
    std::string strError;
    if (standin::ParsePieceBody(strBody, strBoundary, piece, strError)) {
        FUZZ_CHECK(piece.pData >= strBody.data() &&
                   piece.pData + piece.nData <= strBody.data() + strBody.size());
        const std::string strDelimiter = "\r\n--" + strBoundary;
        for (const std::string& strPart :
             {piece.strFileId, piece.strQuickId, piece.strRange, piece.strHash})
            FUZZ_CHECK(strPart.find(strDelimiter) == std::string::npos);
    } else {
        FUZZ_CHECK(!strError.empty());
    }

    for (const std::string& strRange : {piece.strRange, strType}) {
        long long nStart = -1, nEnd = -1;
        if (standin::ParseRange(strRange, nStart, nEnd))
            FUZZ_CHECK(nStart >= 0 && nStart < nEnd);
    }
    return 0;
}
