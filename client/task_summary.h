// The engine's summary of all tasks, "files,total bytes,speed,time left", as the window reads
// it for the status line and the task button.
#pragma once

#include <string>

namespace rodedudir {

struct TaskSummary {
    int nFiles = 0;
    long long nTotalSize = 0;
    long long nSpeed = 0;
    std::string strTimeLeft;  // "hh:mm:ss", hours without an upper bound
};

// Reads the fields in order and stops at the first that is missing or malformed; the rest
// keep their defaults. An empty text (the engine before its first report) gives all defaults.
TaskSummary parse_task_summary(const std::string& strText);

}  // namespace rodedudir
