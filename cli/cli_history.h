// Which history velmo-cli's commands on kept runs use, and how an opening
// that failed is said: the lab's (--history URL, VELMO_HISTORY) when one is
// set and --local was not given, else the station's own. Runs are always
// kept in the station's own first and pushed to the lab's after.
#pragma once

#include <cstdio>
#include <string>

class CHistory;
struct CliOptions;
struct ScanRecord;

inline constexpr int kExitRefused = 77;  // the lab's server does not allow it

// A file, or a lab's URL.
std::string CliHistoryLocation(const CliOptions& options);

// "the history", or "the lab history (URL with no password)".
std::string CliHistoryName(const std::string& location);

// Opens for reading (or, writing, for a change); 0, or the exit code after
// saying why on err: 65 a newer Velmo's, 75 a server that does not answer,
// 77 one that does not allow it, otherwise.
int OpenCliHistory(CHistory* history, const std::string& location, bool writing, int otherwise,
                   std::FILE* err);

// The exit code for a failed change or read of an open history.
int CliHistoryFailureExit(const CHistory& history, int otherwise);

// With a lab history set: sends the runs waiting in the station's history
// by a velmo-cli of its own, in the background, so the run that was just
// kept never waits for the server.
void StartBackgroundPush(const CliOptions& options);

// velmo-cli history push [--all] [--quiet]
int RunHistoryPush(const CliOptions& options, std::FILE* out, std::FILE* err);
