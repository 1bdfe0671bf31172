// The piece upload: one multipart POST that carries one piece of a file, with the task's
// counts advanced while it goes out.
#pragma once

#include <string>

#include "TaskModel.h"
#include "http/QvHttpClient.h"

namespace _VelmoUpload {

class HttpClient : public QvHttpClient {
public:
    // True with the body of a "200 OK" reply. False with bRequest false: the connection or
    // the transfer failed (nothing certain about what the server kept; wait, re-check and
    // send again). False with bRequest true: the piece could not be prepared, the task left
    // the upload state, or the server answered and the answer is not a success.
    // pPieceDigest, when given, is the piece's SHA-1 (20 bytes) taken when the file was hashed:
    // the piece then goes from the file to the socket without being read or hashed here.
    bool UploadFile(TaskInfo* pTaskInfo, const std::string& strUrl, const std::string& strBoundary,
                    std::string& strResponse, bool& bRequest,
                    const unsigned char* pPieceDigest = nullptr);
};

}  // namespace _VelmoUpload
