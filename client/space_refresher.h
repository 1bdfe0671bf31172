// The account's space, asked of the service on a worker thread and shown through an idle
// callback. Requests are coalesced: at most one query in flight and at most one every two
// seconds, since every finished file asks for one and a folder finishes thousands.
#pragma once

#include <glib.h>

#include <functional>
#include <string>

namespace rodedudir {

struct SpaceFigures {
    bool bOk = false;  // the query succeeded and the account has a total
    std::string strUsed;
    std::string strTotal;
    std::string strUsedPercent;  // "12.34"
};

class SpaceRefresher {
public:
    // runs on the GUI thread with each query's outcome
    typedef std::function<void(const SpaceFigures&)> Apply;

    explicit SpaceRefresher(Apply apply) : m_apply(std::move(apply)) {}

    // GUI thread.
    void request();
    // GUI thread: a logout; the answer of a query still in flight is not shown.
    void reset();

private:
    struct Result;
    void start();
    static int on_result(void* pData);
    static int on_timer(void* pData);

    Apply m_apply;
    // all below: GUI thread only
    bool m_bInFlight = false;
    bool m_bPending = false;
    unsigned m_nTimer = 0;
    gint64 m_tLastStart = 0;  // monotonic microseconds
    unsigned m_nGeneration = 0;
};

}  // namespace rodedudir
