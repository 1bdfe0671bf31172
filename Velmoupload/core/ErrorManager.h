// The error catalogue: task error codes to the GBK messages the task list shows.
#pragma once

#include <map>
#include <string>

#include "TaskModel.h"

namespace _VelmoUpload {

typedef std::map<int, std::string> ErrorDict;

// The engine's own error codes (the service's are in ServiceConstants.h; anything else a task
// carries is a system error number).
constexpr int kErrEmptyFile = 1000;
constexpr int kErrHashCancelled = 1001;
constexpr int kErrNoMemory = 1002;
constexpr int kErrDispatchBuild = 1003;
constexpr int kErrDispatchSend = 1004;
constexpr int kErrDispatchReply = 1005;
constexpr int kErrCheckBuild = 1006;
constexpr int kErrCheckSend = 1007;
constexpr int kErrCheckReply = 1008;
constexpr int kErrPieceUrl = 1009;
constexpr int kErrPieceSend = 1010;
constexpr int kErrPieceReply = 1011;
constexpr int kErrNoTarget = 1012;
constexpr int kErrNoSpace = 1013;  // the account's free space, asked before the dispatch
constexpr int kErrFileTooLarge = 1014;
constexpr int kErrNoNetwork = 1015;
constexpr int kErrHashRead = 1101;
constexpr int kErrHashDigest = 1102;
constexpr int kErrSampleAlloc = 1103;
constexpr int kErrSampleRead = 1104;
constexpr int kErrSampleDigest = 1105;
constexpr int kErrSmallFile = 1106;

class ErrorManager {
public:
    // Fills the catalogue once; later calls return at once.
    static void Initialize();
    // The service's own message when the task has one, else the catalogue text.
    static std::string GetErrorMessage(TaskInfo* pTaskInfo);
    static std::string GetErrorMessage(int nErrorCode);

private:
    static ErrorDict m_errorDict;
    static bool m_bInit;
};

}  // namespace _VelmoUpload
