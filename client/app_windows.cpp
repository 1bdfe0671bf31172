// The windows in the order they depend on each other: the error box before the login dialog
// that shows it, both before the main window that runs them.
#include "app_windows.h"

#include <glibmm/fileutils.h>
#include <gtkmm/builder.h>

#include "about_window.h"
#include "info_window.h"
#include "login_window.h"
#include "main_window.h"
#include "resource.h"
#include "rodedudir_ui.h"

namespace rodedudir {

bool build_app_windows(AppWindows& windows, std::string& strLine) {
    try {
        // every image at once: a missing one is reported now, not in the middle of an upload
        Resource::get_instance()->load_images();
        windows.refBuilder = Gtk::Builder::create();
        windows.refBuilder->add_from_string(rodedudir_ui);
        windows.refBuilder->get_widget_derived("InfoDialog", windows.pErrorWin);
        windows.refBuilder->get_widget_derived("AboutDialog", windows.pAboutWin);
        windows.refBuilder->get_widget_derived("LoginDialog", windows.pLoginWin);
        windows.refBuilder->get_widget_derived("window_main", windows.pMainWin);
    } catch (const Glib::FileError& e) {
        strLine = "FileError: " + e.what();
        return false;
    } catch (const Gtk::BuilderError& e) {
        strLine = "BuilderError: " + e.what();
        return false;
    } catch (const Gdk::PixbufError& e) {
        strLine = "PixbufError: " + e.what();
        return false;
    } catch (...) {
        strLine = "UnknowError!";
        return false;
    }
    if (windows.pLoginWin)
        windows.pLoginWin->set_error_win(windows.pErrorWin);
    if (windows.pMainWin) {
        windows.pMainWin->set_login_win(windows.pLoginWin);
        windows.pMainWin->set_about_win(windows.pAboutWin);
        windows.pMainWin->set_update_win(nullptr);
    }
    return true;
}

}  // namespace rodedudir
