// The shape the three upload reply targets (dispatch, check, piece) share. A reader fills only
// the task it is given, so a fresh task per input keeps inputs apart. A reply that is taken
// leaves no error on the task, a resumed upload keeps its pick code whatever the reply says,
// and whether a reply is taken does not depend on that pick code.
#pragma once

#include "TaskModel.h"
#include "fuzz_check.h"

typedef bool (*UploadReplyReader)(_VelmoUpload::PTaskInfo, const std::string&);

inline void FuzzUploadReply(UploadReplyReader read, const uint8_t* pData, size_t nSize) {
    const std::string strReply = FuzzText(pData, nSize);
    bool bTaken[2] = {false, false};
    for (int nRun = 0; nRun < 2; ++nRun) {
        const std::string strPickCode = nRun == 0 ? "" : "resumed";
        _VelmoUpload::TaskInfo task;
        task.pUploadInfo = new _VelmoUpload::UploadInfo;
        task.strPickCode = strPickCode;
        bTaken[nRun] = read(&task, strReply);
        FUZZ_CHECK(!bTaken[nRun] || task.nErrorCode == 0);
        FUZZ_CHECK(strPickCode.empty() || task.strPickCode == strPickCode);
    }
    FUZZ_CHECK(bTaken[0] == bTaken[1]);
}
