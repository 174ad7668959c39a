// File, Export Report...: the report of the window's run (or runs) to a
// file chosen in a file dialog offering every report format, under the
// default name velmo-YYYYMMDD-HHMMSS-MID-SPEED.ext.
//
// UI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "results/report_format.h"
#include "results/scan_record.h"

class wxWindow;

// The file dialog's types, the export default (PDF) first, and its wildcard.
std::vector<ReportFormat> ExportReportTypes();
std::string ExportReportWildcard();
// The format of the type chosen; the first for an index out of range.
ReportFormat ExportReportTypeAt(int filterIndex);

// pathHook stands in for the file dialog in tests: it gets the default name
// and gives the chosen path (false: cancelled). The format comes from the
// name's extension, else from the type chosen (and its extension is added).
// False with *error when the report could not be written; a cancel is true.
bool ExportReport(
    wxWindow* parent, const std::vector<ScanRecord>& records,
    const std::function<bool(const std::string& defaultName, std::string* path)>& pathHook,
    std::string* written, std::string* error);
