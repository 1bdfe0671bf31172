// The main window: toolbar, task list, status line with the account's space, tray icon, drop
// target and file chooser. It turns the user's actions into calls on the upload engine and
// the account, and shows the engine's progress reports, which reach it only as copies handed
// to the GUI thread.
#pragma once

#include <glibmm/threads.h>
#include <gtkmm/builder.h>
#include <gtkmm/dialog.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/menu.h>
#include <gtkmm/menuitem.h>
#include <gtkmm/progressbar.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/statusicon.h>
#include <gtkmm/toolbutton.h>
#include <gtkmm/treestore.h>
#include <gtkmm/treeview.h>
#include <gtkmm/window.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "progress_item.h"
#include "report_queue.h"
#include "space_refresher.h"

namespace rodedudir {

class AboutWindow;
class LoginWindow;
class Resource;
class UpdateWindow;

// The engine's progress callback: copies the report and queues it for the GUI thread. Runs on
// engine threads, under the engine's registry lock: it never waits and never throws.
void progress(std::string strFileName, std::string strFilePath, int64_t nFileSize,
              int64_t nUploadSize, int nSpeed, int tLeftTime, int status, double fHashPercent,
              int nErrorCode, std::string strErrorMsg, std::string strPickCode, bool isFolder,
              std::string strTaskInfo, void* data);

// GBK (the engine's texts) to UTF-8; on failure prints why and returns the text unchanged.
std::string gbk_to_utf8(const std::string& strText);

class UploadWindow : public Gtk::Window {
public:
    class ModelColumns : public Gtk::TreeModel::ColumnRecord {
    public:
        ModelColumns() {
            add(m_col_type);
            add(m_col_name);
            add(m_col_path);
            add(m_col_size);
            add(m_col_percentage);
            add(m_col_speed);
            add(m_col_info);
            add(m_col_status);
            add(m_col_status_value);
        }
        Gtk::TreeModelColumn<Glib::RefPtr<Gdk::Pixbuf>> m_col_type;
        Gtk::TreeModelColumn<Glib::ustring> m_col_name;  // display name, valid UTF-8
        // the task's path as the file system spells it, byte for byte (the column is never
        // drawn, so a name that is not UTF-8 is kept exactly)
        Gtk::TreeModelColumn<Glib::ustring> m_col_path;
        Gtk::TreeModelColumn<Glib::ustring> m_col_size;
        Gtk::TreeModelColumn<double> m_col_percentage;
        Gtk::TreeModelColumn<Glib::ustring> m_col_speed;
        Gtk::TreeModelColumn<Glib::ustring> m_col_info;
        Gtk::TreeModelColumn<Glib::RefPtr<Gdk::Pixbuf>> m_col_status;
        Gtk::TreeModelColumn<int> m_col_status_value;
    };

    UploadWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade);
    ~UploadWindow() override;

    void set_login_win(LoginWindow* pWin) { m_pLogin_win = pWin; }
    void set_about_win(AboutWindow* pWin) { m_pAbout_win = pWin; }
    void set_update_win(UpdateWindow* pWin) { m_pUpdate_win = pWin; }

    // ---- account
    void user_auto_login();
    // runs the login dialog when nobody is logged in; true when someone is afterwards
    bool user_login();
    void on_user_login();
    void on_user_logout();
    bool is_login() const { return _is_login; }
    // Stops the engine when someone is logged in, so the resume store writes its last
    // changes; called when the main loop has ended.
    void shutdown();
    // 0, or 1 when the window ended the program over an error it could not live with
    int exit_status() const { return _exit_status; }

    // ---- tasks (any path: made absolute, trailing "/" dropped)
    void add_task(const std::string& strPath);
    void add_tasks(const std::vector<std::string>& vPaths);
    void on_task_control();
    void on_start_task();
    void on_stop_task();
    void on_del_task();
    void on_clear_finish_task();
    bool is_task_running() const { return _task_running; }

    // ---- the task list, on the GUI thread
    // bEngine: a report of the engine, whose summary the status line and task button show; a
    // row the window makes for a path it adds has no summary to show
    void update_task(const std::string& strPath, const _ProgressItem& item, bool bEngine = true);
    void remove_task(const std::string& strPath);
    Gtk::TreeModel::iterator add_listview(const std::string& strPath, const _ProgressItem& item,
                                          bool bEngine = true);
    void update_listview(const Gtk::TreeModel::iterator& iter, const _ProgressItem& item,
                         bool bEngine = true);
    void remove_listview(const std::string& strPath);
    bool get_show_error_dlg(bool bSet);

    // ---- reports from the engine: any thread hands them in, the GUI thread applies them
    void queue_report(std::unique_ptr<_ProgressItem> pItem);
    bool reports_pending() { return !_reports.empty(); }

    void show_drag_img(bool bShow);
    void update_user_space();
    void on_app_quit();

    // ---- for tests and the stall meter
    const ModelColumns& columns() const { return m_Columns; }
    Glib::RefPtr<Gtk::TreeStore> tree_model() const { return m_refTreeModel; }
    Gtk::TreeView* tree_view() const { return m_pTreeView; }
    std::string status_text() const;
    std::string space_text() const;
    double space_fraction() const;
    std::string user_button_label() const;
    std::string task_button_label() const;
    bool is_space_dialog_open() const { return m_pSpace_dialog != nullptr; }
    int space_dialogs_shown() const { return _space_dialogs_shown; }
    size_t task_record_count();
    // the space dialog answered, as its button would
    void answer_space_dialog(int nResponse);

    // ---- signal handlers
    void on_add_task();
    void on_webdisk();
    void on_tb_user_login_logout();
    void on_menu_user_login_logout();
    void on_systray_menu_web();
    void on_systray_menu_about();
    void on_systray_menu_show();
    bool on_statusicon_button_press_event(GdkEventButton* pEvent);
    bool on_delete_event(GdkEventAny* pEvent) override;
    void on_drop_drag_data_received(const Glib::RefPtr<Gdk::DragContext>& context, int x, int y,
                                    const Gtk::SelectionData& selection_data, guint info,
                                    guint time);
    // The readable files of a drop's text, in order; the first that cannot be read is named
    // in a message box and ends the list.
    std::vector<std::string> accept_drop_text(const std::string& strText);

private:
    bool init_singleton();
    void on_singleton_thread_func();

    void build_task_list();
    void user_login_ok();
    void user_logout_ok();
    void show_update_notice();
    void apply_user_space(const SpaceFigures& figures);
    void set_user_look(bool bLogin);
    void set_task_button(bool bRunning);
    void set_status_text(const std::string& strText);
    void apply_summary(const std::string& strTaskInfo);
    // the summary of the latest report, shown when the slice of reports is done
    void note_summary(const std::string& strTaskInfo);
    void flush_summary();
    // adds queued paths for a slice of time; true while some are left
    bool add_pending_slice();
    void apply_report(_ProgressItem& item);
    void fill_row(const Gtk::TreeModel::iterator& iter, const _ProgressItem& item);
    void sync_folder_children(const Gtk::TreeModel::iterator& iter, const _ProgressItem& item);
    // erases a task's row with its record; returns the next row
    Gtk::TreeModel::iterator erase_top_row(const Gtk::TreeModel::iterator& iter);
    void show_space_dialog();
    void on_space_dialog_response(int nResponse);
    void fatal_list_error(const std::string& strLine, const std::string& strTitle,
                          const std::string& strText);
    void add_one_task(const std::string& strPath);
    Glib::RefPtr<Gdk::Pixbuf> pixbuf(const char* pszName) const;

    ModelColumns m_Columns;
    Gtk::MenuItem* m_pImageMenu_exit = nullptr;
    Gtk::MenuItem* m_pImageMenu_about = nullptr;
    Gtk::MenuItem* m_pImageMenu_user = nullptr;
    Gtk::MenuItem* m_pImageMenu_web = nullptr;
    Gtk::MenuItem* m_pImageMenu_show = nullptr;
    Gtk::TreeView* m_pTreeView = nullptr;
    Gtk::ToolButton* m_pButton_add = nullptr;
    Gtk::ToolButton* m_pButton_del = nullptr;
    Gtk::ToolButton* m_pButton_task = nullptr;
    Gtk::ToolButton* m_pButton_clear = nullptr;
    Gtk::ProgressBar* m_pProgressbar_space = nullptr;
    Gtk::Label* m_pLabel_status = nullptr;
    Gtk::ToolButton* m_pButton_webdisk = nullptr;
    Gtk::ToolButton* m_pButton_user = nullptr;
    Gtk::Image* m_pImage_user = nullptr;
    Gtk::Image* m_pImage_task = nullptr;
    Gtk::Image* m_pImage_drag = nullptr;
    Gtk::Image* m_pImage_status = nullptr;
    Gtk::Image* m_pImage_del = nullptr;
    Gtk::Image* m_pImage_add = nullptr;
    Gtk::Image* m_pImage_clear = nullptr;
    Gtk::Image* m_pImage_webdisk = nullptr;
    Gtk::Menu* m_pMenu_tray = nullptr;
    Gtk::ScrolledWindow* m_pScrollWin_list = nullptr;
    Glib::RefPtr<Gtk::StatusIcon> m_refStatusIcon;
    bool _is_login = false;
    Glib::RefPtr<Gtk::TreeStore> m_refTreeModel;
    Glib::RefPtr<Gtk::Builder> m_refGlade;
    std::string _str_title;
    UpdateWindow* m_pUpdate_win = nullptr;
    LoginWindow* m_pLogin_win = nullptr;
    AboutWindow* m_pAbout_win = nullptr;
    std::string _user_name;
    std::string _user_passwd;
    bool _user_rem = false;
    bool _user_auto_login = false;
    // path (bytes) -> the record of the task's row; an entry exists exactly while its row does
    std::map<std::string, _ProgressItem> _task_list;
    Glib::Threads::Mutex _lock_task;  // guards _task_list
    Resource* _ptr_resource = nullptr;
    int _singleton_fd = -1;
    std::string _str_upload_target;
    bool _is_show_error_dlg = false;
    Glib::Threads::Mutex _lock_show_error_dlg;  // guards _is_show_error_dlg

    // The task button shows Stop; kept here rather than read back from its label, which the
    // catalogue translates.
    bool _task_running = false;
    bool _task_button_set = false;
    // -1 until the first call of show_drag_img, then whether the hint is shown
    int _drag_img_state = -1;
    // paths added while the login dialog is open wait for its outcome
    std::vector<std::string> _paths_waiting_login;
    bool _login_dialog_running = false;
    std::string _last_status_text;
    std::string _pending_summary;
    bool _has_pending_summary = false;
    // paths accepted and waiting for their rows and engine calls; a drop of thousands is added
    // a slice at a time so the window keeps drawing
    std::deque<std::string> _pending_adds;
    bool _adding_scheduled = false;
    std::unique_ptr<Gtk::Dialog> m_pSpace_dialog;
    gint64 _space_dialog_closed_at = 0;  // monotonic microseconds
    int _space_dialogs_shown = 0;
    int _exit_status = 0;
    ReportQueue _reports;
    SpaceRefresher _space_refresher;
};

}  // namespace rodedudir
