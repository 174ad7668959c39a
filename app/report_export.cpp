#include "app/report_export.h"

#include "results/report_file_name.h"
#include "results/report_output.h"

const char kReportFileTypes[] =
    "PDF document (*.pdf)|*.pdf|PNG picture (*.png)|*.png|HTML page (*.html)|*.html";

bool ExportReport(const std::vector<ScanRecord>& records,
                  const std::function<bool(const std::string&, std::string*)>& choosePath,
                  std::string* written, std::string* error) {
  written->clear();
  if (records.empty()) {
    *error = "There is no run to report yet.";
    return false;
  }
  const std::string defaultName = DefaultReportFileName(records.front(), "pdf", records.size());
  std::string path;
  if (!choosePath(defaultName, &path)) return true;
  ReportFormat format = ReportFormat::kPdf;
  if (!ReportFormatOfName(path, &format)) path += std::string(".") + ReportFormatExtension(format);
  // The one writer of report files, as velmo-cli's.
  CReportOutput output(path, format);
  if (!output.Open(error)) return false;
  return output.Write(records, PaperSizeFromEnvironment(), written, error);
}
