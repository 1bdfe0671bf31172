// HTTP reply framing. Header names are matched without regard to case, as servers vary.
#include "http/HttpReply.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace _VelmoUpload {

namespace {

const char kHeaderEnd[] = "\r\n\r\n";

enum class Framing { Close, Length, Chunked, Empty };

struct Head {
    std::string::size_type nBodyStart = 0;  // first byte after the blank line
    Framing framing = Framing::Close;
    long long nLength = 0;
};

bool EqualsNoCase(const std::string& a, const char* b) {
    size_t n = strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Trim(const std::string& s) {
    std::string::size_type b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    std::string::size_type e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Status code of the first line, or -1 when it is not an HTTP status line.
int ParseStatusCode(const std::string& strRaw) {
    if (strRaw.compare(0, 5, "HTTP/") != 0)
        return -1;
    std::string::size_type nSpace = strRaw.find(' ');
    if (nSpace == std::string::npos || nSpace + 4 > strRaw.size())
        return -1;
    int nCode = 0;
    for (int i = 1; i <= 3; ++i) {
        char c = strRaw[nSpace + i];
        if (!isdigit(static_cast<unsigned char>(c)))
            return -1;
        nCode = nCode * 10 + (c - '0');
    }
    return nCode;
}

bool ParseHead(const std::string& strRaw, Head& head) {
    std::string::size_type nEnd = strRaw.find(kHeaderEnd);
    if (nEnd == std::string::npos)
        return false;
    head.nBodyStart = nEnd + 4;
    int nCode = ParseStatusCode(strRaw);
    if (nCode == 204 || nCode == 304 || (nCode >= 100 && nCode < 200))
        head.framing = Framing::Empty;

    std::string::size_type nLine = strRaw.find("\r\n");
    while (nLine < nEnd) {
        std::string::size_type nStart = nLine + 2;
        nLine = strRaw.find("\r\n", nStart);
        std::string strLine = strRaw.substr(nStart, nLine - nStart);
        std::string::size_type nColon = strLine.find(':');
        if (nColon == std::string::npos)
            continue;
        std::string strName = Trim(strLine.substr(0, nColon));
        std::string strValue = Trim(strLine.substr(nColon + 1));
        if (head.framing == Framing::Empty)
            continue;
        if (EqualsNoCase(strName, "Transfer-Encoding")) {
            // chunked, when named, is always the last coding and wins over any length
            std::string::size_type nComma = strValue.rfind(',');
            std::string strLast =
                Trim(nComma == std::string::npos ? strValue : strValue.substr(nComma + 1));
            if (EqualsNoCase(strLast, "chunked"))
                head.framing = Framing::Chunked;
        } else if (EqualsNoCase(strName, "Content-Length") && head.framing != Framing::Chunked) {
            char* pEnd = nullptr;
            long long n = strtoll(strValue.c_str(), &pEnd, 10);
            if (pEnd && *pEnd == '\0' && !strValue.empty() && n >= 0) {
                head.framing = Framing::Length;
                head.nLength = n;
            }
        }
    }
    return true;
}

enum class ChunkWalk { Complete, NeedMore, Malformed };

// Walks the chunks from nPos; the decoded bytes go to pBody when it is given.
ChunkWalk WalkChunks(const std::string& strRaw, std::string::size_type nPos, std::string* pBody) {
    for (;;) {
        std::string::size_type nLineEnd = strRaw.find("\r\n", nPos);
        if (nLineEnd == std::string::npos)
            return ChunkWalk::NeedMore;
        // the size is hex, maybe followed by ";extension"
        std::string strSize = Trim(strRaw.substr(nPos, nLineEnd - nPos));
        std::string::size_type nSemi = strSize.find(';');
        if (nSemi != std::string::npos)
            strSize = Trim(strSize.substr(0, nSemi));
        if (strSize.empty() || strSize.size() > 15)
            return ChunkWalk::Malformed;
        unsigned long long nSize = 0;
        for (char c : strSize) {
            if (!isxdigit(static_cast<unsigned char>(c)))
                return ChunkWalk::Malformed;
            nSize = nSize * 16 +
                    static_cast<unsigned long long>(
                        isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(c) - 'a' + 10));
        }
        nPos = nLineEnd + 2;
        if (nSize == 0) {
            // optional trailer lines, then an empty line
            for (;;) {
                std::string::size_type nEnd = strRaw.find("\r\n", nPos);
                if (nEnd == std::string::npos)
                    return ChunkWalk::NeedMore;
                if (nEnd == nPos)
                    return ChunkWalk::Complete;
                nPos = nEnd + 2;
            }
        }
        if (strRaw.size() - nPos < nSize + 2)
            return ChunkWalk::NeedMore;
        if (strRaw.compare(nPos + nSize, 2, "\r\n") != 0)
            return ChunkWalk::Malformed;
        if (pBody)
            pBody->append(strRaw, nPos, nSize);
        nPos += nSize + 2;
    }
}

}  // namespace

bool HttpReply::IsComplete(const std::string& strRaw) {
    Head head;
    if (!ParseHead(strRaw, head))
        return false;
    switch (head.framing) {
        case Framing::Empty:
            return true;
        case Framing::Length:
            return static_cast<long long>(strRaw.size() - head.nBodyStart) >= head.nLength;
        case Framing::Chunked:
            // a malformed body will not get better by waiting for more of it
            return WalkChunks(strRaw, head.nBodyStart, nullptr) != ChunkWalk::NeedMore;
        case Framing::Close:
            break;
    }
    return false;
}

bool HttpReply::ExtractBody(std::string& strRaw) {
    // only a status line that says exactly "200 OK", at the start of the reply
    if (strRaw.compare(0, 17, "HTTP/1.1 200 OK\r\n") != 0 &&
        strRaw.compare(0, 17, "HTTP/1.0 200 OK\r\n") != 0)
        return false;
    Head head;
    if (!ParseHead(strRaw, head))
        return false;  // the header never ended

    std::string strBody;
    switch (head.framing) {
        case Framing::Chunked:
            if (WalkChunks(strRaw, head.nBodyStart, &strBody) != ChunkWalk::Complete)
                return false;
            break;
        case Framing::Length:
            if (static_cast<long long>(strRaw.size() - head.nBodyStart) < head.nLength)
                return false;  // the connection ended before the body did
            strBody = strRaw.substr(head.nBodyStart, static_cast<size_t>(head.nLength));
            break;
        case Framing::Empty:
            break;
        case Framing::Close:
            strBody = strRaw.substr(head.nBodyStart);
            break;
    }
    strRaw.swap(strBody);
    return true;
}

bool HttpReply::IsCutShort(const std::string& strRaw) {
    Head head;
    if (!ParseHead(strRaw, head))
        return true;
    return (head.framing == Framing::Length || head.framing == Framing::Chunked) &&
           !IsComplete(strRaw);
}

int HttpReply::StatusCode(const std::string& strRaw) {
    return ParseStatusCode(strRaw);
}

}  // namespace _VelmoUpload
