// The digests a piece goes through: each unfinished upload's running SHA-1, extended by every
// piece as it is stored so that the last piece is verified without reading the file again (in
// memory only: after a restart the file is hashed from disk), and the helper threads that
// compute a piece's own SHA-1 and extend the running one while the request's thread writes it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "utils/sha1.h"

namespace standin {

struct RunningDigest {
    _VelmoUpload::SHA1 sha1;
    long long nBytes = 0;  // how many leading bytes of the upload sha1 has taken in

    // Upper-case hexadecimal text of the digest so far (the context itself is left as it is).
    std::string Text() const;
};

// Callers hold the upload's own lock, so one upload's pieces come in order.
class RunningDigests {
public:
    // The digest of the upload's first nOffset bytes (a fresh one at 0); false when there is
    // none that far.
    bool At(const std::string& strPickCode, long long nOffset, RunningDigest& digest);
    void Put(const std::string& strPickCode, const RunningDigest& digest);
    void Drop(const std::string& strPickCode);

private:
    std::mutex m_mutex;  // guards m_digests
    std::map<std::string, RunningDigest> m_digests;
};

class DigestHelpers {
public:
    DigestHelpers();
    ~DigestHelpers();
    DigestHelpers(const DigestHelpers&) = delete;
    DigestHelpers& operator=(const DigestHelpers&) = delete;

    // The SHA-1 text of the bytes (empty when it cannot be had), computed on a helper thread;
    // they must stay put until it is in.
    std::future<std::string> Sha1(const char* pData, size_t nData);
    // Feeds the bytes into the digest on a helper thread; both must stay put until it is done.
    std::future<void> Extend(RunningDigest& digest, const char* pData, size_t nData);

private:
    template <typename Fn>
    std::future<decltype(std::declval<Fn>()())> Post(Fn fn);
    void Run();

    std::mutex m_mutex;  // guards m_jobs and m_bStopping
    std::condition_variable m_jobReady;
    std::deque<std::function<void()>> m_jobs;
    bool m_bStopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace standin
