#include "app/link_dialog.h"

#include <wx/button.h>

#include "links/site_addresses.h"
#include "res/resource_ids.h"

CLinkDialog::CLinkDialog(wxWindow* parent, const DialogTemplate& dialog)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(dialog.title), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  m_layout.Build(this, dialog);
  SetClientSize(m_layout.ClientSize());
  // The template's OK (id 1) ends the dialog with OK; Escape cancels.
  SetAffirmativeId(IDC_OK);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_OK); }, IDC_OK);
}

CAboutDlg::CAboutDlg(wxWindow* parent) : CLinkDialog(parent, kAboutTemplate) {
  m_supportSiteLink = new CHyperLink();
  m_supportSiteLink->Subclass(m_layout.Control(IDC_SUPPORT_SITE_LINK));
  m_globalSiteLink = new CHyperLink();
  m_globalSiteLink->Subclass(m_layout.Control(IDC_GLOBAL_SITE_LINK));
}

bool CAboutDlg::OnInitDialog() {
  m_supportSiteLink->SetLinkAddress(kSupportSiteAddress);
  m_supportSiteLink->SetLinkText(kSupportSiteAddress);
  m_globalSiteLink->SetLinkAddress(kGlobalSiteAddress);
  m_globalSiteLink->SetLinkText(kGlobalSiteAddress);
  m_layout.Control(IDC_OK)->SetFocus();
  return true;
}

CDriveNoticeDlg::CDriveNoticeDlg(wxWindow* parent) : CLinkDialog(parent, kDriveNoticeTemplate) {
  m_siteLink = new CHyperLink();
  m_siteLink->Subclass(m_layout.Control(IDC_GLOBAL_SITE_LINK));
}

bool CDriveNoticeDlg::OnInitDialog() {
  m_siteLink->SetLinkAddress(kGlobalSiteAddress);
  m_siteLink->SetLinkText(kGlobalSiteAddress);
  m_layout.Control(IDC_OK)->SetFocus();
  return true;
}
