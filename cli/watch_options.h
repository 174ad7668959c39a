// The options of `velmo-cli watch` and `--drive all`, read by the one
// command-line parser.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct CliOptions;

// One of --smart, --eject, --report-dir DIR, --count N at args[*i]: true when
// it was one (advancing *i past a separate value); *error is set, and true
// returned, when its value is wrong.
bool TakeWatchOption(const std::vector<std::string>& args, size_t* i, CliOptions* options,
                     std::string* error);

// An option given to a command it does not apply to; empty when all is well.
std::string CheckWatchOptions(const CliOptions& options);

// velmo-cli watch --help, without the common options.
std::string WatchUsage();
