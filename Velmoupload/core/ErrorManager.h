// The error catalogue: task error codes to the GBK messages the task list shows.
#pragma once

#include <map>
#include <string>

#include "TaskModel.h"

namespace _VelmoUpload {

typedef std::map<int, std::string> ErrorDict;

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
