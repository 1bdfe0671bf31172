// The drain of the report queue: one timer at the default idle priority, below redraws, so
// the window paints between slices.
#include "report_queue.h"

#include <glib.h>

namespace rodedudir {

namespace {
// a slice this long keeps the main loop's longest pause well under what a user notices
constexpr gint64 kSliceUs = 30000;
// Reports gather this long before they are applied: the list is then redrawn a few times a
// second rather than at every report, and the window's work stays small next to the uploads.
constexpr guint kGatherMs = 50;
}  // namespace

ReportQueue::~ReportQueue() {
    Glib::Threads::Mutex::Lock lock(m_lock);
    if (m_bScheduled)
        g_source_remove(m_nSource);
}

void ReportQueue::push(std::unique_ptr<_ProgressItem> pItem) {
    Glib::Threads::Mutex::Lock lock(m_lock);
    m_incoming.push_back(std::move(pItem));
    if (!m_bScheduled) {
        m_bScheduled = true;
        m_nSource = g_timeout_add_full(G_PRIORITY_DEFAULT_IDLE, kGatherMs, &ReportQueue::drain,
                                       this, nullptr);
    }
}

bool ReportQueue::empty() {
    Glib::Threads::Mutex::Lock lock(m_lock);
    return m_pending.empty() && m_incoming.empty();
}

void ReportQueue::clear() {
    m_pending.clear();
    Glib::Threads::Mutex::Lock lock(m_lock);
    m_incoming.clear();
}

int ReportQueue::drain(void* pData) {
    ReportQueue* pQueue = static_cast<ReportQueue*>(pData);
    if (pQueue->drain_slice())
        return G_SOURCE_CONTINUE;
    Glib::Threads::Mutex::Lock lock(pQueue->m_lock);
    if (!pQueue->m_incoming.empty())
        return G_SOURCE_CONTINUE;
    pQueue->m_bScheduled = false;
    return G_SOURCE_REMOVE;
}

bool ReportQueue::drain_slice() {
    {
        Glib::Threads::Mutex::Lock lock(m_lock);
        for (std::unique_ptr<_ProgressItem>& pItem : m_incoming)
            m_pending.push_back(std::move(pItem));
        m_incoming.clear();
    }
    const gint64 tEnd = g_get_monotonic_time() + kSliceUs;
    while (!m_pending.empty()) {
        std::unique_ptr<_ProgressItem> pItem = std::move(m_pending.front());
        m_pending.pop_front();
        m_handler(*pItem);
        if (g_get_monotonic_time() >= tEnd)
            break;
    }
    m_batchEnd();
    return !m_pending.empty();
}

}  // namespace rodedudir
