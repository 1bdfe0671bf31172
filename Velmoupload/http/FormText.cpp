// Percent-encoding of form and query values.
#include "http/FormText.h"

namespace _VelmoUpload {

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string UrlEncode(const std::string& strValue) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strOut;
    strOut.reserve(strValue.size());
    for (unsigned char c : strValue) {
        if (IsUnreserved(c)) {
            strOut += static_cast<char>(c);
        } else {
            strOut += '%';
            strOut += kHex[c >> 4];
            strOut += kHex[c & 0x0F];
        }
    }
    return strOut;
}

std::string UrlDecode(const std::string& strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    for (std::string::size_type i = 0; i < strText.size(); ++i) {
        char c = strText[i];
        if (c == '+') {
            strOut += ' ';
        } else if (c == '%' && i + 2 < strText.size() && HexValue(strText[i + 1]) >= 0 &&
                   HexValue(strText[i + 2]) >= 0) {
            strOut += static_cast<char>(HexValue(strText[i + 1]) * 16 + HexValue(strText[i + 2]));
            i += 2;
        } else {
            strOut += c;  // a stray "%" is kept as it stands
        }
    }
    return strOut;
}

FormText& FormText::Add(const std::string& strKey, const std::string& strValue) {
    if (!m_strText.empty())
        m_strText += '&';
    m_strText += strKey;
    m_strText += '=';
    m_strText += UrlEncode(strValue);
    return *this;
}

}  // namespace _VelmoUpload
