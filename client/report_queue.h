// Progress reports on their way from the engine's threads to the GUI thread. Producers only
// copy and queue; one timer callback drains what has gathered, a slice of time at a time, so a
// burst of thousands of reports neither floods the main loop with callbacks nor stalls it.
#pragma once

#include <glibmm/threads.h>

#include <deque>
#include <functional>
#include <memory>

#include "progress_item.h"

namespace rodedudir {

class ReportQueue {
public:
    // runs on the GUI thread, once per report, in the order they were queued
    typedef std::function<void(_ProgressItem&)> Handler;

    // batchEnd runs after each slice of reports: what only the latest report decides (the
    // status line, say) is drawn once per slice rather than once per report
    ReportQueue(Handler handler, std::function<void()> batchEnd)
        : m_handler(std::move(handler)), m_batchEnd(std::move(batchEnd)) {}
    ~ReportQueue();
    ReportQueue(const ReportQueue&) = delete;
    ReportQueue& operator=(const ReportQueue&) = delete;

    // Any thread.
    void push(std::unique_ptr<_ProgressItem> pItem);
    // GUI thread: drops what has not been applied yet (a logout ends the reports' session).
    void clear();
    // GUI thread: nothing waits to be applied.
    bool empty();

private:
    static int drain(void* pData);
    // applies queued reports until the time slice is used; true when some are left
    bool drain_slice();

    Handler m_handler;
    std::function<void()> m_batchEnd;
    Glib::Threads::Mutex m_lock;  // guards m_incoming, m_bScheduled and m_nSource
    std::deque<std::unique_ptr<_ProgressItem>> m_incoming;
    bool m_bScheduled = false;
    unsigned m_nSource = 0;
    // taken from m_incoming, not yet applied; GUI thread only
    std::deque<std::unique_ptr<_ProgressItem>> m_pending;
};

}  // namespace rodedudir
