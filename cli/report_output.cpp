#include "cli/report_output.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "results/report_content.h"
#include "results/report_file_name.h"
#include "results/report_html.h"
#include "results/report_page.h"

const char* ReportFormatExtension(ReportFormat format) {
  switch (format) {
    case ReportFormat::kPng: return "png";
    case ReportFormat::kPdf: return "pdf";
    case ReportFormat::kHtml: return "html";
  }
  return "";
}

bool ReportFormatOfName(const std::string& name, ReportFormat* format) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "png") *format = ReportFormat::kPng;
  else if (ext == "pdf") *format = ReportFormat::kPdf;
  else if (ext == "html" || ext == "htm") *format = ReportFormat::kHtml;
  else return false;
  return true;
}

std::unique_ptr<CReportOutput> ReportOutputFor(const std::string& value, std::string* error) {
  ReportFormat format;
  for (ReportFormat bare : {ReportFormat::kPng, ReportFormat::kPdf, ReportFormat::kHtml}) {
    if (value == ReportFormatExtension(bare)) return std::make_unique<CReportOutput>(".", bare);
  }
  if (!ReportFormatOfName(value, &format)) {
    *error = "--report needs a file name ending in .png, .pdf or .html, not '" + value + "'";
    return nullptr;
  }
  return std::make_unique<CReportOutput>(value, format);
}

bool RenderReport(const std::vector<ScanRecord>& records, ReportFormat format, PaperSize paper,
                  std::string* bytes, std::string* error) {
  const ReportContent content = BuildReportContent(records);
  switch (format) {
    case ReportFormat::kPng: return RenderReportPng(content, paper, bytes, error);
    case ReportFormat::kPdf: return RenderReportPdf(content, paper, bytes, error);
    case ReportFormat::kHtml: return RenderReportHtml(content, bytes, error);
  }
  return false;
}

bool CReportOutput::IsDirectory() const {
  struct stat st;
  return m_path != "-" && stat(m_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CReportOutput::Open(std::string* error) {
  if (m_path == "-" || IsDirectory()) return true;
  return m_file.Open(m_path, error);
}

bool CReportOutput::Write(const std::vector<ScanRecord>& records, PaperSize paper,
                          std::FILE* stdoutFile, std::string* written, std::string* error) {
  std::string bytes;
  if (records.empty() || !RenderReport(records, m_format, paper, &bytes, error)) {
    if (records.empty()) *error = "no record to report";
    return false;
  }
  if (m_path == "-") {
    *written = "-";
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdoutFile) != bytes.size() ||
        std::fflush(stdoutFile) != 0) {
      *error = std::string("standard output: ") + std::strerror(errno);
      return false;
    }
    return true;
  }
  if (!m_file.IsOpen()) {
    std::string path = m_path;
    if (IsDirectory()) {
      if (path.back() != '/') path += '/';
      path += DefaultReportFileName(records.front(), ReportFormatExtension(m_format),
                                    records.size());
    }
    if (!m_file.Open(path, error)) return false;
    m_path = path;
  }
  *written = m_path;
  return m_file.Commit(bytes, error);
}
