// The small boxes built from "InfoDialog": the login-error box and the update notice. Both
// share one layout: an image, a message, and two lines that each end in a link.
#pragma once

#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/dialog.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/linkbutton.h>

#include <string>

namespace rodedudir {

class Resource;

class InfoWindowBase : public Gtk::Dialog {
public:
    InfoWindowBase(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade);

    // answers the dialog with OK, which ends the caller's modal run
    void on_button_ok_clicked();

protected:
    Gtk::Label* m_pLabel_info = nullptr;
    Gtk::Label* m_pLabel_forget = nullptr;
    Gtk::Label* m_pLabel_appeal = nullptr;
    Gtk::Button* m_pButton_ok = nullptr;
    Gtk::LinkButton* m_pButton_forget = nullptr;
    Gtk::LinkButton* m_pButton_appeal = nullptr;
    Gtk::Image* m_pImage = nullptr;
    Resource* _ptr_resource = nullptr;
    Glib::RefPtr<Gtk::Builder> m_refGlade;
    bool _is_show = false;
};

// Shown after a failed login, with the reason and the recovery pages.
class ErrorWindow : public InfoWindowBase {
public:
    ErrorWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade);

    // The reason of a failed login (LoginManager::GetLoginError and the service's text); the
    // recovery links are offered only when the name or password was refused.
    void set_login_failure(int nLoginError, const std::string& strServiceText);
    std::string get_info_text() const;

    void set_errorwin_show(bool bShow) { _is_show = bShow; }
    bool is_errorwin_show() const { return _is_show; }
};

// The newer-version box; the program shows its own notice instead and builds none at start-up.
class UpdateWindow : public InfoWindowBase {
public:
    UpdateWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade);

    void set_updatewin_show(bool bShow) { _is_show = bShow; }
    bool is_updatewin_show() const { return _is_show; }
};

// Makes a link button open its page with xdg-open, as every other page of the program.
void open_links_with_browser(Gtk::LinkButton* pButton);

}  // namespace rodedudir
