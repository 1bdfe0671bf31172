// The records the engine and the desktop share: file and folder tasks, the transfer state,
// the resume record, thread parameters, the three enumerations and the progress callback.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ProgressReport.h"
#include "utils/mutex.h"

namespace _VelmoUpload {

// Values are fixed: they are stored in the resume file, sent to the service and compared by the UI.
enum TaskStatus : int32_t {
    TaskStatusInit = 0,
    TaskStatusHash = 1,
    TaskStatusUpload = 2,
    TaskStatusStop = 3,
    TaskStatusError = 4,
    TaskStatusSucceed = 5,
    TaskStatusCancel = 6,
};

enum ISPType : int32_t {
    ISPTypeAuto = 0,
    ISPTypeTel = 1,
    ISPTypeCnc = 2,
};

enum HashType : int32_t {
    HashTypeSHA1 = 0,
    HashTypeMDVelmo = 1,
    HashTypeALL = 2,
};

// Transfer state of one running upload; owned by its task.
struct UploadInfo {
    UploadInfo() = default;
    ~UploadInfo();
    UploadInfo(const UploadInfo&) = delete;
    UploadInfo& operator=(const UploadInfo&) = delete;

    std::string strUploadUrl;
    std::string strUploadKey;
    int64_t tUploadTime = 0;
    int nSpeed = 0;
    int64_t nUploadSize = 0;
    FILE* pFile = nullptr;
    int64_t nOffset = 0;
    int64_t nSize = 0;
};
typedef UploadInfo* PUploadInfo;

// One file to upload. The mutex guards status, nErrorCode, strErrorMsg, nUploadSize,
// nMaxUploadSize, bFlashUpload, strPickCode and the UploadInfo's nOffset and nUploadSize.
struct TaskInfo {
    TaskInfo() = default;
    ~TaskInfo();
    TaskInfo(const TaskInfo&) = delete;
    TaskInfo& operator=(const TaskInfo&) = delete;

    void Lock() { mutex.Lock(); }
    void Unlock() { mutex.Unlock(); }

    std::string strFolderPath;
    std::string strFolderTarget;
    std::string strFilePath;
    std::string strFileHash;
    std::string strFileMDVelmo;
    std::string strPickCode;
    std::string strFolderName;
    std::string strTarget;
    int64_t nFileSize = 0;
    int64_t nUploadSize = 0;
    int64_t nMaxUploadSize = 0;
    TaskStatus status = TaskStatusInit;
    ISPType ispType = ISPTypeAuto;
    int nErrorCode = 0;
    std::string strErrorMsg;
    bool bFlashUpload = false;
    double fHashPercent = 0.0;
    PUploadInfo pUploadInfo = nullptr;
    Mutex mutex;
};
typedef TaskInfo* PTaskInfo;

// Keyed by a view of the registered task's own strFilePath, which does not change while the
// task is registered: a registry of a hundred thousand files holds each path once.
typedef std::map<std::string_view, TaskInfo*> TaskInfoDict;
// Registration order. A deque, so that taking tasks off the front (they start and end in that
// order, and stop all is done in it) costs nothing however long the list is.
typedef std::deque<TaskInfo*> TaskInfoList;
// local directory -> (remote target, the directory is being created)
typedef std::map<std::string, std::pair<std::string, bool>> FolderTargetList;
typedef std::vector<std::string> FileList;
// failed file path -> its GBK error message
typedef std::map<std::string, std::string> ErrorList;

// One folder upload. The mutex guards the counts, sizes, times, status and the three lists.
struct FolderTaskInfo {
    FolderTaskInfo() = default;
    FolderTaskInfo(const FolderTaskInfo&) = delete;
    FolderTaskInfo& operator=(const FolderTaskInfo&) = delete;

    void Lock() { mutex.Lock(); }
    void Unlock() { mutex.Unlock(); }

    std::string strFolderPath;
    std::string strTarget;
    int nFileCount = 0;
    int nFinishCount = 0;
    int nErrorCount = 0;
    int nErrorCode = 0;
    int64_t tBeginTime = 0;
    int64_t nTotalSize = 0;
    int64_t nUploadSize = 0;
    int64_t nCurUploadSize = 0;
    int64_t nMaxUploadSize = 0;
    TaskStatus status = TaskStatusInit;
    Mutex mutex;
    FolderTargetList folderTargetList;
    FileList fileList;
    ErrorList errorList;
};
typedef FolderTaskInfo* PFolderTaskInfo;

// The persisted state of one file in the resume file.
struct ResumeInfo {
    std::string strFileHash;
    std::string strFileMDVelmo;
    std::string strPickCode;
    std::string strFolderPath;
    std::string strFolderTarget;
    std::string strTarget;
    int64_t nFileSize = 0;
    int64_t nUploadSize = 0;
    int ispType = 0;
};

// Thread parameter records: the starter allocates, the thread deletes.
struct UploadTarget {
    std::string strTarget;
    ISPType ispType = ISPTypeAuto;
    bool bAuto = false;
};
typedef UploadTarget* PUploadTarget;

struct StopFolderParams {
    std::string strFolderPath;
    TaskStatus status = TaskStatusStop;
};
typedef StopFolderParams* PStopFolderParams;

struct FolderTaskParams {
    std::string strFolderPath;
    std::string strTarget;
    ISPType ispType = ISPTypeAuto;
    bool bAuto = false;
};
typedef FolderTaskParams* PFolderTaskParams;

// Every report of the engine goes through this one function pointer (see UploadManager);
// ProgressReport holds a copy of its arguments.
typedef void (*ProgressCallbackFun)(std::string strFileName, std::string strFilePath,
                                    int64_t nFileSize, int64_t nUploadSize, int nSpeed,
                                    int tLeftTime, int status, double fHashPercent, int nErrorCode,
                                    std::string strErrorMsg, std::string strPickCode,
                                    bool bIsFolder, std::string strTaskInfo, void* data);

// A stopped or cancelled task never goes back to hashing or uploading; all else is allowed.
bool IsStatusChangeAllowed(TaskStatus from, TaskStatus to);

// The summary text of every report: "count,total bytes,speed,hh:mm:ss".
std::string MakeTaskSummary(long long nTaskCount, long long nTotalSize, long long nSpeed,
                            long nSecondsLeft);

}  // namespace _VelmoUpload
