// The two small dialogs that carry links into the user's manual: About
// (template 100) and the notice for a drive that refuses the diagnostic mode
// (template 141). Each closes by OK, Enter, Escape or the close box.
//
// UI thread only.
#pragma once

#include <wx/dialog.h>

#include "app/dialog_layout.h"
#include "app/hyper_link.h"

// The links' texts; each link's tooltip is its address.
inline constexpr char kManualLinkText[] = "Velmo manual";
inline constexpr char kDrivesLinkText[] = "Velmo manual: Using a real drive";

class CLinkDialog : public wxDialog {
 public:
  const CDialogLayout& Layout() const { return m_layout; }

 protected:
  CLinkDialog(wxWindow* parent, const DialogTemplate& dialog);
  CDialogLayout m_layout;
};

class CAboutDlg : public CLinkDialog {
 public:
  explicit CAboutDlg(wxWindow* parent = nullptr);
  bool OnInitDialog();
  CHyperLink& SupportSiteLink() { return *m_supportSiteLink; }
  CHyperLink& GlobalSiteLink() { return *m_globalSiteLink; }

 private:
  CHyperLink* m_supportSiteLink = nullptr;
  CHyperLink* m_globalSiteLink = nullptr;
};

class CDriveNoticeDlg : public CLinkDialog {
 public:
  explicit CDriveNoticeDlg(wxWindow* parent = nullptr);
  bool OnInitDialog();
  CHyperLink& SiteLink() { return *m_siteLink; }

 private:
  CHyperLink* m_siteLink = nullptr;
};
