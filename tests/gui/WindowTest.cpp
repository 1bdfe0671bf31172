// The windows as a user meets them: built from the carried definition, the logged-out and
// logged-in looks in Chinese, the login dialog's rules, logins that never freeze the
// window; and the single-instance channel: what a message may hold, and who becomes the instance.
#include <glibmm/main.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

TEST_F(GuiTest, EveryWindowBuildsFromTheCarriedDefinitionAndTheAboutBoxCloses) {
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
    EXPECT_FALSE(pAbout->is_aboutwin_show() || pAbout->get_visible());
}

// The English look is the end-to-end tests' (their buttons are found by these labels); here the
// catalogue's, where a label compared in the code would break.
class ChineseLookTest : public GuiTest {
protected:
    std::string Language() const override { return "zh_CN"; }
};

TEST_F(ChineseLookTest, LoggedOutAndLoggedInLooksAndButtonsThatActOnStateNotLabels) {
    UploadWindow* pMain = m_win.pMainWin;
    EXPECT_EQ("Velmo 网盘 - 未登录", pMain->get_title());
    EXPECT_EQ("登录", pMain->user_button_label());
    EXPECT_EQ("开始", pMain->task_button_label());
    EXPECT_EQ("备份到 Velmo 网盘", pMain->status_text());
    EXPECT_EQ("0.00GB/0.00GB", pMain->space_text());
    EXPECT_DOUBLE_EQ(1.0, pMain->space_fraction());
    Screenshot(*pMain, "main-logged-out-zh_CN");

    LogInThroughDialog("demo", "demo");
    ASSERT_TRUE(pMain->is_login());
    EXPECT_EQ("Velmo 网盘 - demo<" + _VelmoUpload::LoginManager::GetUserId() + ">",
              pMain->get_title());
    EXPECT_EQ("注销", pMain->user_button_label());
    // the figures the stand-in gives a new account: nothing used of 100 GB
    EXPECT_EQ("0B/100.00GB", pMain->space_text());
    EXPECT_DOUBLE_EQ(0.0, pMain->space_fraction());
    Screenshot(*pMain, "main-logged-in-zh_CN");

    // the task button on an empty list stays at Start, the account button logs out
    pMain->on_task_control();
    EXPECT_FALSE(pMain->is_task_running());
    EXPECT_EQ("开始", pMain->task_button_label());
    pMain->on_tb_user_login_logout();
    EXPECT_FALSE(pMain->is_login());
    EXPECT_EQ("Velmo 网盘 - 未登录", pMain->get_title());
    EXPECT_EQ("登录", pMain->user_button_label());
    EXPECT_EQ("0.00GB/0.00GB", pMain->space_text());
}

// The dialog's widgets, for the editing rules.
struct LoginWidgets {
    Gtk::Entry *pName = nullptr, *pPassword = nullptr;
    Gtk::CheckButton *pRemember = nullptr, *pAuto = nullptr;
    Gtk::Button* pButton = nullptr;

    explicit LoginWidgets(const Glib::RefPtr<Gtk::Builder>& refBuilder) {
        refBuilder->get_widget("text_name", pName);
        refBuilder->get_widget("text_passwd", pPassword);
        refBuilder->get_widget("check_btn_rem", pRemember);
        refBuilder->get_widget("check_btn_auto", pAuto);
        refBuilder->get_widget("button_login", pButton);
    }
};

TEST_F(GuiTest, LoginDialogEditingRules) {
    LoginWindow* pLogin = m_win.pLoginWin;
    LoginWidgets w(m_win.refBuilder);
    struct Case {
        const char* pszWhat;
        std::function<void()> act;
        const char* pszPassword;
        bool bRemember, bAuto;
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
    // what is kept of the dialog: a typed password only when it is to be remembered
    w.pPassword->set_text("secret");
    for (bool bRemember : {false, true}) {
        w.pRemember->set_active(bRemember);
        std::string strName, strPassword;
        bool bRem = !bRemember, bAuto = true;
        pLogin->get_user_name_password(strName, strPassword, bRem, bAuto);
        EXPECT_EQ(bRemember ? "secret" : "", strPassword);
        EXPECT_EQ(bRemember, bRem);
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
    // blanks alone are neither a name nor a password: a box says so, nothing is sent
    for (const char* pszName : {"   ", "demo"}) {
        w.pName->set_text(pszName);
        w.pPassword->set_text(std::string(pszName) == "demo" ? " \t " : "demo");
        std::string strText;
        AnswerNextDialog(Gtk::RESPONSE_OK, &strText);
        w.pButton->clicked();
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
    Gtk::Button* pButton = LoginWidgets(m_win.refBuilder).pButton;
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
        bool bUsable, bAddTask;
        std::string strPath;
    };
    const Case cases[] = {
        {"no path: show the window", kHead, true, true, ""},
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
}

// Second starts handing over and a stale socket are proven by the program itself (e2e); here
// what a start cannot show: a path too long to send, refused rather than cut to another file's
// name, and a client that never finishes its message.
class SingleInstanceTest : public TempHomeTest {};

TEST_F(SingleInstanceTest, RefusesAPathTooLongAndASilentClientDoesNotHoldIt) {
    const std::string strRuntime = m_strHome + "/run";
    mkdir(strRuntime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", strRuntime.c_str(), 1);
    std::string strError, strSocket = rodedudir::singleton_socket_path(strError);
    ASSERT_EQ(strRuntime + "/ZOVBACKUP_SINGLETON", strSocket) << strError;
    EXPECT_EQ(rodedudir::ClaimResult::First, rodedudir::claim_single_instance("", strError))
        << strError;
    int nListen = rodedudir::listening_fd();
    ASSERT_GE(nListen, 0);
    // the longest path that fits goes whole; one more byte is refused
    const std::string kHead = "zov_restore;zov_addtask;";
    std::string strMessage;
    EXPECT_TRUE(
        rodedudir::format_singleton_message(std::string(1023 - kHead.size(), 'p'), strMessage));
    EXPECT_EQ(rodedudir::ClaimResult::PathTooLong,
              rodedudir::claim_single_instance(std::string(1024 - kHead.size(), 'p'), strError));

    int nSilent = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, strSocket.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(0, connect(nSilent, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    int nConn = accept(nListen, nullptr, nullptr);
    SingletonRequest request;
    std::string strWhy;
    EXPECT_FALSE(rodedudir::read_singleton_request(nConn, request, strWhy));
    EXPECT_EQ("message not ended in time", strWhy);
    for (int fd : {nConn, nSilent, nListen})
        close(fd);
}

}  // namespace
}  // namespace velmotest
