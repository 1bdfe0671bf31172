// One progress report of the engine as the window keeps it, and the record that carries a
// piece of work from any thread to the GUI thread through an idle callback.
#pragma once

#include <gtkmm/treemodel.h>

#include <cstdint>
#include <string>

namespace rodedudir {

class UploadWindow;

struct _ProgressItem {
    std::string strFileName;  // display name
    std::string strFilePath;  // the task's key, as the engine spells it
    int64_t nFileSize = 0;
    int64_t nUploadSize = 0;
    int nSpeed = 0;
    int tLeftTime = 0;
    int status = 0;
    double fHashPercent = 0.0;
    int nErrorCode = 0;
    std::string strErrorMsg;  // UTF-8
    std::string strPickCode;
    std::string strTaskInfo;
    bool isFolder = false;
    // the row that shows this task while it is stored in the window's task list; only ever
    // set to a row that exists: erasing a row drops its record
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
