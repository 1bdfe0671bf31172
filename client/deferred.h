// Handlers that open a modal dialog run from the main loop, not inside the signal that asked
// for them: a button pressed through the accessibility bus (a screen reader, a test driver)
// emits its signal while the bus message is being handled, and a dialog run there would leave
// the bus unanswered until it closes.
#pragma once

#include <glibmm/main.h>
#include <sigc++/sigc++.h>

namespace rodedudir {

inline sigc::slot<void> deferred(const sigc::slot<void>& handler) {
    return [handler]() { Glib::signal_idle().connect_once(handler); };
}

}  // namespace rodedudir
