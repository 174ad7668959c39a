// The kinds of report file, one row each, and the one function that renders
// a report of records in any of them; both front ends write what it returns.
// Options, help texts, the file dialog and the renderer all read the table,
// so a new kind is its enum value, its row and its renderer; a value
// without its row does not compile.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "records/scan_record.h"
#include "reports/paper_size.h"

struct ReportContent;

#define VELMO_REPORT_FORMATS(X) X(kPng) X(kPdf) X(kHtml)

enum class ReportFormat {
#define VELMO_REPORT_FORMAT_VALUE(name) name,
  VELMO_REPORT_FORMATS(VELMO_REPORT_FORMAT_VALUE)
#undef VELMO_REPORT_FORMAT_VALUE
};

#define VELMO_REPORT_FORMAT_ONE(name) +1
inline constexpr size_t kReportFormatCount = 0 VELMO_REPORT_FORMATS(VELMO_REPORT_FORMAT_ONE);
#undef VELMO_REPORT_FORMAT_ONE

struct ReportFormatRow {
  ReportFormat format;
  const char* extension;       // "png": the file's, the bare word of scan --report
  const char* otherExtension;  // also taken from a file name ("htm"); null for none
  const char* option;          // report's option naming a file of it ("--png")
  const char* mimeType;
  const char* fileType;    // the file dialog's label ("PNG picture")
  const char* optionHelp;  // what report --help says of the option
  bool exportDefault;      // the window's Export offers it first
  bool (*render)(const ReportContent& content, PaperSize paper, std::string* bytes,
                 std::string* error);
};

// One row per value, in the enum's order, which help texts and error
// messages follow.
std::span<const ReportFormatRow> ReportFormats();
const ReportFormatRow& ReportFormatRowOf(ReportFormat format);

const char* ReportFormatExtension(ReportFormat format);  // "png", "pdf", "html"
// From a file name's extension (case-insensitive); false for any other.
bool ReportFormatOfName(const std::string& name, ReportFormat* format);

// One word per format joined for a text: ("|", "|") gives "png|pdf|html",
// (", ", " or ") "png, pdf or html"; word picks what of each row is said.
std::string ReportFormatWords(std::string (*word)(const ReportFormatRow& row),
                              const char* separator, const char* lastSeparator);

// The report of records (several: a comparison) in a format; false with *error.
bool RenderReport(const std::vector<ScanRecord>& records, ReportFormat format, PaperSize paper,
                  std::string* bytes, std::string* error);
