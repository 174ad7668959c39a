// velmo-cli report ID|FILE [ID|FILE...] [--png FILE] [--pdf FILE] [--html FILE]
// [--paper a4|letter]: the report of kept runs; several make a comparison.
#pragma once

#include <cstdio>
#include <string>

struct CliOptions;

// The command's help text.
std::string ReportCommandUsage();

int RunReportCommand(const CliOptions& options, std::FILE* out, std::FILE* err);
