// Random tokens, the clock and the piece buffers for the handlers.
#include "ServiceContext.h"

#include <ctime>
#include <random>

namespace standin {

std::string RandomToken(size_t nLength) {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 rng(std::random_device{}());
    std::uniform_int_distribution<size_t> pick(0, sizeof(kAlphabet) - 2);
    std::string strToken;
    strToken.reserve(nLength);
    for (size_t i = 0; i < nLength; ++i)
        strToken += kAlphabet[pick(rng)];
    return strToken;
}

namespace {
// enough for the pieces of every upload a client runs at once
const size_t kMaxIdleBodies = 16;
}  // namespace

std::shared_ptr<std::string> BodyBuffers::Take() {
    std::unique_ptr<std::string> pBuffer;
    {
        std::lock_guard<std::mutex> lock(m_pIdle->mutex);
        if (!m_pIdle->vBuffers.empty()) {
            pBuffer = std::move(m_pIdle->vBuffers.back());
            m_pIdle->vBuffers.pop_back();
        }
    }
    if (!pBuffer)
        pBuffer.reset(new std::string);
    std::shared_ptr<Idle> pIdle = m_pIdle;
    return std::shared_ptr<std::string>(pBuffer.release(), [pIdle](std::string* p) {
        std::unique_ptr<std::string> pReturned(p);
        std::lock_guard<std::mutex> lock(pIdle->mutex);
        if (pIdle->vBuffers.size() < kMaxIdleBodies)
            pIdle->vBuffers.push_back(std::move(pReturned));
    });
}

long long NowSeconds() {
    return static_cast<long long>(time(nullptr));
}

}  // namespace standin
