// The socket layer against real loopback peers: the receive buffer's life, peers that close,
// reset or fall silent, the time-outs, and lookups from many threads.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TestHttpServer.h"
#include "WaitFor.h"
#include "http/sockets/NetTimeouts.h"
#include "http/sockets/proxy.h"

using _VelmoUpload::CActiveSocket;
using _VelmoUpload::CProxySocket;
using _VelmoUpload::NetTimeouts;
using velmotest::TestHttpServer;
using Behaviour = velmotest::TestHttpServer::Behaviour;
using namespace std::chrono;

namespace {

constexpr int32_t kReceiveSize = 5120;

// Every test starts from the default time-outs and leaves them so.
class SocketTest : public ::testing::Test {
protected:
    void SetUp() override { NetTimeouts::Set(0, 0); }
    void TearDown() override { NetTimeouts::Set(0, 0); }

    static bool Connect(CActiveSocket& socket, uint16_t nPort, const char* pHost = "127.0.0.1") {
        return socket.Initialize() && socket.Open(pHost, nPort);
    }
};

TEST_F(SocketTest, ConnectGivesUpAtTheConnectTimeout) {
    // A listener with a backlog of 0 that never accepts: once one connection fills its queue,
    // the kernel drops further handshakes, so the next connect hangs until someone gives up.
    int nListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(nListen, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(addr);
    ASSERT_EQ(0, bind(nListen, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)));
    ASSERT_EQ(0, getsockname(nListen, reinterpret_cast<struct sockaddr*>(&addr), &nLen));
    ASSERT_EQ(0, listen(nListen, 0));
    std::vector<int> vFillers;
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr));
        vFillers.push_back(fd);
    }
    struct pollfd first = {vFillers[0], POLLOUT, 0};
    poll(&first, 1, 2000);  // the first filler's handshake completes and takes the queue

    NetTimeouts::Set(500, 0);
    CActiveSocket victim;
    ASSERT_TRUE(victim.Initialize());
    auto start = steady_clock::now();
    bool bOpened = victim.Open("127.0.0.1", ntohs(addr.sin_port));
    auto elapsed = steady_clock::now() - start;
    for (int fd : vFillers)
        close(fd);
    close(nListen);
    if (bOpened)
        GTEST_SKIP() << "this kernel completed a handshake past a full backlog";
    EXPECT_EQ(_VelmoUpload::SocketTimedout, victim.GetSocketError());
    EXPECT_LT(elapsed, seconds(10));
}

TEST_F(SocketTest, TheReceiveBufferIsDroppedWhereItMustBe) {
    // "one", pause, "two", then silence: two successful receives, then one that times out
    Behaviour b = Behaviour::Pieces({"one", "two"}, 100, TestHttpServer::End::KeepOpen);
    b.bReadRequest = false;
    TestHttpServer server(b);
    NetTimeouts::Set(0, 300);
    CActiveSocket socket;
    ASSERT_TRUE(Connect(socket, server.Port()));
    for (const char* pExpected : {"one", "two"}) {
        ASSERT_EQ(3, socket.Receive(kReceiveSize));
        EXPECT_EQ(pExpected, std::string(reinterpret_cast<const char*>(socket.GetData()), 3));
    }
    EXPECT_EQ(-1, socket.Receive(kReceiveSize));
    EXPECT_EQ(nullptr, socket.GetData()) << "a failed receive must not leave stale bytes";

    ASSERT_TRUE(socket.Close());
    EXPECT_EQ(nullptr, socket.GetData());
    EXPECT_EQ(0, socket.Receive(kReceiveSize)) << "a closed socket receives nothing";
    EXPECT_FALSE(socket.Close()) << "a second close must not close someone else's descriptor";
}

TEST_F(SocketTest, SendCompletesABufferThatAStallingPeerTakesInParts) {
    // The peer reads in bursts with pauses, so single send calls end at the idle time-out
    // having taken only part of the buffer; the rest must still follow, in order.
    std::string strBody;
    for (int i = 0; strBody.size() < 16 * 1024 * 1024; ++i)
        strBody += std::to_string(i) + ";";
    const std::string strHead =
        "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(strBody.size()) + "\r\n\r\n";
    Behaviour slowReader = Behaviour::Reply("");
    slowReader.nReadPauseMs = 50;
    TestHttpServer server(slowReader);
    NetTimeouts::Set(0, 2000);
    CActiveSocket socket;
    ASSERT_TRUE(Connect(socket, server.Port()));
    const std::string strAll = strHead + strBody;
    EXPECT_EQ(static_cast<int32_t>(strAll.size()),
              socket.Send(reinterpret_cast<const uint8_t*>(strAll.data()), strAll.size()));
    ASSERT_TRUE(velmotest::waitFor([&] { return !server.Requests().empty(); }, seconds(30)));
    EXPECT_TRUE(server.Requests()[0] == strAll) << "the peer got a different byte stream";
}

// No SIGPIPE handler is installed here on purpose: a broken-pipe signal would end the test
// process, which is exactly the failure this test guards against.
TEST_F(SocketTest, SendToAPeerThatClosedOrResetFailsWithoutSignal) {
    Behaviour reset = Behaviour::ResetAfter("partial");
    reset.bReadRequest = false;
    for (const Behaviour& behaviour : {Behaviour::CloseWithoutReading(), reset}) {
        TestHttpServer server(behaviour);
        CActiveSocket socket;
        ASSERT_TRUE(Connect(socket, server.Port()));
        // a close arrives as the end of data; the part before a reset may or may not be read
        int32_t nEnd;
        while ((nEnd = socket.Receive(kReceiveSize)) > 0) {
        }
        if (behaviour.eEnd == TestHttpServer::End::CloseAtOnce) {
            EXPECT_EQ(0, nEnd) << "the peer's close arrives as end of data";
        }
        // the first sends after a close may still be taken before the peer's reset comes back
        const std::string strChunk(1024, 'x');
        int32_t nSent = 1;
        for (int i = 0; i < 200 && nSent >= 0; ++i) {
            std::this_thread::sleep_for(milliseconds(i == 0 ? 0 : 10));
            nSent = socket.Send(reinterpret_cast<const uint8_t*>(strChunk.data()), strChunk.size());
        }
        EXPECT_EQ(-1, nSent);
    }
}

TEST_F(SocketTest, SendAndReceiveFailAtTheIdleTimeoutOfASilentPeer) {
    Behaviour silent = Behaviour::Silent();
    silent.bReadRequest = false;
    TestHttpServer server(silent);
    NetTimeouts::Set(0, 1000);
    CActiveSocket socket;
    ASSERT_TRUE(Connect(socket, server.Port()));
    auto start = steady_clock::now();
    EXPECT_EQ(-1, socket.Receive(kReceiveSize));
    EXPECT_EQ(_VelmoUpload::SocketEwouldblock, socket.GetSocketError());
    EXPECT_EQ(nullptr, socket.GetData());
    // far more than the kernel buffers on both ends hold, so the send must stall
    const std::string strBulk(64 * 1024 * 1024, 'z');
    EXPECT_EQ(-1, socket.Send(reinterpret_cast<const uint8_t*>(strBulk.data()), strBulk.size()));
    EXPECT_LT(steady_clock::now() - start, seconds(15));
}

TEST_F(SocketTest, LookupsFromManyThreadsAtOnceAllSucceed) {
    TestHttpServer server(Behaviour::CloseWithoutReading());
    constexpr int kThreads = 8;
    constexpr int kRounds = 5;
    std::atomic<int> nReady{0};
    std::atomic<int> nFailures{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < kThreads; ++t) {
        vThreads.emplace_back([&, t] {
            ++nReady;
            while (nReady.load() < kThreads)
                std::this_thread::yield();  // start together
            for (int i = 0; i < kRounds; ++i) {
                const char* pHost = (t + i) % 2 == 0 ? "localhost" : "127.0.0.1";
                CProxySocket socket;
                if (!socket.Initialize() || !socket.Open(pHost, server.Port()))
                    ++nFailures;
            }
        });
    }
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(0, nFailures.load());
}

}  // namespace
