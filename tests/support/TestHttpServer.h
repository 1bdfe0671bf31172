// A scripted HTTP peer on a free loopback port for the network-layer tests: it records every
// request it reads and answers each connection the way the test asks, well or badly.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmotest {

class TestHttpServer {
public:
    // How a connection ends once the scripted bytes are out.
    enum class End {
        Close,        // orderly close (FIN), after the peer's unread bytes are drained
        CloseAtOnce,  // close() straight away; bytes left unread make the kernel reset
        KeepOpen,     // stay open and silent until the server is destroyed
        Reset,        // abortive close (RST)
    };

    struct Behaviour {
        // Read the request (header and Content-Length body) before answering; when false the
        // server answers at once and records nothing for this connection.
        bool bReadRequest = true;
        // A pause after each read of the request, so that a large request keeps stalling the
        // sender for a while without ever stopping it.
        int nReadPauseMs = 0;
        // Sent in order, with nPauseMs before each piece after the first, so that a reader
        // sees them in separate receives.
        std::vector<std::string> vPieces;
        int nPauseMs = 0;
        End eEnd = End::Close;
        // When set, the reply is built from the raw request instead of taken from vPieces.
        std::function<std::string(const std::string&)> fnReply;

        static Behaviour Pieces(std::vector<std::string> vPieces, int nPauseMs,
                                End eEnd = End::Close) {
            return {true, 0, std::move(vPieces), nPauseMs, eEnd, nullptr};
        }
        // Reads the request, answers, closes.
        static Behaviour Reply(std::string strBytes) { return Pieces({std::move(strBytes)}, 0); }
        // Reads the request, answers, leaves the connection open.
        static Behaviour KeepAlive(std::string strBytes) {
            return Pieces({std::move(strBytes)}, 0, End::KeepOpen);
        }
        // Reads the request and never answers.
        static Behaviour Silent() { return Pieces({}, 0, End::KeepOpen); }
        // Reads the request, sends strPart, then resets the connection.
        static Behaviour ResetAfter(std::string strPart) {
            return Pieces({std::move(strPart)}, 0, End::Reset);
        }
        // Accepts and closes at once, leaving whatever the client sends unread.
        static Behaviour CloseWithoutReading() {
            return {false, 0, {}, 0, End::CloseAtOnce, nullptr};
        }
    };

    // Connection i follows vScript[i]; later connections follow the last entry.
    explicit TestHttpServer(std::vector<Behaviour> vScript);
    explicit TestHttpServer(Behaviour behaviour);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    uint16_t Port() const { return m_nPort; }
    // "http://127.0.0.1:<port>" followed by strPath.
    std::string Url(const std::string& strPath = "/") const;
    // The raw requests read so far, in the order they were complete.
    std::vector<std::string> Requests() const;
    int Connections() const;

    // A loopback port that nothing listens on (bound once, then released).
    static uint16_t UnusedPort();

private:
    void AcceptLoop();
    void Serve(int fd, const Behaviour& behaviour);
    // Waits for fd to become ready for nEvents; false when the server stops.
    bool WaitFd(int fd, short nEvents) const;
    // One receive once fd is readable: the byte count, 0 at the end, on failure or on stop.
    size_t Recv(int fd, char* pBuf, size_t nSize) const;
    std::string ReadRequest(int fd, int nPauseMs) const;
    bool SendAll(int fd, const std::string& strBytes) const;
    bool Pause(int nMs) const;

    std::vector<Behaviour> m_vScript;
    int m_nListenFd = -1;
    int m_nStopPipe[2] = {-1, -1};
    uint16_t m_nPort = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::vector<std::thread> m_vHandlers;  // guarded by m_mutex
    std::vector<std::string> m_vRequests;  // guarded by m_mutex
    int m_nConnections = 0;                // guarded by m_mutex
};

}  // namespace velmotest
