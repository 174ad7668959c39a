// The three kinds of report file and the one function that renders a
// report of records in any of them; both front ends write what it returns.
#pragma once

#include <string>
#include <vector>

#include "results/paper_size.h"
#include "results/scan_record.h"

enum class ReportFormat { kPng, kPdf, kHtml };

const char* ReportFormatExtension(ReportFormat format);  // "png", "pdf", "html"
// From a file name's extension (case-insensitive; .htm too); false for any other.
bool ReportFormatOfName(const std::string& name, ReportFormat* format);

// The report of records (several: a comparison) in a format; false with *error.
bool RenderReport(const std::vector<ScanRecord>& records, ReportFormat format, PaperSize paper,
                  std::string* bytes, std::string* error);
