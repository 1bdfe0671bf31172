// The engine's summary text on any bytes: never a negative file count nor a blank in the time
// left; and a summary the engine writes reads back to its own figures.
#include "TaskModel.h"
#include "fuzz_check.h"
#include "task_summary.h"
#include "utils/Utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const rodedudir::TaskSummary summary = rodedudir::parse_task_summary(FuzzText(pData, nSize));
    FUZZ_CHECK(summary.nFiles >= 0);
    FUZZ_CHECK(summary.strTimeLeft.find_first_of(" \t\r\n") == std::string::npos);

    // the engine writes no negative figure
    if (summary.nTotalSize < 0 || summary.nSpeed < 0)
        return 0;
    // a time left drawn from the input too, so the fuzzer varies it with the rest
    const long nSeconds = static_cast<long>(summary.nTotalSize % 1000000007);
    const rodedudir::TaskSummary back = rodedudir::parse_task_summary(_VelmoUpload::MakeTaskSummary(
        summary.nFiles, summary.nTotalSize, summary.nSpeed, nSeconds));
    FUZZ_CHECK(back.nFiles == summary.nFiles && back.nTotalSize == summary.nTotalSize &&
               back.nSpeed == summary.nSpeed);
    FUZZ_CHECK(back.strTimeLeft == _VelmoUpload::Utils::SecondToHour(nSeconds));
    return 0;
}
