// The windows as a user meets them: built from the carried definition, the logged-out and
// logged-in looks in both languages, the login dialog's rules, logins that never freeze the
// window; and the single-instance channel: what a message may hold, and who becomes the instance.
#include <glibmm/main.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "GuiFixture.h"
#include "WaitFor.h"
#include "about_window.h"
#include "core/LoginManager.h"
#include "info_window.h"
#include "login_window.h"
#include "main_window.h"
#include "rodedudir_ui.h"
#include "single_instance.h"

namespace velmotest {
namespace {

using rodedudir::LoginWindow;
using rodedudir::UploadWindow;

TEST_F(GuiTest, EveryWindowBuildsFromTheCarriedDefinition) {
    // nobody builds the update box at start-up; it must build all the same
    Glib::RefPtr<Gtk::Builder> refBuilder =
        Gtk::Builder::create_from_string(rodedudir::rodedudir_ui);
    rodedudir::UpdateWindow* pUpdate = nullptr;
    refBuilder->get_widget_derived("InfoDialog", pUpdate);
    ASSERT_NE(nullptr, pUpdate);

    rodedudir::AboutWindow* pAbout = m_win.pAboutWin;
    WhenShown(pAbout, [pAbout]() {
        Screenshot(*pAbout, "about-box");
        pAbout->on_button_ok_clicked();
    });
    m_win.pMainWin->on_systray_menu_about();
    EXPECT_FALSE(pAbout->is_aboutwin_show());
    EXPECT_FALSE(pAbout->get_visible());

    LoginWindow* pLogin = m_win.pLoginWin;
    WhenShown(pLogin, [pLogin]() {
        Screenshot(*pLogin, "login-dialog");
        pLogin->response(Gtk::RESPONSE_DELETE_EVENT);  // closed by its frame
    });
    m_win.pMainWin->on_user_login();
    EXPECT_FALSE(m_win.pMainWin->is_login());
    EXPECT_FALSE(pLogin->is_loginwin_show());
}

struct Look {
    const char* pszLanguage;
    const char* pszLoggedOutTitle;
    const char* pszLoginLabel;
    const char* pszLogoutLabel;
    const char* pszStartLabel;
    const char* pszStatus;
    const char* pszTitlePrefix;
};

void PrintTo(const Look& look, std::ostream* pOut) {
    *pOut << (look.pszLanguage[0] ? look.pszLanguage : "en");
}

class LookTest : public GuiTest, public ::testing::WithParamInterface<Look> {
protected:
    std::string Language() const override { return GetParam().pszLanguage; }
};

TEST_P(LookTest, LoggedOutAndLoggedInLooksWorkInEitherLanguage) {
    const Look& look = GetParam();
    UploadWindow* pMain = m_win.pMainWin;
    const std::string strSuffix = look.pszLanguage[0] ? look.pszLanguage : "en";

    EXPECT_EQ(look.pszLoggedOutTitle, pMain->get_title());
    EXPECT_EQ(look.pszLoginLabel, pMain->user_button_label());
    EXPECT_EQ(look.pszStartLabel, pMain->task_button_label());
    EXPECT_EQ(look.pszStatus, pMain->status_text());
    EXPECT_EQ("0.00GB/0.00GB", pMain->space_text());
    EXPECT_DOUBLE_EQ(1.0, pMain->space_fraction());
    Screenshot(*pMain, "main-logged-out-" + strSuffix);

    LogInThroughDialog("demo", "demo");
    ASSERT_TRUE(pMain->is_login());
    EXPECT_EQ(std::string(look.pszTitlePrefix) + " - demo<" +
                  _VelmoUpload::LoginManager::GetUserId() + ">",
              pMain->get_title());
    EXPECT_EQ(look.pszLogoutLabel, pMain->user_button_label());
    // the figures the stand-in gives a new account: nothing used of 100 GB
    EXPECT_EQ("0B/100.00GB", pMain->space_text());
    EXPECT_DOUBLE_EQ(0.0, pMain->space_fraction());
    Screenshot(*pMain, "main-logged-in-" + strSuffix);

    // Both buttons act on the window's state, not on their translated labels: the task
    // button on an empty list stays at Start, the account button logs out.
    pMain->on_task_control();
    EXPECT_FALSE(pMain->is_task_running());
    EXPECT_EQ(look.pszStartLabel, pMain->task_button_label());
    pMain->on_tb_user_login_logout();
    EXPECT_FALSE(pMain->is_login());
    EXPECT_EQ(look.pszLoggedOutTitle, pMain->get_title());
    EXPECT_EQ(look.pszLoginLabel, pMain->user_button_label());
    EXPECT_EQ("0.00GB/0.00GB", pMain->space_text());
}

INSTANTIATE_TEST_SUITE_P(Languages, LookTest,
                         ::testing::Values(Look{"", "Velmo WebDisk - not login", "Login", "Logout",
                                                "Start", "Backup to Velmo", "Velmo WebDisk"},
                                           Look{"zh_CN", "Velmo 网盘 - 未登录", "登录", "注销",
                                                "开始", "备份到 Velmo 网盘", "Velmo 网盘"}),
                         [](const ::testing::TestParamInfo<Look>& info) {
                             return std::string(info.param.pszLanguage[0] ? "Chinese" : "English");
                         });

// The dialog's widgets, for the editing rules.
struct LoginWidgets {
    Gtk::Entry* pName = nullptr;
    Gtk::Entry* pPassword = nullptr;
    Gtk::CheckButton* pRemember = nullptr;
    Gtk::CheckButton* pAuto = nullptr;

    explicit LoginWidgets(const Glib::RefPtr<Gtk::Builder>& refBuilder) {
        refBuilder->get_widget("text_name", pName);
        refBuilder->get_widget("text_passwd", pPassword);
        refBuilder->get_widget("check_btn_rem", pRemember);
        refBuilder->get_widget("check_btn_auto", pAuto);
    }
};

TEST_F(GuiTest, LoginDialogEditingRules) {
    LoginWindow* pLogin = m_win.pLoginWin;
    LoginWidgets w(m_win.refBuilder);
    struct Case {
        const char* pszWhat;
        std::function<void()> act;
        const char* pszPassword;
        bool bRemember;
        bool bAuto;
    };
    const Case cases[] = {
        {"filled from the stored account",
         [&] { pLogin->set_user_name_password("demo", "pw", true, true); }, "pw", true, true},
        {"another name clears password and choices", [&] { w.pName->set_text("other"); }, "", false,
         false},
        {"filled without remember: no password",
         [&] { pLogin->set_user_name_password("demo", "pw", false, false); }, "", false, false},
        {"ticking auto-login ticks remember", [&] { w.pAuto->clicked(); }, "", true, true},
        {"unticking remember unticks auto-login", [&] { w.pRemember->clicked(); }, "", false,
         false},
    };
    for (const Case& c : cases) {
        c.act();
        EXPECT_EQ(c.pszPassword, w.pPassword->get_text()) << c.pszWhat;
        EXPECT_EQ(c.bRemember, w.pRemember->get_active()) << c.pszWhat;
        EXPECT_EQ(c.bAuto, w.pAuto->get_active()) << c.pszWhat;
    }

    // read back: the password only when it is to be remembered
    for (bool bRemember : {true, false}) {
        pLogin->set_user_name_password("demo", "secret", bRemember, false);
        std::string strName, strPassword;
        bool bRem = !bRemember, bAuto = true;
        pLogin->get_user_name_password(strName, strPassword, bRem, bAuto);
        EXPECT_EQ("demo", strName);
        EXPECT_EQ(bRemember ? "secret" : "", strPassword);
        EXPECT_EQ(bRemember, bRem);
        EXPECT_FALSE(bAuto);
    }
}

class LoginFlowTest : public GuiTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user", "demo:demo", "--user", "spaced:  pass word  "};
    }
};

TEST_F(LoginFlowTest, BlankFieldsAskAgainAndPasswordsAreUsedAsTyped) {
    LoginWidgets w(m_win.refBuilder);
    Gtk::Button* pButton = nullptr;
    m_win.refBuilder->get_widget("button_login", pButton);
    // blanks alone are neither a name nor a password: a box says so, nothing is sent
    for (const char* pszName : {"   ", "demo"}) {
        w.pName->set_text(pszName);
        w.pPassword->set_text(std::string(pszName) == "demo" ? " \t " : "demo");
        std::string strText;
        AnswerNextDialog(Gtk::RESPONSE_OK, &strText);
        pButton->clicked();
        PumpUntil([&] { return !strText.empty(); });
        EXPECT_EQ("username or passwd empty", strText);
    }
    EXPECT_TRUE(LogLines("/app/clogin").empty());

    // a password with blanks around it is the password
    LogInThroughDialog("spaced", "  pass word  ");
    EXPECT_TRUE(m_win.pMainWin->is_login());
}

TEST_F(LoginFlowTest, LoginWaitsWithoutFreezingAndReportsEachAttemptsOwnOutcome) {
    LoginWindow* pLogin = m_win.pLoginWin;
    Gtk::Button* pButton = nullptr;
    m_win.refBuilder->get_widget("button_login", pButton);
    // the stand-in answers the login after a second and a half
    Fault("action=stall&on=login&seconds=1.5");
    int nTicks = 0;
    bool bSecondRefused = false, bButtonInsensitive = false;
    sigc::connection tick = Glib::signal_timeout().connect(
        [&]() {
            if (++nTicks == 3) {
                bButtonInsensitive = !pButton->get_sensitive();
                // a second login cannot start while one runs
                bSecondRefused = !pLogin->user_login("demo", "demo", false, false);
            }
            return true;
        },
        50);
    EXPECT_TRUE(pLogin->user_login("demo", "demo", false, false));
    tick.disconnect();
    EXPECT_GE(nTicks, 15) << "the main loop stood still while the login waited";
    EXPECT_TRUE(bSecondRefused);
    EXPECT_TRUE(bButtonInsensitive);
    EXPECT_TRUE(pButton->get_sensitive());

    // a failed attempt's outcome never leaks into the next one
    ASSERT_TRUE(pLogin->user_logout());
    EXPECT_FALSE(pLogin->user_login("demo", "wrong", false, false));
    EXPECT_EQ(_VelmoUpload::LoginManager::kLoginRefused,
              _VelmoUpload::LoginManager::GetLoginError());
    EXPECT_TRUE(pLogin->user_login("demo", "demo", false, false));
}

TEST_F(GuiTest, SpaceQueriesAreCoalesced) {
    LogInThroughDialog("demo", "demo");
    ASSERT_TRUE(m_win.pMainWin->is_login());
    auto spaceQueries = [this]() { return LogLines("/app/user/space").size(); };
    // every finished file asks; a burst makes one query now and at most one later
    for (int i = 0; i < 50; ++i)
        m_win.pMainWin->update_user_space();
    PumpFor(std::chrono::milliseconds(1000));
    EXPECT_EQ(1u, spaceQueries());
    PumpUntil([&] { return spaceQueries() >= 2; }, std::chrono::seconds(4));
    PumpFor(std::chrono::milliseconds(500));
    EXPECT_EQ(2u, spaceQueries());
}

// ---------------------------------------------------------------- the single-instance channel

using rodedudir::SingletonRequest;

TEST(SingletonMessage, Rules) {
    const std::string kHead = "zov_restore;zov_addtask;";
    struct Case {
        const char* pszWhat;
        std::string strMessage;
        bool bUsable;
        bool bAddTask;
        std::string strPath;
    };
    const Case cases[] = {
        {"no path: show the window", kHead, true, true, ""},
        {"a path may hold the separator", kHead + "/x;y", true, true, "/x;y"},
        {"shorter than the two commands", "zov_restore;zov_addta", false, false, ""},
        {"not a restore command", "zov_restorx;zov_addtask;/tmp/a", false, false, ""},
        {"restore without adding", "zov_restore;zov_nothing;/tmp/a", true, false, ""},
        {"a command field wider than 19", "zov_restore" + std::string(9, 'x') + ";zov_addtask;/a",
         false, false, ""},
        {"exactly 1023 bytes", kHead + "/" + std::string(1023 - kHead.size() - 1, 'p'), true, true,
         "/" + std::string(1023 - kHead.size() - 1, 'p')},
        {"1024 bytes", kHead + "/" + std::string(1024 - kHead.size() - 1, 'p'), false, false, ""},
        {"a NUL in the path", kHead + std::string("/a\0b", 4), false, false, ""},
    };
    for (const Case& c : cases) {
        SingletonRequest request;
        std::string strWhy;
        EXPECT_EQ(c.bUsable, rodedudir::parse_singleton_message(c.strMessage, request, strWhy))
            << c.pszWhat;
        EXPECT_EQ(c.bAddTask, request.bAddTask) << c.pszWhat;
        EXPECT_EQ(c.strPath, request.strPath) << c.pszWhat;
    }

    // the sender refuses a path that would not fit rather than cut it to another file's name
    std::string strMessage;
    EXPECT_TRUE(
        rodedudir::format_singleton_message(std::string(1023 - kHead.size(), 'p'), strMessage));
    EXPECT_EQ(1023u, strMessage.size());
    EXPECT_FALSE(
        rodedudir::format_singleton_message(std::string(1024 - kHead.size(), 'p'), strMessage));
}

class SingleInstanceTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        m_strRuntime = MakeTempDir("velmo-run-");
        setenv("XDG_RUNTIME_DIR", m_strRuntime.c_str(), 1);
    }
    void TearDown() override {
        RemoveTree(m_strRuntime);
        TempHomeTest::TearDown();
    }
    // What the instance listening on nFd receives next.
    static bool Receive(int nFd, SingletonRequest& request, std::string& strWhy) {
        int nConn = accept(nFd, nullptr, nullptr);
        bool bOk = nConn >= 0 && rodedudir::read_singleton_request(nConn, request, strWhy);
        if (nConn >= 0)
            close(nConn);
        return bOk;
    }
    std::string m_strRuntime;
};

// Second starts handing over and a stale socket are proven by the program itself (e2e); here
// what a start cannot show: a path too long to send, and a client that never finishes.
TEST_F(SingleInstanceTest, APathTooLongIsRefusedAndASilentClientDoesNotHoldTheServer) {
    std::string strError, strSocket = rodedudir::singleton_socket_path(strError);
    ASSERT_EQ(m_strRuntime + "/ZOVBACKUP_SINGLETON", strSocket) << strError;
    EXPECT_EQ(rodedudir::ClaimResult::First, rodedudir::claim_single_instance("", strError))
        << strError;
    int nListen = rodedudir::listening_fd();
    ASSERT_GE(nListen, 0);
    EXPECT_EQ(rodedudir::ClaimResult::PathTooLong,
              rodedudir::claim_single_instance("/" + std::string(1100, 'p'), strError));

    int nSilent = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, strSocket.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(0, connect(nSilent, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    SingletonRequest request;
    std::string strWhy;
    EXPECT_FALSE(Receive(nListen, request, strWhy));
    EXPECT_EQ("message not ended in time", strWhy);
    close(nSilent);
    close(nListen);
}

}  // namespace
}  // namespace velmotest
