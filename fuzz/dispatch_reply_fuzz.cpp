// The dispatch reply on any bytes, read into a fresh task (see upload_reply.h).
#include "core/UploadHandler.h"
#include "upload_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    FuzzUploadReply(&_VelmoUpload::UploadHandler::_ParseResponseDispatchServer, pData, nSize);
    return 0;
}
