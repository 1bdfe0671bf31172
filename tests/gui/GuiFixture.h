// The desktop client's windows built in the test process, with a stand-in service to log in
// to, on the display the test runs on. Tests drive the windows through their own handlers
// and pump the main loop until what they wait for has happened; any GTK warning fails them.
#pragma once

#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include <chrono>
#include <functional>
#include <string>

#include "StandinFixture.h"
#include "app_windows.h"
#include "progress_item.h"

namespace velmotest {

// Runs the main loop until predicate holds or the time is up; the predicate's last value.
bool PumpUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Once window is on screen, runs action (from the main loop, so a modal run can be answered).
void WhenShown(Gtk::Window* pWindow, std::function<void()> action);
// Answers the next dialog other than the login dialog with nResponse; its text to *pText.
void AnswerNextDialog(int nResponse, std::string* pText = nullptr);
// The window as it is on screen, to screenshots/NAME.png in the build folder, for a person.
void Screenshot(Gtk::Window& window, const std::string& strName);

class GuiTest : public StandinFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // the catalogue's language for this test, or empty for the English keys
    virtual std::string Language() const { return std::string(); }
    // A widget of the windows' definition by its id.
    template <class T>
    T* Widget(const char* pszId) {
        T* pWidget = nullptr;
        m_win.refBuilder->get_widget(pszId, pWidget);
        return pWidget;
    }
    // What the user does in the open login dialog: fills it in and presses Login.
    void SubmitLoginDialog(const std::string& strName, const std::string& strPassword);
    // The same through the window's login, as a user would log in.
    void LogInThroughDialog(const std::string& strName, const std::string& strPassword);
    // A report as the engine would send it, applied the way the window applies reports.
    void Report(const rodedudir::_ProgressItem& item);
    // The pages the window opened: its xdg-open is a stand-in that appends each address here.
    std::string OpenedPages() const { return ReadFile(m_strHome + "/opened-pages"); }

    rodedudir::AppWindows m_win;
};

}  // namespace velmotest
