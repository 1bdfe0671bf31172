// An upload interrupted by a restart of the stand-in, clean or killed, continues from the
// offset it had reached; everything stored survives.
#include <gtest/gtest.h>

#include <fstream>

#include "LoggedInTest.h"
#include "TestHome.h"

namespace standintest {
namespace {

class StandinRestartTest : public LoggedInTest {};

TEST_F(StandinRestartTest, KilledMidUploadResumesAtTheOffsetReached) {
    Content content = Make(3 * kPiece + 123, 21);
    Ticket ticket = Start(content, "big.bin", "kept");
    ASSERT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());
    ASSERT_EQ(0, Client().Piece(ticket, content, kPiece).StatusCode());

    RestartStandin(/*bCrash=*/true);
    Relogin();
    FileAsk resume = AskFor(content, "big.bin");
    resume.strPath = "kept";
    resume.strPickCode = ticket.strPickCode;
    Reply again = Client().Dispatch(resume);
    ASSERT_EQ(0, again.StatusCode()) << again.strBody;
    EXPECT_EQ(ticket.strPickCode, again.json["pickcode"].asString());
    Ticket resumed = ServiceClient::TicketOf(again, resume);
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

}  // namespace
}  // namespace standintest
