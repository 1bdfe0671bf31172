// Quota refresh and the upload rules: replies that must be refused, the boundaries of the size
// and extension rules, and readers racing a refresh.
#include <gtest/gtest.h>

#include <thread>

#include "LoginTestSupport.h"

using namespace accounttest;
using _VelmoUpload::HashType;
using _VelmoUpload::HashTypeALL;
using _VelmoUpload::HashTypeMDVelmo;
using _VelmoUpload::HashTypeSHA1;

namespace {

class SpacePolicyTest : public AccountTest {};

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
    ScriptApiHost({LoginReplyJson(), strOther, strBig, strBadType, "{\"state\":false}"});
    ASSERT_TRUE(LoginAndWait("alice", "wonderland"));

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

TEST_F(SpacePolicyTest, HashAndTimeRulesOnTheirBoundaries) {
    struct Case {
        const char* pszReply;  // fields of the login reply; null: before any login
        std::vector<std::pair<long long, HashType>> sizes;
        std::vector<std::pair<const char*, bool>> hashAll;
        double fTimeLimit;
        long long nMaxUpload;
    };
    const Case cases[] = {
        // the safest policy while nobody is logged in
        {nullptr, {{12345, HashTypeALL}}, {{"/a/b.jpg", false}}, 0.5, 0},
        {"\"file_range\":{\"0\":\"0-1048576\",\"1\":\"1048576-\"},"
         "\"type_limit\":[\"jpg\",\"\"],\"time_limit\":3.9",
         {{1, HashTypeSHA1},
          {1048576, HashTypeSHA1},
          {1048577, HashTypeMDVelmo},
          {0, HashTypeALL},  // 0 is not above 0
          {1LL << 40, HashTypeMDVelmo}},
         // an empty type matches no dot; the extension of "/x.y/readme" is "y/readme"
         {{"/x/IMG.JPG", true}, {"/x/archive", true}, {"/x.y/readme", false}},
         3.9,
         1000},
        // ranges set only for both kinds give both; a negative time is floored
        {"\"file_range\":{\"2\":\"0-100\"},\"time_limit\":-4",
         {{0, HashTypeALL}, {1, HashTypeALL}, {100, HashTypeALL}, {1LL << 33, HashTypeALL}},
         {},
         0.5,
         1000},
        // the list is not lower-cased, an unknown range kind is ignored, a time of 0 is floored
        {"\"type_limit\":[\"jpg\",\"PNG\"],\"file_range\":{\"0\":\"0-1048576\",\"1\":"
         "\"1048576-\",\"2\":\"5\"}",
         {{1048576, HashTypeSHA1}, {1048577, HashTypeMDVelmo}, {0, HashTypeALL}},
         {{"/x/IMG.JPG", true}, {"/x/a.png", false}},
         0.5,
         1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszReply ? c.pszReply : "before any login");
        LoginManager::Logout();
        if (c.pszReply) {
            ScriptApiHost({LoginReplyJson(c.pszReply)});
            ASSERT_TRUE(LoginAndWait("alice", "wonderland"));
        }
        for (const auto& size : c.sizes)
            EXPECT_EQ(size.second, LoginManager::GetHashType(size.first)) << size.first;
        for (const auto& name : c.hashAll)
            EXPECT_EQ(name.second, LoginManager::NeedHashAll(name.first)) << name.first;
        EXPECT_DOUBLE_EQ(c.fTimeLimit, LoginManager::GetTimeLimit());
        EXPECT_EQ(c.nMaxUpload, LoginManager::GetMaxUploadSize());
    }
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
                if (LoginManager::GetHashType(2000000) != HashTypeMDVelmo)
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
