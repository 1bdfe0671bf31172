// The JSON replies of the service: status codes with their Chinese texts, and the writer that
// keeps every text a JSON string and every number a JSON number.
#pragma once

#include <json/json.h>

#include <string>

namespace standin {

// Status codes the upload requests answer with.
enum StatusCode {
    kOk = 0,
    kNeedSha1 = 300,
    kBadSignature = 400,
    kUnknownUser = 401,
    kBadParameter = 402,
    kUploadExpired = 403,
    kBadRange = 404,
    kHashMismatch = 405,
    kNoSpace = 410,
    kTooLarge = 411,
    kUnknownPickCode = 412,
    kDiskFull = 500,
    kBusy = 501,
    kInternal = 502,
    kNoDirectory = 10014,
};

// The service's message for a status code (UTF-8); empty for 0 and unknown codes.
std::string StatusText(int nStatusCode);

// {"status":0,"statuscode":N,"statusmsg":TEXT}; TEXT defaults to StatusText(N).
Json::Value StatusReply(int nStatusCode, const std::string& strMessage = std::string());

// Compact JSON, UTF-8 left as it is.
std::string WriteJson(const Json::Value& value);

}  // namespace standin
