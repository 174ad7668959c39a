#include "cli/watch_options.h"

#include <charconv>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"

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

std::string CheckWatchOptions(const CliOptions& options) {
  const std::string& command = options.command;
  if (command.empty()) return "";
  const CliCommand* row = FindCliCommand(command);
  const unsigned takes = row != nullptr ? row->flags : 0;
  if ((takes & kTakesWatchOptions) == 0) {
    for (const auto& [given, name] :
         {std::pair{options.smart, "--smart"}, std::pair{options.eject, "--eject"},
          std::pair{!options.reportDir.empty(), "--report-dir"},
          std::pair{options.count != 0, "--count"}}) {
      if (given) return std::string(name) + " applies to watch only, not to " + command;
    }
  }
  if (options.driveAll && (takes & kTakesDriveAll) == 0) {
    return "--drive all applies to scan, smart, watch and recover, not to " + command;
  }
  return "";
}

std::string WatchUsage() {
  return "usage: velmo-cli [options] watch [--drive N|all] [--speed X] [--density D] [--smart]\n"
         "                 [--eject] [--report-dir DIR] [--count N]\n"
         "\n"
         "Waits for a disc and scans every blank, supported one that arrives, then waits\n"
         "for the next: one line per disc, in columns (time, drive, disc type,\n"
         "manufacturer ID, speed, outcome, max TE, max FE). Other discs get a line as\n"
         "skipped, and the disc Ctrl-C stops as aborted. A disc's log (NAME-TEFE.txt),\n"
         "record (NAME.json) and report (NAME.pdf) share one NAME,\n"
         "velmo-YYYYMMDD-HHMMSS-dDRIVE-K (the Kth disc). Ctrl-C ends the watch with a\n"
         "summary whose counts add up to the discs seen.\n"
         "\n"
         "  --speed SPEED          scan at this write speed (default: the first the disc lists);\n"
         "                         a disc that does not offer it is skipped\n"
         "  --density D            normal, full or quick (default normal)\n"
         "  --smart                a Smart Scan of each disc instead of a scan\n"
         "  --eject                eject each disc when done (skipped ones too)\n"
         "  --report-dir DIR       logs, records and a PDF report of each disc go here\n"
         "                         (default: logs and records in the working directory)\n"
         "  --count N              stop after N discs\n"
         "  --no-history           do not hand the runs to the history\n"
         "  --drive all            watch every supported drive at once\n";
}
