#include "reports/report_format.h"

#include <array>

#include "reports/report_html.h"
#include "reports/report_page.h"

namespace {

constexpr std::array<ReportFormatRow, kReportFormatCount> kReportFormatRows = {{
    {ReportFormat::kPng, "png", nullptr, "--png", "image/png", "PNG picture",
     "the page as a picture (144 dpi)", false,
     [](const ReportContent& content, PaperSize paper, std::string* bytes, std::string* error) {
       return RenderReportPng(content, paper, bytes, error);
     }},
    {ReportFormat::kPdf, "pdf", nullptr, "--pdf", "application/pdf", "PDF document",
     "the pages as a PDF with searchable text", true,
     [](const ReportContent& content, PaperSize paper, std::string* bytes, std::string* error) {
       return RenderReportPdf(content, paper, bytes, error);
     }},
    // The page is laid out by the browser: no paper size.
    {ReportFormat::kHtml, "html", "htm", "--html", "text/html", "HTML page",
     "one self-contained HTML file (chart embedded)", false,
     [](const ReportContent& content, PaperSize, std::string* bytes, std::string* error) {
       return RenderReportHtml(content, bytes, error);
     }},
}};

// A value without its row leaves a row of nulls at its place. (Whether a
// function's address is null is no constant under the sanitizers, so the
// renderer is not asked.)
constexpr bool EachReportFormatHasItsRow() {
  for (size_t i = 0; i < kReportFormatRows.size(); ++i) {
    const ReportFormatRow& row = kReportFormatRows[i];
    if (row.format != static_cast<ReportFormat>(i) || row.extension == nullptr) return false;
  }
  return true;
}
static_assert(EachReportFormatHasItsRow(), "each report format has its row, in the enum's order");

}  // namespace

std::span<const ReportFormatRow> ReportFormats() { return kReportFormatRows; }

const ReportFormatRow& ReportFormatRowOf(ReportFormat format) {
  return kReportFormatRows[static_cast<size_t>(format)];
}

const char* ReportFormatExtension(ReportFormat format) {
  return ReportFormatRowOf(format).extension;
}

bool ReportFormatOfName(const std::string& name, ReportFormat* format) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const ReportFormatRow& row : ReportFormats()) {
    if (ext == row.extension || (row.otherExtension != nullptr && ext == row.otherExtension)) {
      *format = row.format;
      return true;
    }
  }
  return false;
}

std::string ReportFormatWords(std::string (*word)(const ReportFormatRow& row),
                              const char* separator, const char* lastSeparator) {
  const std::span<const ReportFormatRow> rows = ReportFormats();
  std::string text;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) text += i + 1 == rows.size() ? lastSeparator : separator;
    text += word(rows[i]);
  }
  return text;
}

bool RenderReport(const std::vector<ScanRecord>& records, ReportFormat format, PaperSize paper,
                  std::string* bytes, std::string* error) {
  if (records.empty()) {
    *error = "no run to report";
    return false;
  }
  return ReportFormatRowOf(format).render(BuildReportContent(records), paper, bytes, error);
}
