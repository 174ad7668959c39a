// File, Export Report...: the report of the window's run (or runs) to a
// file chosen in a file dialog offering every report format
// (UserPrompts::ReportPath), under the default name
// velmo-YYYYMMDD-HHMMSS-MID-SPEED.ext.
//
// UI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "records/scan_record.h"
#include "reports/report_format.h"

// The file dialog's types, the export default (PDF) first, and its wildcard.
std::vector<ReportFormat> ExportReportTypes();
std::string ExportReportWildcard();
// The format of the type chosen; the first for an index out of range.
ReportFormat ExportReportTypeAt(int filterIndex);
// The path the dialog gives back once a type was chosen: the name typed with
// that type's extension, in place of another report type's (the default
// name's ".pdf" after PNG was picked), else added.
std::string ReportPathOfType(const std::string& typed, ReportFormat type);

// choosePath gets the default name and gives the chosen path (false:
// cancelled). The format comes from the name's extension (a PDF without
// one). False with *error when the report could not be written; a cancel
// is true.
bool ExportReport(
    const std::vector<ScanRecord>& records,
    const std::function<bool(const std::string& defaultName, std::string* path)>& choosePath,
    std::string* written, std::string* error);
