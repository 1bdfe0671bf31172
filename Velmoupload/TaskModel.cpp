// Life of the shared records: a task owns its transfer state, which owns the open file.
#include "TaskModel.h"

#include "utils/Utils.h"

namespace _VelmoUpload {

UploadInfo::~UploadInfo() {
    if (pFile) {
        fclose(pFile);
        pFile = nullptr;
    }
}

TaskInfo::~TaskInfo() {
    delete pUploadInfo;
    pUploadInfo = nullptr;
}

bool IsStatusChangeAllowed(TaskStatus from, TaskStatus to) {
    bool bHalted = from == TaskStatusStop || from == TaskStatusCancel;
    bool bRunning = to == TaskStatusHash || to == TaskStatusUpload;
    return !(bHalted && bRunning);
}

std::string MakeTaskSummary(long long nTaskCount, long long nTotalSize, long long nSpeed,
                            long nSecondsLeft) {
    return Utils::StringI2S(nTaskCount) + "," + Utils::StringI2S(nTotalSize) + "," +
           Utils::StringI2S(nSpeed) + "," + Utils::SecondToHour(nSecondsLeft);
}

}  // namespace _VelmoUpload
