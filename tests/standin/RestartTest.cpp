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
    Content content = Make(3 * 1048576 + 123, 21);
    Ticket ticket = Start(content, "big.bin", "kept");
    ASSERT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());
    ASSERT_EQ(0, Client().Piece(ticket, content, 1048576).StatusCode());

    RestartStandin(/*bCrash=*/true);
    Relogin();
    FileAsk resume = AskFor(content, "big.bin");
    resume.strPath = "kept";
    resume.strPickCode = ticket.strPickCode;
    Reply again = Client().Dispatch(resume);
    ASSERT_EQ(0, again.StatusCode()) << again.strBody;
    EXPECT_EQ(ticket.strPickCode, again.json["pickcode"].asString());
    Ticket resumed = ServiceClient::TicketOf(again, resume);
    EXPECT_EQ(2 * 1048576, Client().Check(resumed).json["offset"].asInt64());
    EXPECT_EQ(404, Client().Piece(resumed, content, 1048576).StatusCode());
    EXPECT_EQ(0, Client().UploadAll(resumed, content).StatusCode());
    EXPECT_NE(std::string::npos,
              Exchange(StandinPort(), GetRequest("/")).strBody.find(content.strSha1));
}

TEST_F(StandinRestartTest, BytesWrittenPastTheRecordedOffsetAreCutOff) {
    Content content = Make(2 * 1048576 + 9, 22);
    Ticket ticket = Start(content);
    ASSERT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());
    m_standin.Stop();
    // as if the process died between writing a piece and recording it
    std::ofstream(StandinDataDir() + "/partial/" + ticket.strPickCode,
                  std::ios::binary | std::ios::app)
        << std::string(5000, 'x');
    RestartStandin();
    EXPECT_EQ(1048576, Client().Check(ticket).json["offset"].asInt64());
    EXPECT_EQ(0, Client().UploadAll(ticket, content).StatusCode());
    EXPECT_TRUE(velmotest::ReadFile(StandinDataDir() + "/content/" + content.strSha1.substr(0, 2) +
                                    "/" + content.strSha1) == content.strData);
}

TEST_F(StandinRestartTest, StoredFilesAccountsAndKeysSurviveAndSigtermExitsCleanly) {
    Content content = Make(5000, 23);
    ASSERT_EQ(0, Client().UploadAll(Start(content, "keep.txt"), content).StatusCode());
    std::string strKey = Client().m_strUserKey, strId = Client().m_strUserId;
    RestartStandin();
    EXPECT_TRUE(WIFEXITED(m_standin.LastExitStatus()));
    EXPECT_EQ(0, WEXITSTATUS(m_standin.LastExitStatus()));
    Relogin();
    EXPECT_EQ(strKey, Client().m_strUserKey);
    EXPECT_EQ(strId, Client().m_strUserId);
    EXPECT_EQ(2, Client().Dispatch(AskFor(content, "again.txt")).json["status"].asInt());
    Reply space = Exchange(StandinPort(), GetRequest("/app/user/space?source=x&user_id=" + strId));
    EXPECT_EQ(10000, space.json["space"]["byte_size_used"].asInt64());
}

}  // namespace
}  // namespace standintest
