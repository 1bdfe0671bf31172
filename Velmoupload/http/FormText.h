// Builds the "key=value&key=value" texts of form bodies and query strings. Values are
// percent-encoded (RFC 3986 unreserved characters stay as they are), so ordinary values go out
// unchanged while a "&", "=" or "%" inside a value can no longer split it into other fields.
#pragma once

#include <string>

namespace _VelmoUpload {

std::string UrlEncode(const std::string& strValue);
// The reverse, for the side that reads such texts; "+" is taken as a space.
std::string UrlDecode(const std::string& strText);

class FormText {
public:
    FormText& Add(const std::string& strKey, const std::string& strValue);
    const std::string& Text() const { return m_strText; }

private:
    std::string m_strText;
};

}  // namespace _VelmoUpload
