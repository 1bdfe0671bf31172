// The desktop client's entry point: one instance per user, the catalogue and images, the
// windows, an automatic login, the path from the command line, and the main loop.
#include <glib-unix.h>
#include <gtkmm/main.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "app_windows.h"
#include "core/LoginManager.h"
#include "main_window.h"
#include "resource.h"
#include "single_instance.h"
#include "stall_meter.h"
#include "task_paths.h"
#include "web_pages.h"

namespace {

// SIGTERM and SIGINT end the main loop like the tray's Exit, so the engine stops cleanly
int QuitOnSignal(void*) {
    Gtk::Main::quit();
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace rodedudir;
    if (argc > 2) {
        std::cout << "Usage: " << argv[0] << " [path]" << std::endl;
        return 0;
    }
    // the running instance has another working directory
    const std::string strPath = argc == 2 ? make_absolute(argv[1]) : std::string();

    std::string strError;
    switch (claim_single_instance(strPath, strError)) {
        case ClaimResult::HandedOver:
            return 0;
        case ClaimResult::PathTooLong:
            std::cerr << strError << std::endl;
            return 1;
        case ClaimResult::First:
            if (!strError.empty())
                std::cerr << "running without the single-instance check: " << strError << std::endl;
            break;
    }

    std::string strHostError;
    std::string strHost = api_host_from_environment(strHostError);
    if (!strHostError.empty())
        std::cerr << strHostError << "; using the built-in service address" << std::endl;
    if (!strHost.empty())
        _VelmoUpload::LoginManager::SetApiHost(strHost);

    Resource::get_instance()->init();
    Gtk::Main kit(argc, argv, true);

    AppWindows windows;
    std::string strLine;
    if (!build_app_windows(windows, strLine)) {
        std::cerr << strLine << std::endl;
        return 1;
    }
    g_unix_signal_add(SIGTERM, &QuitOnSignal, nullptr);
    g_unix_signal_add(SIGINT, &QuitOnSignal, nullptr);
    g_unix_signal_add(SIGHUP, &QuitOnSignal, nullptr);

    int nStatus = 0;
    if (windows.pMainWin) {
        windows.pMainWin->show();
        windows.pMainWin->user_auto_login();
        if (argc == 2)
            post_add_task(windows.pMainWin, strPath);
        start_stall_meter();
        Gtk::Main::run();
        stop_stall_meter();
        windows.pMainWin->shutdown();
        nStatus = windows.pMainWin->exit_status();
    }
    windows.refBuilder.reset();
    return nStatus;
}
