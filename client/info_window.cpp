// The login-error box and the update notice.
#include "info_window.h"

#include "i18n.h"
#include "core/LoginManager.h"
#include "resource.h"
#include "web_pages.h"

namespace rodedudir {

namespace {

using _VelmoUpload::LoginManager;

void SetLink(Gtk::LinkButton* pButton, const char* pszLabel, WebPage page) {
    if (!pButton)
        return;
    pButton->set_label(pszLabel);
    pButton->set_uri(web_page_url(page));
    open_links_with_browser(pButton);
}

}  // namespace

void open_links_with_browser(Gtk::LinkButton* pButton) {
    pButton->signal_activate_link().connect(
        [pButton]() {
            open_web_page(pButton->get_uri());
            return true;
        },
        false);
}

InfoWindowBase::InfoWindowBase(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade)
    : Gtk::Dialog(cobject), _ptr_resource(Resource::get_instance()), m_refGlade(refGlade) {
    set_icon(_ptr_resource->get_pixbuf("logo_small.png"));
    m_refGlade->get_widget("image_info", m_pImage);
    m_refGlade->get_widget("label_info", m_pLabel_info);
    m_refGlade->get_widget("label_forget", m_pLabel_forget);
    m_refGlade->get_widget("label_appeal", m_pLabel_appeal);
    m_refGlade->get_widget("linkbutton_info_forget", m_pButton_forget);
    m_refGlade->get_widget("linkbutton_appeal", m_pButton_appeal);
    for (Gtk::Label* pLabel : {m_pLabel_info, m_pLabel_forget, m_pLabel_appeal})
        if (pLabel)
            pLabel->set_alignment(0.0, 0.5);
    m_refGlade->get_widget("button_info_ok", m_pButton_ok);
    if (m_pButton_ok) {
        m_pButton_ok->set_label(_("OK"));
        m_pButton_ok->signal_clicked().connect(
            sigc::mem_fun(*this, &InfoWindowBase::on_button_ok_clicked));
    }
}

void InfoWindowBase::on_button_ok_clicked() {
    response(Gtk::RESPONSE_OK);
}

ErrorWindow::ErrorWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade)
    : InfoWindowBase(cobject, refGlade) {
    override_background_color(Gdk::RGBA("#ffffff"), Gtk::STATE_FLAG_NORMAL);
    set_title(_("login error"));
    if (m_pImage)
        m_pImage->set(_ptr_resource->get_pixbuf("zov_msg.png"));
    if (m_pLabel_info)
        m_pLabel_info->set_text(_("password incorrect!"));
    if (m_pLabel_forget)
        m_pLabel_forget->set_text(_("If you forget your password, click here: "));
    if (m_pLabel_appeal)
        m_pLabel_appeal->set_text(_("If you cannot get the password, click here: "));
    SetLink(m_pButton_forget, _("Find it"), WebPage::ForgotPassword);
    SetLink(m_pButton_appeal, _("Appeal it"), WebPage::ForgotAccount);
}

void ErrorWindow::set_login_failure(int nLoginError, const std::string& strServiceText) {
    std::string strText;
    bool bPasswordRefused = nLoginError == LoginManager::kLoginRefused ||
                            nLoginError == LoginManager::kLoginNothingToSend;
    if (nLoginError == LoginManager::kLoginNoReply) {
        strText = Glib::ustring::compose(_("Cannot reach the service at %1."),
                                         LoginManager::GetApiHost()) +
                  "\n" + _("Please check your network connection.");
    } else if (bPasswordRefused) {
        strText = _("password incorrect!");
        // the service's own words; an empty password reached no service
        if (nLoginError == LoginManager::kLoginRefused && !strServiceText.empty())
            strText += "\n" + strServiceText;
    } else {
        strText = _("The service's reply could not be read.");
    }
    if (m_pLabel_info)
        m_pLabel_info->set_text(strText);
    // the recovery pages help only when the password was the problem
    for (Gtk::Widget* pWidget :
         {static_cast<Gtk::Widget*>(m_pLabel_forget), static_cast<Gtk::Widget*>(m_pButton_forget),
          static_cast<Gtk::Widget*>(m_pLabel_appeal), static_cast<Gtk::Widget*>(m_pButton_appeal)})
        if (pWidget)
            pWidget->set_visible(bPasswordRefused);
}

std::string ErrorWindow::get_info_text() const {
    return m_pLabel_info ? std::string(m_pLabel_info->get_text()) : std::string();
}

UpdateWindow::UpdateWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade)
    : InfoWindowBase(cobject, refGlade) {
    override_background_color(Gdk::RGBA("#ffffff"), Gtk::STATE_FLAG_NORMAL);
    set_title(_("update"));
    if (m_pImage)
        m_pImage->set(_ptr_resource->get_pixbuf("logo_small.png"));
    if (m_pLabel_info)
        m_pLabel_info->set_text(_("software update!"));
    if (m_pLabel_forget)
        m_pLabel_forget->set_text(_("Vurozudeduz update new version, get it: "));
    if (m_pLabel_appeal)
        m_pLabel_appeal->hide();
    if (m_pButton_appeal)
        m_pButton_appeal->hide();
    SetLink(m_pButton_forget, _("Get it"), WebPage::ClientDownload);
}

}  // namespace rodedudir
