// The about box: version, maker and the service's home page.
#include "about_window.h"

#include "i18n.h"
#include "info_window.h"
#include "resource.h"
#include "web_pages.h"

namespace rodedudir {

AboutWindow::AboutWindow(BaseObjectType* cobject, const Glib::RefPtr<Gtk::Builder>& refGlade)
    : Gtk::Dialog(cobject), _ptr_resource(Resource::get_instance()), m_refGlade(refGlade) {
    set_icon(_ptr_resource->get_pixbuf("logo_small.png"));
    set_title(_("About"));
    m_refGlade->get_widget("image2", m_pImage_about);
    if (m_pImage_about)
        m_pImage_about->set(_ptr_resource->get_pixbuf("zov_webdisk.png"));
    m_refGlade->get_widget("label_version", m_pLabel_version);
    if (m_pLabel_version)
        m_pLabel_version->set_text(_("VurozUdeduz For Linux V1.0(beta)"));
    m_refGlade->get_widget("label_company", m_pLabel_company);
    if (m_pLabel_company)
        m_pLabel_company->set_text(_("The Vurozudeduz developers"));
    m_refGlade->get_widget("label_copyright", m_pLabel_copyright);
    if (m_pLabel_copyright)
        m_pLabel_copyright->set_text(_("Copyright (C) 2026 The Vurozudeduz developers"));
    // the definition's address is the built-in host; the page follows the host in use
    m_refGlade->get_widget("linkbutton_web", m_pButton_web);
    if (m_pButton_web) {
        std::string strHome = web_page_url(WebPage::Home);
        m_pButton_web->set_uri(strHome);
        m_pButton_web->set_label(strHome);
        m_pButton_web->set_tooltip_text(strHome);
        open_links_with_browser(m_pButton_web);
    }
    m_refGlade->get_widget("button_ok", m_pButton_ok);
    if (m_pButton_ok) {
        m_pButton_ok->set_label(_("OK"));
        m_pButton_ok->signal_clicked().connect(
            sigc::mem_fun(*this, &AboutWindow::on_button_ok_clicked));
    }
}

void AboutWindow::on_button_ok_clicked() {
    response(Gtk::RESPONSE_OK);
}

}  // namespace rodedudir
