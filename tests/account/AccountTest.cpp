// The login session and the upload policy it brings, against the stand-in and against a
// scripted API host for the replies a real service should never send.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "EngineSupport.h"
#include "StandinFixture.h"
#include "TestHttpServer.h"
#include "utils/Utils.h"

using namespace _VelmoUpload;
using velmotest::LoginReplyJson;
using velmotest::ReadFile;
using velmotest::TestHttpServer;
using velmotest::WriteFile;

namespace {

// A password whose length makes the client take it for a remembered hash.
constexpr char kFortyCharPassword[] = "Abcdefghij0123456789abcdefghij0123456789";
constexpr long long kQuota = 50000000;

class AccountTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user",       "alice:wonderland",
                "--user",       std::string("carol:") + kFortyCharPassword,
                "--user",       "a&b=c:odd name",
                "--quota",      std::to_string(kQuota),
                "--file-range", "0=0-1048576",
                "--file-range", "1=1048576-"};
    }
    void SetUp() override {
        StandinFixture::SetUp();
        if (HasFatalFailure())
            return;
        LoginManager::Logout();
        LoginManager::SetApiHost(StandinHost());
    }
    void TearDown() override {
        LoginManager::Logout();
        LoginManager::SetApiHost(std::string());
        StandinFixture::TearDown();
    }
    bool LoginAndWait(const std::string& strAccount, const std::string& strPwd,
                      bool bRemember = true, bool bAuto = false) {
        return m_login.LoginAndWait(strAccount, strPwd, bRemember, bAuto);
    }
    // The API host answers the next connections with these bodies, as HTTP 200 replies.
    void ScriptApiHost(const std::vector<std::string>& vBodies) {
        std::vector<TestHttpServer::Behaviour> script;
        for (const std::string& strBody : vBodies)
            script.push_back(TestHttpServer::Behaviour::Reply(velmotest::HttpOk(strBody)));
        m_pScripted.reset(new TestHttpServer(script));
        LoginManager::SetApiHost("127.0.0.1:" + std::to_string(m_pScripted->Port()));
    }
    std::string AccountFile() const { return m_strHome + "/.Vurozudeduz/upload/account.ini"; }
    void WriteAccountFile(const std::string& strText) {
        ASSERT_TRUE(Utils::CreateDir(m_strHome + "/.Vurozudeduz/upload"));
        WriteFile(AccountFile(), strText);
    }

    velmotest::LoginCounter m_login;
    std::unique_ptr<TestHttpServer> m_pScripted;
};

TEST_F(AccountTest, TheAccountFileRemembersOnlyTheLastUser) {
    WriteAccountFile("[999]\naccount=someone\nauto=1\nremember=1\nsession=x\n");
    ASSERT_TRUE(LoginAndWait("alice", "wonderland", true, false));
    std::string strHash;
    Utils::GetHash(std::string("wonderland"), strHash);
    const std::string strSection = "[" + LoginManager::GetUserId() + "]\naccount=alice\nauto=";
    EXPECT_EQ(strSection + "0\nremember=1\nsession=" + Utils::StringToLowerCase(strHash) + "\n",
              ReadFile(AccountFile()));
    // the remembered hash logs in, in capitals too: the client lower-cases what it signs
    LoginManager::Logout();
    EXPECT_TRUE(LoginAndWait("alice", strHash));

    // remember off keeps no password, but keeps automatic login
    LoginManager::Logout();
    ASSERT_TRUE(LoginAndWait("alice", "wonderland", false, true));
    EXPECT_EQ(strSection + "1\nremember=0\nsession=\n", ReadFile(AccountFile()));
}

TEST_F(AccountTest, UnusualAccountsArriveIntactAndASecondLoginSendsNothing) {
    // a 40-character password: the client cannot tell it from a remembered hash, and the
    // service accepts that signature; a name with form characters
    for (const auto& account :
         {std::make_pair("carol", kFortyCharPassword), std::make_pair("a&b=c", "odd name")}) {
        ASSERT_TRUE(LoginAndWait(account.first, account.second)) << account.first;
        EXPECT_EQ(account.first, LoginManager::GetName());
        // while logged in, Login tells the observers at once
        const size_t nLines = StandinLog().size();
        const int nLogins = m_login.m_nLogins;
        EXPECT_TRUE(LoginManager::Login(account.first, "wrong", true, true));
        EXPECT_EQ(nLogins + 1, m_login.m_nLogins);
        EXPECT_EQ(nLines, StandinLog().size());
        LoginManager::Logout();
    }
}

TEST_F(AccountTest, RefusedAndFailedLoginsLeaveTheSessionLoggedOut) {
    EXPECT_FALSE(LoginAndWait("alice", "not it"));
    EXPECT_FALSE(LoginManager::GetErrTip().empty());
    EXPECT_FALSE(Utils::IsExist(AccountFile()));

    // an empty password sends nothing at all
    size_t nLog = StandinLog().size();
    std::string strTipBefore = LoginManager::GetErrTip();
    EXPECT_FALSE(LoginAndWait("alice", ""));
    EXPECT_EQ(nLog, StandinLog().size());
    EXPECT_EQ(strTipBefore, LoginManager::GetErrTip());

    // nobody listening: the network message, in UTF-8 for the dialog
    LoginManager::SetApiHost("127.0.0.1:" + std::to_string(TestHttpServer::UnusedPort()));
    EXPECT_FALSE(LoginAndWait("alice", "wonderland"));
    EXPECT_EQ("请检查你的网络连接", LoginManager::GetErrTip());
    EXPECT_EQ(3, m_login.m_nLogins) << "every attempt ends with LoginFinish";
}

// A field of the wrong kind fails the login too, and the remembered account stays as it was.
TEST_F(AccountTest, MalformedRepliesAreFailedLogins) {
    const std::string strBefore = "[1]\naccount=kept\nauto=1\nremember=0\nsession=\n";
    WriteAccountFile(strBefore);
    for (const std::string& strBad :
         {std::string("<html>busy</html>"), LoginReplyJson("\"user_name\":12"),
          LoginReplyJson("\"space\":[1,2]"), LoginReplyJson("\"type_limit\":{\"a\":1}"),
          LoginReplyJson("\"file_range\":\"0-1\""), LoginReplyJson("\"size_limit\":\"big\"")}) {
        ScriptApiHost({strBad});
        EXPECT_FALSE(LoginAndWait("alice", "wonderland")) << strBad;
    }
    EXPECT_EQ("", LoginManager::GetErrTip()) << "no text of the service's to show";
    EXPECT_EQ(strBefore, ReadFile(AccountFile()));
}

TEST_F(AccountTest, RememberedAccountIsReadFromTheFirstSectionAndDamageIsRefusedOrDropped) {
    const std::string kHash(40, 'a');
    const std::string strAnn = "[1]\naccount=ann\nauto=";
    const struct {
        std::string strFile;
        bool bUsable, bFlags;
        const char* pszAccount;
        std::string strPassword;
    } kFiles[] = {
        // no auto in the first section: not usable, but read
        {"[1]\naccount=ann\nremember=1\nsession=abc\n[2]\nauto=1\n", false, false, "ann", "abc"},
        {strAnn + "2\nremember=2\nsession=\n", true, true, "ann", ""},
        {strAnn + "01\nremember=01\nsession=\n", true, true, "ann", ""},
        {strAnn + "yes\nremember=yes\nsession=\n", true, false, "ann", ""},
        {"[1]\r\naccount=ann\r\nauto=1\r\nremember=1\r\nsession=" + kHash + "\r\n", true, true,
         "ann", kHash},
        {std::string(1 << 20, 'x') + "\n" + strAnn + "1\nremember=1\nsession=" + kHash + "\n", true,
         true, "ann", kHash},
        {strAnn + "1\nremember=1\nsession=not-a-hash\n", true, true, "ann", ""},
        {std::string("[1]\naccount=a\0n\x01\nauto=1\nremember=1\nsession=\n", 45), false, false,
         nullptr, ""},
        {strAnn + "1\nremember=1\nsess", false, false, nullptr, ""},
    };
    for (const auto& file : kFiles) {
        SCOPED_TRACE(file.strFile.substr(0, 60));
        WriteAccountFile(file.strFile);
        std::string strAccount, strPwd;
        bool bRemember = false, bAuto = false;
        EXPECT_EQ(file.bUsable, LoginManager::GetAccountInfo(strAccount, strPwd, bRemember, bAuto));
        if (file.pszAccount) {  // null: refused, whatever was read
            EXPECT_EQ(file.pszAccount, strAccount);
            EXPECT_EQ(file.strPassword, strPwd);
        }
        if (file.bUsable) {
            EXPECT_EQ(file.bFlags, bRemember);
            EXPECT_EQ(file.bFlags, bAuto);
        }
    }
}

TEST_F(AccountTest, AnotherAccountsReplyIsRefusedAndLargeSizesAreExact) {
    const std::string strOther =
        "{\"state\":true,\"user_id\":\"8\",\"space\":{\"byte_size_total\":1,"
        "\"byte_size_used\":1,\"byte_size_remain\":0}}";
    const std::string strBig =
        "{\"state\":true,\"user_id\":\"7\",\"space\":{\"byte_size_total\":1.5e10,"
        "\"byte_size_used\":5e9,\"byte_size_remain\":1e10,\"size_used_percent\":\"33.33\","
        "\"size_total\":\"13.97GB\",\"size_used\":\"4.66GB\",\"size_remain\":\"9.31GB\"}}";
    const std::string strBadType =
        "{\"state\":true,\"user_id\":\"7\",\"space\":{\"size_used\":\"1B\",\"size_total\":7}}";
    ScriptApiHost({LoginReplyJson(), strOther, strBig, strBadType});
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
}

TEST_F(AccountTest, HashAndTimeRulesOnTheirBoundaries) {
    // the safest policy while nobody is logged in
    EXPECT_EQ(HashTypeALL, LoginManager::GetHashType(12345));
    EXPECT_FALSE(LoginManager::NeedHashAll("/a/b.jpg"));
    EXPECT_DOUBLE_EQ(0.5, LoginManager::GetTimeLimit());
    EXPECT_EQ(0, LoginManager::GetMaxUploadSize());

    ScriptApiHost(
        {LoginReplyJson("\"file_range\":{\"0\":\"0-1048576\",\"1\":\"1048576-\"},"
                        "\"type_limit\":[\"jpg\",\"\"],\"time_limit\":3.9")});
    ASSERT_TRUE(LoginAndWait("alice", "wonderland"));
    // 0 is not above 0
    const std::pair<long long, HashType> kSizes[] = {{1, HashTypeSHA1},
                                                     {1048576, HashTypeSHA1},
                                                     {1048577, HashTypeMDVelmo},
                                                     {0, HashTypeALL},
                                                     {1LL << 40, HashTypeMDVelmo}};
    for (const auto& size : kSizes)
        EXPECT_EQ(size.second, LoginManager::GetHashType(size.first)) << size.first;
    // an empty type matches no dot; the extension of "/x.y/readme" is "y/readme"
    EXPECT_TRUE(LoginManager::NeedHashAll("/x/IMG.JPG"));
    EXPECT_TRUE(LoginManager::NeedHashAll("/x/archive"));
    EXPECT_FALSE(LoginManager::NeedHashAll("/x.y/readme"));
    EXPECT_DOUBLE_EQ(3.9, LoginManager::GetTimeLimit());
    EXPECT_EQ(1000, LoginManager::GetMaxUploadSize());

    // ranges set only for both kinds give both; a negative time is floored
    LoginManager::Logout();
    ScriptApiHost({LoginReplyJson("\"file_range\":{\"2\":\"0-100\"},\"time_limit\":-4")});
    ASSERT_TRUE(LoginAndWait("alice", "wonderland"));
    for (long long nSize : {0LL, 1LL, 100LL, 1LL << 33})
        EXPECT_EQ(HashTypeALL, LoginManager::GetHashType(nSize)) << nSize;
    EXPECT_DOUBLE_EQ(0.5, LoginManager::GetTimeLimit());
}

TEST_F(AccountTest, ReadersNeverSeeAHalfWrittenSession) {
    ASSERT_TRUE(LoginAndWait("alice", "wonderland"));
    const std::string strSpaceInfo = LoginManager::GetSpaceInfo();
    std::atomic<bool> bStop{false};
    std::atomic<int> nBad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!bStop) {
                nBad += LoginManager::GetSpaceInfo() != strSpaceInfo;
                nBad += LoginManager::GetTotalSize() != kQuota;
                nBad += LoginManager::GetHashType(2000000) != HashTypeMDVelmo;
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
