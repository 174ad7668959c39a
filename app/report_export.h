// File, Export Report...: the report of the window's run (or runs) to a
// PNG, PDF or HTML file chosen in a file dialog offering the three types
// (UserPrompts::ReportPath), under the default name
// velmo-YYYYMMDD-HHMMSS-MID-SPEED.ext.
//
// UI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "results/scan_record.h"

// The wildcard of the file dialog, PDF first.
extern const char kReportFileTypes[];

// choosePath gets the default name and gives the chosen path (false:
// cancelled). The format comes from the name's extension (a PDF without
// one). False with *error when the report could not be written; a cancel
// is true.
bool ExportReport(
    const std::vector<ScanRecord>& records,
    const std::function<bool(const std::string& defaultName, std::string* path)>& choosePath,
    std::string* written, std::string* error);
