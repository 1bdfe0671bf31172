// Network time-outs, read by every new connection.
#include "http/sockets/NetTimeouts.h"

#include <atomic>

namespace _VelmoUpload {

namespace {
std::atomic<int> g_nConnectMs{NetTimeouts::kDefaultConnectMs};
std::atomic<int> g_nIdleMs{NetTimeouts::kDefaultIdleMs};
}  // namespace

int NetTimeouts::ConnectMs() {
    return g_nConnectMs.load(std::memory_order_relaxed);
}

int NetTimeouts::IdleMs() {
    return g_nIdleMs.load(std::memory_order_relaxed);
}

void NetTimeouts::Set(int nConnectMs, int nIdleMs) {
    g_nConnectMs = nConnectMs > 0 ? nConnectMs : kDefaultConnectMs;
    g_nIdleMs = nIdleMs > 0 ? nIdleMs : kDefaultIdleMs;
}

}  // namespace _VelmoUpload
