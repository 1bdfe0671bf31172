// Serves gathered connections on a fixed set of threads, one request per connection.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace standin {

class WorkerPool {
public:
    // Answers the request on fd, whose first bytes are strRead.
    using Serve = std::function<void(int fd, std::string strRead)>;
    // Takes fd over once it is answered.
    using Finish = std::function<void(int fd)>;

    WorkerPool(size_t nThreads, Serve serve, Finish finish);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void Start();
    // Safe from any thread.
    void Add(int fd, std::string strRead);
    // Shuts the socket of every request being served, so that no worker waits out a time-out,
    // joins the workers and closes the connections none took.
    void Stop();

private:
    void Work();

    const size_t m_nThreads;
    Serve m_serve;
    Finish m_finish;
    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_wake;
    std::deque<std::pair<int, std::string>> m_queue;
    std::set<int> m_busy;
    bool m_bStopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace standin
