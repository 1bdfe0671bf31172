// Dispatch: each verification refuses with its status code, the quota, rapid upload and the
// 300 path, remote folders created once and found again, cancel and resume.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "LoggedInTest.h"

namespace standintest {
namespace {

class StandinDispatchTest : public LoggedInTest {};

TEST_F(StandinDispatchTest, RefusesWithTheStatusCodeOfEachFault) {
    Content content = Make(5000, 2);
    FileAsk good = AskFor(content);
    auto code = [&](const FileAsk& ask, const std::string& strSig = "") {
        return Client().Dispatch(ask, false, false, strSig).StatusCode();
    };
    EXPECT_EQ(400, code(good, std::string(40, 'A')));
    FileAsk ask = good;
    ask.nFileSize = kSizeLimit + 1;
    EXPECT_EQ(411, code(ask));
    ask = good;
    ask.strTarget = "U_" + Client().m_strUserId + "_99999";
    EXPECT_EQ(10014, code(ask));
    std::vector<FileAsk> vMalformed(4, good);
    vMalformed[0].strFileId = "XYZ";
    vMalformed[1].strFileId = vMalformed[1].strQuickId = "";
    vMalformed[2].strFileName = "";
    vMalformed[3].strPath = "a/../b";
    for (const FileAsk& bad : vMalformed)
        EXPECT_EQ(402, code(bad)) << bad.strFileName << " " << bad.strFileId << " " << bad.strPath;

    ServiceClient stranger = Client();
    stranger.m_strUserId = "424242";
    EXPECT_EQ(401, stranger.Dispatch(good).StatusCode());
    // bob's target is not alice's to upload into
    ServiceClient bob(StandinPort());
    ASSERT_TRUE(bob.Login("bob", "builder").json["state"].asBool());
    ask = good;
    ask.strTarget = bob.m_strTarget;
    EXPECT_EQ(10014, code(ask));

    std::string strQuery =
        std::string("?appid=0&appversion=x&format=json&isp=0&sig=") + std::string(40, 'A');
    Reply missing = Exchange(StandinPort(), PostRequest(Client().m_strUploadPath + strQuery,
                                                        "userid=" + Client().m_strUserId));
    EXPECT_EQ(402, missing.StatusCode());
    EXPECT_EQ("参数错误", missing.json["statusmsg"].asString());
}

TEST_F(StandinDispatchTest, RefusesWhatDoesNotFitTheQuotaWhichCountsUnfinishedUploads) {
    Content big = Make(kSizeLimit - 1, 3);
    Start(big, "one.bin");
    Start(big, "two.bin");
    Reply third = Client().Dispatch(AskFor(big, "three.bin"));
    EXPECT_EQ(410, third.StatusCode()) << third.strBody;
    EXPECT_EQ("网盘空间不足", third.json["statusmsg"].asString());
    Reply space = Exchange(StandinPort(),
                           GetRequest("/app/user/space?source=x&user_id=" + Client().m_strUserId));
    EXPECT_EQ(2 * (kSizeLimit - 1), space.json["space"]["byte_size_used"].asInt64());
}

TEST_F(StandinDispatchTest, HeldContentIsARapidUploadAndQuickDigestAloneAsksForSha1) {
    Content content = Make(40000, 4);
    ASSERT_EQ(0, Client().UploadAll(Start(content, "first.bin"), content).StatusCode());

    Reply rapid = Client().Dispatch(AskFor(content, "second.bin"));
    EXPECT_EQ(0, rapid.StatusCode()) << rapid.strBody;
    EXPECT_EQ(2, rapid.json["status"].asInt());

    FileAsk quickOnly = AskFor(content, "third.bin");
    quickOnly.strFileId = "";
    Reply need = Client().Dispatch(quickOnly);
    EXPECT_EQ(300, need.StatusCode()) << need.strBody;
    quickOnly.strFileId = content.strSha1;
    EXPECT_EQ(2, Client().Dispatch(quickOnly).json["status"].asInt());

    // same size and quick digest under another SHA-1: the quick digest is no proof
    FileAsk lookalike = AskFor(content, "fourth.bin");
    lookalike.strFileId = std::string(40, 'B');
    Reply fresh = Client().Dispatch(lookalike);
    EXPECT_EQ(1, fresh.json["status"].asInt()) << fresh.strBody;

    std::string strPage = Exchange(StandinPort(), GetRequest("/")).strBody;
    for (const char* pName : {"first.bin", "second.bin", "third.bin"})
        EXPECT_NE(std::string::npos, strPage.find(pName)) << pName;
}

// Dispatches naming the same new directory at once create it once; after a restart the same
// path finds the same folder.
TEST_F(StandinDispatchTest, FolderPathIsCreatedOnceEvenByRacingDispatchesAndFoundAgain) {
    std::string strTargets[5][8];
    for (int nRound = 0; nRound < 5; ++nRound) {
        std::vector<std::thread> vThreads;
        for (int i = 0; i < 8; ++i) {
            vThreads.emplace_back([&, nRound, i] {
                Content content = Make(1000 + static_cast<size_t>(i), 100 + nRound * 10 + i);
                FileAsk ask = AskFor(content, "f" + std::to_string(i));
                ask.strPath = "race" + std::to_string(nRound) + "/inner";
                ServiceClient client = Client();
                strTargets[nRound][i] = client.Dispatch(ask).json["target"].asString();
            });
        }
        for (std::thread& t : vThreads)
            t.join();
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(strTargets[nRound][0], strTargets[nRound][i]);
    }
    // one "/"-separated part per level below the account's target
    const std::string strTarget = strTargets[0][0];
    EXPECT_EQ(0u, strTarget.find(Client().m_strTarget + "/"));
    EXPECT_EQ(2, std::count(strTarget.begin(), strTarget.end(), '/'));
    std::string strPage = Exchange(StandinPort(), GetRequest("/")).strBody;
    for (int nRound = 0; nRound < 5; ++nRound) {
        const std::string strRow = "/race" + std::to_string(nRound) + "/inner/</td>";
        const size_t nFirst = strPage.find(strRow);
        EXPECT_NE(std::string::npos, nFirst) << strRow;
        EXPECT_EQ(std::string::npos, strPage.find(strRow, nFirst + 1)) << strRow;
    }

    RestartStandin();
    Relogin();
    FileAsk ask = AskFor(Make(3000, 5), "after.txt");
    ask.strPath = "race0/inner";
    EXPECT_EQ(strTarget, Client().Dispatch(ask).json["target"].asString());
    // the directory's own target takes files straight in
    ask.strTarget = strTarget.substr(strTarget.rfind('/') + 1);
    ask.strPath = "";
    ask.strFileName = "direct.txt";
    EXPECT_EQ(ask.strTarget, Client().Dispatch(ask).json["target"].asString());
}

TEST_F(StandinDispatchTest, ValuesArriveRawOrPercentEncoded) {
    Content content = Make(2000, 6);
    FileAsk ask = AskFor(content, "x y&z=w+1%.txt");
    ask.strPath = "dir one/sub&dir";
    Reply raw = Client().Dispatch(ask, false);
    Reply encoded = Client().Dispatch(ask, true);
    ASSERT_EQ(0, encoded.StatusCode()) << encoded.strBody;
    EXPECT_EQ(raw.json["target"], encoded.json["target"]);
    ASSERT_EQ(0, Client().UploadAll(ServiceClient::TicketOf(encoded, ask), content).StatusCode());
    EXPECT_NE(std::string::npos, Exchange(StandinPort(), GetRequest("/"))
                                     .strBody.find("/dir one/sub&amp;dir/x y&amp;z=w+1%.txt"));
}

TEST_F(StandinDispatchTest, CancelDropsTheUploadAndResumeKeepsThePickCode) {
    Content content = Make(2 * 1048576 + 10, 7);
    Ticket ticket = Start(content);
    ASSERT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());

    FileAsk resume = AskFor(content);
    resume.strPickCode = ticket.strPickCode;
    Reply again = Client().Dispatch(resume);
    EXPECT_EQ(ticket.strPickCode, again.json["pickcode"].asString());
    EXPECT_EQ(1048576,
              Client().Check(ServiceClient::TicketOf(again, resume)).json["offset"].asInt64());

    EXPECT_EQ(400, Client().Dispatch(resume, false, true, std::string(40, 'A')).StatusCode());
    EXPECT_EQ(0, Client().Dispatch(resume, false, true).StatusCode());
    EXPECT_EQ(412, Client().Check(ticket).StatusCode());
    EXPECT_EQ(412, Client().Dispatch(resume, false, true).StatusCode());
}

TEST_F(StandinDispatchTest, UsedSpaceFollowsEveryChangeAcrossAKillAndAReset) {
    auto used = [&] {
        return Exchange(StandinPort(),
                        GetRequest("/app/user/space?source=x&user_id=" + Client().m_strUserId))
            .json["space"]["byte_size_used"]
            .asInt64();
    };
    Content stored = Make(5000, 8), grown = Make(4000, 9);
    ASSERT_EQ(0, Client().UploadAll(Start(stored, "a.bin"), stored).StatusCode());
    EXPECT_EQ(2, Client().Dispatch(AskFor(stored, "rapid.bin")).json["status"].asInt());
    EXPECT_EQ(10000, used());
    // reserved at dispatch; a changed file resumes under its pick code at its new size
    FileAsk resume = AskFor(Make(3000, 10), "b.bin");
    resume.strPickCode = Start(Make(3000, 10), "b.bin").strPickCode;
    EXPECT_EQ(13000, used());
    resume.nFileSize = grown.strData.size();
    resume.strFileId = grown.strSha1;
    resume.strQuickId = grown.strQuickId;
    Reply again = Client().Dispatch(resume);
    ASSERT_EQ(0, again.StatusCode()) << again.strBody;
    EXPECT_EQ(14000, used());
    ASSERT_EQ(0, Client().UploadAll(ServiceClient::TicketOf(again, resume), grown).StatusCode());
    EXPECT_EQ(14000, used());
    Ticket dropped = Start(Make(2000, 11), "c.bin");
    EXPECT_EQ(16000, used());

    RestartStandin(/*bCrash=*/true);
    Relogin();
    EXPECT_EQ(16000, used());
    FileAsk cancel = AskFor(Make(2000, 11), "c.bin");
    cancel.strPickCode = dropped.strPickCode;
    EXPECT_EQ(0, Client().Dispatch(cancel, false, true).StatusCode());
    EXPECT_EQ(14000, used());
    EXPECT_EQ(200, Exchange(StandinPort(), PostRequest("/_standin/reset", "all=1")).nHttpStatus);
    EXPECT_EQ(0, used());
}

}  // namespace
}  // namespace standintest
