// Quota refresh and the upload rules: values from the stand-in, replies that must be refused,
// the boundaries of the size and extension rules, and readers racing a refresh.
#include <gtest/gtest.h>

#include <thread>

#include "LoginTestSupport.h"
#include "utils/Utils.h"

using namespace accounttest;
using _VelmoUpload::Utils;
using velmotest::TestHttpServer;

namespace {

class SpacePolicyTest : public AccountTest {
protected:
    // Logs in through a scripted API host whose next replies are vAfter.
    void LoginScripted(const std::string& strLoginJson, const std::vector<std::string>& vAfter) {
        std::vector<TestHttpServer::Behaviour> script = {
            TestHttpServer::Behaviour::Reply(HttpOk(strLoginJson))};
        for (const std::string& strBody : vAfter)
            script.push_back(TestHttpServer::Behaviour::Reply(HttpOk(strBody)));
        m_pScripted.reset(new TestHttpServer(script));
        LoginManager::SetApiHost("127.0.0.1:" + std::to_string(m_pScripted->Port()));
        ASSERT_TRUE(LoginAndWait("alice", "wonderland"));
    }
    std::unique_ptr<TestHttpServer> m_pScripted;
};

TEST_F(SpacePolicyTest, SpaceComesFromTheService) {
    EXPECT_FALSE(LoginManager::GetSpace()) << "nobody is logged in";
    ASSERT_TRUE(LoginAndWait("alice", "wonderland"));
    ASSERT_TRUE(LoginManager::GetSpace());
    EXPECT_EQ(kQuota, LoginManager::GetTotalSize());
    EXPECT_EQ(kQuota, LoginManager::GetRemainSize());
    EXPECT_EQ(0, LoginManager::GetUsedSize());
    EXPECT_EQ(Utils::GetShowSize(kQuota), LoginManager::GetShowTotalSize());
    EXPECT_EQ(LoginManager::GetShowUsedSize() + "|" + LoginManager::GetShowTotalSize() + "|" +
                  LoginManager::GetUsedPercentString(),
              LoginManager::GetSpaceInfo());
    LoginManager::Logout();
    EXPECT_EQ(0, LoginManager::GetTotalSize());
    EXPECT_FALSE(LoginManager::GetSpace());
}

TEST_F(SpacePolicyTest, AnotherAccountsReplyIsRefusedAndLargeSizesAreExact) {
    const std::string strOther =
        "{\"state\":true,\"user_id\":\"8\",\"space\":{\"byte_size_total\":1,"
        "\"byte_size_used\":1,\"byte_size_remain\":0}}";
    const std::string strBig =
        "{\"state\":true,\"user_id\":\"7\",\"space\":{\"byte_size_total\":1.5e10,"
        "\"byte_size_used\":5e9,\"byte_size_remain\":1e10,\"size_used_percent\":\"33.33\","
        "\"size_total\":\"13.97GB\",\"size_used\":\"4.66GB\",\"size_remain\":\"9.31GB\"}}";
    const std::string strBadType =
        "{\"state\":true,\"user_id\":\"7\",\"space\":{\"size_used\":\"1B\",\"size_total\":7}}";
    LoginScripted(LoginReplyJson(), {strOther, strBig, strBadType, "{\"state\":false}"});

    EXPECT_FALSE(LoginManager::GetSpace());
    EXPECT_EQ(1000, LoginManager::GetTotalSize()) << "another account's numbers are not ours";
    EXPECT_EQ(990, LoginManager::GetRemainSize());

    ASSERT_TRUE(LoginManager::GetSpace());
    EXPECT_EQ(15000000000LL, LoginManager::GetTotalSize());
    EXPECT_EQ(5000000000LL, LoginManager::GetUsedSize());
    EXPECT_EQ(10000000000LL, LoginManager::GetRemainSize());
    EXPECT_EQ("4.66GB|13.97GB|33.33", LoginManager::GetSpaceInfo());

    EXPECT_FALSE(LoginManager::GetSpace());
    EXPECT_EQ("1B|", LoginManager::GetSpaceInfo()) << "fields before the bad one are kept";
    EXPECT_EQ(15000000000LL, LoginManager::GetTotalSize());

    EXPECT_FALSE(LoginManager::GetSpace());

    // the query carries the session's identity
    std::vector<std::string> requests = m_pScripted->Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(0u, requests[1].find("GET /app/user/space?source=src&user_id=7 HTTP/1.1\r\n"))
        << requests[1];
}

TEST_F(SpacePolicyTest, SizeRulesOnTheirBoundaries) {
    LoginScripted(LoginReplyJson("\"file_range\":{\"0\":\"0-1048576\",\"1\":\"1048576-\"},"
                                 "\"type_limit\":[\"jpg\",\"\"],\"time_limit\":3.9"),
                  {});
    EXPECT_EQ(_VelmoUpload::HashTypeSHA1, LoginManager::GetHashType(1));
    EXPECT_EQ(_VelmoUpload::HashTypeSHA1, LoginManager::GetHashType(1048576));
    EXPECT_EQ(_VelmoUpload::HashTypeMDVelmo, LoginManager::GetHashType(1048577));
    EXPECT_EQ(_VelmoUpload::HashTypeALL, LoginManager::GetHashType(0)) << "0 is not above 0";
    EXPECT_EQ(_VelmoUpload::HashTypeMDVelmo, LoginManager::GetHashType(1LL << 40));
    EXPECT_TRUE(LoginManager::NeedHashAll("/x/IMG.JPG"));
    EXPECT_TRUE(LoginManager::NeedHashAll("/x/archive")) << "an empty type matches no dot";
    EXPECT_FALSE(LoginManager::NeedHashAll("/x.y/readme")) << "its extension is 'y/readme'";
    EXPECT_DOUBLE_EQ(3.9, LoginManager::GetTimeLimit());
    EXPECT_EQ(1000, LoginManager::GetMaxUploadSize());
}

TEST_F(SpacePolicyTest, RangesSetOnlyForBothKindsGiveBoth) {
    LoginScripted(LoginReplyJson("\"file_range\":{\"2\":\"0-100\"},\"time_limit\":-4"), {});
    for (long long nSize : {0LL, 1LL, 100LL, 1LL << 33})
        EXPECT_EQ(_VelmoUpload::HashTypeALL, LoginManager::GetHashType(nSize)) << nSize;
    EXPECT_DOUBLE_EQ(0.5, LoginManager::GetTimeLimit());
}

TEST_F(SpacePolicyTest, BeforeAnyLoginThePolicyIsTheSafest) {
    EXPECT_EQ(_VelmoUpload::HashTypeALL, LoginManager::GetHashType(12345));
    EXPECT_FALSE(LoginManager::NeedHashAll("/a/b.jpg"));
    EXPECT_DOUBLE_EQ(0.5, LoginManager::GetTimeLimit());
    EXPECT_EQ(0, LoginManager::GetMaxUploadSize());
    EXPECT_EQ("", LoginManager::GetUserId());
}

TEST_F(SpacePolicyTest, ReadersNeverSeeAHalfWrittenSession) {
    ASSERT_TRUE(LoginAndWait("alice", "wonderland"));
    const std::string strSpaceInfo = LoginManager::GetSpaceInfo();
    std::atomic<bool> bStop{false};
    std::atomic<int> nBad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!bStop) {
                if (LoginManager::GetSpaceInfo() != strSpaceInfo)
                    ++nBad;
                if (LoginManager::GetTotalSize() != kQuota)
                    ++nBad;
                if (LoginManager::GetHashType(2000000) != _VelmoUpload::HashTypeMDVelmo)
                    ++nBad;
            }
        });
    std::thread refresher([&] {
        for (int i = 0; i < 20; ++i)
            LoginManager::GetSpace();
    });
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(LoginManager::GetSpace());
    refresher.join();
    bStop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(0, nBad);
}

}  // namespace
