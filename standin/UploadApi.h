// The upload requests: dispatch (upload, resume and cancel URLs), check, and piece.
#pragma once

#include <string>

#include "FormFields.h"
#include "ServiceContext.h"

namespace standin {

enum class DispatchUrl { Upload, Resume, Cancel };

// How long after a dispatch its upload key keeps working for check and pieces.
constexpr long long kUploadKeySeconds = 86400;

ApiResult HandleDispatch(ServiceContext& ctx, DispatchUrl url, const FormFields& query,
                         const FormFields& body, bool bReportFull);
ApiResult HandleCheck(ServiceContext& ctx, const FormFields& query);
// strBody is the raw multipart body; the piece's bytes are written and hashed from it in place.
ApiResult HandlePiece(ServiceContext& ctx, const FormFields& query,
                      const std::string& strContentType, const std::string& strBody,
                      bool bReportFull);

// At start-up: each unfinished upload's partial file is cut back to the offset its record
// holds (or the record to the bytes the file holds), so it continues where it stood.
void RecoverUploads(ServiceContext& ctx);

// The query fields of check and piece, the form fields of a dispatch.
extern const std::vector<std::string> kUploadQueryKeys;
extern const std::vector<std::string> kDispatchQueryKeys;
extern const std::vector<std::string> kDispatchBodyKeys;

}  // namespace standin
