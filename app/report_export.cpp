#include "app/report_export.h"

#include <wx/filedlg.h>

#include "results/report_file_name.h"
#include "results/report_output.h"

const char kReportFileTypes[] =
    "PDF document (*.pdf)|*.pdf|PNG picture (*.png)|*.png|HTML page (*.html)|*.html";

namespace {

constexpr ReportFormat kTypeOrder[] = {ReportFormat::kPdf, ReportFormat::kPng, ReportFormat::kHtml};

}  // namespace

bool ExportReport(wxWindow* parent, const std::vector<ScanRecord>& records,
                  const std::function<bool(const std::string&, std::string*)>& pathHook,
                  std::string* written, std::string* error) {
  written->clear();
  if (records.empty()) {
    *error = "There is no run to report yet.";
    return false;
  }
  const std::string defaultName = DefaultReportFileName(records.front(), "pdf", records.size());
  std::string path;
  int typeIndex = 0;
  if (pathHook) {
    if (!pathHook(defaultName, &path)) return true;
  } else {
    wxFileDialog dialog(parent, "Export Report", "", wxString::FromUTF8(defaultName),
                        kReportFileTypes, wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK) return true;
    path = dialog.GetPath().utf8_string();
    typeIndex = dialog.GetFilterIndex();
  }
  ReportFormat format = kTypeOrder[typeIndex >= 0 && typeIndex < 3 ? typeIndex : 0];
  if (!ReportFormatOfName(path, &format)) path += std::string(".") + ReportFormatExtension(format);
  // The one writer of report files, as velmo-cli's.
  CReportOutput output(path, format);
  if (!output.Open(error)) return false;
  return output.Write(records, PaperSizeFromEnvironment(), written, error);
}
