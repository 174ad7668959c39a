#include "app/report_export.h"

#include "reports/report_file_name.h"
#include "reports/report_output.h"

std::vector<ReportFormat> ExportReportTypes() {
  std::vector<ReportFormat> types;
  for (const ReportFormatRow& row : ReportFormats()) {
    if (row.exportDefault) types.insert(types.begin(), row.format);
    if (!row.exportDefault) types.push_back(row.format);
  }
  return types;
}

std::string ExportReportWildcard() {
  std::string wildcard;
  for (ReportFormat format : ExportReportTypes()) {
    const ReportFormatRow& row = ReportFormatRowOf(format);
    const std::string pattern = std::string("*.") + row.extension;
    wildcard +=
        (wildcard.empty() ? "" : "|") + std::string(row.fileType) + " (" + pattern + ")|" + pattern;
  }
  return wildcard;
}

ReportFormat ExportReportTypeAt(int filterIndex) {
  const std::vector<ReportFormat> types = ExportReportTypes();
  const bool inRange = filterIndex >= 0 && static_cast<size_t>(filterIndex) < types.size();
  return types[inRange ? static_cast<size_t>(filterIndex) : 0];
}

std::string ReportPathOfType(const std::string& typed, ReportFormat type) {
  ReportFormat named = type;
  if (!ReportFormatOfName(typed, &named)) return typed + "." + ReportFormatExtension(type);
  if (named == type) return typed;  // "report.htm" stays an HTML page's name
  return typed.substr(0, typed.rfind('.') + 1) + ReportFormatExtension(type);
}

bool ExportReport(const std::vector<ScanRecord>& records,
                  const std::function<bool(const std::string&, std::string*)>& choosePath,
                  std::string* written, std::string* error) {
  written->clear();
  if (records.empty()) {
    *error = "There is no run to report yet.";
    return false;
  }
  const std::string defaultName = DefaultReportFileName(
      records.front(), ReportFormatExtension(ExportReportTypeAt(0)), records.size());
  std::string path;
  if (!choosePath(defaultName, &path)) return true;
  ReportFormat format = ExportReportTypeAt(0);
  if (!ReportFormatOfName(path, &format)) path += std::string(".") + ReportFormatExtension(format);
  // The one writer of report files, as velmo-cli's.
  CReportOutput output(path, format);
  if (!output.Open(error)) return false;
  return output.Write(records, PaperSizeFromEnvironment(), written, error);
}
