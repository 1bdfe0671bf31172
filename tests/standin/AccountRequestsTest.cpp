// Login, token and space: what a login must prove, and the JSON types the client's reader
// insists on.
#include <gtest/gtest.h>

#include "LoggedInTest.h"

namespace standintest {
namespace {

class StandinAccountTest : public LoggedInTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        std::vector<std::string> vArgs = LoggedInTest::StandinArgs();
        for (const char* pArg : {"--user", "forty:0123456789abcdefABCDEF0123456789abcdef01",
                                 "--user", "a b&c=d:pw", "--type-limit", "jpg", "--file-range",
                                 "0=0-1048576", "--time-limit", "2.5", "--upload-allowed", "2"})
            vArgs.push_back(pArg);
        return vArgs;
    }
};

TEST_F(StandinAccountTest, LoginReplyHasEveryFieldWithTheTypeTheClientReads) {
    ServiceClient client(StandinPort());
    Reply reply = client.Login("alice", "wonderland");
    ASSERT_TRUE(reply.bJson) << reply.strBody;
    const Json::Value& j = reply.json;
    EXPECT_TRUE(j["state"].isBool() && j["state"].asBool());
    for (const char* pText : {"error", "user_id", "user_name", "face", "email", "resource",
                              "userkey", "url_upload", "url_resume", "url_cancel", "target"})
        EXPECT_TRUE(j[pText].isString()) << pText << " in " << reply.strBody;
    for (const char* pNumber : {"upload_allowed", "is_vip", "time_limit", "size_limit"})
        EXPECT_TRUE(j[pNumber].isNumeric()) << pNumber << " in " << reply.strBody;
    EXPECT_EQ(2, j["upload_allowed"].asInt());
    EXPECT_DOUBLE_EQ(2.5, j["time_limit"].asDouble());
    EXPECT_EQ(kSizeLimit, j["size_limit"].asInt64());
    EXPECT_EQ("jpg", j["type_limit"][0].asString());
    EXPECT_EQ("0-1048576", j["file_range"]["0"].asString());
    const Json::Value& space = j["space"];
    EXPECT_EQ(kQuota, space["byte_size_total"].asInt64());
    EXPECT_EQ(0, space["byte_size_used"].asInt64());
    EXPECT_EQ(kQuota, space["byte_size_remain"].asInt64());
    for (const char* pText : {"size_used_percent", "size_total", "size_used", "size_remain"})
        EXPECT_TRUE(space[pText].isString()) << pText;
    EXPECT_EQ(StandinUrl("/files/upload"), j["url_upload"].asString());
    EXPECT_EQ("close", reply.Header("Connection"));
    EXPECT_TRUE(reply.bServerClosed);
    EXPECT_NE(std::string::npos, StandinLog().find("POST /app/clogin alice ok\n"));
}

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
}

TEST_F(StandinAccountTest, FortyCharacterPasswordSignsAsItselfOrAsItsHash) {
    const std::string strPassword = "0123456789abcdefABCDEF0123456789abcdef01";
    ServiceClient client(StandinPort());
    EXPECT_TRUE(client.LoginSigned("forty", strPassword, 0, false).json["state"].asBool());
    EXPECT_TRUE(client.Login("forty", strPassword).json["state"].asBool());
}

TEST_F(StandinAccountTest, AccountNameArrivesRawOrPercentEncoded) {
    ServiceClient raw(StandinPort()), encoded(StandinPort());
    Reply a = raw.Login("a b&c=d", "pw", 0, false);
    Reply b = encoded.Login("a b&c=d", "pw", 0, true);
    EXPECT_TRUE(a.json["state"].asBool()) << a.strBody;
    EXPECT_TRUE(b.json["state"].asBool()) << b.strBody;
    EXPECT_EQ("a b&c=d", b.json["user_name"].asString());
}

TEST_F(StandinAccountTest, TokenAndSpaceAnswerForKnownUsersOnly) {
    std::string strQuery = "?user_id=" + Client().m_strUserId + "&source=linux_client";
    Reply space = Exchange(StandinPort(), GetRequest("/app/user/space" + strQuery));
    ASSERT_TRUE(space.bJson);
    EXPECT_TRUE(space.json["state"].asBool());
    EXPECT_TRUE(space.json["user_id"].isString());
    EXPECT_EQ(Client().m_strUserId, space.json["user_id"].asString());
    EXPECT_EQ(kQuota, space.json["space"]["byte_size_remain"].asInt64());

    Reply token = Exchange(StandinPort(), GetRequest("/app/user/login" + strQuery +
                                                     "&app=0&version=linux_1.0.1026.4"));
    EXPECT_TRUE(token.json["state"].asBool());
    EXPECT_TRUE(token.json["url"].isString());
    EXPECT_NE(std::string::npos, token.json["url"].asString().find(StandinUrl("/")));

    for (const char* strPath :
         {"/app/user/space?user_id=999&source=x", "/app/user/login?user_id=999&source=x&app=0",
          "/app/user/space?source=x"})
        EXPECT_FALSE(Exchange(StandinPort(), GetRequest(strPath)).json["state"].asBool())
            << strPath;
}

}  // namespace
}  // namespace standintest
