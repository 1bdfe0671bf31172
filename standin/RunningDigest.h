// The SHA-1 of each unfinished upload's bytes so far, fed piece by piece on a thread of its own
// while the client sends the next piece, so that the last piece is verified without reading
// the whole file again. Kept in memory only: after a restart the file is hashed from disk.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "utils/sha1.h"

namespace standin {

struct RunningDigest {
    _VelmoUpload::SHA1 sha1;
    long long nBytes = 0;  // how many leading bytes of the upload sha1 has taken in

    // Upper-case hexadecimal text of the digest so far (the context itself is left as it is).
    std::string Text() const;
};

class RunningDigests {
public:
    RunningDigests();
    ~RunningDigests();
    RunningDigests(const RunningDigests&) = delete;
    RunningDigests& operator=(const RunningDigests&) = delete;

    // Queues a verified and stored piece that starts at nOffset; pBuffer keeps its bytes alive.
    // Blocks while many pieces wait, so memory stays bounded.
    void Feed(const std::string& strPickCode, long long nOffset,
              std::shared_ptr<const std::string> pBuffer, const char* pData, size_t nData);
    // Waits for the upload's queued pieces, then gives the digest of its first nOffset bytes
    // (a fresh one at 0); false when there is none that far.
    bool At(const std::string& strPickCode, long long nOffset, RunningDigest& digest);
    void Drop(const std::string& strPickCode);

private:
    struct Job {
        std::string strPickCode;
        long long nOffset;
        std::shared_ptr<const std::string> pBuffer;
        const char* pData;
        size_t nData;
    };
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_workDone;
    std::deque<Job> m_jobs;
    std::map<std::string, RunningDigest> m_digests;
    std::map<std::string, int> m_pending;
    std::string m_strInFlight;  // the upload whose piece the worker is hashing
    bool m_bInFlightDropped = false;
    bool m_bStopping = false;
    std::thread m_worker;
};

}  // namespace standin
