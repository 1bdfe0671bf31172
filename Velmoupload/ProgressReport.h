// One progress report as the engine hands it to ProgressCallbackFun, kept as a record so that a
// receiver can copy it out of the engine's thread and read it on its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace _VelmoUpload {

struct ProgressReport {
    std::string strFileName;  // last element of strFilePath
    std::string strFilePath;  // the task's key: the file's path, or the folder's
    int64_t nFileSize = 0;
    int64_t nUploadSize = 0;
    int nSpeed = 0;     // bytes per second
    int tLeftTime = 0;  // seconds
    int status = 0;     // a TaskStatus value
    double fHashPercent = 0.0;
    int nErrorCode = 0;
    std::string strErrorMsg;  // GBK, as the error catalogue keeps it
    std::string strPickCode;
    std::string strTaskInfo;  // the engine's summary "count,total bytes,speed,hh:mm:ss"
    bool isFolder = false;

    ProgressReport() = default;
    // The callback's arguments, in the callback's order.
    ProgressReport(std::string strFileNameIn, std::string strFilePathIn, int64_t nFileSizeIn,
                   int64_t nUploadSizeIn, int nSpeedIn, int tLeftTimeIn, int statusIn,
                   double fHashPercentIn, int nErrorCodeIn, std::string strErrorMsgIn,
                   std::string strPickCodeIn, bool isFolderIn, std::string strTaskInfoIn)
        : strFileName(std::move(strFileNameIn)),
          strFilePath(std::move(strFilePathIn)),
          nFileSize(nFileSizeIn),
          nUploadSize(nUploadSizeIn),
          nSpeed(nSpeedIn),
          tLeftTime(tLeftTimeIn),
          status(statusIn),
          fHashPercent(fHashPercentIn),
          nErrorCode(nErrorCodeIn),
          strErrorMsg(std::move(strErrorMsgIn)),
          strPickCode(std::move(strPickCodeIn)),
          strTaskInfo(std::move(strTaskInfoIn)),
          isFolder(isFolderIn) {}
};

}  // namespace _VelmoUpload
