// Login, token and space: what a login must prove, and that only known users get answers.
#include <gtest/gtest.h>

#include "LoggedInTest.h"

namespace standintest {
namespace {

class StandinAccountTest : public LoggedInTest {};

TEST_F(StandinAccountTest, LoginRefusesWrongPasswordUnknownAccountStaleTimeAndMissingFields) {
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
}

TEST_F(StandinAccountTest, TokenAndSpaceAnswerForKnownUsersOnly) {
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

}  // namespace
}  // namespace standintest
