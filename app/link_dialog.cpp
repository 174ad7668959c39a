#include "app/link_dialog.h"

#include <wx/button.h>

#include "links/manual_address.h"
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

// Both links lead into the manual installed with the program: the site's
// link to what a supported drive is, the manual's link to its start.
bool CAboutDlg::OnInitDialog() {
  m_supportSiteLink->SetLinkAddress(ManualAddress());
  m_supportSiteLink->SetLinkText(kManualLinkText);
  m_globalSiteLink->SetLinkAddress(ManualAddress(kManualDrivesSection));
  m_globalSiteLink->SetLinkText(kDrivesLinkText);
  m_layout.Control(IDC_OK)->SetFocus();
  return true;
}

CDriveNoticeDlg::CDriveNoticeDlg(wxWindow* parent) : CLinkDialog(parent, kDriveNoticeTemplate) {
  m_siteLink = new CHyperLink();
  m_siteLink->Subclass(m_layout.Control(IDC_GLOBAL_SITE_LINK));
}

bool CDriveNoticeDlg::OnInitDialog() {
  m_siteLink->SetLinkAddress(ManualAddress(kManualDrivesSection));
  m_siteLink->SetLinkText(kDrivesLinkText);
  m_layout.Control(IDC_OK)->SetFocus();
  return true;
}
