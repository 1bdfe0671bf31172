// The workers' queue; Stop shuts a socket only while its worker still holds it open.
#include "WorkerPool.h"

#include <sys/socket.h>
#include <unistd.h>

#include "utils/NamedThread.h"

namespace standin {

WorkerPool::WorkerPool(size_t nThreads, Serve serve, Finish finish)
    : m_nThreads(nThreads), m_serve(std::move(serve)), m_finish(std::move(finish)) {}

WorkerPool::~WorkerPool() {
    Stop();
}

void WorkerPool::Start() {
    for (size_t i = 0; i < m_nThreads; ++i)
        m_threads.push_back(_VelmoUpload::StartNamedThread("standin-worker", [this] { Work(); }));
}

void WorkerPool::Add(int fd, std::string strRead) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bStopping) {
            m_queue.emplace_back(fd, std::move(strRead));
            fd = -1;
        }
    }
    if (fd >= 0)
        close(fd);
    else
        m_wake.notify_one();
}

void WorkerPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
        for (int fd : m_busy)
            shutdown(fd, SHUT_RDWR);
        for (auto& job : m_queue)
            close(job.first);
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}

void WorkerPool::Work() {
    for (;;) {
        std::pair<int, std::string> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bStopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy.insert(job.first);
        }
        m_serve(job.first, std::move(job.second));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_busy.erase(job.first);
        }
        m_finish(job.first);
    }
}

}  // namespace standin
