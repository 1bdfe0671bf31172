// The task list: the engine's reports copied on its threads, applied on the GUI thread to one
// row per task (with a child row per failed file of a folder), the summary in the status line
// and the task button, and the "space not enough" dialog.
#include <glibmm/convert.h>
#include <glibmm/fileutils.h>
#include <glibmm/main.h>
#include <gtkmm/cellrendererpixbuf.h>
#include <gtkmm/cellrendererprogress.h>
#include <gtkmm/cellrenderertext.h>
#include <gtkmm/main.h>
#include <gtkmm/messagedialog.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "ServiceConstants.h"
#include "TaskModel.h"
#include "core/ErrorManager.h"
#include "core/FolderManager.h"
#include "i18n.h"
#include "main_window.h"
#include "resource.h"
#include "row_writer.h"
#include "task_summary.h"
#include "utils/Utils.h"
#include "web_pages.h"

namespace rodedudir {

using _VelmoUpload::ErrorList;
using _VelmoUpload::FolderManager;
using _VelmoUpload::Utils;

namespace {

// a burst of no-space reports (every file of a folder, say) opens the dialog once
constexpr gint64 kSpaceDialogQuietUs = 10 * 1000000;

std::string ValidUtf8(const std::string& strText) {
    if (g_utf8_validate(strText.data(), static_cast<gssize>(strText.size()), nullptr))
        return strText;
    gchar* pszValid = g_utf8_make_valid(strText.data(), static_cast<gssize>(strText.size()));
    std::string strValid = pszValid;
    g_free(pszValid);
    return strValid;
}

// A name as the user should read it, whatever bytes the file system holds.
std::string DisplayName(const std::string& strPath) {
    return Glib::filename_display_basename(strPath);
}

}  // namespace

std::string gbk_to_utf8(const std::string& strText) {
    try {
        return Glib::convert(strText, "UTF-8", "GBK");
    } catch (const Glib::ConvertError& e) {
        // as bytes: a ustring is converted to the locale's charset on output, which can throw
        const std::string strWhy = e.what();
        std::cout << strText << ", gbk_to_utf8 error:" << strWhy << std::endl;
    } catch (...) {
        std::cout << strText << ", gbk_to_utf8 error:unknow error" << std::endl;
    }
    return strText;
}

void progress(std::string strFileName, std::string strFilePath, int64_t nFileSize,
              int64_t nUploadSize, int nSpeed, int tLeftTime, int status, double fHashPercent,
              int nErrorCode, std::string strErrorMsg, std::string strPickCode, bool isFolder,
              std::string strTaskInfo, void* data) {
    try {
        std::unique_ptr<_ProgressItem> pItem(new _ProgressItem(
            strFileName, strFilePath, nFileSize, nUploadSize, nSpeed, tLeftTime, status,
            fHashPercent, nErrorCode, std::string(), strPickCode, isFolder, strTaskInfo));
        if (!strErrorMsg.empty())
            pItem->strErrorMsg = ValidUtf8(gbk_to_utf8(strErrorMsg));

        // one write per report, so reports of two threads never interleave their lines
        std::ostringstream out;
        out << "isFolder=" << isFolder << "\nstrFileName=" << strFileName
            << "\nstrFilePath=" << strFilePath << "\nnFileSize=" << nFileSize
            << "\nnUploadSize=" << nUploadSize << "\nnSpeed=" << nSpeed
            << "\ntLeftTime=" << tLeftTime << "\nfHashPercent=" << fHashPercent
            << "\nstrTaskInfo=" << strTaskInfo << "\nstatus=" << status
            << "\nnErrorCode=" << nErrorCode << "\nstrErrorMsg=" << pItem->strErrorMsg << "\n";
        const std::string strLines = out.str();
        fwrite(strLines.data(), 1, strLines.size(), stdout);
        fflush(stdout);

        static_cast<UploadWindow*>(data)->queue_report(std::move(pItem));
    } catch (...) {
        // out of memory: this report is lost, the next one carries the task's state again
    }
}

void UploadWindow::queue_report(std::unique_ptr<_ProgressItem> pItem) {
    _reports.push(std::move(pItem));
}

void UploadWindow::build_task_list() {
    m_refGlade->get_widget("treeview_list", m_pTreeView);
    m_refTreeModel = Gtk::TreeStore::create(m_Columns);
    if (!m_pTreeView)
        return;
    m_pTreeView->set_model(m_refTreeModel);

    Gtk::TreeViewColumn* pName = Gtk::manage(new Gtk::TreeViewColumn(_("FileName")));
    pName->pack_start(m_Columns.m_col_type, false);
    pName->pack_start(m_Columns.m_col_name, false);
    pName->set_resizable(true);
    pName->set_alignment(0.0);
    pName->set_min_width(50);
    pName->set_expand(true);
    m_pTreeView->append_column(*pName);

    int nPath = m_pTreeView->append_column(_("Path"), m_Columns.m_col_path);
    m_pTreeView->get_column(nPath - 1)->set_min_width(50);
    m_pTreeView->get_column(nPath - 1)->set_visible(false);

    int nSize = m_pTreeView->append_column(_("Size"), m_Columns.m_col_size);
    m_pTreeView->get_column(nSize - 1)->set_min_width(30);

    Gtk::CellRendererProgress* pBar = Gtk::manage(new Gtk::CellRendererProgress);
    int nProgress = m_pTreeView->append_column(_("Progress"), *pBar);
    Gtk::TreeViewColumn* pProgress = m_pTreeView->get_column(nProgress - 1);
    pProgress->add_attribute(pBar->property_value(), m_Columns.m_col_percentage);
    pProgress->set_resizable(true);
    pProgress->set_min_width(50);
    pProgress->set_max_width(200);

    int nSpeed = m_pTreeView->append_column(_("Speed"), m_Columns.m_col_speed);
    m_pTreeView->get_column(nSpeed - 1)->set_resizable(true);
    m_pTreeView->get_column(nSpeed - 1)->set_min_width(20);

    Gtk::TreeViewColumn* pStatus = Gtk::manage(new Gtk::TreeViewColumn(_("Status")));
    pStatus->pack_start(m_Columns.m_col_info, true);
    pStatus->pack_start(m_Columns.m_col_status, false);
    pStatus->set_min_width(50);
    m_pTreeView->append_column(*pStatus);

    // Every row is one line of the same height: measured once, not again at each report,
    // which keeps a list of thousands of rows cheap to update. Columns start at widths that
    // fit their usual content and stay resizable.
    const int kWidths[] = {200, 80, 80, 110, 90, 160};
    for (int i = 0; i < static_cast<int>(m_pTreeView->get_n_columns()); ++i) {
        Gtk::TreeViewColumn* pColumn = m_pTreeView->get_column(i);
        pColumn->set_sizing(Gtk::TREE_VIEW_COLUMN_FIXED);
        pColumn->set_fixed_width(kWidths[i]);
        pColumn->set_resizable(true);
    }
    m_pTreeView->set_fixed_height_mode(true);
    m_pTreeView->get_selection()->set_mode(Gtk::SELECTION_MULTIPLE);
}

// ---------------------------------------------------------------- reports on the GUI thread

void UploadWindow::apply_report(_ProgressItem& item) {
    if (item.status == _VelmoUpload::TaskStatusCancel) {
        remove_task(item.strFilePath);
        note_summary(item.strTaskInfo);
        return;
    }
    update_task(item.strFilePath, item);
}

void UploadWindow::update_task(const std::string& strPath, const _ProgressItem& item,
                               bool bEngine) {
    std::cout << "update_task=" << strPath << "\n";
    if (!_is_login)
        return;  // a report of a session that has ended
    Gtk::TreeModel::iterator iter;
    {
        Glib::Threads::Mutex::Lock lock(_lock_task);
        std::map<std::string, _ProgressItem>::iterator it = _task_list.find(strPath);
        if (it != _task_list.end()) {
            iter = it->second.iter;
            it->second = item;
            it->second.iter = iter;
        }
    }
    if (iter) {
        update_listview(iter, item, bEngine);
        return;
    }
    iter = add_listview(strPath, item, bEngine);
    Glib::Threads::Mutex::Lock lock(_lock_task);
    _ProgressItem& stored = _task_list[strPath];
    stored = item;
    stored.iter = iter;
}

Gtk::TreeModel::iterator UploadWindow::add_listview(const std::string&, const _ProgressItem& item,
                                                    bool bEngine) {
    std::cout << "add_listview\n";
    show_drag_img(false);
    Gtk::TreeModel::iterator iter = m_refTreeModel->append();
    update_listview(iter, item, bEngine);
    return iter;
}

void UploadWindow::remove_task(const std::string& strPath) {
    std::cout << "remove_task=" << strPath << "\n";
    remove_listview(strPath);
    Glib::Threads::Mutex::Lock lock(_lock_task);
    _task_list.erase(strPath);
}

void UploadWindow::remove_listview(const std::string& strPath) {
    Gtk::TreeModel::iterator iter;
    {
        Glib::Threads::Mutex::Lock lock(_lock_task);
        std::map<std::string, _ProgressItem>::iterator it = _task_list.find(strPath);
        if (it == _task_list.end())
            return;
        iter = it->second.iter;
    }
    if (iter)
        m_refTreeModel->erase(iter);
}

void UploadWindow::update_listview(const Gtk::TreeModel::iterator& iter, const _ProgressItem& item,
                                   bool bEngine) {
    if (iter)
        fill_row(iter, item);
    if (!bEngine)
        return;
    note_summary(item.strTaskInfo);
    if (item.nErrorCode == _VelmoUpload::kErrNoSpace ||
        item.nErrorCode == _VelmoUpload::ServiceCode::kNoSpace)
        show_space_dialog();
}

void UploadWindow::fill_row(const Gtk::TreeModel::iterator& iter, const _ProgressItem& item) {
    try {
        RowWriter row(m_refTreeModel, iter);
        row.set(m_Columns.m_col_type,
                pixbuf(item.isFolder ? "zov_folder_flag.png" : "zov_file_flag.png"));
        row.set(m_Columns.m_col_name, Glib::ustring(DisplayName(item.strFilePath)));
        row.set(m_Columns.m_col_path, Glib::ustring(item.strFilePath));
        row.set(m_Columns.m_col_size, Glib::ustring(Utils::GetShowSize(item.nFileSize)));
        double fPercent = 0.0;
        if (item.status == _VelmoUpload::TaskStatusSucceed)
            fPercent = 100.0;
        else if (item.nFileSize > 0)
            fPercent =
                static_cast<double>(item.nUploadSize) / static_cast<double>(item.nFileSize) * 100.0;
        row.set(m_Columns.m_col_percentage, fPercent);
        const Glib::ustring strSpeed = Utils::GetShowSize(item.nSpeed) + "/s";
        const Glib::ustring strNone;
        const int nPrevious = (*iter)[m_Columns.m_col_status_value];
        switch (item.status) {
            case _VelmoUpload::TaskStatusError:
                row.set(m_Columns.m_col_status_value, 4);
                row.set(m_Columns.m_col_status, pixbuf("zov_upload_error.png"));
                row.set(m_Columns.m_col_speed, strSpeed);
                if (!item.isFolder)
                    row.set(m_Columns.m_col_info, Glib::ustring(item.strErrorMsg));
                break;
            case _VelmoUpload::TaskStatusInit:
                row.set(m_Columns.m_col_status_value, 0);
                row.set(m_Columns.m_col_status, pixbuf("zov_upload_wait.png"));
                row.set(m_Columns.m_col_speed, strNone);
                break;
            case _VelmoUpload::TaskStatusHash:
                row.set(m_Columns.m_col_status_value, 1);
                row.set(m_Columns.m_col_status, pixbuf("zov_upload_wait.png"));
                row.set(m_Columns.m_col_info, Glib::ustring(_("Hashing...")));
                row.set(m_Columns.m_col_speed, strNone);
                break;
            case _VelmoUpload::TaskStatusUpload:
                row.set(m_Columns.m_col_status_value, 2);
                row.set(m_Columns.m_col_status, pixbuf("zov_uploading.png"));
                row.set(m_Columns.m_col_info, strNone);
                row.set(m_Columns.m_col_speed, strSpeed);
                break;
            case _VelmoUpload::TaskStatusStop:
                // a task that failed and was then stopped keeps saying why it failed
                if (nPrevious != 4) {
                    row.set(m_Columns.m_col_status, pixbuf("zov_upload_wait.png"));
                    row.set(m_Columns.m_col_info, strNone);
                }
                row.set(m_Columns.m_col_status_value, 3);
                row.set(m_Columns.m_col_speed, strNone);
                set_status_text(_("Backup to Velmo"));
                break;
            case _VelmoUpload::TaskStatusSucceed:
                row.set(m_Columns.m_col_status_value, 5);
                row.set(m_Columns.m_col_status, pixbuf("zov_upload_finish.png"));
                row.set(m_Columns.m_col_info, strNone);
                row.set(m_Columns.m_col_speed, strNone);
                set_status_text(_("Backup to Velmo"));
                update_user_space();
                break;
            default:
                row.set(m_Columns.m_col_speed, strSpeed);
                break;
        }
        row.commit();
        if (item.isFolder)
            sync_folder_children(iter, item);
    } catch (const Glib::FileError& e) {
        fatal_list_error(
            "oh~~~, FileError exception:" + std::to_string(e.code()) + ", msg=" + e.what(),
            _("FileError exception occur!!"), e.what() + std::string(_("!!! app exit now!")));
    } catch (const Gdk::PixbufError& e) {
        fatal_list_error(
            "oh~~~, PixbufError exception:" + std::to_string(e.code()) + ", msg=" + e.what(),
            _("PixbufError exception occur!!!"), e.what() + std::string(_("!!! app exit now!")));
    } catch (...) {
        fatal_list_error("xxxxxxxxxxxxxx update listview has error xxxxxxxxxxxxx",
                         _("unknow exception occur!!!"), _("!!! app exit now!"));
    }
}

// A folder's child rows are the files that failed, as the engine has them now: a file
// retried with success loses its row, and a folder that succeeds has none.
void UploadWindow::sync_folder_children(const Gtk::TreeModel::iterator& iter,
                                        const _ProgressItem& item) {
    ErrorList errors;
    if (item.status != _VelmoUpload::TaskStatusSucceed)
        FolderManager::LoadUnfinishTask(item.strFilePath, errors);
    for (ErrorList::iterator it = errors.begin(); it != errors.end();)
        it = it->second.empty() ? errors.erase(it) : std::next(it);

    std::map<std::string, std::string> texts;  // path -> UTF-8 text
    std::string strLast;
    for (const ErrorList::value_type& entry : errors) {
        std::string strText = ValidUtf8(gbk_to_utf8(entry.second));
        texts[entry.first] = strText;
        strLast = strText;
    }
    Gtk::TreeModel::Children children = iter->children();
    for (Gtk::TreeModel::iterator child = children.begin(); child != children.end();) {
        std::string strChildPath = Glib::ustring((*child)[m_Columns.m_col_path]).raw();
        std::map<std::string, std::string>::iterator found = texts.find(strChildPath);
        if (found == texts.end()) {
            child = m_refTreeModel->erase(child);
            continue;
        }
        (*child)[m_Columns.m_col_info] = found->second;
        texts.erase(found);
        ++child;
    }
    for (const std::pair<const std::string, std::string>& entry : texts) {
        Gtk::TreeModel::Row row = *m_refTreeModel->append(iter->children());
        row[m_Columns.m_col_type] = pixbuf("zov_file_flag.png");
        row[m_Columns.m_col_name] = DisplayName(entry.first);
        row[m_Columns.m_col_path] = entry.first;
        row[m_Columns.m_col_percentage] = 0.0;
        row[m_Columns.m_col_info] = entry.second;
        row[m_Columns.m_col_status] = pixbuf("zov_upload_error.png");
        row[m_Columns.m_col_status_value] = 4;
    }
    if (item.status == _VelmoUpload::TaskStatusError)
        (*iter)[m_Columns.m_col_info] = strLast;
}

void UploadWindow::note_summary(const std::string& strTaskInfo) {
    _pending_summary = strTaskInfo;
    _has_pending_summary = true;
}

void UploadWindow::flush_summary() {
    if (!_has_pending_summary)
        return;
    _has_pending_summary = false;
    if (_is_login)
        apply_summary(_pending_summary);
}

void UploadWindow::apply_summary(const std::string& strTaskInfo) {
    TaskSummary summary = parse_task_summary(strTaskInfo);
    if (summary.nFiles == 0) {
        set_task_button(false);
        set_status_text(_("Backup to Velmo"));
        return;
    }
    set_task_button(true);
    set_status_text(std::string(_("you have ")) + std::to_string(summary.nFiles) +
                    _(" files backup, speed ") + Utils::GetShowSize(summary.nSpeed) + "/s" +
                    _(", need ") + summary.strTimeLeft + _(" hours finish."));
}

// ---------------------------------------------------------------- the space dialog

void UploadWindow::show_space_dialog() {
    if (m_pSpace_dialog)
        return;
    if (_space_dialog_closed_at != 0 &&
        g_get_monotonic_time() - _space_dialog_closed_at < kSpaceDialogQuietUs)
        return;
    ++_space_dialogs_shown;
    // not run modally: reports keep reaching the list while it is open
    m_pSpace_dialog.reset(new Gtk::Dialog(_("space not enough"), *this, true));
    m_pSpace_dialog->set_transient_for(*this);
    m_pSpace_dialog->set_size_request(300, 200);
    Gtk::Label* pLabel = Gtk::manage(new Gtk::Label(_("space not enough!")));
    m_pSpace_dialog->get_content_area()->pack_start(*pLabel);
    pLabel->show();
    m_pSpace_dialog->add_button(_("Upgrade VIP"), Gtk::RESPONSE_OK);
    m_pSpace_dialog->signal_response().connect(
        sigc::mem_fun(*this, &UploadWindow::on_space_dialog_response));
    m_pSpace_dialog->show();
}

void UploadWindow::on_space_dialog_response(int nResponse) {
    if (nResponse == Gtk::RESPONSE_OK)
        open_web_page(web_page_url(WebPage::UpgradeVip));
    _space_dialog_closed_at = g_get_monotonic_time();
    // the dialog goes once its signal handlers are done
    Gtk::Dialog* pDialog = m_pSpace_dialog.release();
    pDialog->hide();
    Glib::signal_idle().connect_once([pDialog]() { delete pDialog; });
}

void UploadWindow::answer_space_dialog(int nResponse) {
    if (m_pSpace_dialog)
        m_pSpace_dialog->response(nResponse);
}

// ---------------------------------------------------------------- failures

bool UploadWindow::get_show_error_dlg(bool bSet) {
    Glib::Threads::Mutex::Lock lock(_lock_show_error_dlg);
    if (bSet)
        _is_show_error_dlg = true;
    return _is_show_error_dlg;
}

void UploadWindow::fatal_list_error(const std::string& strLine, const std::string& strTitle,
                                    const std::string& strText) {
    get_show_error_dlg(true);
    std::cout << strLine << std::endl;
    Gtk::MessageDialog dialog(*this, strTitle, false, Gtk::MESSAGE_INFO, Gtk::BUTTONS_OK, true);
    dialog.set_secondary_text(strText);
    dialog.run();
    // a list that cannot be drawn is no backup client: end with a failure status
    _exit_status = 1;
    Gtk::Main::quit();
}

size_t UploadWindow::task_record_count() {
    Glib::Threads::Mutex::Lock lock(_lock_task);
    return _task_list.size();
}

}  // namespace rodedudir
