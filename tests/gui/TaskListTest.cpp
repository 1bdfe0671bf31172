// The task list: reports as the engine sends them, turned into rows, icons and texts; the
// summary in the status line and the task button; delete, clear, the space dialog and drops;
// and, against the stand-in, folders whose failed files come and go as child rows.
#include <sys/stat.h>
#include <unistd.h>

#include "GuiFixture.h"
#include "Velmoupload.h"
#include "login_window.h"
#include "main_window.h"
#include "resource.h"
#include "utils/Utils.h"

namespace velmotest {
namespace {

using rodedudir::_ProgressItem;
using rodedudir::UploadWindow;

class TaskListTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (HasFatalFailure())
            return;
        LogInThroughDialog("demo", "demo");
        ASSERT_TRUE(m_win.pMainWin->is_login());
        m_pMain = m_win.pMainWin;
        m_cols = &m_pMain->columns();
    }

    static _ProgressItem Item(const std::string& strPath, int status, int64_t nSize = 100,
                              int64_t nDone = 0) {
        _ProgressItem item;
        item.strFileName = strPath.substr(strPath.rfind('/') + 1);
        item.strFilePath = strPath;
        item.nFileSize = nSize;
        item.nUploadSize = nDone;
        item.status = status;
        item.strTaskInfo = "1,100,0,00:00:00";
        return item;
    }

    // The row shown for a path, top-level or child.
    Gtk::TreeModel::iterator Row(const std::string& strPath) {
        Gtk::TreeModel::iterator found;
        m_pMain->tree_model()->foreach_iter([&](const Gtk::TreeModel::iterator& it) {
            if (Glib::ustring((*it)[m_cols->m_col_path]).raw() != strPath)
                return false;
            found = it;
            return true;
        });
        return found;
    }
    size_t TopRows() { return m_pMain->tree_model()->children().size(); }
    std::string Text(const std::string& strPath, const Gtk::TreeModelColumn<Glib::ustring>& col) {
        Gtk::TreeModel::iterator it = Row(strPath);
        return it ? Glib::ustring((*it)[col]).raw() : "<no row>";
    }
    Glib::RefPtr<Gdk::Pixbuf> Image(const char* pszName) {
        return rodedudir::Resource::get_instance()->get_pixbuf(pszName);
    }
    // Pumps until the path's row shows that status value.
    bool WaitForRow(const std::string& strPath, int nStatus) {
        return PumpUntil(
            [&] {
                Gtk::TreeModel::iterator row = Row(strPath);
                return row && static_cast<int>((*row)[m_cols->m_col_status_value]) == nStatus;
            },
            std::chrono::seconds(30));
    }

    UploadWindow* m_pMain = nullptr;
    const UploadWindow::ModelColumns* m_cols = nullptr;
};

TEST_F(TaskListTest, EachStatusShowsItsIconTextSpeedAndProgress) {
    const std::string strSpeed = _VelmoUpload::Utils::GetShowSize(2048) + "/s";
    struct Step {
        int status;
        int64_t nSize, nDone;
        const char *pszErrorGbk, *pszIcon, *pszInfo;
        bool bSpeed;
        double fPercent;  // the row's status value is the report's status
    };
    // one task's life: every step follows the one before it
    const Step steps[] = {
        {0, 400, 0, "", "zov_upload_wait.png", "", false, 0.0},
        {1, 400, 0, "", "zov_upload_wait.png", "Hashing...", false, 0.0},
        {2, 400, 100, "", "zov_uploading.png", "", true, 25.0},
        // "网络" in GBK: the row shows it in UTF-8
        {4, 400, 100, "\xCD\xF8\xC2\xE7", "zov_upload_error.png", "网络", true, 25.0},
        {3, 400, 100, "", "zov_upload_error.png", "网络", false, 25.0},  // keeps why it failed
        {2, 400, 200, "", "zov_uploading.png", "", true, 50.0},
        {3, 400, 200, "", "zov_upload_wait.png", "", false, 50.0},
        {5, 400, 400, "", "zov_upload_finish.png", "", false, 100.0},
        // a file of 0 bytes stays at 0 until it has succeeded
        {2, 0, 0, "", "zov_uploading.png", "", true, 0.0},
        {5, 0, 0, "", "zov_upload_finish.png", "", false, 100.0},
    };
    int nStep = 0;
    for (const Step& step : steps) {
        _ProgressItem item = Item("/data/report.pdf", step.status, step.nSize, step.nDone);
        item.nSpeed = 2048;
        item.strErrorMsg = step.pszErrorGbk;
        Report(item);
        SCOPED_TRACE("step " + std::to_string(nStep++));
        Gtk::TreeModel::iterator row = Row("/data/report.pdf");
        ASSERT_TRUE(row);
        EXPECT_EQ(Image(step.pszIcon), Glib::RefPtr<Gdk::Pixbuf>((*row)[m_cols->m_col_status]));
        EXPECT_EQ(step.pszInfo, Text("/data/report.pdf", m_cols->m_col_info));
        EXPECT_EQ(step.bSpeed ? strSpeed : "", Text("/data/report.pdf", m_cols->m_col_speed));
        EXPECT_DOUBLE_EQ(step.fPercent, static_cast<double>((*row)[m_cols->m_col_percentage]));
        EXPECT_EQ(step.status, static_cast<int>((*row)[m_cols->m_col_status_value]));
    }
    EXPECT_EQ(1u, TopRows());
    EXPECT_EQ("report.pdf", Text("/data/report.pdf", m_cols->m_col_name));
}

TEST_F(TaskListTest, RowsGoWithTheirRecordsAndNeverTakeAnotherTasksReports) {
    Report(Item("/data/a", 2, 100, 10));
    Report(Item("/data/done", 5, 100, 100));
    Report(Item("/data/busy", 2, 100, 30));
    Report(Item("/data/a", 6));  // cancelled
    EXPECT_FALSE(Row("/data/a"));
    EXPECT_EQ(2u, m_pMain->task_record_count());
    m_pMain->on_clear_finish_task();
    EXPECT_FALSE(Row("/data/done"));
    EXPECT_EQ(1u, TopRows());
    // a new task may get the cleared row's place in the store
    Report(Item("/data/new", 2, 100, 70));
    Report(Item("/data/done", 2, 100, 10));
    EXPECT_EQ(3u, TopRows());
    EXPECT_DOUBLE_EQ(30.0, static_cast<double>((*Row("/data/busy"))[m_cols->m_col_percentage]));
    EXPECT_DOUBLE_EQ(70.0, static_cast<double>((*Row("/data/new"))[m_cols->m_col_percentage]));
    EXPECT_DOUBLE_EQ(10.0, static_cast<double>((*Row("/data/done"))[m_cols->m_col_percentage]));

    // after a logout the list is empty and late reports are dropped
    m_pMain->on_user_logout();
    Report(Item("/data/c", 2, 100, 10));
    EXPECT_EQ(0u, TopRows());
    EXPECT_EQ(0u, m_pMain->task_record_count());
}

TEST_F(TaskListTest, TheSummaryDrivesTheStatusLineAndTheTaskButton) {
    struct Case {
        const char* pszSummary;
        bool bRunning;
        const char* pszStatus;
    };
    const Case cases[] = {
        {"2,100,2048,00:01:05", true,
         "you have 2 files backup, speed 2.00KB/s, need 00:01:05 hours finish."},
        {"", false, "Backup to Velmo"},  // the engine's value before its first report
        {"7,1,1,1234567:00:00", true,    // a time of any length
         "you have 7 files backup, speed 1B/s, need 1234567:00:00 hours finish."},
        // no files left: Start, though rows remain
        {"0,0,0,00:00:00", false, "Backup to Velmo"},
    };
    for (const Case& c : cases) {
        _ProgressItem item = Item("/data/a", 2, 100, 10);
        item.strTaskInfo = c.pszSummary;
        Report(item);
        EXPECT_EQ(c.bRunning, m_pMain->is_task_running()) << c.pszSummary;
        EXPECT_EQ(c.bRunning ? "Stop" : "Start", m_pMain->task_button_label()) << c.pszSummary;
        EXPECT_EQ(c.pszStatus, m_pMain->status_text()) << c.pszSummary;
    }
    EXPECT_EQ(1u, TopRows());
}

TEST_F(TaskListTest, NoSpaceOpensOneDialogPerBurstAndItsButtonOpensTheUpgradePage) {
    for (int nCode : {1013, 410, 1013, 410, 410}) {
        _ProgressItem item = Item("/data/f" + std::to_string(nCode), 4);
        item.nErrorCode = nCode;
        Report(item);
    }
    EXPECT_EQ(1, m_pMain->space_dialogs_shown());
    ASSERT_TRUE(m_pMain->is_space_dialog_open());
    for (Gtk::Window* pWindow : Gtk::Window::list_toplevels())
        if (pWindow->get_title() == "space not enough")
            Screenshot(*pWindow, "space-dialog");
    m_pMain->answer_space_dialog(Gtk::RESPONSE_OK);
    EXPECT_FALSE(m_pMain->is_space_dialog_open());
    PumpUntil([this] { return !OpenedPages().empty(); });
    EXPECT_EQ(StandinUrl("/?ct=vip\n"), OpenedPages());
}

TEST_F(GuiTest, PathsAddedWhileTheLoginDialogIsOpenWaitForItsOutcome) {
    UploadWindow* pMain = m_win.pMainWin;
    std::vector<std::string> paths;
    for (const char* pszName : {"/a", "/b", "/c", "/d"}) {
        paths.push_back(m_strWork + pszName);
        WriteFile(paths.back(), pszName);
    }
    // a second start's path arrives while the dialog is open; the dialog is closed by its frame
    WhenShown(m_win.pLoginWin, [&]() {
        Screenshot(*m_win.pLoginWin, "login-dialog");
        pMain->add_task(paths[1]);
        m_win.pLoginWin->response(Gtk::RESPONSE_DELETE_EVENT);
    });
    pMain->add_task(paths[0]);
    EXPECT_FALSE(pMain->is_login());
    EXPECT_FALSE(m_win.pLoginWin->is_loginwin_show());
    EXPECT_EQ(0u, pMain->tree_model()->children().size());

    // the same, and the user logs in: every path waits for it and is added once
    WhenShown(m_win.pLoginWin, [&]() {
        pMain->add_tasks({paths[3]});
        SubmitLoginDialog("demo", "demo");
    });
    pMain->add_task(paths[2]);
    ASSERT_TRUE(pMain->is_login());
    EXPECT_TRUE(pMain->is_task_running());
    // a busy machine may leave part of the adding to the main loop (where the two small
    // uploads may also end, so the task button is read first)
    PumpUntil([&] { return pMain->task_record_count() >= 2; });
    EXPECT_EQ(2u, pMain->tree_model()->children().size());
    EXPECT_EQ(2u, pMain->task_record_count());
}

TEST_F(TaskListTest, ADropTakesItsFilesUpToTheFirstItCannotReadAndNamesStayReadable) {
    const std::string strUri = "file://" + m_strWork;
    const std::string strA = m_strWork + "/a b.txt", strLatin = m_strWork + "/caf\xE9.txt";
    WriteFile(strA, "a");
    WriteFile(strLatin, "a name in Latin-1, as old disks hold it");
    // a file manager's comment line, CR LF and LF, the last line without a line end
    const std::vector<std::string> files = m_pMain->accept_drop_text(
        "# from a file manager\n" + strUri + "/a%20b.txt\r\n" + strUri + "/caf%E9.txt");
    EXPECT_EQ((std::vector<std::string>{strA, strLatin}), files);
    std::string strText;
    AnswerNextDialog(Gtk::RESPONSE_OK, &strText);
    EXPECT_EQ(std::vector<std::string>{strA},
              m_pMain->accept_drop_text(strUri + "/a%20b.txt\r\n" + strUri + "/missing\r\n" +
                                        strUri + "/caf%E9.txt\r\n"));
    EXPECT_EQ("cannot access:", strText);

    m_pMain->add_tasks(files);
    ASSERT_TRUE(WaitForRow(strLatin, 5));
    EXPECT_EQ(2u, TopRows());
    const std::string strName = Text(strLatin, m_cols->m_col_name);
    EXPECT_TRUE(g_utf8_validate(strName.c_str(), -1, nullptr)) << strName;
    EXPECT_EQ(0u, strName.rfind("caf")) << strName;
}

TEST_F(TaskListTest, DeleteCancelsTopLevelTasksInTheEngineAndTakesChildRowsWithTheirFolder) {
    // the stand-in holds the dispatch, so the file is still under way when it is deleted
    Fault("action=stall&on=dispatch&seconds=20");
    const std::string strFile = m_strWork + "/big.bin";
    WriteFile(strFile, std::string(300000, 'x'));
    m_pMain->add_task(strFile);
    ASSERT_TRUE(PumpUntil([] { return _VelmoUpload::UploadManager::GetRunningCount() == 1; }));
    // a failed folder with its failed files below it, and a task left alone
    Report(Item("/data/folder", 4));
    Glib::RefPtr<Gtk::TreeStore> model = m_pMain->tree_model();
    for (const char* pszChild : {"/data/folder/x", "/data/folder/y"})
        (*model->append(Row("/data/folder")->children()))[m_cols->m_col_path] = pszChild;
    Report(Item("/data/keep", 2, 100, 10));

    Glib::RefPtr<Gtk::TreeSelection> selection = m_pMain->tree_view()->get_selection();
    m_pMain->tree_view()->expand_all();
    for (const std::string& strPath :
         {strFile, std::string("/data/folder"), std::string("/data/folder/y")})
        selection->select(Row(strPath));
    m_pMain->on_del_task();

    EXPECT_FALSE(Row(strFile));
    EXPECT_FALSE(Row("/data/folder"));
    EXPECT_FALSE(Row("/data/folder/x"));
    EXPECT_TRUE(Row("/data/keep"));
    EXPECT_EQ(1u, m_pMain->task_record_count());
    EXPECT_TRUE(selection->is_selected(Row("/data/keep")));
    EXPECT_TRUE(PumpUntil([] { return _VelmoUpload::UploadManager::GetTaskCount() == 0; }));
}

TEST_F(TaskListTest, AFoldersChildRowsFollowItsFailedFilesAndItsRowIsTheEnginesOwn) {
    const std::string strFolder = m_strWork + "/pics";
    mkdir(strFolder.c_str(), 0755);
    for (const char* pszName : {"/a.jpg", "/b.jpg", "/c.jpg"})
        WriteFile(strFolder + pszName, std::string(5000, pszName[1]));
    // the service refuses the first file it is asked for
    Fault("action=status&on=dispatch&count=1&statuscode=500&statusmsg=busy");
    // added with a trailing "/": the row is the folder's, as the engine reports it
    m_pMain->add_task(strFolder + "/");
    ASSERT_TRUE(WaitForRow(strFolder, 4));
    ASSERT_EQ(1u, TopRows());
    Gtk::TreeModel::iterator folder = Row(strFolder);
    EXPECT_EQ(Image("zov_folder_flag.png"),
              Glib::RefPtr<Gdk::Pixbuf>((*folder)[m_cols->m_col_type]));
    ASSERT_EQ(1u, folder->children().size());
    EXPECT_EQ(Image("zov_upload_error.png"),
              Glib::RefPtr<Gdk::Pixbuf>((*folder->children().begin())[m_cols->m_col_status]));
    m_pMain->tree_view()->expand_all();
    Screenshot(*m_pMain, "list-folder-failed-file");

    // started again, the failed file goes through: its row goes, the folder is done
    m_pMain->on_task_control();
    ASSERT_TRUE(WaitForRow(strFolder, 5));
    EXPECT_EQ(0u, Row(strFolder)->children().size());
    EXPECT_EQ(1u, TopRows());
}

}  // namespace
}  // namespace velmotest
