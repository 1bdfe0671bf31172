// Every accepted connection waits here, on one thread, until its request head (and a small body)
// has arrived whole; only then does a worker take it. A client that stalls, or sends more than a
// request may hold, costs a descriptor for a few seconds and never a worker.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace standin {

struct GateLimits {
    size_t nMaxHead = 16 << 10;     // request line and fields, the blank line included
    size_t nGatherBody = 64 << 10;  // a body declared up to this long is read here whole
    int nHeadTimeoutMs = 5000;      // from accept until the head (and gathered body) is in
    // an answered request's unread input is discarded this long, so that closing does not
    // reset the connection before the answer is read
    int nDrainMs = 1000;
    size_t nMaxWaiting = 512;  // beyond this the longest-waiting connection is closed
};

class RequestGate {
public:
    // The largest body a request of this method and path may carry.
    using BodyLimit =
        std::function<size_t(const std::string& strMethod, const std::string& strPath)>;
    // A connection whose head is whole, with every byte read from it so far. A request that
    // declares no body length and is not chunked gets "Content-Length: 0": a request without
    // either has no body, and the HTTP library would otherwise read one until the peer closes.
    using Ready = std::function<void(int fd, std::string strRead)>;

    RequestGate(const GateLimits& limits, BodyLimit bodyLimit, Ready ready);
    ~RequestGate();
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;

    bool Start(std::string& strError);
    // Takes over an accepted socket; safe from any thread.
    void Admit(int fd);
    // Takes over a connection whose answer is out: shuts its sending side, then discards what
    // still comes until the peer closes or the drain time passes, and closes it.
    void Linger(int fd);
    // Closes every connection still waiting and ends the thread.
    void Stop();

private:
    struct Waiting;
    void TakeOver(int fd, bool bAnswered);
    void Loop();
    void Receive(Waiting& w, std::vector<char>& buffer);
    void ReadRequestLine(Waiting& w);
    bool Judge(Waiting& w);
    void Refuse(Waiting& w, int nStatus, const std::string& strWhy);
    void Expire(Waiting& w);

    const GateLimits m_limits;
    BodyLimit m_bodyLimit;
    Ready m_ready;
    int m_wakeFd = -1;
    std::mutex m_mutex;                             // guards m_vAdmitted and m_bStopped
    std::vector<std::pair<int, bool>> m_vAdmitted;  // with whether it was answered
    bool m_bStopped = false;
    std::thread m_thread;
};

}  // namespace standin
