// The HTTP client against a scripted local server: URL splitting, the request bytes on the wire,
// each way a reply can be framed, and the ways a server can fail to send a good one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
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

const std::string kOkHead = "HTTP/1.1 200 OK\r\n";
const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

std::string SizedReply(const std::string& strBody) {
    return kOkHead +
           "Content-Type: application/json\r\nContent-Length: " + std::to_string(strBody.size()) +
           "\r\n\r\n" + strBody;
}

// Every test starts from the default time-outs and leaves them so.
class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { NetTimeouts::Set(0, 0); }
    void TearDown() override { NetTimeouts::Set(0, 0); }
};

TEST(HttpClientUrlTest, SplitsEveryShapeOfUrl) {
    const struct {
        const char *pUrl, *pScheme, *pHost;
        int nPort;
        const char* pPath;
    } kCases[] = {
        {"http://h/x/y?z=1", "http", "h", 80, "/x/y?z=1"},
        {"http://h:8080", "http", "h", 8080, "/"},
        {"h/x", "http", "h", 80, "/x"},
        {"http://h:", "http", "h", 0, "/"},
        // the scheme is reported but every request is plain HTTP on port 80 unless one is given
        {"https://h/x", "https", "h", 80, "/x"},
        // a "/" inside the query belongs to the path, a ":" there does not make a port
        {"http://h:81/p?q=a/b:c", "http", "h", 81, "/p?q=a/b:c"},
        {"", "http", "", 80, "/"},
        // 2^32 + 80 must not wrap round to port 80
        {"http://h:4294967376/x", "http", "h", 0, "/x"},
        {"http://h:99999999999999999999/x", "http", "h", 0, "/x"},
    };
    for (const auto& c : kCases) {
        std::string strScheme, strHost, strPath;
        int nPort = -1;
        QvHttpClient::GetUrlInfo(c.pUrl, strScheme, strHost, nPort, strPath);
        EXPECT_EQ(std::make_tuple(c.pScheme, c.pHost, c.nPort, c.pPath),
                  std::make_tuple(strScheme, strHost, nPort, strPath))
            << c.pUrl;
    }
}

TEST_F(HttpClientTest, GetAndPostSendExactlyTheExpectedRequest) {
    TestHttpServer server(Behaviour::Reply(SizedReply("{\"state\":true}")));
    std::string strResponse;
    ASSERT_TRUE(QvHttpClient().Get(
        "http://localhost:" + std::to_string(server.Port()) + "/app/user/space?a=1", strResponse));
    ASSERT_TRUE(QvHttpClient().Post(server.Url("/app/clogin"), "a=1&b=2", strResponse));
    EXPECT_EQ("{\"state\":true}", strResponse);
    ASSERT_EQ(2u, server.Requests().size());
    EXPECT_EQ(
        "GET /app/user/space?a=1 HTTP/1.1\r\nHost: localhost\r\nUser-Agent: Velmoupload\r\n\r\n",
        server.Requests()[0]);
    EXPECT_EQ(
        "POST /app/clogin HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 7\r\n"
        "User-Agent: Velmoupload\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"
        "a=1&b=2",
        server.Requests()[1]);
}

TEST_F(HttpClientTest, RequestsThatCannotBeMadeFailAtOnce) {
    NetTimeouts::Set(0, 30000);
    TestHttpServer server(Behaviour::Silent());
    std::string strResponse = "stale";
    auto start = steady_clock::now();
    EXPECT_FALSE(QvHttpClient().Post(server.Url("/p"), "", strResponse));
    EXPECT_EQ("", strResponse);
    EXPECT_FALSE(QvHttpClient().Post("http://127.0.0.1:/x", "a=1", strResponse));
    EXPECT_FALSE(QvHttpClient().Get("http://127.0.0.1:70000/x", strResponse));
    EXPECT_LT(steady_clock::now() - start, seconds(10));
    // a name that never resolves, untimed: the lookup is the resolver's
    EXPECT_FALSE(QvHttpClient().Get("http://no-such-host.invalid/x", strResponse));
}

// Raw reply bytes to outcome. A good reply on a connection the server keeps open must end
// with its own framing, long before the 30 s idle time-out, and so must a malformed one; other
// bad ones fail, a silent one at the shortened 1 s time-out.
enum Outcome { kFails, kGives, kFailsAtOnce };
TEST_F(HttpClientTest, EachReplyGivesItsBodyOrFails) {
    std::string strBig;
    for (int i = 0; strBig.size() < 200000; ++i)
        strBig += std::to_string(i) + ",";
    std::string strBigChunked = kChunkedHead;
    for (size_t nPos = 0; nPos < strBig.size(); nPos += 3001) {
        char szSize[16];
        snprintf(szSize, sizeof(szSize), "%zx\r\n", strBig.substr(nPos, 3001).size());
        strBigChunked += szSize + strBig.substr(nPos, 3001) + "\r\n";
    }
    std::vector<std::string> vTrickle;
    for (char c : kOkHead + "Content-Length: 300\r\n\r\n" + std::string(300, 'x'))
        vTrickle.push_back(std::string(1, c));
    const auto keep = Behaviour::KeepAlive;
    const auto close = Behaviour::Reply;
    const struct {
        const char* pWhat;
        Behaviour behaviour;
        Outcome eOutcome;
        std::string strBody;
    } kCases[] = {
        {"ended by close", close(kOkHead + "Server: t\r\n\r\nhello world"), kGives, "hello world"},
        {"HTTP/1.0", close("HTTP/1.0 200 OK\r\n\r\n[1,2]"), kGives, "[1,2]"},
        {"header only", close(kOkHead + "Content-Type: text/plain\r\n\r\n"), kGives, ""},
        {"sized", keep(SizedReply("{\"state\":true}")), kGives, "{\"state\":true}"},
        {"lower-case header", keep(kOkHead + "content-length: 3\r\n\r\nabc"), kGives, "abc"},
        {"bytes past the length", keep(SizedReply("{}") + "HTTP/1.1 200 OK\r\n"), kGives, "{}"},
        {"chunked", keep(kChunkedHead + "2\r\n{}\r\n0\r\n\r\n"), kGives, "{}"},
        {"JSON across chunks, hex in either case",
         keep(kChunkedHead + "a\r\n{\"state\":t\r\n0A\r\nrue,\"x\":1}\r\n0\r\n\r\n"), kGives,
         "{\"state\":true,\"x\":1}"},
        {"extensions and trailers",
         keep(kChunkedHead + "5;name=value\r\nhello\r\n1 ; x\r\n,\r\n0;end\r\nX-Digest: abc\r\n"
                             "X-More: d\r\n\r\n"),
         kGives, "hello,"},
        {"data that looks like the end",
         keep(kChunkedHead + "8\r\nx\r\n0\r\n\r\n\r\n1\r\ny\r\n0\r\n\r\n"), kGives,
         "x\r\n0\r\n\r\ny"},
        {"chunked wins over a stray length",
         keep(kOkHead + "Content-Length: 100\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
                        "3\r\nabc\r\n0\r\n\r\n"),
         kGives, "abc"},
        {"chunked split in every part",
         Behaviour::Pieces(
             {"HTTP/1.1 200 OK\r\nTransfer-Enc", "oding: chunked\r\n\r", "\n5;ext=1\r\nhel",
              "lo\r\n0", "C\r\n world, wide\r\n0\r", "\n\r", "\n"},
             30, End::KeepOpen),
         kGives, "hello world, wide"},
        {"sized split",
         Behaviour::Pieces({kOkHead + "Content-Len", "gth: 11\r\n\r\nhello", " world"}, 30,
                           End::KeepOpen),
         kGives, "hello world"},
        {"large sized", keep(SizedReply(strBig)), kGives, strBig},
        {"large chunked", keep(strBigChunked + "0\r\n\r\n"), kGives, strBig},
        {"large by close", close(kOkHead + "\r\n" + strBig), kGives, strBig},
        // only a status of 200 OK counts
        {"404", close("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"), kFails, ""},
        {"Okay", close("HTTP/1.1 200 Okay\r\nContent-Length: 2\r\n\r\n{}"), kFails, ""},
        {"status in the body",
         close(
             "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 17\r\n\r\nHTTP/1.1 200 OK\r\n"),
         kFails, ""},
        {"garbage", close("garbage\r\n\r\nHTTP/1.1 200 OK\r\n\r\n{}"), kFails, ""},
        // cut short
        {"short body", close(kOkHead + "Content-Length: 100\r\n\r\n{\"a\":1}"), kFails, ""},
        {"no last chunk", close(kChunkedHead + "2\r\n{}\r\n"), kFails, ""},
        {"short chunk", close(kChunkedHead + "10\r\n{}"), kFails, ""},
        {"header never ends", close("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"), kFails, ""},
        {"nothing", close(""), kFails, ""},
        {"bad chunk size", keep(kChunkedHead + "zz\r\n{}\r\n0\r\n\r\n"), kFailsAtOnce, ""},
        // servers that break off or fall silent
        {"reset in body", Behaviour::ResetAfter(kOkHead + "Content-Length: 50\r\n\r\n{\"a"), kFails,
         ""},
        {"reset in chunk", Behaviour::ResetAfter(kChunkedHead + "4\r\n{\"a\""), kFails, ""},
        {"close without reading", Behaviour::CloseWithoutReading(), kFails, ""},
        {"silent", Behaviour::Silent(), kFails, ""},
        {"header stalls", keep("HTTP/1.1 200 OK\r\nContent-Le"), kFails, ""},
        {"body stalls", keep(kOkHead + "Content-Length: 5\r\n\r\nab"), kFails, ""},
        // a byte every 100 ms never trips the idle time-out; it is given up after twice that
        {"trickle", Behaviour::Pieces(vTrickle, 100), kFails, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pWhat);
        NetTimeouts::Set(c.eOutcome == kFails ? 1000 : 0, c.eOutcome == kFails ? 1000 : 30000);
        TestHttpServer server(c.behaviour);
        std::string strResponse;
        auto start = steady_clock::now();
        EXPECT_EQ(c.eOutcome == kGives, QvHttpClient().Get(server.Url(), strResponse));
        EXPECT_LT(steady_clock::now() - start, seconds(10));
        if (c.eOutcome == kGives) {
            EXPECT_TRUE(c.strBody == strResponse) << strResponse.substr(0, 200);
        }
    }
}

TEST_F(HttpClientTest, ClientsOnManyThreadsEachGetTheirOwnReply) {
    Behaviour echo;
    echo.fnReply = [](const std::string& strRequest) {
        // the reply names the path it was asked for, so crossed replies show
        return SizedReply(strRequest.substr(4, strRequest.find(' ', 4) - 4));
    };
    echo.eEnd = End::KeepOpen;
    TestHttpServer server(echo);
    NetTimeouts::Set(0, 30000);
    std::atomic<int> nWrong{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 6; ++t) {
        vThreads.emplace_back([&, t] {
            QvHttpClient client;
            for (int i = 0; i < 5; ++i) {
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
    EXPECT_EQ(30, server.Connections()) << "one connection per request";
}

// Framing decisions on raw text, for the cases the wire cannot hold still long enough to see.
TEST(HttpReplyTest, IsCompleteOnlyOnceTheFramingSaysSoAndFailuresStayUntouched) {
    for (const std::string& strWhole :
         {SizedReply("{}"), kChunkedHead + "2;x=y\r\n{}\r\n0\r\nTrailer: v\r\n\r\n"}) {
        for (size_t n = 0; n < strWhole.size(); ++n)
            EXPECT_FALSE(HttpReply::IsComplete(strWhole.substr(0, n))) << "prefix of " << n;
        EXPECT_TRUE(HttpReply::IsComplete(strWhole));
    }
    // without a length or chunks, only the server's close ends the reply
    EXPECT_FALSE(HttpReply::IsComplete(kOkHead + "\r\nanything"));
    // a reply that can have no body is whole at the end of its header
    EXPECT_TRUE(HttpReply::IsComplete("HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n"));
    EXPECT_TRUE(HttpReply::IsComplete("HTTP/1.1 304 Not Modified\r\n\r\n"));

    for (const std::string& strBad : {
             std::string("HTTP/1.1 404 Not Found\r\n\r\nx"),
             kOkHead + "Content-Length: 3\r\n\r\nab",
             kChunkedHead + "3\r\nab",
             kChunkedHead + "3\r\nabcX\r\n0\r\n\r\n",  // data longer than its size
             kChunkedHead + "-1\r\nab\r\n0\r\n\r\n",
             std::string("HTTP/1.1 200 OK\r\nContent-Type: x"),
         }) {
        std::string strRaw = strBad;
        EXPECT_FALSE(HttpReply::ExtractBody(strRaw)) << strBad;
        EXPECT_EQ(strBad, strRaw);
    }
}

}  // namespace
