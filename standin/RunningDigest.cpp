// The running SHA-1 contexts of unfinished uploads and the threads that check pieces.
#include "RunningDigest.h"

#include <algorithm>
#include <cstdio>

#include "utils/NamedThread.h"
#include "utils/Utils.h"

namespace standin {

namespace {

std::string HexText(const unsigned char* pDigest) {
    char szText[2 * _VelmoUpload::SHA1::DigestSize + 1];
    for (int i = 0; i < _VelmoUpload::SHA1::DigestSize; ++i)
        snprintf(szText + 2 * i, 3, "%02X", pDigest[i]);
    return szText;
}

}  // namespace

std::string RunningDigest::Text() const {
    _VelmoUpload::SHA1 copy = sha1;
    unsigned char digest[_VelmoUpload::SHA1::DigestSize];
    return copy.Result(digest) ? HexText(digest) : std::string();
}

bool RunningDigests::At(const std::string& strPickCode, long long nOffset, RunningDigest& digest) {
    if (nOffset == 0) {
        digest = RunningDigest();
        return true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_digests.find(strPickCode);
    if (it == m_digests.end() || it->second.nBytes != nOffset)
        return false;
    digest = it->second;
    return true;
}

void RunningDigests::Put(const std::string& strPickCode, const RunningDigest& digest) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_digests[strPickCode] = digest;
}

void RunningDigests::Drop(const std::string& strPickCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_digests.erase(strPickCode);
}

DigestHelpers::DigestHelpers() {
    // one per core: more would only take turns
    unsigned nThreads = std::min(8u, std::max(1u, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < nThreads; ++i)
        m_threads.push_back(_VelmoUpload::StartNamedThread("standin-digest", [this] { Run(); }));
}

DigestHelpers::~DigestHelpers() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
    }
    m_jobReady.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

template <typename Fn>
std::future<decltype(std::declval<Fn>()())> DigestHelpers::Post(Fn fn) {
    using Result = decltype(fn());
    auto pJob = std::make_shared<std::packaged_task<Result()>>(std::move(fn));
    std::future<Result> result = pJob->get_future();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.emplace_back([pJob] { (*pJob)(); });
    }
    m_jobReady.notify_one();
    return result;
}

std::future<std::string> DigestHelpers::Sha1(const char* pData, size_t nData) {
    return Post([pData, nData] {
        std::string strHash;
        _VelmoUpload::Utils::GetHash(reinterpret_cast<const unsigned char*>(pData),
                                     static_cast<unsigned>(nData), strHash);
        return strHash;
    });
}

std::future<void> DigestHelpers::Extend(RunningDigest& digest, const char* pData, size_t nData) {
    return Post([&digest, pData, nData] {
        digest.sha1.Input(reinterpret_cast<const unsigned char*>(pData), nData);
        digest.nBytes += static_cast<long long>(nData);
    });
}

void DigestHelpers::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_jobReady.wait(lock, [this] { return !m_jobs.empty() || m_bStopping; });
        // a waiting request gets its answer even while the service stops
        if (m_jobs.empty())
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

}  // namespace standin
