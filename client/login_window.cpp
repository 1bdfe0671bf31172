// The login dialog: its editing rules, the login that keeps the window drawing while it
// waits, and the error box after a failed attempt.
#include "login_window.h"

#include <glibmm/main.h>
#include <gtkmm/main.h>
#include <gtkmm/messagedialog.h>

#include <iostream>

#include "deferred.h"
#include "i18n.h"
#include "info_window.h"
#include "resource.h"
#include "task_paths.h"
#include "web_pages.h"

namespace rodedudir {

using _VelmoUpload::LoginManager;

LoginWindow::LoginWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade)
    : Gtk::Dialog(cobject), _ptr_resource(Resource::get_instance()), m_refGlade(refGlade) {
    set_icon(_ptr_resource->get_pixbuf("logo_small.png"));
    set_title(_("Login Velmo"));
    m_refGlade->get_widget("image_login_bg", m_pImage_bg);
    if (m_pImage_bg)
        m_pImage_bg->set(_ptr_resource->get_pixbuf("bg.png"));

    m_refGlade->get_widget("text_name", m_pText_name);
    if (m_pText_name) {
        // the labels stay hidden; the entries say what they want
        m_pText_name->set_placeholder_text(_("Account"));
        m_pText_name->signal_activate().connect(
            sigc::mem_fun(*this, &LoginWindow::on_name_enter_done));
        m_pText_name->signal_changed().connect(sigc::mem_fun(*this, &LoginWindow::on_name_changed));
    }
    m_refGlade->get_widget("text_passwd", m_pText_passwd);
    if (m_pText_passwd) {
        m_pText_passwd->set_placeholder_text(_("Password"));
        m_pText_passwd->signal_activate().connect(
            deferred(sigc::mem_fun(*this, &LoginWindow::on_passwd_enter_done)));
    }
    m_refGlade->get_widget("label_name", m_pLabel_name);
    if (m_pLabel_name)
        m_pLabel_name->set_text(_("Name:"));
    m_refGlade->get_widget("label_password", m_pLabel_passwd);
    if (m_pLabel_passwd)
        m_pLabel_passwd->set_text(_("Password:"));

    m_refGlade->get_widget("linkbutton_register", m_pButton_register);
    if (m_pButton_register) {
        m_pButton_register->set_label(_("Register Account"));
        m_pButton_register->set_uri(web_page_url(WebPage::Register));
        open_links_with_browser(m_pButton_register);
    }
    m_refGlade->get_widget("linkbutton_forget", m_pButton_forget);
    if (m_pButton_forget) {
        m_pButton_forget->set_label(_("Forget Password?"));
        m_pButton_forget->set_uri(web_page_url(WebPage::ForgotPassword));
        open_links_with_browser(m_pButton_forget);
    }

    m_refGlade->get_widget("check_btn_rem", m_pCheck_rem);
    if (m_pCheck_rem) {
        m_pCheck_rem->set_label(_("Remember Password"));
        m_pCheck_rem->signal_clicked().connect(
            sigc::mem_fun(*this, &LoginWindow::on_check_button_rem_clicked));
    }
    m_refGlade->get_widget("check_btn_auto", m_pCheck_auto);
    if (m_pCheck_auto) {
        m_pCheck_auto->set_label(_("AutoLogin"));
        m_pCheck_auto->signal_clicked().connect(
            sigc::mem_fun(*this, &LoginWindow::on_check_button_auto_clicked));
    }
    m_refGlade->get_widget("button_login", m_pButton_ok);
    if (m_pButton_ok) {
        m_pButton_ok->set_label(_("Login"));
        m_pButton_ok->signal_clicked().connect(
            deferred(sigc::mem_fun(*this, &LoginWindow::on_button_ok_clicked)));
    }
    LoginManager::AddObserver(this);
}

LoginWindow::~LoginWindow() {
    LoginManager::RemoveObserver(this);
}

void LoginWindow::on_name_enter_done() {
    if (m_pText_passwd)
        m_pText_passwd->grab_focus();
}

void LoginWindow::on_name_changed() {
    // another name: the remembered password and choices were that account's
    if (m_pText_passwd)
        m_pText_passwd->set_text("");
    if (m_pCheck_rem)
        m_pCheck_rem->set_active(false);
    if (m_pCheck_auto)
        m_pCheck_auto->set_active(false);
}

void LoginWindow::on_passwd_enter_done() {
    on_button_ok_clicked();
}

void LoginWindow::on_check_button_rem_clicked() {
    std::cout << "rem_clicked" << std::endl;
    if (m_pCheck_rem && m_pCheck_auto && !m_pCheck_rem->get_active())
        m_pCheck_auto->set_active(false);
}

void LoginWindow::on_check_button_auto_clicked() {
    std::cout << "auto_clicked" << std::endl;
    if (m_pCheck_rem && m_pCheck_auto && m_pCheck_auto->get_active())
        m_pCheck_rem->set_active(true);
}

void LoginWindow::set_user_name_password(const std::string& strName, const std::string& strPasswd,
                                         bool bRemember, bool bAuto) {
    // the name first: changing it clears the rest
    if (m_pText_name)
        m_pText_name->set_text(strName);
    if (m_pText_passwd)
        m_pText_passwd->set_text(bRemember ? strPasswd : std::string());
    if (m_pCheck_rem)
        m_pCheck_rem->set_active(bRemember);
    if (m_pCheck_auto)
        m_pCheck_auto->set_active(bAuto);
}

void LoginWindow::get_user_name_password(std::string& strName, std::string& strPasswd,
                                         bool& bRemember, bool& bAuto) {
    strName = m_pText_name ? std::string(m_pText_name->get_text()) : std::string();
    bRemember = m_pCheck_rem && m_pCheck_rem->get_active();
    bAuto = m_pCheck_auto && m_pCheck_auto->get_active();
    strPasswd =
        bRemember && m_pText_passwd ? std::string(m_pText_passwd->get_text()) : std::string();
}

void LoginWindow::on_button_ok_clicked() {
    std::cout << "login" << std::endl;
    if (_login_running)
        return;
    std::string strName = m_pText_name ? trim_blanks(m_pText_name->get_text()) : std::string();
    // blanks alone are no password, but a password is used exactly as typed
    std::string strPasswd =
        m_pText_passwd ? std::string(m_pText_passwd->get_text()) : std::string();
    if (strName.empty() || trim_blanks(strPasswd).empty()) {
        Gtk::MessageDialog dialog(*this, _("username or passwd empty"), false, Gtk::MESSAGE_INFO,
                                  Gtk::BUTTONS_OK, true);
        dialog.run();
        response(Gtk::RESPONSE_NONE);
        return;
    }
    // never the password: standard output ends up in logs and terminal scroll-back
    std::cout << "login=" << strName << std::endl;
    bool bRemember = m_pCheck_rem && m_pCheck_rem->get_active();
    bool bAuto = m_pCheck_auto && m_pCheck_auto->get_active();
    if (user_login(strName, strPasswd, bRemember, bAuto)) {
        response(Gtk::RESPONSE_OK);
        return;
    }
    if (_ptr_error_win) {
        _ptr_error_win->set_login_failure(LoginManager::GetLoginError(), LoginManager::GetErrTip());
        _ptr_error_win->set_transient_for(*this);
        _ptr_error_win->set_errorwin_show(true);
        _ptr_error_win->run();
        _ptr_error_win->hide();
        _ptr_error_win->set_errorwin_show(false);
    }
    response(Gtk::RESPONSE_NONE);
}

bool LoginWindow::user_login(const std::string& strName, const std::string& strPasswd,
                             bool bRemember, bool bAuto) {
    if (_login_running)
        return false;
    _login_running = true;
    if (m_pButton_ok)
        m_pButton_ok->set_sensitive(false);
    {
        // a flag left from an earlier attempt must not end this one's wait
        Glib::Threads::Mutex::Lock lock(_mutex_login);
        _login_finish = false;
    }
    bool bStarted = LoginManager::Login(strName, strPasswd, bRemember, bAuto);
    for (;;) {
        {
            Glib::Threads::Mutex::Lock lock(_mutex_login);
            if (_login_finish || !bStarted)
                break;
        }
        // LoginFinish wakes the loop; meanwhile windows redraw and stay responsive
        Glib::MainContext::get_default()->iteration(true);
    }
    bool bLogin = bStarted && LoginManager::IsLogin();
    if (m_pButton_ok)
        m_pButton_ok->set_sensitive(true);
    _login_running = false;
    return bLogin;
}

bool LoginWindow::user_logout() {
    LoginManager::Logout();  // reports LogoutFinish before it returns
    return !LoginManager::IsLogin();
}

void LoginWindow::LoginFinish() {
    std::cout << "LoginFinish" << std::endl;
    {
        Glib::Threads::Mutex::Lock lock(_mutex_login);
        _login_finish = true;
    }
    g_main_context_wakeup(nullptr);
}

void LoginWindow::LogoutFinish() {
    std::cout << "LogoutFinish" << std::endl;
    Glib::Threads::Mutex::Lock lock(_mutex_login);
    _login_finish = false;
}

}  // namespace rodedudir
