// The login dialog, built from "LoginDialog", and the account's one login observer: its
// LoginFinish and LogoutFinish tell the GUI thread that a login or logout has ended.
#pragma once

#include <glibmm/threads.h>
#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/dialog.h>
#include <gtkmm/entry.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/linkbutton.h>

#include <string>

#include "core/LoginManager.h"

namespace rodedudir {

class ErrorWindow;
class Resource;

class LoginWindow : public _VelmoUpload::LoginObserver, public Gtk::Dialog {
public:
    LoginWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade);
    ~LoginWindow() override;

    void set_error_win(ErrorWindow* pErrorWin) { _ptr_error_win = pErrorWin; }
    bool is_loginwin_show() const { return _is_show; }
    void set_loginwin_show(bool bShow) { _is_show = bShow; }

    void set_user_name_password(const std::string& strName, const std::string& strPasswd,
                                bool bRemember, bool bAuto);
    void get_user_name_password(std::string& strName, std::string& strPasswd, bool& bRemember,
                                bool& bAuto);

    // Logs in and returns whether the attempt succeeded. Waits by running the main loop, so
    // windows keep drawing; false at once while another attempt runs.
    bool user_login(const std::string& strName, const std::string& strPasswd, bool bRemember,
                    bool bAuto);
    // Logs out and returns true when nobody is logged in afterwards.
    bool user_logout();
    bool is_login_running() const { return _login_running; }

    // LoginObserver: called on whatever thread ended the login or logout
    void LoginFinish() override;
    void LogoutFinish() override;

    void on_button_ok_clicked();

private:
    void on_name_enter_done();
    void on_name_changed();
    void on_passwd_enter_done();
    void on_check_button_rem_clicked();
    void on_check_button_auto_clicked();

    Glib::Threads::Mutex _mutex_login;  // guards _login_finish
    bool _login_finish = false;
    bool _is_show = false;
    // a login attempt is under way on this (the GUI) thread; only the GUI thread touches it
    bool _login_running = false;

    Gtk::Label* m_pLabel_name = nullptr;
    Gtk::Label* m_pLabel_passwd = nullptr;
    Gtk::Entry* m_pText_name = nullptr;
    Gtk::Entry* m_pText_passwd = nullptr;
    Gtk::CheckButton* m_pCheck_rem = nullptr;
    Gtk::CheckButton* m_pCheck_auto = nullptr;
    Gtk::Button* m_pButton_ok = nullptr;
    Gtk::Image* m_pImage_bg = nullptr;
    Gtk::LinkButton* m_pButton_register = nullptr;
    Gtk::LinkButton* m_pButton_forget = nullptr;
    Resource* _ptr_resource = nullptr;
    ErrorWindow* _ptr_error_win = nullptr;
    Glib::RefPtr<Gtk::Builder> m_refGlade;
};

}  // namespace rodedudir
