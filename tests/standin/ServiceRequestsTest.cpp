// Login, token, space and dispatch: only known users who prove who they are get an answer, each
// verification refuses with its code, quota, folders and cancel hold, the texts are the client's.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <thread>

#include "ServiceClient.h"
#include "ServiceReplies.h"
#include "core/ErrorManager.h"
#include "utils/Utils.h"

namespace standintest {
namespace {

class StandinAccountTest : public LoggedInTest {};

TEST_F(StandinAccountTest, OnlyKnownUsersWhoProveWhoTheyAreGetAnAnswer) {
    ServiceClient client(StandinPort());
    for (Reply reply :
         {client.Login("alice", "wrong"), client.Login("nobody", "wonderland"),
          client.Login("alice", "wonderland", 3600), client.Login("alice", "wonderland", -3600),
          Exchange(StandinPort(), PostRequest("/app/clogin", "account=alice"))}) {
        ASSERT_TRUE(reply.bJson) << reply.strBody;
        EXPECT_FALSE(reply.json["state"].asBool()) << reply.strBody;
        EXPECT_TRUE(reply.json["error"].isString());
        EXPECT_FALSE(reply.json["error"].asString().empty());
        EXPECT_FALSE(reply.json.isMember("userkey"));
    }
    EXPECT_NE(std::string::npos, StandinLog().find("POST /app/clogin alice ok\n"));

    std::string strQuery = "?user_id=" + Client().m_strUserId + "&source=linux_client";
    Reply space = Exchange(StandinPort(), GetRequest("/app/user/space" + strQuery));
    EXPECT_EQ(Client().m_strUserId, space.json["user_id"].asString());
    EXPECT_EQ(kQuota, space.json["space"]["byte_size_remain"].asInt64());
    Reply token = Exchange(StandinPort(), GetRequest("/app/user/login" + strQuery +
                                                     "&app=0&version=linux_1.0.1026.4"));
    EXPECT_EQ(0u, token.json["url"].asString().find(StandinUrl("/")));
    for (const char* strPath :
         {"/app/user/space?user_id=999&source=x", "/app/user/login?user_id=999&source=x&app=0",
          "/app/user/space?source=x"})
        EXPECT_FALSE(Exchange(StandinPort(), GetRequest(strPath)).json["state"].asBool())
            << strPath;
}

class StandinDispatchTest : public LoggedInTest {};

TEST_F(StandinDispatchTest, RefusesWithTheStatusCodeOfEachFault) {
    const FileAsk good = AskFor(Make(5000, 2));
    ServiceClient bob(StandinPort());
    ASSERT_TRUE(bob.Login("bob", "builder").json["state"].asBool());
    const std::pair<int, std::function<void(FileAsk&)>> kSpoils[] = {
        {411, [](FileAsk& ask) { ask.nFileSize = kSizeLimit + 1; }},
        {10014, [&](FileAsk& ask) { ask.strTarget = "U_" + Client().m_strUserId + "_99999"; }},
        {10014, [&](FileAsk& ask) { ask.strTarget = bob.m_strTarget; }},  // not alice's
        {402, [](FileAsk& ask) { ask.strFileId = "XYZ"; }},
        {402, [](FileAsk& ask) { ask.strFileId = ask.strQuickId = ""; }},
        {402, [](FileAsk& ask) { ask.strFileName = ""; }},
        {402, [](FileAsk& ask) { ask.strPath = "a/../b"; }},
    };
    for (size_t i = 0; i < std::size(kSpoils); ++i) {
        FileAsk ask = good;
        kSpoils[i].second(ask);
        EXPECT_EQ(kSpoils[i].first, Client().Dispatch(ask).StatusCode()) << i;
    }
    EXPECT_EQ(400, Client().Dispatch(good, false, false, std::string(40, 'A')).StatusCode());
    ServiceClient stranger = Client();
    stranger.m_strUserId = "424242";
    EXPECT_EQ(401, stranger.Dispatch(good).StatusCode());

    std::string strQuery = "?appid=0&appversion=x&format=json&isp=0&sig=" + std::string(40, 'A');
    Reply missing = Exchange(StandinPort(), PostRequest(Client().m_strUploadPath + strQuery,
                                                        "userid=" + Client().m_strUserId));
    EXPECT_EQ(402, missing.StatusCode());
    EXPECT_EQ("参数错误", missing.json["statusmsg"].asString());
}

TEST_F(StandinDispatchTest, TheQuotaCountsUnfinishedUploadsAndTheQuickDigestIsNoProof) {
    Content big = Make(kSizeLimit - 1, 3);
    Start(big, "one.bin");
    Start(big, "two.bin");
    Reply third = Client().Dispatch(AskFor(big, "three.bin"));
    EXPECT_EQ(410, third.StatusCode()) << third.strBody;
    EXPECT_EQ("网盘空间不足", third.json["statusmsg"].asString());
    EXPECT_EQ(2 * (kSizeLimit - 1), Used());

    // same size and quick digest as stored content, under another SHA-1: a new upload
    Content content = Make(40000, 4);
    ASSERT_EQ(0, Client().UploadAll(Start(content, "first.bin"), content).StatusCode());
    FileAsk lookalike = AskFor(content, "second.bin");
    lookalike.strFileId = std::string(40, 'B');
    Reply fresh = Client().Dispatch(lookalike);
    EXPECT_EQ(0, fresh.StatusCode()) << fresh.strBody;
    EXPECT_EQ(1, fresh.json["status"].asInt());
}

TEST_F(StandinDispatchTest, FolderPathIsCreatedOnceEvenByRacingDispatchesAndFoundAgain) {
    std::string strTargets[5][8];
    for (int nRound = 0; nRound < 5; ++nRound) {
        std::vector<std::thread> vThreads;
        for (int i = 0; i < 8; ++i)
            vThreads.emplace_back([&, nRound, i] {
                FileAsk ask = AskFor(Make(1000 + i, 100 + nRound * 10 + i), std::to_string(i));
                ask.strPath = "race" + std::to_string(nRound) + "/inner";
                ServiceClient client = Client();
                strTargets[nRound][i] = client.Dispatch(ask).json["target"].asString();
            });
        for (std::thread& t : vThreads)
            t.join();
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(strTargets[nRound][0], strTargets[nRound][i]);
    }
    // one "/"-separated part per level below the account's target
    const std::string strTarget = strTargets[0][0];
    EXPECT_EQ(0u, strTarget.find(Client().m_strTarget + "/"));
    EXPECT_EQ(2, std::count(strTarget.begin(), strTarget.end(), '/'));
    const std::string strPage = Page();
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
}

// Reserved at dispatch; a changed file resumes under its pick code at its new size; a
// cancel gives the space back, and a cancelled upload is gone for every request.
TEST_F(StandinDispatchTest, UsedSpaceFollowsEveryChangeAcrossAKillAndAReset) {
    Content stored = Make(5000, 8), grown = Make(4000, 9), dropped = Make(2000, 11);
    ASSERT_EQ(0, Client().UploadAll(Start(stored, "a.bin"), stored).StatusCode());
    EXPECT_EQ(2, Client().Dispatch(AskFor(stored, "rapid.bin")).json["status"].asInt());
    EXPECT_EQ(10000, Used());
    FileAsk resume = AskFor(grown, "b.bin");
    resume.strPickCode = Start(Make(3000, 10), "b.bin").strPickCode;
    EXPECT_EQ(13000, Used());
    Ticket again = Start(resume);
    EXPECT_EQ(14000, Used());
    ASSERT_EQ(0, Client().UploadAll(again, grown).StatusCode());
    EXPECT_EQ(14000, Used());
    FileAsk cancel = AskFor(dropped, "c.bin");
    Ticket ticket = Start(dropped, "c.bin");
    cancel.strPickCode = ticket.strPickCode;
    EXPECT_EQ(16000, Used());

    RestartStandin(/*bCrash=*/true);
    Relogin();
    EXPECT_EQ(16000, Used());
    EXPECT_EQ(400, Client().Dispatch(cancel, false, true, std::string(40, 'A')).StatusCode());
    EXPECT_EQ(0, Client().Dispatch(cancel, false, true).StatusCode());
    EXPECT_EQ(14000, Used());
    EXPECT_EQ(412, Client().Check(ticket).StatusCode());
    EXPECT_EQ(412, Client().Dispatch(cancel, false, true).StatusCode());
    EXPECT_EQ(200, Exchange(StandinPort(), PostRequest("/_standin/reset", "all=1")).nHttpStatus);
    EXPECT_EQ(0, Used());
}

TEST(StandinStatusTextTest, EveryServiceCodeSaysWhatTheClientsCatalogueSays) {
    for (int nCode : {300, 400, 401, 402, 403, 404, 405, 410, 411, 412, 500, 501, 502, 600, 10014})
        EXPECT_EQ(
            _VelmoUpload::Utils::StringG2U(_VelmoUpload::ErrorManager::GetErrorMessage(nCode)),
            standin::StatusText(nCode))
            << nCode;
}

}  // namespace
}  // namespace standintest
