// What reaches the main thread from other threads: copies of the engine's progress reports,
// the end of the login attempt, and a Ctrl-C. Producers only copy and queue; they never wait
// on the main thread, since the engine may call them with its registry lock held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "TaskModel.h"

namespace velmocli {

using _VelmoUpload::ProgressReport;

struct CliEvent {
    enum Kind { Report, LoginDone, Interrupt };
    Kind kind = Report;
    ProgressReport report;  // for Report
};

class EventQueue {
public:
    void Push(CliEvent event);
    // Waits up to timeout for at least one event, then takes every queued one.
    std::deque<CliEvent> WaitAndTakeAll(std::chrono::milliseconds timeout);

    // The engine's ProgressCallbackFun; data is the EventQueue.
    static void OnProgress(std::string strFileName, std::string strFilePath, int64_t nFileSize,
                           int64_t nUploadSize, int nSpeed, int tLeftTime, int status,
                           double fHashPercent, int nErrorCode, std::string strErrorMsg,
                           std::string strPickCode, bool bIsFolder, std::string strTaskInfo,
                           void* data);

private:
    std::mutex m_lock;  // guards m_events
    std::condition_variable m_ready;
    std::deque<CliEvent> m_events;
};

}  // namespace velmocli
