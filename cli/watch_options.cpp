#include "cli/watch_options.h"

#include <charconv>

#include "cli/cli_options.h"

namespace {

bool TakeValue(const std::vector<std::string>& args, size_t* i, const std::string& name,
               std::string* value) {
  const std::string& arg = args[*i];
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  if (arg == name && *i + 1 < args.size()) {
    *value = args[++*i];
    return true;
  }
  return false;
}

}  // namespace

bool TakeWatchOption(const std::vector<std::string>& args, size_t* i, CliOptions* options,
                     std::string* error) {
  const std::string& arg = args[*i];
  std::string value;
  if (arg == "--smart") {
    options->smart = true;
  } else if (arg == "--eject") {
    options->eject = true;
  } else if (TakeValue(args, i, "--report-dir", &value)) {
    if (value.empty()) *error = "--report-dir needs a folder";
    options->reportDir = value;
  } else if (TakeValue(args, i, "--count", &value)) {
    int count = 0;
    const char* end = value.data() + value.size();
    const auto result = std::from_chars(value.data(), end, count);
    if (value.empty() || result.ec != std::errc() || result.ptr != end || count < 1) {
      *error = "--count needs a number of discs from 1, not '" + value + "'";
    }
    options->count = count;
  } else {
    return false;
  }
  return true;
}

bool WatchTakesScanOption(const std::string& name) {
  return name == "--speed" || name == "--density";
}

std::string CheckWatchOptions(const CliOptions& options) {
  const std::string& command = options.command;
  if (command.empty()) return "";
  if (command != "watch") {
    for (const auto& [given, name] : {std::pair{options.smart, "--smart"},
                                      std::pair{options.eject, "--eject"},
                                      std::pair{!options.reportDir.empty(), "--report-dir"},
                                      std::pair{options.count != 0, "--count"}}) {
      if (given) return std::string(name) + " applies to watch only, not to " + command;
    }
  }
  if (options.driveAll && command != "scan" && command != "smart" && command != "watch") {
    return "--drive all applies to scan, smart and watch, not to " + command;
  }
  return "";
}
