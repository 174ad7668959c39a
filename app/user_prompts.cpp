#include "app/user_prompts.h"

#include <wx/msgdlg.h>

void CWxPrompts::Message(wxWindow* parent, const std::string& text, const std::string& caption) {
  wxMessageDialog box(parent, wxString::FromUTF8(text),
                      wxString::FromUTF8(caption.empty() ? kAppName : caption), wxOK);
  box.ShowModal();
}

// Until the notice dialog of its own exists, a plain modal box says the same.
void CWxPrompts::DriveNotice(wxWindow* parent) {
  wxMessageDialog box(parent,
                      "This drive does not accept the diagnostic mode, so it cannot test "
                      "discs.\nChoose another drive in the list.",
                      kAppName, wxOK | wxICON_INFORMATION);
  box.ShowModal();
}

void CWxPrompts::About(wxWindow* parent) {
  wxMessageDialog box(parent, "Velmo Version 1.0", kAppName, wxOK | wxICON_INFORMATION);
  box.ShowModal();
}
