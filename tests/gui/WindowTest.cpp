// The windows as a user meets them: the logged-out and logged-in looks in Chinese with the
// about box, the password the login dialog keeps, logins that never freeze the window; and the
// single-instance channel: what a message may hold, and who becomes the instance.
#include <glibmm/main.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "GuiFixture.h"
#include "about_window.h"
#include "core/LoginManager.h"
#include "login_window.h"
#include "main_window.h"
#include "single_instance.h"

namespace velmotest {
namespace {

// The English look is the end-to-end tests' (their buttons are found by these labels); here the
// catalogue's, where a label compared in the code would break.
class ChineseLookTest : public GuiTest {
protected:
    std::string Language() const override { return "zh_CN"; }
};

TEST_F(ChineseLookTest, LoggedOutAndLoggedInLooksAndButtonsThatActOnStateNotLabels) {
    rodedudir::UploadWindow* pMain = m_win.pMainWin;
    EXPECT_EQ("Velmo 网盘 - 未登录", pMain->get_title());
    EXPECT_EQ("登录", pMain->user_button_label());
    EXPECT_EQ("开始", pMain->task_button_label());
    EXPECT_EQ("备份到 Velmo 网盘", pMain->status_text());
    EXPECT_EQ("0.00GB/0.00GB", pMain->space_text());
    EXPECT_DOUBLE_EQ(1.0, pMain->space_fraction());
    Screenshot(*pMain, "main-logged-out-zh_CN");
    // the about box's OK ends its modal run
    rodedudir::AboutWindow* pAbout = m_win.pAboutWin;
    WhenShown(pAbout, [pAbout]() {
        Screenshot(*pAbout, "about-box");
        pAbout->on_button_ok_clicked();
    });
    pMain->on_systray_menu_about();
    EXPECT_FALSE(pAbout->is_aboutwin_show() || pAbout->get_visible());

    LogInThroughDialog("demo", "demo");
    ASSERT_TRUE(pMain->is_login());
    EXPECT_EQ("Velmo 网盘 - demo<" + _VelmoUpload::LoginManager::GetUserId() + ">",
              pMain->get_title());
    EXPECT_EQ("注销", pMain->user_button_label());
    EXPECT_DOUBLE_EQ(0.0, pMain->space_fraction());  // the stand-in's new account: 0 of 100 GB
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

// What the dialog keeps of a password: only one that is to be remembered.
TEST_F(GuiTest, LoginDialogKeepsThePasswordOnlyWhenRememberIsTicked) {
    Gtk::Entry* pPassword = Widget<Gtk::Entry>("text_passwd");
    m_win.pLoginWin->set_user_name_password("demo", "pw", false, false);
    EXPECT_EQ("", pPassword->get_text());
    pPassword->set_text("secret");
    for (bool bRemember : {false, true}) {
        Widget<Gtk::CheckButton>("check_btn_rem")->set_active(bRemember);
        std::string strName, strPassword;
        bool bRem = !bRemember, bAuto = true;
        m_win.pLoginWin->get_user_name_password(strName, strPassword, bRem, bAuto);
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
    Gtk::Entry *pName = Widget<Gtk::Entry>("text_name"),
               *pPassword = Widget<Gtk::Entry>("text_passwd");
    // blanks alone are neither a name nor a password: a box says so, nothing is sent
    for (const char* pszName : {"   ", "demo"}) {
        pName->set_text(pszName);
        pPassword->set_text(std::string(pszName) == "demo" ? " \t " : "demo");
        std::string strText;
        AnswerNextDialog(Gtk::RESPONSE_OK, &strText);
        Widget<Gtk::Button>("button_login")->clicked();
        PumpUntil([&] { return !strText.empty(); });
        EXPECT_EQ("username or passwd empty", strText);
    }
    EXPECT_TRUE(LogLines("/app/clogin").empty());

    // a password with blanks around it is the password
    LogInThroughDialog("spaced", "  pass word  ");
    EXPECT_TRUE(m_win.pMainWin->is_login());
}

TEST_F(LoginFlowTest, LoginWaitsWithoutFreezingAndReportsEachAttemptsOwnOutcome) {
    rodedudir::LoginWindow* pLogin = m_win.pLoginWin;
    Gtk::Button* pButton = Widget<Gtk::Button>("button_login");
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
    const std::string kHead = "zov_restore;zov_addtask;", strLongest(1023 - kHead.size(), 'p');
    std::string strMessage, strWhy;
    rodedudir::SingletonRequest request;
    EXPECT_TRUE(rodedudir::format_singleton_message(strLongest, strMessage));
    EXPECT_TRUE(rodedudir::parse_singleton_message(strMessage, request, strWhy)) << strWhy;
    EXPECT_EQ(strLongest, request.strPath);
    EXPECT_EQ(rodedudir::ClaimResult::PathTooLong,
              rodedudir::claim_single_instance(std::string(1024 - kHead.size(), 'p'), strError));

    int nSilent = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, strSocket.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(0, connect(nSilent, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    int nConn = accept(nListen, nullptr, nullptr);
    EXPECT_FALSE(rodedudir::read_singleton_request(nConn, request, strWhy));
    EXPECT_EQ("message not ended in time", strWhy);
    for (int fd : {nConn, nSilent, nListen})
        close(fd);
}

}  // namespace
}  // namespace velmotest
