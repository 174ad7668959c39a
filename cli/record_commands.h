// The commands on kept runs: `velmo-cli history`, `show` and `compare`, and
// the hook that keeps every scan and Smart Scan run in the history.
// Exit codes: 0, 64 usage error, 65 a file or stored run that is not a
// record this program reads (too large, nested too deeply, ...) or a history
// written by a newer Velmo, 66 no such file or run, a record that is no
// regular file or cannot be read, or no history, 73 the chart cannot be
// written.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "records/scan_record.h"

struct CliOptions;

inline constexpr int kExitBadRecord = 65;
inline constexpr int kExitNoRecord = 66;

// Keeps a run in the history unless --no-history was given. A history that
// cannot be opened or written is said once on err; the run's own result
// stands.
void KeepInHistory(const ScanRecord& record, const CliOptions& options, std::FILE* err);

// The record of a run named as show names it: a history ID or a record
// file. 0, or the exit code with the reason on err.
int LoadNamedRun(const std::string& what, const CliOptions& options, ScanRecord* record,
                 std::FILE* err);

int RunHistoryCommand(const CliOptions& options, std::FILE* out, std::FILE* err);
int RunShowCommand(const CliOptions& options, std::FILE* out, std::FILE* err);
int RunCompareCommand(const CliOptions& options, std::FILE* out, std::FILE* err);

std::string RecordCommandUsage(const std::string& command);

struct HistoryFilter;

// history's arguments into a filter; false with *error on a usage error.
// *wide: --wide was given (refused where wide is null).
bool ParseHistoryFilter(const std::vector<std::string>& args, HistoryFilter* filter, bool* json,
                        std::string* error, bool* wide = nullptr);
