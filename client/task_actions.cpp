// What the user does with tasks: adding paths (chooser, drop, a second start), the task
// button's start and stop, delete and clear finished.
#include <glibmm/convert.h>
#include <glibmm/main.h>
#include <glibmm/miscutils.h>
#include <gtkmm/filechooserdialog.h>
#include <gtkmm/treerowreference.h>
#include <gtkmm/messagedialog.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "Velmoupload.h"
#include "drop_text.h"
#include "i18n.h"
#include "main_window.h"
#include "task_paths.h"
#include "utils/Utils.h"

namespace rodedudir {

using _VelmoUpload::ISPTypeAuto;
using _VelmoUpload::TaskStatusStop;
using _VelmoUpload::UploadManager;
using _VelmoUpload::Utils;

namespace {

// the chooser's own answer: not one of GTK's accept responses, so pressing it on a selected
// folder returns that folder instead of opening it
constexpr int kChooserAccept = 999999;
// how long one turn of adding paths may hold the main loop
constexpr gint64 kAddSliceUs = 30000;

typedef std::pair<UploadWindow*, std::string> DropText;

int idle_add_dropped(void* data) {
    DropText* pDrop = static_cast<DropText*>(data);
    std::vector<std::string> vPaths = pDrop->first->accept_drop_text(pDrop->second);
    if (!vPaths.empty())
        pDrop->first->add_tasks(vPaths);
    return G_SOURCE_REMOVE;
}

void free_dropped(void* data) {
    delete static_cast<DropText*>(data);
}

}  // namespace

// ---------------------------------------------------------------- adding

void UploadWindow::add_task(const std::string& strPath) {
    add_tasks(std::vector<std::string>{strPath});
}

void UploadWindow::add_tasks(const std::vector<std::string>& vPaths) {
    std::vector<std::string> vAccepted;
    for (const std::string& strPath : vPaths) {
        std::cout << "add_task=" << strPath << "\n";
        std::string strTaskPath = normalize_task_path(strPath);
        if (strTaskPath.empty()) {
            std::cout << "empty path!" << std::endl;
            continue;
        }
        if (access(strTaskPath.c_str(), R_OK) != 0)
            continue;
        vAccepted.push_back(strTaskPath);
    }
    if (vAccepted.empty())
        return;
    if (!_is_login) {
        // one login dialog at a time: whatever arrives while it is open waits for its outcome
        _paths_waiting_login.insert(_paths_waiting_login.end(), vAccepted.begin(), vAccepted.end());
        if (_login_dialog_running)
            return;
        user_login();
        vAccepted.swap(_paths_waiting_login);
        _paths_waiting_login.clear();
        if (!_is_login)
            return;  // cancelled: the paths are dropped
    }
    if (!_task_running) {
        on_start_task();
        set_task_button(true);
    }
    _pending_adds.insert(_pending_adds.end(), vAccepted.begin(), vAccepted.end());
    // a few paths are added at once; the rest of a large drop follows from the main loop
    if (!_adding_scheduled && add_pending_slice()) {
        _adding_scheduled = true;
        Glib::signal_idle().connect([this]() {
            _adding_scheduled = add_pending_slice();
            return _adding_scheduled;
        });
    }
}

bool UploadWindow::add_pending_slice() {
    const gint64 tEnd = g_get_monotonic_time() + kAddSliceUs;
    while (!_pending_adds.empty() && _is_login) {
        std::string strPath = _pending_adds.front();
        _pending_adds.pop_front();
        add_one_task(strPath);
        if (g_get_monotonic_time() >= tEnd)
            break;
    }
    if (!_is_login)
        _pending_adds.clear();
    return !_pending_adds.empty();
}

void UploadWindow::add_one_task(const std::string& strPath) {
    _ProgressItem item;
    item.strFileName = Glib::filename_display_basename(strPath);
    item.strFilePath = strPath;
    item.isFolder = Utils::IsDir(strPath);
    update_task(strPath, item, false);
    if (item.isFolder)
        UploadManager::UploadFolder(strPath, _str_upload_target, ISPTypeAuto, true);
    else
        UploadManager::StartTask(strPath, _str_upload_target, ISPTypeAuto, "", "", true);
}

void UploadWindow::on_add_task() {
    Gtk::FileChooserDialog dialog(*this, _("Please choose a folder or file"),
                                  Gtk::FILE_CHOOSER_ACTION_OPEN);
    dialog.add_button(_("_OK"), kChooserAccept);
    dialog.add_button(_("_Cancel"), Gtk::RESPONSE_CANCEL);
    dialog.set_select_multiple(true);
    dialog.set_local_only(false);
    dialog.set_current_folder(Glib::get_home_dir());
    dialog.set_position(Gtk::WIN_POS_CENTER_ON_PARENT);
    if (dialog.run() != kChooserAccept)
        return;
    std::vector<std::string> vFiles = dialog.get_filenames();
    dialog.hide();
    add_tasks(vFiles);
}

void UploadWindow::on_drop_drag_data_received(const Glib::RefPtr<Gdk::DragContext>& context, int,
                                              int, const Gtk::SelectionData& selection_data, guint,
                                              guint time) {
    if (selection_data.get_length() < 0 || selection_data.get_format() != 8) {
        context->drag_finish(false, false, time);
        return;
    }
    std::string strText = selection_data.get_data_as_string();
    context->drag_finish(false, false, time);
    // handled once the drag has ended: a message box or the login dialog must not keep the
    // drag source waiting
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &idle_add_dropped, new DropText(this, strText),
                    &free_dropped);
}

std::vector<std::string> UploadWindow::accept_drop_text(const std::string& strText) {
    std::vector<std::string> vPaths;
    for (const std::string& strUri : split_drop_uris(strText)) {
        std::string strFile = get_filename_from_uri(strUri);
        if (access(strFile.c_str(), R_OK) == 0) {
            vPaths.push_back(strFile);
            continue;
        }
        // the drop stops at the first file it cannot read; the ones before it are added
        Gtk::MessageDialog dialog(*this, _("cannot access:"), false, Gtk::MESSAGE_ERROR,
                                  Gtk::BUTTONS_OK, true);
        dialog.set_secondary_text(Glib::filename_display_name(strFile));
        dialog.run();
        break;
    }
    return vPaths;
}

// ---------------------------------------------------------------- start and stop

void UploadWindow::on_task_control() {
    if (!m_pButton_task)
        return;
    if (_task_running) {
        on_stop_task();
        set_task_button(false);
        set_status_text(_("Backup to Velmo"));
        return;
    }
    if (!_is_login) {
        on_user_login();
        return;
    }
    if (m_refTreeModel->children().empty()) {
        set_status_text(_("Backup to Velmo"));
        show_drag_img(true);
        return;
    }
    on_start_task();
    set_task_button(true);
}

void UploadWindow::on_start_task() {
    for (const Gtk::TreeModel::Row& row : m_refTreeModel->children()) {
        if (row[m_Columns.m_col_percentage] >= 100.0)
            continue;
        std::string strPath = Glib::ustring(row[m_Columns.m_col_path]).raw();
        if (Utils::IsDir(strPath))
            UploadManager::UploadFolder(strPath, _str_upload_target, ISPTypeAuto, true);
        else
            UploadManager::StartTask(strPath, _str_upload_target, ISPTypeAuto, "", "", true);
    }
}

void UploadWindow::on_stop_task() {
    for (const Gtk::TreeModel::Row& row : m_refTreeModel->children())
        UploadManager::StopTask(Glib::ustring(row[m_Columns.m_col_path]).raw(), true,
                                TaskStatusStop);
}

// ---------------------------------------------------------------- delete and clear

Gtk::TreeModel::iterator UploadWindow::erase_top_row(const Gtk::TreeModel::iterator& iter) {
    std::string strPath = Glib::ustring((*iter)[m_Columns.m_col_path]).raw();
    {
        Glib::Threads::Mutex::Lock lock(_lock_task);
        std::map<std::string, _ProgressItem>::iterator it = _task_list.find(strPath);
        if (it != _task_list.end() && it->second.iter == iter)
            _task_list.erase(it);
    }
    return m_refTreeModel->erase(iter);
}

void UploadWindow::on_del_task() {
    if (!m_pTreeView)
        return;
    Glib::RefPtr<Gtk::TreeSelection> selection = m_pTreeView->get_selection();
    // the selection first, then the erasing: erasing while walking it skips rows
    std::vector<Gtk::TreeModel::Path> vSelected = selection->get_selected_rows();
    if (vSelected.empty())
        return;
    std::sort(vSelected.begin(), vSelected.end());
    Gtk::TreeModel::Path nextPath = vSelected.back();
    if (nextPath.size() > 1)
        nextPath.up();
    nextPath.next();
    Gtk::TreeRowReference next;
    if (m_refTreeModel->get_iter(nextPath))
        next = Gtk::TreeRowReference(m_refTreeModel, nextPath);

    // from the last to the first, so the paths still to come keep pointing at their rows
    for (std::vector<Gtk::TreeModel::Path>::reverse_iterator it = vSelected.rbegin();
         it != vSelected.rend(); ++it) {
        const Gtk::TreeModel::Path& path = *it;
        if (path.size() > 1) {
            Gtk::TreeModel::Path parent = path;
            parent.up();
            // a file of a selected folder goes with its folder
            if (std::binary_search(vSelected.begin(), vSelected.end(), parent))
                continue;
        }
        Gtk::TreeModel::iterator iter = m_refTreeModel->get_iter(path);
        if (!iter)
            continue;
        std::string strPath = Glib::ustring((*iter)[m_Columns.m_col_path]).raw();
        std::cout << " selected:" << strPath << std::endl;
        if (path.size() == 1) {
            UploadManager::CancelTask(strPath);
            erase_top_row(iter);
        } else {
            m_refTreeModel->erase(iter);
        }
    }

    if (next && next.is_valid())
        selection->select(next.get_path());
    else if (selection->count_selected_rows() == 0 && !m_refTreeModel->children().empty())
        selection->select(m_refTreeModel->children().begin());
    if (m_refTreeModel->children().empty()) {
        set_status_text(_("Backup to Velmo"));
        show_drag_img(true);
    }
}

void UploadWindow::on_clear_finish_task() {
    Gtk::TreeModel::Children rows = m_refTreeModel->children();
    for (Gtk::TreeModel::iterator iter = rows.begin(); iter != rows.end();) {
        // the row's record goes with it, so a later report finds no stale row
        if ((*iter)[m_Columns.m_col_percentage] > 99.9999)
            iter = erase_top_row(iter);
        else
            ++iter;
    }
    if (m_refTreeModel->children().empty()) {
        set_status_text(_("Backup to Velmo"));
        show_drag_img(true);
    }
}

}  // namespace rodedudir
