#include "results/report_format.h"

#include "results/report_content.h"
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
  if (ext == "png") {
    *format = ReportFormat::kPng;
  } else if (ext == "pdf") {
    *format = ReportFormat::kPdf;
  } else if (ext == "html" || ext == "htm") {
    *format = ReportFormat::kHtml;
  } else {
    return false;
  }
  return true;
}

bool RenderReport(const std::vector<ScanRecord>& records, ReportFormat format, PaperSize paper,
                  std::string* bytes, std::string* error) {
  if (records.empty()) {
    *error = "no run to report";
    return false;
  }
  const ReportContent content = BuildReportContent(records);
  switch (format) {
    case ReportFormat::kPng: return RenderReportPng(content, paper, bytes, error);
    case ReportFormat::kPdf: return RenderReportPdf(content, paper, bytes, error);
    case ReportFormat::kHtml: return RenderReportHtml(content, bytes, error);
  }
  return false;
}
