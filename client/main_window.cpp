// The main window's construction, its logged-out and logged-in looks, the account button and
// menu, the space bar, the web pages, the about box, closing and quitting, and the server of
// the single-instance socket.
#include "main_window.h"

#include <sys/socket.h>
#include <unistd.h>

#include <glibmm/main.h>
#include <gtkmm/dialog.h>
#include <gtkmm/linkbutton.h>
#include <gtkmm/main.h>
#include <gtkmm/stock.h>

#include <cerrno>
#include <iostream>

#include "Velmoupload.h"
#include "about_window.h"
#include "core/LoginManager.h"
#include "deferred.h"
#include "i18n.h"
#include "info_window.h"
#include "login_window.h"
#include "resource.h"
#include "single_instance.h"
#include "status_icon.h"
#include "utils/NamedThread.h"
#include "utils/Utils.h"
#include "web_pages.h"

namespace rodedudir {

using _VelmoUpload::LoginManager;
using _VelmoUpload::UploadManager;
using _VelmoUpload::Utils;

namespace {

const char kNoSpace[] = "0.00GB/0.00GB";

int idle_show_main(void* data) {
    static_cast<UploadWindow*>(data)->present();
    return G_SOURCE_REMOVE;
}

int idle_add_task(void* data) {
    idle_data* pData = static_cast<idle_data*>(data);
    if (pData && pData->pthis && pData->item)
        pData->pthis->add_task(pData->item->strFilePath);
    return G_SOURCE_REMOVE;
}

}  // namespace

void idle_task_finish(void* data) {
    idle_data* pData = static_cast<idle_data*>(data);
    if (!pData)
        return;
    delete pData->item;
    delete pData;
}

void post_add_task(UploadWindow* pWindow, const std::string& strPath) {
    idle_data* pData = new idle_data;
    pData->pthis = pWindow;
    pData->item = new _ProgressItem;
    pData->item->strFilePath = strPath;
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &idle_add_task, pData, &idle_task_finish);
}

UploadWindow::UploadWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade)
    : Gtk::Window(cobject),
      m_refGlade(refGlade),
      _ptr_resource(Resource::get_instance()),
      _reports([this](_ProgressItem& item) { apply_report(item); }, [this]() { flush_summary(); }),
      _space_refresher([this](const SpaceFigures& figures) { apply_user_space(figures); }) {
    set_icon(pixbuf("logo_small.png"));
    _str_title = _("Velmo WebDisk");
    set_title(_str_title + " - " + _("not login"));

    m_refGlade->get_widget("image_drag", m_pImage_drag);
    m_refGlade->get_widget("image_status", m_pImage_status);
    m_refGlade->get_widget("image_tb_del", m_pImage_del);
    m_refGlade->get_widget("image_tb_add", m_pImage_add);
    m_refGlade->get_widget("image_tb_clear", m_pImage_clear);
    m_refGlade->get_widget("image_tb_zov_web", m_pImage_webdisk);
    m_refGlade->get_widget("image_tb_zov_user", m_pImage_user);
    m_refGlade->get_widget("image_tb_task", m_pImage_task);
    const std::pair<Gtk::Image*, const char*> images[] = {
        {m_pImage_drag, "zov_drag.png"},       {m_pImage_status, "zov_status.png"},
        {m_pImage_del, "zov_del.png"},         {m_pImage_add, "zov_add.png"},
        {m_pImage_clear, "zov_clear.png"},     {m_pImage_webdisk, "zov_webdisk.png"},
        {m_pImage_user, "zov_user_login.png"}, {m_pImage_task, "zov_start.png"}};
    for (const auto& image : images)
        if (image.first)
            image.first->set(pixbuf(image.second));
    // the web-disk image doubles as the about box's 64 px image; the toolbar takes it smaller
    if (m_pImage_webdisk && m_pImage_add && pixbuf("zov_add.png"))
        m_pImage_webdisk->set(pixbuf("zov_webdisk.png")
                                  ->scale_simple(pixbuf("zov_add.png")->get_width(),
                                                 pixbuf("zov_add.png")->get_height(),
                                                 Gdk::INTERP_BILINEAR));
    m_refGlade->get_widget("scrolledwindow_list", m_pScrollWin_list);

    m_refGlade->get_widget("menuitem_exit", m_pImageMenu_exit);
    m_refGlade->get_widget("menuitem_about", m_pImageMenu_about);
    m_refGlade->get_widget("menuitem_user", m_pImageMenu_user);
    m_refGlade->get_widget("menuitem_web", m_pImageMenu_web);
    m_refGlade->get_widget("menuitem_show", m_pImageMenu_show);
    if (m_pImageMenu_exit) {
        m_pImageMenu_exit->set_label(_("Exit"));
        m_pImageMenu_exit->signal_activate().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_app_quit)));
    }
    if (m_pImageMenu_about) {
        m_pImageMenu_about->set_label(_("About"));
        m_pImageMenu_about->signal_activate().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_systray_menu_about)));
    }
    if (m_pImageMenu_user) {
        m_pImageMenu_user->set_label(_("Login"));
        m_pImageMenu_user->signal_activate().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_menu_user_login_logout)));
    }
    if (m_pImageMenu_web) {
        m_pImageMenu_web->set_label(_("WebDisk"));
        m_pImageMenu_web->signal_activate().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_systray_menu_web)));
    }
    if (m_pImageMenu_show) {
        m_pImageMenu_show->set_label(_("MainWindow"));
        m_pImageMenu_show->signal_activate().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_systray_menu_show)));
        m_pImageMenu_show->hide();
    }

    m_refGlade->get_widget("tb_add", m_pButton_add);
    m_refGlade->get_widget("tb_task", m_pButton_task);
    m_refGlade->get_widget("tb_del", m_pButton_del);
    m_refGlade->get_widget("tb_clear", m_pButton_clear);
    if (m_pButton_add) {
        m_pButton_add->set_label(_("Add"));
        m_pButton_add->signal_clicked().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_add_task)));
    }
    if (m_pButton_task) {
        m_pButton_task->set_label(_("Start"));
        m_pButton_task->signal_clicked().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_task_control)));
    }
    if (m_pButton_del) {
        m_pButton_del->set_label(_("Delete"));
        m_pButton_del->signal_clicked().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_del_task)));
    }
    if (m_pButton_clear) {
        m_pButton_clear->set_label(_("Clear Finish"));
        m_pButton_clear->signal_clicked().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_clear_finish_task)));
    }

    m_refGlade->get_widget("progressbar_space", m_pProgressbar_space);
    if (m_pProgressbar_space) {
        m_pProgressbar_space->set_fraction(1.0);
        m_pProgressbar_space->set_show_text(true);
        m_pProgressbar_space->set_text(kNoSpace);
        m_pProgressbar_space->set_tooltip_text(kNoSpace);
    }
    m_refGlade->get_widget("label_status", m_pLabel_status);
    if (m_pLabel_status) {
        m_pLabel_status->set_alignment(0.0, 0.5);
        set_status_text(_("Backup to Velmo"));
    }

    m_refGlade->get_widget("tb_zov_web", m_pButton_webdisk);
    m_refGlade->get_widget("tb_zov_user", m_pButton_user);
    if (m_pButton_webdisk) {
        m_pButton_webdisk->set_label(_("WebDisk"));
        m_pButton_webdisk->signal_clicked().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_webdisk)));
    }
    if (m_pButton_user) {
        m_pButton_user->set_label(_("Login"));
        m_pButton_user->signal_clicked().connect(
            deferred(sigc::mem_fun(*this, &UploadWindow::on_tb_user_login_logout)));
    }

    build_task_list();

    m_refGlade->get_widget("menu_tray", m_pMenu_tray);
    m_refStatusIcon = create_status_icon(pixbuf("zov_webdisk.png"), _("Velmoupload client"));
    m_refStatusIcon->signal_button_press_event().connect(
        sigc::mem_fun(*this, &UploadWindow::on_statusicon_button_press_event));

    show_drag_img(true);

    // files and folders dropped anywhere on the window; file managers offer a URI list,
    // some sources plain text
    std::vector<Gtk::TargetEntry> targets = {Gtk::TargetEntry("text/uri-list"),
                                             Gtk::TargetEntry("text/plain")};
    drag_dest_set(targets, Gtk::DEST_DEFAULT_ALL, Gdk::ACTION_COPY);
    signal_drag_data_received().connect(
        sigc::mem_fun(*this, &UploadWindow::on_drop_drag_data_received));

    _user_rem = false;
    _user_auto_login = false;
    // the single-instance server: runs for the life of the process, never joined
    if (init_singleton())
        _VelmoUpload::StartDetachedThread("velmo-instance", [this] { on_singleton_thread_func(); });
}

UploadWindow::~UploadWindow() = default;

Glib::RefPtr<Gdk::Pixbuf> UploadWindow::pixbuf(const char* pszName) const {
    return _ptr_resource->get_pixbuf(pszName);
}

// ---------------------------------------------------------------- single instance

bool UploadWindow::init_singleton() {
    // bound by main before any window existed, so two starts at once leave one instance
    _singleton_fd = listening_fd();
    return _singleton_fd >= 0;
}

void UploadWindow::on_singleton_thread_func() {
    for (;;) {
        int nConnFd = accept4(_singleton_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (nConnFd < 0) {
            if (errno == EBADF || errno == EINVAL)
                return;  // the socket is gone: nothing left to serve
            if (errno != EINTR)
                g_usleep(100000);  // out of descriptors, say: try again shortly
            continue;
        }
        SingletonRequest request;
        std::string strWhy;
        bool bUsable = read_singleton_request(nConnFd, request, strWhy);
        ::close(nConnFd);
        if (!bUsable) {
            std::cout << "singleton message ignored: " << strWhy << std::endl;
            continue;
        }
        // nothing here touches a widget: the GUI thread does it
        g_idle_add(&idle_show_main, this);
        if (request.bAddTask && !request.strPath.empty() && Utils::IsExist(request.strPath))
            post_add_task(this, request.strPath);
    }
}

// ---------------------------------------------------------------- looks

void UploadWindow::set_status_text(const std::string& strText) {
    // a report comes many times a second; an unchanged line is left alone
    if (!m_pLabel_status || strText == _last_status_text)
        return;
    _last_status_text = strText;
    m_pLabel_status->set_text(strText);
}

void UploadWindow::set_task_button(bool bRunning) {
    if (!m_pButton_task)
        return;
    if (_task_button_set && bRunning == _task_running)
        return;
    _task_button_set = true;
    _task_running = bRunning;
    m_pButton_task->set_label(bRunning ? _("Stop") : _("Start"));
    if (m_pImage_task)
        m_pImage_task->set(pixbuf(bRunning ? "zov_stop.png" : "zov_start.png"));
}

void UploadWindow::set_user_look(bool bLogin) {
    if (m_pButton_user)
        m_pButton_user->set_label(bLogin ? _("Logout") : _("Login"));
    if (m_pImage_user)
        m_pImage_user->set(pixbuf(bLogin ? "zov_user_logout.png" : "zov_user_login.png"));
    if (m_pImageMenu_user)
        m_pImageMenu_user->set_label(bLogin ? _("Logout") : _("Login"));
}

void UploadWindow::show_drag_img(bool bShow) {
    if (_drag_img_state == (bShow ? 1 : 0))
        return;
    if (bShow) {
        set_task_button(false);
        set_status_text(_("Backup to Velmo"));
    }
    if (m_pImage_drag)
        m_pImage_drag->set_visible(bShow);
    if (m_pScrollWin_list)
        m_pScrollWin_list->set_visible(!bShow);
    _drag_img_state = bShow ? 1 : 0;
}

std::string UploadWindow::status_text() const {
    return m_pLabel_status ? std::string(m_pLabel_status->get_text()) : std::string();
}

std::string UploadWindow::space_text() const {
    return m_pProgressbar_space ? std::string(m_pProgressbar_space->get_text()) : std::string();
}

double UploadWindow::space_fraction() const {
    return m_pProgressbar_space ? m_pProgressbar_space->get_fraction() : 0.0;
}

std::string UploadWindow::user_button_label() const {
    return m_pButton_user ? std::string(m_pButton_user->get_label()) : std::string();
}

std::string UploadWindow::task_button_label() const {
    return m_pButton_task ? std::string(m_pButton_task->get_label()) : std::string();
}

// ---------------------------------------------------------------- account

bool UploadWindow::user_login() {
    if (!_is_login)
        on_user_login();
    return _is_login;
}

void UploadWindow::on_user_login() {
    std::cout << "on_user_login" << std::endl;
    if (_is_login || !m_pLogin_win || _login_dialog_running)
        return;
    _login_dialog_running = true;
    m_pLogin_win->set_user_name_password(_user_name, _user_passwd, _user_rem, _user_auto_login);
    m_pLogin_win->set_transient_for(*this);
    m_pLogin_win->set_loginwin_show(true);
    int nResponse;
    do {
        nResponse = m_pLogin_win->run();
    } while (nResponse == Gtk::RESPONSE_NONE);
    m_pLogin_win->set_loginwin_show(false);
    m_pLogin_win->hide();
    _login_dialog_running = false;
    if (nResponse == Gtk::RESPONSE_OK) {
        m_pLogin_win->get_user_name_password(_user_name, _user_passwd, _user_rem, _user_auto_login);
        user_login_ok();
    }
}

void UploadWindow::user_auto_login() {
    if (!LoginManager::GetAccountInfo(_user_name, _user_passwd, _user_rem, _user_auto_login))
        return;
    if (!_user_rem || !_user_auto_login || _user_name.empty() || _user_passwd.empty() ||
        !m_pLogin_win)
        return;
    if (m_pLogin_win->user_login(_user_name, _user_passwd, _user_rem, _user_auto_login))
        user_login_ok();
}

void UploadWindow::user_login_ok() {
    _is_login = true;
    set_user_look(true);
    _str_upload_target = LoginManager::GetTarget();
    UploadManager::Initialize(&progress, this);
    set_title(_str_title + " - " + LoginManager::GetName() + "<" + LoginManager::GetUserId() + ">");
    // the login reply carries the space already; the query then brings it up to date
    SpaceFigures figures;
    figures.bOk = LoginManager::GetTotalSize() > 0;
    figures.strUsed = LoginManager::GetShowUsedSize();
    figures.strTotal = LoginManager::GetShowTotalSize();
    figures.strUsedPercent = LoginManager::GetUsedPercentString();
    apply_user_space(figures);
    update_user_space();
    if (LoginManager::IsAllowUpload() == 2)
        show_update_notice();
}

void UploadWindow::show_update_notice() {
    const std::string strUrl = web_page_url(WebPage::ClientDownload);
    Gtk::Dialog dialog(_("update info"), *this, true);
    dialog.set_transient_for(*this);
    dialog.set_size_request(320, 120);
    Gtk::Label label(_("Vurozudeduz update new version!"));
    Gtk::LinkButton link(strUrl, strUrl);
    open_links_with_browser(&link);
    dialog.get_content_area()->pack_start(label);
    dialog.get_content_area()->pack_start(link);
    label.show();
    link.show();
    dialog.add_button(_("Goto"), Gtk::RESPONSE_OK);
    if (dialog.run() == Gtk::RESPONSE_OK)
        open_web_page(strUrl);
}

void UploadWindow::on_user_logout() {
    std::cout << "on_user_logout" << std::endl;
    if (m_pLogin_win && m_pLogin_win->user_logout()) {
        UploadManager::UnInitialize();
        user_logout_ok();
    }
}

void UploadWindow::user_logout_ok() {
    _is_login = false;
    _reports.clear();
    _pending_adds.clear();
    _has_pending_summary = false;
    _space_refresher.reset();
    {
        Glib::Threads::Mutex::Lock lock(_lock_task);
        _task_list.clear();
    }
    m_refTreeModel->clear();
    show_drag_img(true);
    set_title(_str_title + " - " + _("not login"));
    if (m_pProgressbar_space) {
        m_pProgressbar_space->set_fraction(1.0);
        m_pProgressbar_space->set_show_text(true);
        m_pProgressbar_space->set_text(kNoSpace);
        m_pProgressbar_space->set_tooltip_text(kNoSpace);
    }
    set_user_look(false);
    set_task_button(false);
}

void UploadWindow::on_tb_user_login_logout() {
    if (!m_pButton_user)
        return;
    if (_is_login)
        on_user_logout();
    else
        on_user_login();
}

void UploadWindow::on_menu_user_login_logout() {
    if (!m_pImageMenu_user)
        return;
    if (_is_login)
        on_user_logout();
    else
        on_user_login();
}

void UploadWindow::update_user_space() {
    if (_is_login)
        _space_refresher.request();
}

void UploadWindow::apply_user_space(const SpaceFigures& figures) {
    if (!_is_login || !figures.bOk || !m_pProgressbar_space)
        return;
    m_pProgressbar_space->set_show_text(true);
    m_pProgressbar_space->set_text(figures.strUsed + "/" + figures.strTotal);
    // the bar's text is drawn, not read out: the tooltip gives it to screen readers too
    m_pProgressbar_space->set_tooltip_text(m_pProgressbar_space->get_text());
    // GTK sets LC_NUMERIC; the service writes a point
    double fPercent = g_ascii_strtod(figures.strUsedPercent.c_str(), nullptr);
    if (fPercent < 0.0)
        fPercent = 0.0;
    if (fPercent > 100.0)
        fPercent = 100.0;
    m_pProgressbar_space->set_fraction(fPercent / 100.0);
}

// ---------------------------------------------------------------- pages, about, tray, quit

void UploadWindow::on_webdisk() {
    open_web_page(web_page_url(WebPage::Home));
}

void UploadWindow::on_systray_menu_web() {
    open_web_page(web_page_url(WebPage::Home));
}

void UploadWindow::on_systray_menu_about() {
    if (!m_pAbout_win)
        return;
    m_pAbout_win->set_aboutwin_show(true);
    m_pAbout_win->run();
    m_pAbout_win->hide();
    m_pAbout_win->set_aboutwin_show(false);
}

void UploadWindow::on_systray_menu_show() {
    present();
}

bool UploadWindow::on_statusicon_button_press_event(GdkEventButton* pEvent) {
    if (!pEvent || pEvent->type != GDK_BUTTON_PRESS)
        return false;
    if ((m_pAbout_win && m_pAbout_win->is_aboutwin_show()) ||
        (m_pLogin_win && m_pLogin_win->is_loginwin_show()))
        return false;
    if (pEvent->button == 1)
        present();
    else if (pEvent->button == 3 && m_pMenu_tray)
        popup_status_menu(m_refStatusIcon, *m_pMenu_tray, pEvent->button, pEvent->time);
    return false;
}

bool UploadWindow::on_delete_event(GdkEventAny*) {
    // without a notification area a hidden window could never come back
    if (!m_refStatusIcon || !status_icon_embedded(m_refStatusIcon) ||
        !m_refStatusIcon->get_visible())
        on_app_quit();
    else
        hide();
    return true;
}

void UploadWindow::on_app_quit() {
    Gtk::Main::quit();
}

void UploadWindow::shutdown() {
    if (_is_login) {
        // the resume store writes what it holds when the engine stops
        UploadManager::UnInitialize();
    }
}

}  // namespace rodedudir
