// The File menu's outputs: the window's picture (Save), the printed log
// (Ctrl+P), and the report of the run shown (Export Report, Print Report).
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/print.h>
#include <wx/utils.h>

#include "app/log_printout.h"
#include "app/report_export.h"
#include "app/report_printout.h"
#include "app/scan_dlg.h"
#include "app/window_capture.h"
#include "snapshot/bmp_file_name.h"

// What Export Report and Print Report report: the last run started here.
// The recorded run the window shows, else the last run started here.
std::vector<ScanRecord> CScanDlg::RunsToReport() const {
  if (m_book.Showing()) return {m_book.Shown()};
  const std::optional<ScanRecord> last = LastRunRecord();
  if (!last) return {};
  return {*last};
}

void CScanDlg::OnExportReport(wxCommandEvent&) { ExportReportOf(RunsToReport()); }

void CScanDlg::ExportReportOf(const std::vector<ScanRecord>& runs) {
  if (runs.empty()) {
    m_prompts->Message(this, "There is no run to report yet.");
    return;
  }
  std::string written, error;
  auto choosePath = [this](const std::string& name, std::string* path) {
    return m_prompts->ReportPath(this, name, path);
  };
  if (!ExportReport(runs, choosePath, &written, &error)) {
    m_prompts->Message(this, "The report could not be written: " + error);
  }
}

void CScanDlg::OnPrintReport(wxCommandEvent&) {
  std::vector<ScanRecord> runs = RunsToReport();
  if (runs.empty()) {
    m_prompts->Message(this, "There is no run to report yet.");
    return;
  }
  CReportPrintout printout(std::move(runs));
  wxPrintDialogData data;
  data.SetAllPages(true);
  data.SetMinPage(1);
  data.SetMaxPage(1);
  data.EnablePageNumbers(false);
  data.EnableSelection(false);
  m_prompts->Print(this, printout, data);
}

void CScanDlg::OnFilePrint(wxCommandEvent&) {
  wxPrintDialogData data;
  data.SetAllPages(true);
  data.SetMinPage(1);
  data.SetMaxPage(1);
  data.EnablePageNumbers(false);
  data.EnablePrintToFile(false);
  data.EnableSelection(false);
  CLogPrintout printout(kLogFileName,
                        [this](const std::string& text) { m_prompts->Message(this, text); });
  m_prompts->Print(nullptr, printout, data);
}

void CScanDlg::OnFileSave(wxCommandEvent&) {
  std::string path;
  if (!m_prompts->SavePicturePath(this, &path)) return;
  path = WithBmpExtension(path);
  wxFileName written(wxString::FromUTF8(path));
  written.MakeAbsolute();
  path = written.GetFullPath().utf8_string();

  // Half a second for the file dialog to leave the screen; the window
  // repaints what it uncovered meanwhile, as the picture is read from the
  // screen. Window-system events only: no click reaches the window, and no
  // control is greyed for the wait (it would be in the picture).
  const wxLongLong until = wxGetLocalTimeMillis() + 500;
  while (wxGetLocalTimeMillis() < until) {
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) {
      loop->YieldFor(wxEVT_CATEGORY_UI);
    } else {
      wxYield();
    }
    wxMilliSleep(10);
  }
  Update();

  SnapshotResult result;
  result.failedStep = SnapshotStep::kDescribe;
  wxWindow* top = wxGetTopLevelParent(this);
  if (top == nullptr || SaveWindowBitmap(top, path, &result) == 0 || !result.Succeeded()) {
    m_prompts->Message(this, "Fail to save file.");
    return;
  }
  // The folder of the file written becomes the working directory (not the
  // folder the dialog showed: a full path typed there can name another
  // one). The next run's TEFE.txt goes there, and Print reads it from there.
  // Only once written: a folder that refused the picture would refuse the
  // next run's log too.
  const std::string folder = written.GetPath().utf8_string();
  if (!folder.empty() && wxDirExists(wxString::FromUTF8(folder))) {
    wxSetWorkingDirectory(wxString::FromUTF8(folder));
  }
  m_prompts->Message(this, "Save successfully.");
}
