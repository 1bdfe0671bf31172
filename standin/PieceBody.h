// The multipart/form-data body of one piece upload: the five fields the client sends with it
// and where the piece bytes lie inside the body (no copy).
#pragma once

#include <cstddef>
#include <string>

namespace standin {

struct PieceBody {
    std::string strFileId;
    std::string strQuickId;
    std::string strRange;     // "START-END", END just after the last byte
    std::string strHash;      // SHA-1 text of the piece
    std::string strFileName;  // the pick code, from the file part's disposition
    const char* pData = nullptr;
    size_t nData = 0;
};

// The boundary parameter of a multipart/form-data Content-Type; false when it is not one.
bool MultipartBoundary(const std::string& strContentType, std::string& strBoundary);

// Reads the body; false with the reason when it is not well-formed multipart, or a part is
// missing, repeated or unknown. The data pointer refers into strBody.
bool ParsePieceBody(const std::string& strBody, const std::string& strBoundary, PieceBody& piece,
                    std::string& strError);

// "START-END" with END > START >= 0; false for anything else.
bool ParseRange(const std::string& strRange, long long& nStart, long long& nEnd);

}  // namespace standin
