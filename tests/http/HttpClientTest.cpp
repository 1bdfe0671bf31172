// The HTTP client against a scripted local server: URL splitting, the request bytes on the wire,
// each way a reply can be framed, and the ways a server can fail to send a good one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TestHttpServer.h"
#include "http/HttpReply.h"
#include "http/QvHttpClient.h"
#include "http/sockets/NetTimeouts.h"

using _VelmoUpload::HttpReply;
using _VelmoUpload::NetTimeouts;
using _VelmoUpload::QvHttpClient;
using velmotest::TestHttpServer;
using Behaviour = velmotest::TestHttpServer::Behaviour;
using End = velmotest::TestHttpServer::End;
using namespace std::chrono;

namespace {

const char kOkHead[] = "HTTP/1.1 200 OK\r\n";
const char kChunkedHead[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

std::string SizedReply(const std::string& strBody) {
    return std::string(kOkHead) +
           "Content-Type: application/json\r\nContent-Length: " + std::to_string(strBody.size()) +
           "\r\n\r\n" + strBody;
}

struct UrlParts {
    std::string strScheme, strHost, strPath;
    int nPort = -1;
};

UrlParts Split(const std::string& strUrl) {
    UrlParts parts;
    QvHttpClient::GetUrlInfo(strUrl, parts.strScheme, parts.strHost, parts.nPort, parts.strPath);
    return parts;
}

// Every test starts from the default time-outs and leaves them so.
class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { NetTimeouts::Set(0, 0); }
    void TearDown() override { NetTimeouts::Set(0, 0); }

    // Runs a GET of "/" against a server that behaves as given.
    static bool GetFrom(const Behaviour& behaviour, std::string& strResponse) {
        TestHttpServer server(behaviour);
        return QvHttpClient().Get(server.Url(), strResponse);
    }

    // A GET whose reply must be complete long before the idle time-out: the server keeps the
    // connection open, so only the reply's own framing can end the read.
    static void ExpectPromptReply(const Behaviour& behaviour, const std::string& strBody) {
        NetTimeouts::Set(0, 30000);
        TestHttpServer server(behaviour);
        std::string strResponse;
        auto start = steady_clock::now();
        EXPECT_TRUE(QvHttpClient().Get(server.Url(), strResponse));
        EXPECT_LT(steady_clock::now() - start, seconds(10))
            << "the read waited for the server instead of ending with the reply";
        EXPECT_EQ(strBody, strResponse);
    }

    // A GET that must fail; silent failures must come from the shortened time-out.
    static void ExpectFailure(const Behaviour& behaviour) {
        NetTimeouts::Set(1000, 1000);
        TestHttpServer server(behaviour);
        std::string strResponse;
        auto start = steady_clock::now();
        EXPECT_FALSE(QvHttpClient().Get(server.Url(), strResponse));
        EXPECT_LT(steady_clock::now() - start, seconds(10));
    }
};

TEST(HttpClientUrlTest, SplitsEveryShapeOfUrl) {
    UrlParts p = Split("http://h/x/y?z=1");
    EXPECT_EQ("http", p.strScheme);
    EXPECT_EQ("h", p.strHost);
    EXPECT_EQ(80, p.nPort);
    EXPECT_EQ("/x/y?z=1", p.strPath);

    p = Split("http://h:8080");
    EXPECT_EQ("h", p.strHost);
    EXPECT_EQ(8080, p.nPort);
    EXPECT_EQ("/", p.strPath);

    p = Split("h/x");
    EXPECT_EQ("http", p.strScheme);
    EXPECT_EQ("h", p.strHost);
    EXPECT_EQ(80, p.nPort);
    EXPECT_EQ("/x", p.strPath);

    p = Split("http://h:");
    EXPECT_EQ("h", p.strHost);
    EXPECT_EQ(0, p.nPort);

    // the scheme is reported but every request is plain HTTP on port 80 unless one is given
    p = Split("https://h/x");
    EXPECT_EQ("https", p.strScheme);
    EXPECT_EQ(80, p.nPort);
    EXPECT_EQ("/x", p.strPath);

    // a "/" inside the query belongs to the path, a ":" there does not make a port
    p = Split("http://h:81/p?q=a/b:c");
    EXPECT_EQ("h", p.strHost);
    EXPECT_EQ(81, p.nPort);
    EXPECT_EQ("/p?q=a/b:c", p.strPath);

    p = Split("://h/x");
    EXPECT_EQ("http", p.strScheme);
    EXPECT_EQ("h", p.strHost);
    EXPECT_EQ("/x", p.strPath);

    p = Split("");
    EXPECT_EQ("http", p.strScheme);
    EXPECT_EQ("", p.strHost);
    EXPECT_EQ(80, p.nPort);
    EXPECT_EQ("/", p.strPath);
}

TEST(HttpClientUrlTest, APortBeyondTheIntegerRangeIsNoPort) {
    // 2^32 + 80 must not wrap round to port 80
    EXPECT_EQ(0, Split("http://h:4294967376/x").nPort);
    EXPECT_EQ(0, Split("http://h:99999999999999999999/x").nPort);
}

TEST_F(HttpClientTest, GetSendsExactlyTheExpectedRequest) {
    TestHttpServer server(Behaviour::Reply(SizedReply("{}")));
    std::string strResponse;
    ASSERT_TRUE(QvHttpClient().Get(
        "http://localhost:" + std::to_string(server.Port()) + "/app/user/space?a=1", strResponse));
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ(
        "GET /app/user/space?a=1 HTTP/1.1\r\nHost: localhost\r\nUser-Agent: Velmoupload\r\n\r\n",
        server.Requests()[0]);
}

TEST_F(HttpClientTest, PostSendsExactlyTheExpectedRequest) {
    TestHttpServer server(Behaviour::Reply(SizedReply("{\"state\":true}")));
    std::string strResponse;
    ASSERT_TRUE(QvHttpClient().Post(server.Url("/app/clogin"), "a=1&b=2", strResponse));
    EXPECT_EQ("{\"state\":true}", strResponse);
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ(
        "POST /app/clogin HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 7\r\n"
        "User-Agent: Velmoupload\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"
        "a=1&b=2",
        server.Requests()[0]);
}

TEST_F(HttpClientTest, PostOfEmptyDataFailsWithoutWaitingForAReply) {
    NetTimeouts::Set(0, 30000);
    TestHttpServer server(Behaviour::Silent());
    std::string strResponse;
    auto start = steady_clock::now();
    EXPECT_FALSE(QvHttpClient().Post(server.Url("/p"), "", strResponse));
    EXPECT_LT(steady_clock::now() - start, seconds(10));
}

TEST_F(HttpClientTest, ARefusedOrPortlessConnectionFailsWithNothingReceived) {
    std::string strResponse = "stale";
    EXPECT_FALSE(QvHttpClient().Get(
        "http://127.0.0.1:" + std::to_string(TestHttpServer::UnusedPort()) + "/x", strResponse));
    EXPECT_EQ("", strResponse);
    EXPECT_FALSE(QvHttpClient().Post("http://127.0.0.1:/x", "a=1", strResponse));
    EXPECT_FALSE(QvHttpClient().Get("http://127.0.0.1:70000/x", strResponse));
}

TEST_F(HttpClientTest, RepliesInEachFramingGiveTheirBody) {
    std::string strResponse;
    // ended by the server closing
    EXPECT_TRUE(GetFrom(Behaviour::Reply(std::string(kOkHead) + "Server: t\r\n\r\nhello world"),
                        strResponse));
    EXPECT_EQ("hello world", strResponse);
    EXPECT_TRUE(GetFrom(Behaviour::Reply("HTTP/1.0 200 OK\r\n\r\n[1,2]"), strResponse));
    EXPECT_EQ("[1,2]", strResponse);
    // sized, then closed
    EXPECT_TRUE(GetFrom(Behaviour::Reply(SizedReply("{}")), strResponse));
    EXPECT_EQ("{}", strResponse);
    // header names in any case
    EXPECT_TRUE(GetFrom(Behaviour::KeepAlive(std::string(kOkHead) + "content-length: 3\r\n\r\nabc"),
                        strResponse));
    EXPECT_EQ("abc", strResponse);
}

TEST_F(HttpClientTest, ASizedReplyOnAKeptAliveConnectionEndsWithItsLastByte) {
    ExpectPromptReply(Behaviour::KeepAlive(SizedReply("{\"state\":true}")), "{\"state\":true}");
    ExpectPromptReply(Behaviour::KeepAlive(SizedReply("")), "");
    // bytes past the stated length are not part of this reply
    ExpectPromptReply(Behaviour::KeepAlive(SizedReply("{}") + "HTTP/1.1 200 OK\r\n"), "{}");
}

TEST_F(HttpClientTest, AChunkedReplyEndsAtItsLastChunkAndIsDecodedWhole) {
    ExpectPromptReply(Behaviour::KeepAlive(std::string(kChunkedHead) + "2\r\n{}\r\n0\r\n\r\n"),
                      "{}");
    // a JSON object cut across two chunks, hex sizes in either case
    ExpectPromptReply(Behaviour::KeepAlive(std::string(kChunkedHead) +
                                           "a\r\n{\"state\":t\r\n0A\r\nrue,\"x\":1}\r\n0\r\n\r\n"),
                      "{\"state\":true,\"x\":1}");
    // extensions on size lines, and trailer fields after the last chunk
    ExpectPromptReply(Behaviour::KeepAlive(std::string(kChunkedHead) +
                                           "5;name=value\r\nhello\r\n1 ; x\r\n,\r\n"
                                           "0;end\r\nX-Digest: abc\r\nX-More: d\r\n\r\n"),
                      "hello,");
    // chunk data that looks like the end of a chunked body is still data
    ExpectPromptReply(Behaviour::KeepAlive(std::string(kChunkedHead) +
                                           "8\r\nx\r\n0\r\n\r\n\r\n1\r\ny\r\n0\r\n\r\n"),
                      "x\r\n0\r\n\r\ny");
    // a chunked coding named after another one, with a stray Content-Length that must lose
    ExpectPromptReply(
        Behaviour::KeepAlive(std::string(kOkHead) + "Content-Length: 100\r\n"
                                                    "Transfer-Encoding: gzip, chunked\r\n\r\n"
                                                    "3\r\nabc\r\n0\r\n\r\n"),
        "abc");
}

TEST_F(HttpClientTest, AReplySplitAcrossReceivesIsJoinedWhole) {
    // the header, a size line, the chunk data and the final CR LF each cut in the middle
    ExpectPromptReply(
        Behaviour::Pieces({"HTTP/1.1 200 OK\r\nTransfer-Enc", "oding: chunked\r\n\r",
                           "\n5;ext=1\r\nhel", "lo\r\n0", "C\r\n world, wide\r\n0\r", "\n\r", "\n"},
                          30, End::KeepOpen),
        "hello world, wide");
    ExpectPromptReply(
        Behaviour::Pieces({std::string(kOkHead) + "Content-Len", "gth: 11\r\n\r\nhello", " world"},
                          30, End::KeepOpen),
        "hello world");
}

TEST_F(HttpClientTest, RepliesLargerThanOneReceiveArriveByteForByte) {
    std::string strBody;
    for (int i = 0; strBody.size() < 200000; ++i)
        strBody += std::to_string(i) + ",";
    ExpectPromptReply(Behaviour::KeepAlive(SizedReply(strBody)), strBody);

    std::string strChunked = kChunkedHead;
    for (size_t nPos = 0; nPos < strBody.size(); nPos += 3001) {
        std::string strPiece = strBody.substr(nPos, 3001);
        char szSize[16];
        snprintf(szSize, sizeof(szSize), "%zx", strPiece.size());
        strChunked += std::string(szSize) + "\r\n" + strPiece + "\r\n";
    }
    ExpectPromptReply(Behaviour::KeepAlive(strChunked + "0\r\n\r\n"), strBody);

    std::string strResponse;
    EXPECT_TRUE(GetFrom(Behaviour::Reply(std::string(kOkHead) + "\r\n" + strBody), strResponse));
    EXPECT_TRUE(strResponse == strBody) << "close-delimited body differs";
}

TEST_F(HttpClientTest, OnlyAStatusOf200OkCounts) {
    ExpectFailure(Behaviour::Reply("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"));
    ExpectFailure(Behaviour::KeepAlive("HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\n{}"));
    ExpectFailure(Behaviour::Reply("HTTP/1.1 200 Okay\r\nContent-Length: 2\r\n\r\n{}"));
    ExpectFailure(Behaviour::Reply("HTTP/1.1 200 OK then\r\nContent-Length: 2\r\n\r\n{}"));
    // a status text in the body of another status does not make it a success
    ExpectFailure(Behaviour::Reply(
        "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 17\r\n\r\nHTTP/1.1 200 OK\r\n"));
    ExpectFailure(Behaviour::Reply("garbage\r\n\r\nHTTP/1.1 200 OK\r\n\r\n{}"));
}

TEST_F(HttpClientTest, AReplyCutShortFails) {
    // fewer body bytes than stated, then close
    ExpectFailure(Behaviour::Reply(std::string(kOkHead) + "Content-Length: 100\r\n\r\n{\"a\":1}"));
    // chunked without its last chunk, then close
    ExpectFailure(Behaviour::Reply(std::string(kChunkedHead) + "2\r\n{}\r\n"));
    ExpectFailure(Behaviour::Reply(std::string(kChunkedHead) + "10\r\n{}"));
    // a status line whose header never ends
    ExpectFailure(Behaviour::Reply("HTTP/1.1 200 OK"));
    ExpectFailure(Behaviour::Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"));
    // nothing at all
    ExpectFailure(Behaviour::Reply(""));
}

TEST_F(HttpClientTest, AMalformedChunkedReplyFailsAtOnce) {
    NetTimeouts::Set(0, 30000);
    TestHttpServer server(
        Behaviour::KeepAlive(std::string(kChunkedHead) + "zz\r\n{}\r\n0\r\n\r\n"));
    std::string strResponse;
    auto start = steady_clock::now();
    EXPECT_FALSE(QvHttpClient().Get(server.Url(), strResponse));
    EXPECT_LT(steady_clock::now() - start, seconds(10));
}

TEST_F(HttpClientTest, AServerThatBreaksOffOrFallsSilentFails) {
    ExpectFailure(Behaviour::ResetAfter(std::string(kOkHead) + "Content-Length: 50\r\n\r\n{\"a"));
    ExpectFailure(Behaviour::ResetAfter(std::string(kChunkedHead) + "4\r\n{\"a\""));
    ExpectFailure(Behaviour::CloseWithoutReading());
    ExpectFailure(Behaviour::Silent());
    // a header that stops half-way and a sized body that stalls
    ExpectFailure(Behaviour::KeepAlive("HTTP/1.1 200 OK\r\nContent-Le"));
    ExpectFailure(Behaviour::KeepAlive(std::string(kOkHead) + "Content-Length: 5\r\n\r\nab"));
    // a reply that trickles a byte every 100 ms never trips the idle time-out; it would take
    // 40 s, and is given up after twice the idle time-out
    std::vector<std::string> vBytes;
    for (char c : std::string(kOkHead) + "Content-Length: 300\r\n\r\n" + std::string(300, 'x'))
        vBytes.push_back(std::string(1, c));
    ExpectFailure(Behaviour::Pieces(vBytes, 100));
}

TEST_F(HttpClientTest, AHeaderEndingWithTheDataGivesAnEmptyBody) {
    std::string strResponse = "stale";
    EXPECT_TRUE(GetFrom(Behaviour::Reply(std::string(kOkHead) + "Content-Type: text/plain\r\n\r\n"),
                        strResponse));
    EXPECT_EQ("", strResponse);
}

TEST_F(HttpClientTest, ClientsOnManyThreadsEachGetTheirOwnReply) {
    Behaviour echo;
    echo.fnReply = [](const std::string& strRequest) {
        // the reply names the path it was asked for, so crossed replies show
        std::string strPath = strRequest.substr(4, strRequest.find(' ', 4) - 4);
        return SizedReply(strPath);
    };
    echo.eEnd = End::KeepOpen;
    TestHttpServer server(echo);
    NetTimeouts::Set(0, 30000);
    constexpr int kThreads = 6;
    constexpr int kRounds = 5;
    std::atomic<int> nWrong{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < kThreads; ++t) {
        vThreads.emplace_back([&, t] {
            QvHttpClient client;
            for (int i = 0; i < kRounds; ++i) {
                std::string strPath = "/t" + std::to_string(t) + "/r" + std::to_string(i);
                std::string strResponse;
                if (!client.Get(server.Url(strPath), strResponse) || strResponse != strPath)
                    ++nWrong;
            }
        });
    }
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(0, nWrong.load());
    EXPECT_EQ(kThreads * kRounds, server.Connections()) << "one connection per request";
}

// Framing decisions on raw text, for the cases the wire cannot hold still long enough to see.
TEST(HttpReplyTest, IsCompleteOnlyOnceTheFramingSaysSo) {
    const std::string strSized = SizedReply("{}");
    for (size_t n = 0; n < strSized.size(); ++n)
        EXPECT_FALSE(HttpReply::IsComplete(strSized.substr(0, n))) << "prefix of " << n;
    EXPECT_TRUE(HttpReply::IsComplete(strSized));

    const std::string strChunked =
        std::string(kChunkedHead) + "2;x=y\r\n{}\r\n0\r\nTrailer: v\r\n\r\n";
    for (size_t n = 0; n < strChunked.size(); ++n)
        EXPECT_FALSE(HttpReply::IsComplete(strChunked.substr(0, n))) << "prefix of " << n;
    EXPECT_TRUE(HttpReply::IsComplete(strChunked));

    // without a length or chunks, only the server's close ends the reply
    EXPECT_FALSE(HttpReply::IsComplete(std::string(kOkHead) + "\r\nanything"));
    // a reply that can have no body is whole at the end of its header
    EXPECT_TRUE(HttpReply::IsComplete("HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n"));
    EXPECT_TRUE(HttpReply::IsComplete("HTTP/1.1 304 Not Modified\r\n\r\n"));
}

TEST(HttpReplyTest, ExtractBodyLeavesAFailedReplyUntouched) {
    const std::string vBad[] = {
        "HTTP/1.1 404 Not Found\r\n\r\nx",
        std::string(kOkHead) + "Content-Length: 3\r\n\r\nab",
        std::string(kChunkedHead) + "3\r\nab",
        std::string(kChunkedHead) + "3\r\nabcX\r\n0\r\n\r\n",  // data longer than its size
        std::string(kChunkedHead) + "-1\r\nab\r\n0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Type: x",
    };
    for (const std::string& strBad : vBad) {
        std::string strRaw = strBad;
        EXPECT_FALSE(HttpReply::ExtractBody(strRaw)) << strBad;
        EXPECT_EQ(strBad, strRaw);
    }
}

}  // namespace
