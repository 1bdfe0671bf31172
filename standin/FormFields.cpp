// Field splitting for query strings and form bodies, raw or percent-encoded.
#include "FormFields.h"

#include <algorithm>

#include "http/FormText.h"

namespace standin {

std::string DecodeValue(const std::string& strRaw) {
    if (strRaw.find('+') == std::string::npos)
        return _VelmoUpload::UrlDecode(strRaw);
    std::string strEscaped;
    strEscaped.reserve(strRaw.size() + 8);
    for (char c : strRaw) {
        if (c == '+')
            strEscaped += "%2B";
        else
            strEscaped += c;
    }
    return _VelmoUpload::UrlDecode(strEscaped);
}

std::string QueryOf(const std::string& strTarget) {
    std::string::size_type nQ = strTarget.find('?');
    if (nQ == std::string::npos)
        return std::string();
    std::string strQuery = strTarget.substr(nQ + 1);
    std::string::size_type nHash = strQuery.find('#');
    if (nHash != std::string::npos)
        strQuery.resize(nHash);
    return strQuery;
}

FormFields FormFields::Parse(const std::string& strText,
                             const std::vector<std::string>& vKnownKeys) {
    FormFields fields;
    std::string* pLast = nullptr;
    std::string::size_type nStart = 0;
    while (nStart <= strText.size()) {
        std::string::size_type nEnd = strText.find('&', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strPiece = strText.substr(nStart, nEnd - nStart);
        std::string::size_type nEq = strPiece.find('=');
        std::string strKey = nEq == std::string::npos ? strPiece : strPiece.substr(0, nEq);
        bool bKnown = vKnownKeys.empty() ||
                      std::find(vKnownKeys.begin(), vKnownKeys.end(), strKey) != vKnownKeys.end();
        if (nEq != std::string::npos && bKnown && !fields.Has(strKey)) {
            pLast = &fields.m_fields[strKey];
            *pLast = strPiece.substr(nEq + 1);
        } else if (pLast && !(strPiece.empty() && nEnd == strText.size())) {
            *pLast += '&';
            *pLast += strPiece;
        }
        // a stray piece before any known key carries nothing the request needs
        nStart = nEnd + 1;
    }
    return fields;
}

std::string FormFields::Get(const std::string& strKey) const {
    auto it = m_fields.find(strKey);
    return it == m_fields.end() ? std::string() : DecodeValue(it->second);
}

std::string FormFields::GetRaw(const std::string& strKey) const {
    auto it = m_fields.find(strKey);
    return it == m_fields.end() ? std::string() : it->second;
}

std::string FormFields::FirstMissing(const std::vector<std::string>& vKeys) const {
    for (const std::string& strKey : vKeys)
        if (!Has(strKey))
            return strKey;
    return std::string();
}

}  // namespace standin
