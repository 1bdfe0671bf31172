// The quota query's worker thread and its coalescing.
#include "space_refresher.h"

#include "core/LoginManager.h"
#include "utils/NamedThread.h"

namespace rodedudir {

using _VelmoUpload::LoginManager;

namespace {
constexpr gint64 kMinIntervalUs = 2000000;
}  // namespace

struct SpaceRefresher::Result {
    SpaceRefresher* pOwner;
    unsigned nGeneration;
    SpaceFigures figures;
};

void SpaceRefresher::request() {
    if (m_bInFlight) {
        m_bPending = true;
        return;
    }
    gint64 tSince = g_get_monotonic_time() - m_tLastStart;
    if (m_tLastStart != 0 && tSince < kMinIntervalUs) {
        if (m_nTimer == 0)
            m_nTimer = g_timeout_add(static_cast<guint>((kMinIntervalUs - tSince) / 1000) + 1,
                                     &SpaceRefresher::on_timer, this);
        return;
    }
    start();
}

void SpaceRefresher::reset() {
    ++m_nGeneration;
    m_bPending = false;
    m_bInFlight = false;
    if (m_nTimer != 0) {
        g_source_remove(m_nTimer);
        m_nTimer = 0;
    }
}

void SpaceRefresher::start() {
    m_bInFlight = true;
    m_tLastStart = g_get_monotonic_time();
    Result* pResult = new Result{this, m_nGeneration, SpaceFigures()};
    // the quota worker: one query, then it hands the figures to the GUI thread and ends
    bool bStarted = _VelmoUpload::StartDetachedThread("velmo-space", [pResult]() {
        SpaceFigures& figures = pResult->figures;
        figures.bOk = LoginManager::GetSpace() && LoginManager::GetTotalSize() > 0;
        if (figures.bOk) {
            figures.strUsed = LoginManager::GetShowUsedSize();
            figures.strTotal = LoginManager::GetShowTotalSize();
            figures.strUsedPercent = LoginManager::GetUsedPercentString();
        }
        g_idle_add(&SpaceRefresher::on_result, pResult);
    });
    if (!bStarted) {
        // no thread: the bar keeps its figures until the next request
        delete pResult;
        m_bInFlight = false;
    }
}

int SpaceRefresher::on_result(void* pData) {
    Result* pResult = static_cast<Result*>(pData);
    SpaceRefresher* pOwner = pResult->pOwner;
    if (pResult->nGeneration == pOwner->m_nGeneration) {
        pOwner->m_bInFlight = false;
        pOwner->m_apply(pResult->figures);
        if (pOwner->m_bPending) {
            pOwner->m_bPending = false;
            pOwner->request();
        }
    }
    delete pResult;
    return G_SOURCE_REMOVE;
}

int SpaceRefresher::on_timer(void* pData) {
    SpaceRefresher* pOwner = static_cast<SpaceRefresher*>(pData);
    pOwner->m_nTimer = 0;
    pOwner->request();
    return G_SOURCE_REMOVE;
}

}  // namespace rodedudir
