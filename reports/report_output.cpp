#include "reports/report_output.h"

#include <sys/stat.h>

#include "reports/report_file_name.h"

std::unique_ptr<CReportOutput> ReportOutputFor(const std::string& value, std::string* error) {
  for (const ReportFormatRow& row : ReportFormats()) {
    if (value == row.extension) return std::make_unique<CReportOutput>(".", row.format);
  }
  ReportFormat format;
  if (!ReportFormatOfName(value, &format)) {
    *error = "--report needs a file name ending in " +
             ReportFormatWords(
                 [](const ReportFormatRow& row) { return "." + std::string(row.extension); }, ", ",
                 " or ") +
             ", not '" + value + "'";
    return nullptr;
  }
  return std::make_unique<CReportOutput>(value, format);
}

bool CReportOutput::IsDirectory() const {
  struct stat st;
  return m_path != "-" && stat(m_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CReportOutput::Open(std::string* error) {
  // The default name is made from the run: its folder is what can be claimed.
  if (IsDirectory()) {
    if (CheckOutputFolder(m_path, error)) return true;
    *error = "a report in " + *error;
    return false;
  }
  return m_file.Open(m_path, error);
}

bool CReportOutput::Write(const std::vector<ScanRecord>& records, PaperSize paper,
                          std::string* written, std::string* error) {
  std::string bytes;
  if (!RenderReport(records, m_format, paper, &bytes, error)) return false;
  if (!m_file.IsOpen()) {
    std::string path = m_path;
    if (IsDirectory()) {
      if (path.back() != '/') path += '/';
      path +=
          DefaultReportFileName(records.front(), ReportFormatExtension(m_format), records.size());
    }
    if (!m_file.Open(path, error)) return false;
    m_path = path;
  }
  *written = m_path;
  return m_file.Commit(bytes, error);
}
