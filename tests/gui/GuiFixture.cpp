// GTK set up once per process, windows built per test, and the helpers that let a test act
// and wait like a user.
#include "GuiFixture.h"

#include <glibmm/main.h>
#include <gtkmm/dialog.h>
#include <gtkmm/entry.h>
#include <gtkmm/main.h>
#include <gtkmm/messagedialog.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "TestHome.h"
#include "core/LoginManager.h"
#include "login_window.h"
#include "main_window.h"
#include "resource.h"

extern "C" int _nl_msg_cat_cntr;  // glibc: bumped, it drops translations looked up before

namespace velmotest {

namespace {

std::vector<std::string> g_warnings;

void RecordWarning(const gchar* pszDomain, GLogLevelFlags level, const gchar* pszMessage,
                   gpointer) {
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))
        g_warnings.push_back(std::string(pszDomain ? pszDomain : "") + ": " + pszMessage);
}

}  // namespace

bool PumpUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Glib::RefPtr<Glib::MainContext> context = Glib::MainContext::get_default();
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return predicate();
        if (!context->iteration(false))
            g_usleep(2000);
    }
    return true;
}

void WhenShown(Gtk::Window* pWindow, std::function<void()> action) {
    Glib::signal_timeout().connect(
        [pWindow, action]() {
            if (!pWindow->get_mapped())
                return true;
            action();
            return false;
        },
        20);
}

void AnswerNextDialog(int nResponse, std::string* pText) {
    Glib::signal_timeout().connect(
        [nResponse, pText]() {
            for (Gtk::Window* pWindow : Gtk::Window::list_toplevels()) {
                Gtk::Dialog* pDialog = dynamic_cast<Gtk::Dialog*>(pWindow);
                if (!pDialog || !pDialog->get_mapped())
                    continue;
                // the login dialog is the one a test fills in, not answers
                const gchar* pszId = gtk_buildable_get_name(GTK_BUILDABLE(pDialog->gobj()));
                if (pszId && std::string(pszId) == "LoginDialog")
                    continue;
                auto* pMessage = dynamic_cast<Gtk::MessageDialog*>(pDialog);
                if (pText)
                    *pText =
                        pMessage ? pMessage->property_text().get_value() : pDialog->get_title();
                pDialog->response(nResponse);
                return false;
            }
            return true;
        },
        20);
}

void Screenshot(Gtk::Window& window, const std::string& strName) {
    mkdir(VELMO_SCREENSHOT_DIR, 0755);
    window.present();
    PumpUntil([&window] { return window.get_mapped(); });
    // a few frames, so every cell and image has been drawn
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    Glib::RefPtr<Gdk::Window> refWindow = window.get_window();
    Glib::RefPtr<Gdk::Pixbuf> refShot =
        Gdk::Pixbuf::create(refWindow, 0, 0, refWindow->get_width(), refWindow->get_height());
    if (refShot)
        refShot->save(std::string(VELMO_SCREENSHOT_DIR "/") + strName + ".png", "png");
}

void GuiTest::SetUp() {
    StandinFixture::SetUp();
    if (HasFatalFailure())
        return;
    // the single-instance socket's folder, closed to others, gone with HOME
    mkdir((m_strHome + "/run").c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", (m_strHome + "/run").c_str(), 1);
    // the window opens its pages with whatever xdg-open comes first in PATH
    const std::string strBin = m_strHome + "/bin";
    mkdir(strBin.c_str(), 0755);
    WriteFile(strBin + "/xdg-open", "#!/bin/sh\necho \"$1\" >> '" + m_strHome + "/opened-pages'\n");
    chmod((strBin + "/xdg-open").c_str(), 0755);
    setenv("PATH", (strBin + ":" + getenv("PATH")).c_str(), 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("LANGUAGE", Language().empty() ? "en" : Language().c_str(), 1);
    ++_nl_msg_cat_cntr;
    static Gtk::Main* s_pMain = new Gtk::Main(nullptr, nullptr);  // once, for the whole process
    (void)s_pMain;
    g_warnings.clear();
    g_log_set_default_handler(&RecordWarning, nullptr);
    for (const char* pszDomain : {"Gtk", "Gdk", "GLib-GObject", "GLib", "GdkPixbuf"})
        g_log_set_handler(pszDomain,
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
                          &RecordWarning, nullptr);

    _VelmoUpload::LoginManager::SetApiHost(StandinHost());
    rodedudir::Resource::get_instance()->init();
    std::string strLine;
    ASSERT_TRUE(rodedudir::build_app_windows(m_win, strLine)) << strLine;
    ASSERT_TRUE(m_win.pMainWin && m_win.pLoginWin && m_win.pAboutWin && m_win.pErrorWin);
    m_win.pMainWin->show();
    PumpUntil([this] { return m_win.pMainWin->get_mapped(); });
}

void GuiTest::TearDown() {
    if (m_win.pMainWin) {
        if (m_win.pMainWin->is_login())
            m_win.pMainWin->on_user_logout();
        m_win.pMainWin->hide();
        PumpUntil([] { return false; }, std::chrono::milliseconds(20));
    }
    for (const std::string& strWarning : g_warnings)
        ADD_FAILURE() << "GTK said: " << strWarning;
    StandinFixture::TearDown();
}

void GuiTest::SubmitLoginDialog(const std::string& strName, const std::string& strPassword) {
    Widget<Gtk::Entry>("text_name")->set_text(strName);
    Widget<Gtk::Entry>("text_passwd")->set_text(strPassword);
    Widget<Gtk::Button>("button_login")->clicked();
}

void GuiTest::LogInThroughDialog(const std::string& strName, const std::string& strPassword) {
    WhenShown(m_win.pLoginWin, [=]() { SubmitLoginDialog(strName, strPassword); });
    m_win.pMainWin->on_user_login();
}

void GuiTest::Report(const rodedudir::_ProgressItem& item) {
    rodedudir::progress(item.strFileName, item.strFilePath, item.nFileSize, item.nUploadSize,
                        item.nSpeed, item.tLeftTime, item.status, item.fHashPercent,
                        item.nErrorCode, item.strErrorMsg, item.strPickCode, item.isFolder,
                        item.strTaskInfo, m_win.pMainWin);
    PumpUntil([this] { return !m_win.pMainWin->reports_pending(); });
}

}  // namespace velmotest
