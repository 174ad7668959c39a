#include "cli/cli_options.h"

#include <algorithm>
#include <array>
#include <utility>

#include "cli/cli_commands.h"
#include "cli/watch_options.h"
#include "console/disc_range.h"
#include "console/scan_run.h"
#include "console/smart_scan.h"
#include "history/lab_history.h"
#include "reports/report_format.h"
#include "reports/report_output.h"
#include "session/terminal_text.h"

namespace {

constexpr std::array<SpeedCode, 7> kAllSpeeds = {kSpeed2_4X, kSpeed4X,  kSpeed6X, kSpeed8X,
                                                 kSpeed10X,  kSpeed12X, kSpeed16X};

// "4X" and "4x" alike.
std::optional<SpeedCode> ParseSpeed(const std::string& text) {
  std::string label = text;
  if (!label.empty() && label.back() == 'x') label.back() = 'X';
  for (SpeedCode code : kAllSpeeds) {
    if (label == SpeedLabel(code)) return code;
  }
  return std::nullopt;
}

std::string AllSpeedLabels() {
  std::string labels;
  for (SpeedCode code : kAllSpeeds) {
    labels += (labels.empty() ? "" : "|") + std::string(SpeedLabel(code));
  }
  return labels;
}

// -d N, -s X, -q, -V, -h (and -dN, -sX) as their long names, in place.
void LongNameOf(std::vector<std::string>* args, size_t i) {
  static const std::pair<char, const char*> kShort[] = {
      {'d', "--drive"}, {'s', "--speed"}, {'q', "--quiet"}, {'V', "--version"}, {'h', "--help"}};
  std::string& arg = (*args)[i];
  if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-') return;
  for (const auto& [letter, name] : kShort) {
    if (arg[1] != letter) continue;
    const bool takesValue = letter == 'd' || letter == 's';
    if (arg.size() == 2) {
      arg = name;
    } else if (takesValue) {
      arg = std::string(name) + "=" + arg.substr(2);
    }
    return;
  }
}

// "scan", "scan and smart", "scan, smart and watch": the commands taking bit.
std::string CommandsTaking(unsigned bit) {
  std::vector<std::string> names;
  for (const CliCommand& command : CliCommands()) {
    if ((command.flags & bit) != 0) names.push_back(command.name);
  }
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

std::string HelpHint(const std::string& command) {
  const CliCommand* row = FindCliCommand(command);
  if (row == nullptr || row->usage == nullptr) return kCliHelpHint;
  return "try 'velmo-cli " + command + " --help'";
}

int CliUsageError(std::FILE* err, const std::string& command, const std::string& message) {
  std::fprintf(err, "velmo-cli: %s; %s\n", TerminalText(message).c_str(),
               HelpHint(command).c_str());
  return kExitUsage;
}

std::string CommandNamedIn(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (FindCliCommand(arg) != nullptr) return arg;
  }
  return "";
}

bool IsRecordCommand(const std::string& command) {
  const CliCommand* row = FindCliCommand(command);
  return row != nullptr && row->RunKind() == kRunsOnRecords;
}

namespace {

// The "commands:" part of velmo-cli --help, one line per row of the table.
std::string CommandSummaries() {
  std::string text = "commands:\n";
  for (const CliCommand& command : CliCommands()) {
    std::string name = command.name;
    name.resize(std::max<size_t>(name.size() + 1, 10), ' ');
    text += "  " + name + command.summary + "\n";
  }
  return text;
}

// The option behind a name velmo-cli's parser took, as a CliOptionSet bit.
unsigned OptionBit(const std::string& name) {
  static const std::pair<const char*, unsigned> kBits[] = {
      {"--speed", kTakesSpeed},       {"--density", kTakesDensity}, {"--log", kTakesLog},
      {"--csv", kTakesCsv},           {"--json", kTakesJson},       {"--chart", kTakesChart},
      {"--chart-range", kTakesChart}, {"--report", kTakesReport},   {"--from", kTakesPart},
      {"--to", kTakesPart},           {"--resume", kTakesPart},     {"--long", kTakesLong}};
  for (const auto& [option, bit] : kBits) {
    if (name == option) return bit;
  }
  return 0;
}

}  // namespace

std::string CliUsage() {
  const std::string extensions = ReportFormatWords(
      [](const ReportFormatRow& row) { return std::string(row.extension); }, "|", "|");
  return "usage: velmo-cli [--simulate[=SCENARIO]] [--transport=spti|aspi] [--sim-latency=MS]\n"
         "                 [--drive N|all] [--trace=FILE] [--quiet] COMMAND\n" +
         CliCommandSynopses() + "\n" + CommandSummaries() +
         "\n"
         "scan options:\n"
         "  -s, --speed 2.4X|4X|6X|8X|10X|12X|16X\n"
         "                         one of the disc's write speeds (default: the first it lists)\n"
         "  --density normal|full|quick\n"
         "                         how closely the disc is sampled (default normal)\n"
         "  --log FILE             the scan log (default TEFE.txt)\n"
         "  --csv FILE             every sample as CSV\n"
         "  --json FILE            the run as a scan record (JSON; smart too); drives and\n"
         "                         identify: the drives or the disc with the drive's facts\n"
         "  --chart FILE.bmp       the chart of the run as a 24-bit BMP\n"
         "                         (any output FILE may be '-' for standard output)\n"
         "  --chart-range fixed|readings\n"
         "                         the chart's y axis: 0 to 600 (default), or fitted to\n"
         "                         the readings as reports are\n"
         "  --report FILE." +
         extensions +
         "\n"
         "                         the run's report page (" +
         extensions +
         " alone: default name)\n"
         "  --from POS, --to POS   scan: a part of the disc, from POS up to (not with) POS;\n"
         "                         POS is an LBA, a size (2.5GB, 700MiB) or a share (50%)\n"
         "  --resume ID|FILE       scan: go on with a run that ended by a fault or a stop\n"
         "  --no-history           do not keep this run in the history (scan and smart)\n"
         "  -q, --quiet            errors and the verdict only (scan, smart)\n"
         "  --long                 drives: each drive's firmware, serial number, loader,\n"
         "                         buffer and the discs it reads and writes\n"
         "\n"
         "options:\n"
         "  --simulate[=SCENARIO]  use the built-in drive simulator (--simulate=help lists "
         "scenarios)\n"
         "  --transport=spti|aspi  pass-through (default) or the ASPI layer\n"
         "  --simulate=replay:FILE answer from a trace written with --trace\n"
         "  --sim-latency=MS       simulated time per TE/FE sample (0 for none);\n"
         "                         recorded: a replay takes the recorded times\n"
         "  -d, --drive N          the drive to use, by its index in 'drives' (default 0)\n"
         "  -d, --drive all        scan, smart, watch: every supported drive at once;\n"
         "                         recover: every drive, one after the other;\n"
         "                         --json - gives one JSON line per drive\n"
         "  --trace=FILE           write every command sent to the drive, with its answer\n"
         "                         and the data moved\n"
         "  --history URL          a lab's shared history on a PostgreSQL server\n"
         "                         (postgresql://...; default: VELMO_HISTORY); runs are\n"
         "                         kept here first, then sent to it\n"
         "  -h, --help, -V, --version\n"
         "\n"
         "On a terminal the progress line fits its width; NO_COLOR or TERM=dumb turn\n"
         "colour off.\n"
         "\n"
         "exit codes: 0 ok, 1 not recommended, 2 drive or firmware failure,\n"
         "            3 no drive / unsupported drive / unsupported disc, 64 usage error,\n"
         "            65 not a record this program reads, 66 no such run or file,\n"
         "            73 an output file cannot be written, 74 standard output or error\n"
         "            cannot be written, 75 the log or drive is in use by another run\n"
         "            (or the lab history's server does not answer), 77 the lab history\n"
         "            does not allow it,\n"
         "            128+N stopped by signal N (130 Ctrl-C, 143 SIGTERM, 141 SIGPIPE)\n"
         "history: every scan and smart run is kept in $XDG_DATA_HOME/velmo/history.sqlite\n"
         "         (~/.local/share/velmo/), and sent on to a lab history when one is set\n"
         "         (VELMO_STATION names this station); velmo-cli COMMAND --help tells more\n";
}

std::string CommandUsage(const std::string& command) {
  const CliCommand* row = FindCliCommand(command);
  return row != nullptr && row->usage != nullptr ? row->usage() : "";
}

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                          std::string* error) {
  CliOptions options;
  std::vector<std::string> scanOnly;  // in the order given, for the error on other commands
  std::vector<std::string> words = args;
  for (size_t i = 0; i < words.size(); ++i) {
    LongNameOf(&words, i);
    const std::string& arg = words[i];
    std::string value;
    if (TakeRunOption(words, &i, &options, error)) {
      if (!error->empty()) return std::nullopt;
    } else if (TakeValue(words, &i, "--speed", &value)) {
      options.speed = ParseSpeed(value);
      if (!options.speed) {
        *error = "--speed must be one of " + AllSpeedLabels() + ", not '" + value + "'";
        return std::nullopt;
      }
      scanOnly.push_back("--speed");
    } else if (TakeValue(words, &i, "--density", &value)) {
      options.density = nullptr;
      for (const DensityChoice& choice : kDensityChoices) {
        if (value == choice.name) options.density = &choice;
      }
      if (options.density == nullptr) {
        *error = "--density must be normal, full or quick, not '" + value + "'";
        return std::nullopt;
      }
      scanOnly.push_back("--density");
    } else if (TakeValue(words, &i, "--log", &value) || TakeValue(words, &i, "--csv", &value) ||
               TakeValue(words, &i, "--json", &value) || TakeValue(words, &i, "--chart", &value)) {
      const std::string name = arg.substr(0, arg.find('='));
      if (value.empty()) {
        *error = name + " needs a file name";
        return std::nullopt;
      }
      if (name == "--log") options.logFile = value;
      if (name == "--csv") options.csvFile = value;
      if (name == "--json") options.jsonFile = value;
      if (name == "--chart") options.chartFile = value;
      scanOnly.push_back(name);
    } else if (TakeValue(words, &i, "--chart-range", &value)) {
      if (value != "fixed" && value != "readings") {
        *error = "--chart-range must be fixed or readings, not '" + value + "'";
        return std::nullopt;
      }
      options.chartFitted = value == "readings";
      scanOnly.push_back("--chart-range");
    } else if (TakeValue(words, &i, "--report", &value)) {
      if (!ReportOutputFor(value, error)) return std::nullopt;
      options.reportFile = value;
      scanOnly.push_back("--report");
    } else if (TakeValue(words, &i, "--from", &value) || TakeValue(words, &i, "--to", &value)) {
      const std::string name = arg.substr(0, arg.find('='));
      if (!ParseDiscPosition(value)) {
        *error =
            name + " takes an LBA, a size (2.5GB, 700MiB) or a share (50%), not '" + value + "'";
        return std::nullopt;
      }
      (name == "--from" ? options.from : options.to) = value;
      scanOnly.push_back(name);
    } else if (TakeValue(words, &i, "--resume", &value)) {
      if (value.empty()) {
        *error = "--resume needs a run: an ID or a record file";
        return std::nullopt;
      }
      options.resume = value;
      scanOnly.push_back("--resume");
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--long") {
      options.longListing = true;
      scanOnly.push_back("--long");
    } else if (TakeWatchOption(words, &i, &options, error)) {
      if (!error->empty()) return std::nullopt;
    } else if (!arg.empty() && arg[0] == '-') {
      // A value option as the last word: TakeValue found no value for it.
      for (const char* name : {"--transport", "--sim-latency", "--drive", "--trace", "--speed",
                               "--density", "--log", "--csv", "--json", "--chart", "--chart-range",
                               "--report-dir", "--count", "--from", "--to", "--resume"}) {
        if (arg == name) {
          *error = "option '" + arg + "' needs a value";
          return std::nullopt;
        }
      }
      *error = "unknown option '" + arg + "'";
      return std::nullopt;
    } else if (options.command.empty()) {
      options.command = arg;
      // The record commands read their own arguments (see record_commands.h).
      if (IsRecordCommand(arg)) {
        // --local anywhere among them: which history they read.
        for (size_t j = i + 1; j < words.size(); ++j) {
          if (words[j] == "--local") {
            options.local = true;
          } else {
            options.commandArgs.push_back(words[j]);
          }
        }
        break;
      }
    } else {
      *error = "unexpected argument '" + arg + "'";
      return std::nullopt;
    }
  }
  if (const std::string watch = CheckWatchOptions(options); !watch.empty()) {
    *error = watch;
    return std::nullopt;
  }
  if (!options.command.empty()) {
    const CliCommand* row = FindCliCommand(options.command);
    const unsigned takes = row != nullptr ? row->flags : 0;
    for (const std::string& name : scanOnly) {
      if ((takes & OptionBit(name)) != 0) continue;
      *error =
          name + " applies to " + CommandsTaking(OptionBit(name)) + ", not to " + options.command;
      return std::nullopt;
    }
  }
  if (!options.resume.empty()) {
    // The run goes on as it was: its part, speed and density are the record's.
    for (const std::string& name : scanOnly) {
      if (name != "--from" && name != "--to" && name != "--speed" && name != "--density") continue;
      *error = name + " cannot go with --resume: the run goes on with its own";
      return std::nullopt;
    }
    if (options.driveAll) {
      *error = "--resume goes on with one run on one drive, not with --drive all";
      return std::nullopt;
    }
  }
  if (const std::string run = CheckRunOptions(options); !run.empty()) {
    *error = run;
    return std::nullopt;
  }
  // As --history: anything else would be opened as a file where it points.
  // Not echoed: whatever it is may hold a password.
  if (const std::string lab = ChosenLabUrl(options); !lab.empty() && !IsLabHistoryUrl(lab)) {
    *error = "VELMO_HISTORY takes a lab history's URL (postgresql://... or postgres://...)";
    return std::nullopt;
  }
  return options;
}
