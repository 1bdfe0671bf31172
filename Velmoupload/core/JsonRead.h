// Strict readers for the service's JSON replies. A field of the wrong kind throws, and every
// reply handler reads inside one catch-all guard, so a malformed reply is a failed reply and
// never a half-believed one. Absent fields read as empty text, 0 or false.
#pragma once

#include <json/json.h>

#include <stdexcept>
#include <string>

namespace _VelmoUpload {

struct JsonTypeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses a whole body; false when it is not JSON.
bool JsonParse(const std::string& strBody, Json::Value& root);

// The member of an object; null when absent; throws when the holder is neither null nor an object.
const Json::Value& JsonField(const Json::Value& holder, const char* pKey);

// Text: a string as it is, a boolean as "true"/"false", null as ""; numbers and containers throw.
std::string JsonText(const Json::Value& value);
// Numbers: numbers and booleans; strings and containers throw.
int JsonInt(const Json::Value& value);
double JsonDouble(const Json::Value& value);
// A double truncated toward zero to 64 bits (1.5e10 comes through exactly).
long long JsonInt64(const Json::Value& value);
// Any scalar: a number is true when not 0, a string when not empty; containers throw.
bool JsonBool(const Json::Value& value);

}  // namespace _VelmoUpload
