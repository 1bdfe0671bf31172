// A restarted stand-in goes on from the offset it recorded (a kill mid-upload is proven end to end
// in the engine's FaultsTest); each fault happens to the next matching request only.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "ServiceClient.h"
#include "TestHome.h"

namespace standintest {
namespace {

class StandinRestartTest : public LoggedInTest {};

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

TEST_F(StandinFaultTest, StallStatusAndDropHappenOnceToTheMatchingKindOnlyUntilAReset) {
    Fault("action=stall&on=space&seconds=0.3");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Space().json["state"].asBool());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

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

}  // namespace
}  // namespace standintest
