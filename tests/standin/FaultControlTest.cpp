// The fault control: each kind of fault happens to the next matching request only, and the
// stand-in keeps serving afterwards.
#include <gtest/gtest.h>

#include <chrono>

#include "LoggedInTest.h"

namespace standintest {
namespace {

class StandinFaultTest : public LoggedInTest {
protected:
    void Fault(const std::string& strParams) {
        Reply reply = Exchange(StandinPort(), PostRequest("/_standin/fault", strParams));
        ASSERT_EQ(200, reply.nHttpStatus) << reply.strBody;
    }
};

TEST_F(StandinFaultTest, StatusAndDropHappenOnceToTheMatchingKindOnly) {
    Content content = Make(1048576 + 10, 31);
    Ticket ticket = Start(content, "a");
    Fault("action=status&on=dispatch&statuscode=501&statusmsg=busy%20now");
    Fault("action=drop&on=piece");
    EXPECT_EQ(0, Client().Check(ticket).StatusCode());  // another kind of request
    Reply faulted = Client().Dispatch(AskFor(content, "b"));
    EXPECT_EQ(501, faulted.StatusCode());
    EXPECT_EQ("busy now", faulted.json["statusmsg"].asString());
    EXPECT_EQ(0, Client().Dispatch(AskFor(content, "c")).StatusCode());
    Reply dropped = Client().Piece(ticket, content, 0);
    EXPECT_FALSE(dropped.bComplete && dropped.nHttpStatus == 200 && dropped.bJson);
    EXPECT_EQ(0, Client().Check(ticket).json["offset"].asInt64()) << "the drop kept nothing";
    EXPECT_EQ(0, Client().UploadAll(ticket, content).StatusCode());
}

TEST_F(StandinFaultTest, StallDelaysTheReplyAndFullReportsNoSpace) {
    Fault("action=stall&on=space&seconds=0.3");
    std::string strSpace = "/app/user/space?source=x&user_id=" + Client().m_strUserId;
    auto start = std::chrono::steady_clock::now();
    Reply stalled = Exchange(StandinPort(), GetRequest(strSpace));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_TRUE(stalled.json["state"].asBool());

    Fault("action=full&on=space");
    EXPECT_EQ(
        0,
        Exchange(StandinPort(), GetRequest(strSpace)).json["space"]["byte_size_remain"].asInt64());
    EXPECT_EQ(
        kQuota,
        Exchange(StandinPort(), GetRequest(strSpace)).json["space"]["byte_size_remain"].asInt64());
    Fault("action=full&on=dispatch&user=alice");
    EXPECT_EQ(410, Client().Dispatch(AskFor(Make(100, 33))).StatusCode());
}

TEST_F(StandinFaultTest, ChunkedAndKeptAliveRepliesCarryTheSameJson) {
    std::string strSpace = "/app/user/space?source=x&user_id=" + Client().m_strUserId;
    Fault("action=chunked&on=space&chunks=4&pause_ms=10");
    Reply chunked = Exchange(StandinPort(), GetRequest(strSpace));
    EXPECT_EQ("chunked", chunked.Header("Transfer-Encoding"));
    EXPECT_TRUE(chunked.json["state"].asBool()) << chunked.strBody;

    Fault("action=keepalive&on=space&seconds=30");
    auto start = std::chrono::steady_clock::now();
    Reply kept = Exchange(StandinPort(), GetRequest(strSpace), 400);
    EXPECT_FALSE(kept.bServerClosed);  // still open when the reader gave up
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350));
    EXPECT_EQ("Keep-Alive", kept.Header("Connection"));
    EXPECT_TRUE(kept.bComplete);
    EXPECT_TRUE(kept.json["state"].asBool());
}

TEST_F(StandinFaultTest, ResetClearsPendingFaultsAndBadRulesAreRefused) {
    Fault("action=status&statuscode=502&count=5");
    EXPECT_EQ(502, Client().Dispatch(AskFor(Make(100, 34))).StatusCode());
    EXPECT_EQ(200, Exchange(StandinPort(), PostRequest("/_standin/reset", "")).nHttpStatus);
    EXPECT_EQ(0, Client().Dispatch(AskFor(Make(100, 34))).StatusCode());
    for (const char* pRule :
         {"action=explode", "action=status", "action=stall&count=0", "action=drop&on=nowhere"})
        EXPECT_EQ(400, Exchange(StandinPort(), PostRequest("/_standin/fault", pRule)).nHttpStatus)
            << pRule;
}

}  // namespace
}  // namespace standintest
