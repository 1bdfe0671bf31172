// The running SHA-1 contexts of unfinished uploads and the thread that feeds them.
#include "RunningDigest.h"

#include <cstdio>

namespace standin {

namespace {
// pieces waiting for the digest thread before Feed makes a request wait (1 MiB each)
const size_t kMaxQueued = 32;
}  // namespace

std::string RunningDigest::Text() const {
    _VelmoUpload::SHA1 copy = sha1;
    unsigned char digest[_VelmoUpload::SHA1::DigestSize];
    if (!copy.Result(digest))
        return std::string();
    char szText[2 * _VelmoUpload::SHA1::DigestSize + 1];
    for (int i = 0; i < _VelmoUpload::SHA1::DigestSize; ++i)
        snprintf(szText + 2 * i, 3, "%02X", digest[i]);
    return szText;
}

RunningDigests::RunningDigests() : m_worker([this] { Run(); }) {}

RunningDigests::~RunningDigests() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
    }
    m_workReady.notify_all();
    m_workDone.notify_all();
    m_worker.join();
}

void RunningDigests::Feed(const std::string& strPickCode, long long nOffset,
                          std::shared_ptr<const std::string> pBuffer, const char* pData,
                          size_t nData) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_workDone.wait(lock, [this] { return m_jobs.size() < kMaxQueued || m_bStopping; });
    if (m_bStopping)
        return;
    m_jobs.push_back(Job{strPickCode, nOffset, std::move(pBuffer), pData, nData});
    ++m_pending[strPickCode];
    m_workReady.notify_one();
}

bool RunningDigests::At(const std::string& strPickCode, long long nOffset, RunningDigest& digest) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_workDone.wait(lock, [&] { return m_pending.count(strPickCode) == 0 || m_bStopping; });
    if (nOffset == 0) {
        digest = RunningDigest();
        return true;
    }
    auto it = m_digests.find(strPickCode);
    if (it == m_digests.end() || it->second.nBytes != nOffset)
        return false;
    digest = it->second;
    return true;
}

void RunningDigests::Drop(const std::string& strPickCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_digests.erase(strPickCode);
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if (it->strPickCode == strPickCode) {
            it = m_jobs.erase(it);
            if (--m_pending[strPickCode] <= 0)
                m_pending.erase(strPickCode);
        } else {
            ++it;
        }
    }
    if (m_strInFlight == strPickCode)
        m_bInFlightDropped = true;
    m_workDone.notify_all();
}

void RunningDigests::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workReady.wait(lock, [this] { return !m_jobs.empty() || m_bStopping; });
        if (m_bStopping)
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        // Only a digest that reached exactly this piece's start can take it; a piece at 0
        // begins a new one.
        RunningDigest digest;
        bool bUsable = false;
        auto it = m_digests.find(job.strPickCode);
        if (job.nOffset == 0) {
            bUsable = true;
        } else if (it != m_digests.end() && it->second.nBytes == job.nOffset) {
            digest = it->second;
            bUsable = true;
        }
        if (bUsable) {
            m_strInFlight = job.strPickCode;
            m_bInFlightDropped = false;
            lock.unlock();
            digest.sha1.Input(reinterpret_cast<const unsigned char*>(job.pData), job.nData);
            digest.nBytes += static_cast<long long>(job.nData);
            job.pBuffer.reset();
            lock.lock();
            m_strInFlight.clear();
            if (!m_bInFlightDropped)
                m_digests[job.strPickCode] = digest;
        } else if (it != m_digests.end()) {
            m_digests.erase(it);  // a gap: this upload is hashed from disk at its end
        }
        if (--m_pending[job.strPickCode] <= 0)
            m_pending.erase(job.strPickCode);
        m_workDone.notify_all();
    }
}

}  // namespace standin
