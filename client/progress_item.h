// One progress report of the engine as the window keeps it, and the record that carries a
// piece of work from any thread to the GUI thread through an idle callback.
#pragma once

#include <gtkmm/treemodel.h>

#include <string>

#include "TaskModel.h"

namespace rodedudir {

class UploadWindow;

// The engine's report (strErrorMsg converted to UTF-8 on arrival) and, once stored in the
// window's task list, the row that shows it; copyable member by member.
struct _ProgressItem : _VelmoUpload::ProgressReport {
    using ProgressReport::ProgressReport;

    // only ever set to a row that exists: erasing a row drops its record
    Gtk::TreeModel::iterator iter;
};

struct idle_data {
    UploadWindow* pthis = nullptr;
    _ProgressItem* item = nullptr;
};

// Destroy-notifier of every idle callback that carries an idle_data: frees the item and the
// record once the callback has run.
void idle_task_finish(void* data);

// Hands an add-task request for strPath to the GUI thread; callable from any thread.
void post_add_task(UploadWindow* pWindow, const std::string& strPath);

}  // namespace rodedudir
