#include "app/user_prompts.h"

#include <wx/dirdlg.h>
#include <wx/display.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/print.h>

#include <gtk/gtk.h>

#include <algorithm>

#include "app/lab_history_dlg.h"
#include "app/link_dialog.h"
#include "app/report_export.h"
#include "app/smart_mode_dlg.h"
#include "reports/report_format.h"
#include "reports/report_output.h"

namespace {

// GTK's file chooser sizes itself from what it remembers or from its
// contents, taller than a 768-pixel screen: its name field and buttons
// would be off the bottom. Capped by the display's work area, hints and all,
// so a later resize of its own cannot grow it back.
void FitToScreen(wxTopLevelWindow& dialog, wxWindow* parent) {
  const int index = parent != nullptr ? wxDisplay::GetFromWindow(parent) : wxNOT_FOUND;
  const wxRect area =
      wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index)).GetClientArea();
  // Room for a title bar the window manager adds.
  const int height = std::max(area.height - kTitleBarRoom, 200);
  const int width = std::max(area.width - kTitleBarRoom, 320);
  GtkWidget* widget = dialog.GetHandle();
  if (widget == nullptr || !GTK_IS_WINDOW(widget)) return;
  GdkGeometry hints{};
  hints.max_width = width;
  hints.max_height = height;
  gtk_window_set_geometry_hints(GTK_WINDOW(widget), nullptr, &hints, GDK_HINT_MAX_SIZE);
  // A size it remembers from a larger screen is cut down too; none is left
  // to GTK.
  gint rememberedWidth = 0, rememberedHeight = 0;
  gtk_window_get_default_size(GTK_WINDOW(widget), &rememberedWidth, &rememberedHeight);
  if (rememberedWidth > width || rememberedHeight > height) {
    gtk_window_set_default_size(GTK_WINDOW(widget), std::min(rememberedWidth, width),
                                std::min(rememberedHeight, height));
  }
}

}  // namespace

void CWxPrompts::Message(wxWindow* parent, const std::string& text, const std::string& caption) {
  wxMessageDialog box(parent, wxString::FromUTF8(text),
                      wxString::FromUTF8(caption.empty() ? kAppName : caption), wxOK);
  box.ShowModal();
}

bool CWxPrompts::Confirm(wxWindow* parent, const std::string& question, const std::string& detail,
                         const std::string& action) {
  // Cancel is the default: Enter alone never destroys anything.
  wxMessageDialog box(parent, wxString::FromUTF8(question), kAppName,
                      wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
  box.SetExtendedMessage(wxString::FromUTF8(detail));
  box.SetYesNoLabels(wxString::FromUTF8(action), "Cancel");
  return box.ShowModal() == wxID_YES;
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

bool CWxPrompts::SavePicturePath(wxWindow* parent, std::string* path) {
  wxFileDialog dialog(nullptr, "Save As", "", "TEFE", "Bitmap File (*.bmp)|*.bmp", wxFD_SAVE);
  FitToScreen(dialog, parent);
  if (dialog.ShowModal() != wxID_OK) return false;
  *path = dialog.GetPath().utf8_string();
  return true;
}

bool CWxPrompts::OpenRecordPath(wxWindow* parent, std::string* path) {
  wxFileDialog dialog(parent, "Open Record", "", "", "Scan records (*.json)|*.json|All files|*",
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  FitToScreen(dialog, parent);
  if (dialog.ShowModal() != wxID_OK) return false;
  *path = dialog.GetPath().utf8_string();
  return true;
}

bool CWxPrompts::ReportPath(wxWindow* parent, const std::string& defaultName, std::string* path) {
  wxFileDialog dialog(parent, "Export Report", "", wxString::FromUTF8(defaultName),
                      ExportReportWildcard(), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  FitToScreen(dialog, parent);
  if (dialog.ShowModal() != wxID_OK) return false;
  *path =
      ReportPathOfType(dialog.GetPath().utf8_string(), ExportReportTypeAt(dialog.GetFilterIndex()));
  return true;
}

bool CWxPrompts::ReportFolder(wxWindow* parent, std::string* folder) {
  wxDirDialog dialog(parent, wxString::FromUTF8("Save a report of every run to…"));
  FitToScreen(dialog, parent);
  const bool chosen = dialog.ShowModal() == wxID_OK;
  *folder = dialog.GetPath().utf8_string();
  return chosen;
}

void CWxPrompts::Print(wxWindow* parent, wxPrintout& printout, wxPrintDialogData& data) {
  wxPrinter printer(&data);
  printer.Print(parent, &printout, true);
}

void CWxPrompts::SmartDialog(CSmartModeDlg& dialog) { dialog.ShowModal(); }

bool CWxPrompts::LabHistoryDialog(CLabHistoryDlg& dialog) { return dialog.ShowModal() == wxID_OK; }
