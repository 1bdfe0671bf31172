// What every request handler shares: options, records, file content, fault rules, and the
// per-upload locks that keep two pieces of one upload from interleaving.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ContentFiles.h"
#include "Faults.h"
#include "RunningDigest.h"
#include "StandinOptions.h"
#include "Store.h"

namespace standin {

// What a request handler answers, and what its log line says.
struct ApiResult {
    std::string strBody;  // JSON text
    std::string strAccount;
    std::string strUserId;
    std::string strVerdict;
};

class UploadLocks {
public:
    std::shared_ptr<std::mutex> For(const std::string& strPickCode) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::shared_ptr<std::mutex>& pLock = m_locks[strPickCode];
        if (!pLock)
            pLock = std::make_shared<std::mutex>();
        return pLock;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<std::mutex>> m_locks;
};

// Buffers for piece bodies, handed out again after their request: a fresh megabyte costs its
// page faults and its zeroing on every piece.
class BodyBuffers {
public:
    // A buffer (with its last contents) that goes back to the pool when released.
    std::shared_ptr<std::string> Take();

private:
    struct Idle {
        std::mutex mutex;  // guards vBuffers
        std::vector<std::unique_ptr<std::string>> vBuffers;
    };
    // shared with every buffer handed out, which may outlive the pool
    std::shared_ptr<Idle> m_pIdle = std::make_shared<Idle>();
};

struct ServiceContext {
    Options opts;
    std::string strPublicUrl;  // no trailing "/"
    Store store;
    ContentFiles files;
    FaultBook faults;
    UploadLocks uploadLocks;
    RunningDigests digests;
    DigestHelpers helpers;
    BodyBuffers pieceBodies;
    std::atomic<bool> bStopping{false};
};

// Random lower-case letters and digits, for pick codes and keys.
std::string RandomToken(size_t nLength);
long long NowSeconds();

}  // namespace standin
