// The hand-over from engine, login and signal threads to the main thread.
#include "EngineEvents.h"

#include <utility>

namespace velmocli {

void EventQueue::Push(CliEvent event) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.push_back(std::move(event));
    }
    m_ready.notify_one();
}

std::deque<CliEvent> EventQueue::WaitAndTakeAll(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_ready.wait_for(lock, timeout, [this] { return !m_events.empty(); });
    std::deque<CliEvent> taken;
    taken.swap(m_events);
    return taken;
}

void EventQueue::OnProgress(std::string strFileName, std::string strFilePath, int64_t nFileSize,
                            int64_t nUploadSize, int nSpeed, int tLeftTime, int status,
                            double fHashPercent, int nErrorCode, std::string strErrorMsg,
                            std::string strPickCode, bool bIsFolder, std::string strTaskInfo,
                            void* data) {
    CliEvent event;
    event.kind = CliEvent::Report;
    event.report =
        ProgressReport(std::move(strFileName), std::move(strFilePath), nFileSize, nUploadSize,
                       nSpeed, tLeftTime, status, fHashPercent, nErrorCode, std::move(strErrorMsg),
                       std::move(strPickCode), bIsFolder, std::move(strTaskInfo));
    static_cast<EventQueue*>(data)->Push(std::move(event));
}

}  // namespace velmocli
