// Texts of the progress display: sizes, speeds, the engine's summary and one task's line,
// cut to the terminal's width without splitting a UTF-8 character.
#pragma once

#include <cstdint>
#include <string>

#include "EngineEvents.h"

namespace velmocli {

// The engine's "count,total bytes,speed,hh:mm:ss".
struct TaskSummary {
    long long nCount = 0;
    long long nTotalSize = 0;
    long long nSpeed = 0;
    std::string strTimeLeft = "00:00:00";
};
bool ParseTaskSummary(const std::string& strTaskInfo, TaskSummary& summary);

// 1023 B, 1.5 KiB, 12.3 MiB, 2.00 GiB
std::string FormatBytes(long long nBytes);
// 0 to 100, from bytes; hashing shows its own percentage
int UploadPercent(long long nUploadSize, long long nFileSize);

// "name  42%  1.2 MiB/s  00:00:13 left" or "name  hashing 37%"
std::string RunningLine(const ProgressReport& report);
// "3 files  12.0 MiB  1.2 MiB/s  00:00:20 left"; empty for an idle summary
std::string SummaryLine(const std::string& strTaskInfo);

// At most nColumns characters (code points); a cut line ends in "...".
std::string FitColumns(const std::string& strLine, size_t nColumns);

}  // namespace velmocli
