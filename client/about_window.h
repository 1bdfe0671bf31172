// The about box, built from "AboutDialog" and opened from the tray menu.
#pragma once

#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/dialog.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/linkbutton.h>

namespace rodedudir {

class Resource;

class AboutWindow : public Gtk::Dialog {
public:
    AboutWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade);

    void set_aboutwin_show(bool bShow) { _is_show = bShow; }
    bool is_aboutwin_show() const { return _is_show; }
    void on_button_ok_clicked();

private:
    Gtk::Label* m_pLabel_version = nullptr;
    Gtk::Label* m_pLabel_company = nullptr;
    Gtk::Label* m_pLabel_copyright = nullptr;
    Gtk::Button* m_pButton_ok = nullptr;
    Gtk::Image* m_pImage_about = nullptr;
    Gtk::LinkButton* m_pButton_web = nullptr;
    Resource* _ptr_resource = nullptr;
    Glib::RefPtr<Gtk::Builder> m_refGlade;
    bool _is_show = false;
};

}  // namespace rodedudir
