#include "app/user_prompts.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/print.h>

#include "app/link_dialog.h"
#include "app/report_export.h"
#include "app/smart_mode_dlg.h"
#include "results/report_format.h"
#include "results/report_output.h"

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

bool CWxPrompts::SavePicturePath(wxWindow*, std::string* path) {
  wxFileDialog dialog(nullptr, "Save As", "", "TEFE", "Bitmap File (*.bmp)|*.bmp", wxFD_SAVE);
  if (dialog.ShowModal() != wxID_OK) return false;
  *path = dialog.GetPath().utf8_string();
  return true;
}

bool CWxPrompts::OpenRecordPath(wxWindow* parent, std::string* path) {
  wxFileDialog dialog(parent, "Open Record", "", "", "Scan records (*.json)|*.json|All files|*",
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return false;
  *path = dialog.GetPath().utf8_string();
  return true;
}

bool CWxPrompts::ReportPath(wxWindow* parent, const std::string& defaultName, std::string* path) {
  wxFileDialog dialog(parent, "Export Report", "", wxString::FromUTF8(defaultName),
                      ExportReportWildcard(), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) return false;
  *path = dialog.GetPath().utf8_string();
  ReportFormat format = ExportReportTypeAt(dialog.GetFilterIndex());
  if (!ReportFormatOfName(*path, &format))
    *path += std::string(".") + ReportFormatExtension(format);
  return true;
}

bool CWxPrompts::ReportFolder(wxWindow* parent, std::string* folder) {
  wxDirDialog dialog(parent, wxString::FromUTF8("Save a report of every run to…"));
  const bool chosen = dialog.ShowModal() == wxID_OK;
  *folder = dialog.GetPath().utf8_string();
  return chosen;
}

void CWxPrompts::Print(wxWindow* parent, wxPrintout& printout, wxPrintDialogData& data) {
  wxPrinter printer(&data);
  printer.Print(parent, &printout, true);
}

void CWxPrompts::SmartDialog(CSmartModeDlg& dialog) { dialog.ShowModal(); }
