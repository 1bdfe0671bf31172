// The JSON replies of the service: status codes with their Chinese texts, and the writer that
// keeps every text a JSON string and every number a JSON number.
#pragma once

#include <json/json.h>

#include <string>

#include "ServiceConstants.h"

namespace standin {

// The status codes the upload requests answer with, by the names the client knows them by.
namespace ServiceCode = _VelmoUpload::ServiceCode;

// The service's message for a status code (UTF-8); empty for 0 and unknown codes.
std::string StatusText(int nStatusCode);

// {"status":0,"statuscode":N,"statusmsg":TEXT}; TEXT defaults to StatusText(N).
Json::Value StatusReply(int nStatusCode, const std::string& strMessage = std::string());

// Compact JSON, UTF-8 left as it is.
std::string WriteJson(const Json::Value& value);

}  // namespace standin
