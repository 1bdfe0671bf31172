// Building the program's windows from the carried UI definition and wiring them together;
// shared by the program and its tests.
#pragma once

#include <gtkmm/builder.h>

#include <string>

namespace rodedudir {

class AboutWindow;
class ErrorWindow;
class LoginWindow;
class UploadWindow;

struct AppWindows {
    Glib::RefPtr<Gtk::Builder> refBuilder;
    ErrorWindow* pErrorWin = nullptr;
    AboutWindow* pAboutWin = nullptr;
    LoginWindow* pLoginWin = nullptr;
    UploadWindow* pMainWin = nullptr;
};

// Loads the images and builds every window. On failure strLine is the line for standard
// error ("FileError: ...", "BuilderError: ...", "UnknowError!") and false is returned.
bool build_app_windows(AppWindows& windows, std::string& strLine);

}  // namespace rodedudir
