// How long the network layer waits before it gives up: one place for the numbers, and one
// setter so tests can make a silent peer fail in a second instead of a minute.
#pragma once

namespace _VelmoUpload {

struct NetTimeouts {
    // a connection that is not made by then fails
    static constexpr int kDefaultConnectMs = 20000;
    // a send or receive that makes no progress for this long fails
    static constexpr int kDefaultIdleMs = 60000;

    static int ConnectMs();
    static int IdleMs();
    // Values of 0 or less restore the defaults.
    static void Set(int nConnectMs, int nIdleMs);
};

}  // namespace _VelmoUpload
