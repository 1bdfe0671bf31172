// An upload interrupted by a restart of the stand-in, clean or killed, continues from the
// offset it had reached; everything stored survives. The fault control: each kind of fault
// happens to the next matching request only, and the stand-in keeps serving afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "LoggedInTest.h"
#include "TestHome.h"

namespace standintest {
namespace {

class StandinRestartTest : public LoggedInTest {};

TEST_F(StandinRestartTest, KilledMidUploadResumesAtTheOffsetReached) {
    Content content = Make(3 * kPiece + 123, 21);
    FileAsk resume = AskFor(content, "big.bin");
    resume.strPath = "kept";
    Ticket ticket = Start(resume);
    ASSERT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());
    ASSERT_EQ(0, Client().Piece(ticket, content, kPiece).StatusCode());

    RestartStandin(/*bCrash=*/true);
    Relogin();
    resume.strPickCode = ticket.strPickCode;
    Ticket resumed = Start(resume);
    EXPECT_EQ(ticket.strPickCode, resumed.strPickCode);
    EXPECT_EQ(2 * kPiece, Client().Check(resumed).json["offset"].asInt64());
    EXPECT_EQ(404, Client().Piece(resumed, content, kPiece).StatusCode());
    EXPECT_EQ(0, Client().UploadAll(resumed, content).StatusCode());
    EXPECT_TRUE(Listed(content.strSha1));
}

TEST_F(StandinRestartTest, BytesPastTheRecordedOffsetAreCutOffAndSigtermKeepsTheAccounts) {
    Content content = Make(2 * kPiece + 9, 22);
    Ticket ticket = Start(content);
    ASSERT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());
    const ServiceClient before = Client();
    m_standin.Stop();
    EXPECT_TRUE(WIFEXITED(m_standin.LastExitStatus()));
    EXPECT_EQ(0, WEXITSTATUS(m_standin.LastExitStatus()));
    // as if the process died between writing a piece and recording it
    std::ofstream(StandinDataDir() + "/partial/" + ticket.strPickCode,
                  std::ios::binary | std::ios::app)
        << std::string(5000, 'x');
    RestartStandin();
    Relogin();
    EXPECT_EQ(before.m_strUserKey, Client().m_strUserKey);
    EXPECT_EQ(before.m_strUserId, Client().m_strUserId);
    EXPECT_EQ(kPiece, Client().Check(ticket).json["offset"].asInt64());
    EXPECT_EQ(0, Client().UploadAll(ticket, content).StatusCode());
    EXPECT_TRUE(velmotest::ReadFile(StandinDataDir() + "/content/" + content.strSha1.substr(0, 2) +
                                    "/" + content.strSha1) == content.strData);
}

class StandinFaultTest : public LoggedInTest {};

TEST_F(StandinFaultTest, StatusAndDropHappenOnceToTheMatchingKindOnlyUntilAReset) {
    Content content = Make(kPiece + 10, 31);
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

    Fault("action=status&statuscode=502&count=5");
    EXPECT_EQ(502, Client().Dispatch(AskFor(content, "d")).StatusCode());
    ClearFaults();
    EXPECT_EQ(0, Client().Dispatch(AskFor(content, "e")).StatusCode());
}

TEST_F(StandinFaultTest, StalledChunkedAndKeptAliveRepliesCarryTheSameJson) {
    using Clock = std::chrono::steady_clock;
    Fault("action=stall&on=space&seconds=0.3");
    auto start = Clock::now();
    EXPECT_TRUE(Space().json["state"].asBool());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));

    Fault("action=chunked&on=space&chunks=4&pause_ms=10");
    Reply chunked = Space();
    EXPECT_EQ("chunked", chunked.Header("Transfer-Encoding"));
    EXPECT_TRUE(chunked.json["state"].asBool()) << chunked.strBody;

    Fault("action=keepalive&on=space&seconds=30");
    start = Clock::now();
    Reply kept = Space(400);
    EXPECT_FALSE(kept.bServerClosed);  // still open when the reader gave up
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(350));
    EXPECT_EQ("Keep-Alive", kept.Header("Connection"));
    EXPECT_TRUE(kept.bComplete && kept.json["state"].asBool());
}

}  // namespace
}  // namespace standintest
