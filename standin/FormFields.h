// Reads the "key=value&..." texts of query strings and form bodies. The client may send its
// values raw (an "&" or "=" inside a file name included) or percent-encoded; both read the same.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace standin {

class FormFields {
public:
    // vKnownKeys: the fields this request has. A piece that does not start with one of them
    // belongs to the value before it, so a raw "a&b.txt" stays one file name.
    static FormFields Parse(const std::string& strText, const std::vector<std::string>& vKnownKeys);

    bool Has(const std::string& strKey) const { return m_fields.count(strKey) != 0; }
    // The decoded value, empty when absent.
    std::string Get(const std::string& strKey) const;
    // The value as it arrived, before decoding.
    std::string GetRaw(const std::string& strKey) const;
    // The first of vKeys that is absent, empty when all are present.
    std::string FirstMissing(const std::vector<std::string>& vKeys) const;

private:
    std::map<std::string, std::string> m_fields;  // key -> raw value
};

// Percent-decoding that keeps "+" as it stands: the client encodes a space as %20, and a raw
// "c++.txt" must not turn into spaces.
std::string DecodeValue(const std::string& strRaw);

// The query part of a request target ("/path?query"), empty when there is none.
std::string QueryOf(const std::string& strTarget);

}  // namespace standin
