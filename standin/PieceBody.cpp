// A strict reader of the piece body the client builds: any multipart layout is accepted, but
// every field must be there exactly once and nothing else may be.
#include "PieceBody.h"

#include <cstring>
#include <string.h>

namespace standin {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    std::string::size_type b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    std::string::size_type e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The value of a ";"-separated parameter (name="x" or name=x) in a header value.
bool HeaderParam(const std::string& strValue, const std::string& strParam, std::string& strOut) {
    std::string::size_type nPos = 0;
    while (nPos < strValue.size()) {
        std::string::size_type nSemi = strValue.find(';', nPos);
        if (nSemi == std::string::npos)
            return false;
        nPos = nSemi + 1;
        std::string::size_type nEq = strValue.find('=', nPos);
        if (nEq == std::string::npos)
            return false;
        std::string strName = Lower(Trim(strValue.substr(nPos, nEq - nPos)));
        std::string::size_type nVal = nEq + 1;
        std::string strVal;
        if (nVal < strValue.size() && strValue[nVal] == '"') {
            std::string::size_type nClose = strValue.find('"', nVal + 1);
            if (nClose == std::string::npos)
                return false;
            strVal = strValue.substr(nVal + 1, nClose - nVal - 1);
            nPos = nClose + 1;
        } else {
            std::string::size_type nNext = strValue.find(';', nVal);
            strVal = Trim(strValue.substr(
                nVal, nNext == std::string::npos ? std::string::npos : nNext - nVal));
            nPos = nNext == std::string::npos ? strValue.size() : nNext;
        }
        if (strName == strParam) {
            strOut = strVal;
            return true;
        }
    }
    return false;
}

const char* Find(const char* pBegin, const char* pEnd, const std::string& strNeedle) {
    if (pEnd <= pBegin)
        return nullptr;
    return static_cast<const char*>(
        memmem(pBegin, static_cast<size_t>(pEnd - pBegin), strNeedle.data(), strNeedle.size()));
}

// The Content-Disposition of one part's header lines ("\r\n"-separated): its name and
// filename, each with whether it was there. Other header fields are skipped.
bool ReadPartHeaders(const std::string& strHeaders, std::string& strName, bool& bHasName,
                     std::string& strFileName, bool& bHasFileName, std::string& strError) {
    std::string::size_type nLine = 0;
    while (nLine <= strHeaders.size()) {
        std::string::size_type nEol = strHeaders.find("\r\n", nLine);
        if (nEol == std::string::npos)
            nEol = strHeaders.size();
        std::string strLine = strHeaders.substr(nLine, nEol - nLine);
        nLine = nEol + 2;
        std::string::size_type nColon = strLine.find(':');
        if (nColon == std::string::npos) {
            strError = "malformed part header";
            return false;
        }
        if (Lower(Trim(strLine.substr(0, nColon))) != "content-disposition")
            continue;
        std::string strValue = strLine.substr(nColon + 1);
        if (Lower(Trim(strValue.substr(0, strValue.find(';')))) != "form-data") {
            strError = "part is not form-data";
            return false;
        }
        bHasName = HeaderParam(strValue, "name", strName);
        bHasFileName = HeaderParam(strValue, "filename", strFileName);
    }
    return true;
}

// Where the data of a part starting at pData ends (the delimiter before the next part), or
// nullptr. The piece is usually the last part: its end is looked for at the body's tail first,
// before searching through a megabyte of data for the delimiter.
const char* PartEnd(const char* pData, const char* pEnd, const std::string& strNextDelim,
                    bool bPiece) {
    if (bPiece) {
        const std::string strClose = strNextDelim + "--";
        const char* pTail = pEnd;
        if (pTail - pData >= 2 && pTail[-2] == '\r' && pTail[-1] == '\n')
            pTail -= 2;
        if (pTail - pData >= static_cast<long>(strClose.size()) &&
            memcmp(pTail - strClose.size(), strClose.data(), strClose.size()) == 0)
            return pTail - strClose.size();
    }
    return Find(pData, pEnd, strNextDelim);
}

// The parts of a piece body, by name; the file part, last, carries the piece itself.
constexpr int kPartCount = 5;
constexpr int kFilePart = 4;
const char* const kNames[kPartCount] = {"fileid", "quickid", "ctrange", "cthash", "uploadfile"};

// The index of the part named strName, marked as seen; -1 with strError for a name that is no
// part, or a part seen before.
int ClaimPart(const std::string& strName, bool seen[kPartCount], std::string& strError) {
    int nIndex = -1;
    for (int i = 0; i < kPartCount; ++i)
        if (strName == kNames[i])
            nIndex = i;
    if (nIndex < 0) {
        strError = "unknown part " + strName;
        return -1;
    }
    if (seen[nIndex]) {
        strError = "part " + strName + " repeated";
        return -1;
    }
    seen[nIndex] = true;
    return nIndex;
}

// Keeps a part's data in piece: a short text field, or where the file part's bytes lie.
// pFileName is the part's filename, null when its disposition has none.
bool StorePart(int nIndex, const std::string& strName, const std::string* pFileName,
               const char* pData, const char* pDataEnd, PieceBody& piece, std::string& strError) {
    std::string* pField[kFilePart] = {&piece.strFileId, &piece.strQuickId, &piece.strRange,
                                      &piece.strHash};
    if (nIndex < kFilePart) {
        if (pDataEnd - pData > 256) {
            strError = "part " + strName + " too long";
            return false;
        }
        pField[nIndex]->assign(pData, pDataEnd);
        return true;
    }
    if (!pFileName) {
        strError = "file part without a filename";
        return false;
    }
    piece.strFileName = *pFileName;
    piece.pData = pData;
    piece.nData = static_cast<size_t>(pDataEnd - pData);
    return true;
}

}  // namespace

bool MultipartBoundary(const std::string& strContentType, std::string& strBoundary) {
    std::string strType = Lower(Trim(strContentType.substr(0, strContentType.find(';'))));
    if (strType != "multipart/form-data")
        return false;
    std::string strValue;
    if (!HeaderParam(strContentType, "boundary", strValue) || strValue.empty() ||
        strValue.size() > 200)
        return false;
    strBoundary = strValue;
    return true;
}

bool ParseRange(const std::string& strRange, long long& nStart, long long& nEnd) {
    std::string::size_type nDash = strRange.find('-');
    if (nDash == std::string::npos || nDash == 0 || nDash + 1 == strRange.size())
        return false;
    if (nDash > 18 || strRange.size() - nDash - 1 > 18)
        return false;
    for (std::string::size_type i = 0; i < strRange.size(); ++i)
        if (i != nDash && (strRange[i] < '0' || strRange[i] > '9'))
            return false;
    nStart = std::stoll(strRange.substr(0, nDash));
    nEnd = std::stoll(strRange.substr(nDash + 1));
    return nEnd > nStart;
}

bool ParsePieceBody(const std::string& strBody, const std::string& strBoundary, PieceBody& piece,
                    std::string& strError) {
    const std::string strDelim = "--" + strBoundary;
    const std::string strNextDelim = "\r\n" + strDelim;
    const char* pBegin = strBody.data();
    const char* pEnd = pBegin + strBody.size();
    if (strBody.compare(0, strDelim.size(), strDelim) != 0) {
        strError = "body does not start with the boundary";
        return false;
    }
    const char* p = pBegin + strDelim.size();
    bool seen[kPartCount] = {false, false, false, false, false};
    for (;;) {
        if (pEnd - p >= 2 && p[0] == '-' && p[1] == '-')
            break;  // closing delimiter; an epilogue after it is ignored
        if (pEnd - p < 2 || p[0] != '\r' || p[1] != '\n') {
            strError = "malformed boundary line";
            return false;
        }
        p += 2;
        const char* pHeadEnd = Find(p, pEnd, "\r\n\r\n");
        if (!pHeadEnd) {
            strError = "part headers do not end";
            return false;
        }
        std::string strName, strFileName;
        bool bHasName = false, bHasFileName = false;
        if (!ReadPartHeaders(std::string(p, pHeadEnd), strName, bHasName, strFileName, bHasFileName,
                             strError))
            return false;
        if (!bHasName) {
            strError = "part without a name";
            return false;
        }
        const int nIndex = ClaimPart(strName, seen, strError);
        if (nIndex < 0)
            return false;
        const char* pData = pHeadEnd + 4;
        const char* pDataEnd = PartEnd(pData, pEnd, strNextDelim, nIndex == kFilePart);
        if (!pDataEnd) {
            strError = "part " + strName + " does not end";
            return false;
        }
        if (!StorePart(nIndex, strName, bHasFileName ? &strFileName : nullptr, pData, pDataEnd,
                       piece, strError))
            return false;
        p = pDataEnd + strNextDelim.size();
    }
    for (int i = 0; i < kPartCount; ++i) {
        if (!seen[i]) {
            strError = std::string("part ") + kNames[i] + " missing";
            return false;
        }
    }
    return true;
}

}  // namespace standin
