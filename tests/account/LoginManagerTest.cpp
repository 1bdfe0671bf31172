// The login session against the stand-in service, and against a scripted API host for the
// replies a real service should never send.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "LoginTestSupport.h"
#include "utils/Utils.h"

using namespace accounttest;
using _VelmoUpload::Utils;
using velmotest::ReadFile;
using velmotest::TestHttpServer;
using velmotest::WriteFile;

namespace {

class LoginManagerTest : public AccountTest {};

TEST_F(LoginManagerTest, LoginFillsTheSessionFromTheReply) {
    EXPECT_FALSE(LoginManager::GetSpace()) << "nobody is logged in";
    ASSERT_TRUE(LoginAndWait("alice", "wonderland", true, true));
    EXPECT_FALSE(LoginManager::GetUserId().empty());
    EXPECT_EQ("alice", LoginManager::GetName());
    EXPECT_EQ(2, LoginManager::IsAllowUpload());
    EXPECT_FALSE(LoginManager::IsVip());
    EXPECT_FALSE(LoginManager::GetUserKey().empty());
    EXPECT_EQ(StandinUrl("/files/upload"), LoginManager::GetUploadUrl());
    EXPECT_EQ(StandinUrl("/files/resume"), LoginManager::GetResumeUrl());
    EXPECT_EQ(StandinUrl("/files/cancel"), LoginManager::GetCancelUrl());
    EXPECT_EQ(0u, LoginManager::GetTokenUrl().find(StandinUrl("/")));
    EXPECT_FALSE(LoginManager::GetTarget().empty());
    EXPECT_FALSE(LoginManager::GetResource().empty());
    EXPECT_EQ(kSizeLimit, LoginManager::GetMaxUploadSize());
    EXPECT_DOUBLE_EQ(2.5, LoginManager::GetTimeLimit());
    EXPECT_TRUE(LoginManager::NeedHashAll("/p/photo.JPG"));
    EXPECT_EQ(_VelmoUpload::HashTypeMDVelmo, LoginManager::GetHashType(1048577));
    ASSERT_TRUE(LoginManager::GetSpace());
    EXPECT_EQ(kQuota, LoginManager::GetTotalSize());
    EXPECT_EQ(0, LoginManager::GetUsedSize());
    EXPECT_EQ(kQuota, LoginManager::GetRemainSize());
    EXPECT_EQ(Utils::GetShowSize(kQuota), LoginManager::GetShowTotalSize());
    EXPECT_EQ(LoginManager::GetShowUsedSize() + "|" + LoginManager::GetShowTotalSize() + "|" +
                  LoginManager::GetUsedPercentString(),
              LoginManager::GetSpaceInfo());
    EXPECT_EQ(1, m_login.m_nLogins);

    // a second Login while logged in sends nothing and tells the observers at once
    size_t nLines = StandinLog().size();
    EXPECT_TRUE(LoginManager::Login("alice", "wrong", true, true));
    EXPECT_EQ(2, m_login.m_nLogins);
    EXPECT_EQ(nLines, StandinLog().size());

    LoginManager::Logout();
    EXPECT_EQ(0, LoginManager::GetTotalSize());
    EXPECT_FALSE(LoginManager::GetSpace());
}

TEST_F(LoginManagerTest, TheAccountFileRemembersOnlyTheLastUser) {
    ASSERT_TRUE(Utils::CreateDir(m_strHome + "/.Vurozudeduz/upload"));
    WriteFile(AccountFile(), "[999]\naccount=someone\nauto=1\nremember=1\nsession=x\n");

    ASSERT_TRUE(LoginAndWait("alice", "wonderland", true, false));
    std::string strHash;
    Utils::GetHash(std::string("wonderland"), strHash);
    const std::string strId = LoginManager::GetUserId();
    EXPECT_EQ("[" + strId + "]\naccount=alice\nauto=0\nremember=1\nsession=" +
                  Utils::StringToLowerCase(strHash) + "\n",
              ReadFile(AccountFile()));
    struct stat st;
    ASSERT_EQ(0, stat(AccountFile().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777) << "it holds a password hash";

    // the stored hash logs in again, as the next start would replay it
    std::string strAccount, strPwd;
    bool bRemember = false, bAuto = true;
    const int nLogouts = m_login.m_nLogouts;
    LoginManager::Logout();
    EXPECT_EQ(nLogouts + 1, m_login.m_nLogouts);
    EXPECT_TRUE(LoginManager::GetUserId().empty());
    ASSERT_TRUE(LoginManager::GetAccountInfo(strAccount, strPwd, bRemember, bAuto));
    EXPECT_EQ("alice", strAccount);
    EXPECT_TRUE(bRemember);
    EXPECT_FALSE(bAuto);
    EXPECT_TRUE(LoginAndWait(strAccount, strPwd));
    // and in capitals too: the client lower-cases what it signs
    LoginManager::Logout();
    EXPECT_TRUE(LoginAndWait("alice", strHash));

    // remember off keeps no password, but keeps automatic login
    LoginManager::Logout();
    ASSERT_TRUE(LoginAndWait("alice", "wonderland", false, true));
    EXPECT_EQ("[" + strId + "]\naccount=alice\nauto=1\nremember=0\nsession=\n",
              ReadFile(AccountFile()));
}

TEST_F(LoginManagerTest, UnusualAccountsAndPasswordsArriveIntact) {
    // a 40-character password: the client cannot tell it from a remembered hash, and the
    // service accepts that signature; a name with form characters
    for (const auto& account :
         {std::make_pair("carol", kFortyCharPassword), std::make_pair("a&b=c", "odd name")}) {
        ASSERT_TRUE(LoginAndWait(account.first, account.second)) << account.first;
        EXPECT_EQ(account.first, LoginManager::GetName());
        LoginManager::Logout();
    }
}

TEST_F(LoginManagerTest, RefusedAndFailedLoginsLeaveTheSessionLoggedOut) {
    // a wrong password: the service's own text
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

TEST_F(LoginManagerTest, MalformedRepliesAreFailedLogins) {
    ASSERT_TRUE(Utils::CreateDir(m_strHome + "/.Vurozudeduz/upload"));
    const std::string strBefore = "[1]\naccount=kept\nauto=1\nremember=0\nsession=\n";
    WriteFile(AccountFile(), strBefore);

    // not JSON: the tip stays as it was
    ScriptApiHost({"<html>busy</html>"});
    EXPECT_FALSE(LoginAndWait("alice", "wonderland"));
    EXPECT_EQ("", LoginManager::GetErrTip());
    ASSERT_EQ(1u, m_pScripted->Requests().size());
    // the request itself: signed form fields, percent-encoded values
    const std::string strRequest = m_pScripted->Requests()[0];
    EXPECT_EQ(0u, strRequest.find("POST /app/clogin HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, strRequest.find("account=alice&_time="));
    EXPECT_NE(std::string::npos, strRequest.find("&version=linux_1.0.1026.4&sign="));

    // a number where text belongs: fields before it stay, the login fails, no file rewrite
    ScriptApiHost({LoginReplyJson("\"user_name\":12")});
    EXPECT_FALSE(LoginAndWait("alice", "wonderland"));
    EXPECT_EQ("7", LoginManager::GetUserId()) << "read before the bad field";
    EXPECT_EQ(1, LoginManager::IsAllowUpload());
    EXPECT_EQ("", LoginManager::GetUserKey()) << "after the bad field";
    EXPECT_EQ(strBefore, ReadFile(AccountFile()));

    // "space" that is not an object, "type_limit" that is one, and the like
    for (const char* pBad : {"\"space\":[1,2]", "\"type_limit\":{\"a\":1}",
                             "\"file_range\":\"0-1\"", "\"size_limit\":\"big\""}) {
        ScriptApiHost({LoginReplyJson(pBad)});
        EXPECT_FALSE(LoginAndWait("alice", "wonderland")) << pBad;
        EXPECT_EQ(strBefore, ReadFile(AccountFile())) << pBad;
    }

    // "state" false with the service's text
    ScriptApiHost({"{\"state\":false,\"error\":\"账号已冻结\"}"});
    EXPECT_FALSE(LoginAndWait("alice", "wonderland"));
    EXPECT_EQ("账号已冻结", LoginManager::GetErrTip());

    // any non-empty text in a bool field reads as true, "false" included
    ScriptApiHost({LoginReplyJson("\"state\":\"false\"")});
    EXPECT_TRUE(LoginAndWait("alice", "wonderland", false, false));
}

TEST_F(LoginManagerTest, RememberedAccountIsReadFromTheFirstSection) {
    std::string strAccount = "x", strPwd = "y";
    bool bRemember = true, bAuto = true;
    EXPECT_FALSE(LoginManager::GetAccountInfo(strAccount, strPwd, bRemember, bAuto));
    EXPECT_EQ("", strAccount);
    EXPECT_EQ("", strPwd);
    EXPECT_FALSE(bRemember || bAuto);

    ASSERT_TRUE(Utils::CreateDir(m_strHome + "/.Vurozudeduz/upload"));
    WriteFile(AccountFile(), "[1]\naccount=ann\nremember=1\nsession=abc\n[2]\nauto=1\n");
    strAccount = strPwd = "";
    bRemember = false;
    bAuto = true;
    EXPECT_FALSE(LoginManager::GetAccountInfo(strAccount, strPwd, bRemember, bAuto))
        << "no auto in the first section";
    EXPECT_EQ("ann", strAccount);
    EXPECT_EQ("abc", strPwd);
    EXPECT_TRUE(bRemember);
    EXPECT_TRUE(bAuto) << "untouched";

    const std::pair<const char*, bool> kFlags[] = {
        {"2", true}, {"01", true}, {"yes", false}, {"0", false}, {"", false}};
    for (const auto& flag : kFlags) {
        WriteFile(AccountFile(), std::string("[1]\naccount=ann\nauto=") + flag.first +
                                     "\nremember=" + flag.first + "\nsession=\n");
        ASSERT_TRUE(LoginManager::GetAccountInfo(strAccount, strPwd, bRemember, bAuto));
        EXPECT_EQ(flag.second, bRemember) << flag.first;
        EXPECT_EQ(flag.second, bAuto) << flag.first;
    }

    // damage: what is sound is kept, the rest is refused or dropped
    const std::string kHash(40, 'a');
    struct Damage {
        std::string strFile;
        bool bUsable;
        const char* pszAccount;
        std::string strPassword;
    } damages[] = {
        {"[1]\r\naccount=ann\r\nauto=1\r\nremember=1\r\nsession=" + kHash + "\r\n", true, "ann",
         kHash},
        {std::string(1 << 20, 'x') + "\n[1]\naccount=ann\nauto=1\nremember=1\nsession=" + kHash +
             "\n",
         true, "ann", kHash},
        {"[1]\naccount=ann\nauto=1\nremember=1\nsession=not-a-hash\n", true, "ann", ""},
        {std::string("[1]\naccount=a\0n\x01\nauto=1\nremember=1\nsession=\n", 45), false, "", ""},
        {"[1]\naccount=ann\nauto=1\nremember=1\nsess", false, "", ""},
    };
    for (const Damage& damage : damages) {
        WriteFile(AccountFile(), damage.strFile);
        strAccount = strPwd = "";
        EXPECT_EQ(damage.bUsable,
                  LoginManager::GetAccountInfo(strAccount, strPwd, bRemember, bAuto))
            << damage.strFile.substr(0, 60);
        if (damage.bUsable) {
            EXPECT_EQ(damage.pszAccount, strAccount);
            EXPECT_EQ(damage.strPassword, strPwd);
        }
    }
}

}  // namespace
