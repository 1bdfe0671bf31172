// The notification-area icon. GTK keeps it only for compatibility, so its calls live here
// alone.
#pragma once

#include <gtkmm/menu.h>
#include <gtkmm/statusicon.h>

namespace rodedudir {

Glib::RefPtr<Gtk::StatusIcon> create_status_icon(const Glib::RefPtr<Gdk::Pixbuf>& refPixbuf,
                                                 const Glib::ustring& strTooltip);
// Whether a notification area shows the icon; without one, closing the window quits.
bool status_icon_embedded(const Glib::RefPtr<Gtk::StatusIcon>& refIcon);
void popup_status_menu(const Glib::RefPtr<Gtk::StatusIcon>& refIcon, Gtk::Menu& menu, guint nButton,
                       guint32 nTime);

}  // namespace rodedudir
