// The status icon and its menu; the one place that uses GTK's deprecated tray calls.
#include "status_icon.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace rodedudir {

Glib::RefPtr<Gtk::StatusIcon> create_status_icon(const Glib::RefPtr<Gdk::Pixbuf>& refPixbuf,
                                                 const Glib::ustring& strTooltip) {
    Glib::RefPtr<Gtk::StatusIcon> refIcon = Gtk::StatusIcon::create(refPixbuf);
    refIcon->set_visible(true);
    refIcon->set_tooltip_text(strTooltip);
    return refIcon;
}

bool status_icon_embedded(const Glib::RefPtr<Gtk::StatusIcon>& refIcon) {
    return refIcon && refIcon->is_embedded();
}

void popup_status_menu(const Glib::RefPtr<Gtk::StatusIcon>& refIcon, Gtk::Menu& menu, guint nButton,
                       guint32 nTime) {
    refIcon->popup_menu_at_position(menu, nButton, nTime);
}

}  // namespace rodedudir
