// Managing the history from velmo-cli: `history delete`, `prune`, `export`
// and `import`. Export writes every run as one JSON line ({"id", "host",
// "record"}); import reads those lines, or record files, into this history,
// passing over runs it already holds, so that gathering the histories of
// several computers into one may be repeated. Exit codes as the record
// commands': 0, 64 usage, 65 input that is no record (nothing of it kept)
// or a newer history, 66 no such file or run, 73 the history or the export
// cannot be written.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct CliOptions;

// Whether history's arguments name one of these (its first argument).
bool IsHistorySubcommand(const std::vector<std::string>& args);

// Prune asks on standard input when it is a terminal; import reads "-" from
// it.
int RunHistorySubcommand(const CliOptions& options, std::FILE* out, std::FILE* err);
