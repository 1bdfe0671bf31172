// Direct use of a request's socket, for the faults the HTTP library would not produce itself:
// a dropped connection, a reply in timed chunks, a reply that keeps the connection open.
#pragma once

#include <atomic>
#include <string>

namespace standin {

// Shuts the connection both ways and makes its final close a reset. The worker keeps the
// descriptor and closes it later; the library's own reply then goes nowhere.
void DropConnection(int fd);

// Writes a 200 reply with strBody in nChunks chunks of chunked transfer coding, nPauseMs apart,
// then shuts the connection.
bool SendChunkedReply(int fd, const std::string& strBody, int nChunks, int nPauseMs,
                      const std::atomic<bool>& bStopping);

// Writes a 200 reply framed by Content-Length and "Connection: Keep-Alive", then keeps the
// connection open until the peer closes it, fSeconds pass or the server stops; then shuts it.
bool SendKeptAliveReply(int fd, const std::string& strBody, double fSeconds,
                        const std::atomic<bool>& bStopping);

}  // namespace standin
