#include "app/user_prompts.h"

#include <wx/msgdlg.h>

#include "app/link_dialog.h"

void CWxPrompts::Message(wxWindow* parent, const std::string& text, const std::string& caption) {
  wxMessageDialog box(parent, wxString::FromUTF8(text),
                      wxString::FromUTF8(caption.empty() ? kAppName : caption), wxOK);
  box.ShowModal();
}

void CWxPrompts::DriveNotice(wxWindow*) {
  CDriveNoticeDlg notice;
  notice.OnInitDialog();
  notice.ShowModal();
}

void CWxPrompts::About(wxWindow*) {
  CAboutDlg about;
  about.OnInitDialog();
  about.ShowModal();
}
