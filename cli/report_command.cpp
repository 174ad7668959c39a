#include "cli/report_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "cli/cli_history.h"
#include "cli/cli_options.h"
#include "cli/digits.h"
#include "cli/record_commands.h"
#include "history/history.h"
#include "records/scan_record.h"
#include "reports/comparison_rows.h"
#include "reports/report_format.h"
#include "reports/report_output.h"
#include "session/output_file.h"
#include "session/terminal_text.h"

namespace {

constexpr char kReportHistoryUnopened[] = "the history cannot be opened: ";

// A record file, or a kept run by its history id (a file of that name wins,
// as show and compare have it). 0, or the exit code with *error.
int LoadReportedRun(const std::string& argument, const std::string& location,
                    std::unique_ptr<CHistory>* history, ScanRecord* record, std::string* error,
                    std::FILE* err) {
  struct stat st;
  if (!AllDigits(argument) || stat(argument.c_str(), &st) == 0) {
    if (stat(argument.c_str(), &st) != 0) {
      *error = argument + ": no such file";
      return kExitNoRecord;
    }
    RecordLoadError kind = RecordLoadError::kNone;
    if (LoadRecordFile(argument, record, error, &kind)) return 0;
    return kind == RecordLoadError::kUnreadable ? kExitNoRecord : kExitBadRecord;
  }
  if (!*history) {
    auto opened = std::make_unique<CHistory>();
    std::string notice;
    if (!opened->OpenForReading(location, error, &notice)) {
      *error = std::string(kReportHistoryUnopened) + *error;
      return CliHistoryFailureExit(*opened, kExitNoRecord);
    }
    if (!notice.empty()) std::fprintf(err, "velmo-cli: %s\n", TerminalText(notice).c_str());
    *history = std::move(opened);
  }
  if ((*history)->Load(std::stoll(argument), record, error)) return 0;
  return error->find("no run") == 0 ? kExitNoRecord : kExitBadRecord;
}

// The same, refusing a skipped disc: it has no readings to report.
int LoadRecordArgument(const std::string& argument, const std::string& location,
                       std::unique_ptr<CHistory>* history, ScanRecord* record, std::string* error,
                       std::FILE* err) {
  const int code = LoadReportedRun(argument, location, history, record, error, err);
  if (code != 0 || record->outcome != RunOutcome::kSkipped) return code;
  *error = argument + " is a skipped disc (" + record->skippedBecause +
           "): nothing was run on it, so there is no report";
  return kExitNoRecord;
}

std::string Option(const ReportFormatRow& row) { return row.option; }

struct ReportArguments {
  std::vector<std::string> records;
  std::vector<std::unique_ptr<CReportOutput>> outputs;
  std::optional<PaperSize> paper;
};

bool ParseReportArguments(const std::vector<std::string>& args, ReportArguments* parsed,
                          std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string name = arg.substr(0, arg.find('='));
    std::string value;
    const bool inline_ = name.size() < arg.size();
    // what: the value it needs, as a refusal names it.
    auto takeValue = [&](const std::string& what) {
      if (inline_) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *error = name + " needs " + what;
        return false;
      }
      if (value.empty()) {
        *error = name + " needs " + what;
        return false;
      }
      return true;
    };
    bool matched = false;
    for (const ReportFormatRow& row : ReportFormats()) {
      if (name != row.option) continue;
      matched = true;
      if (!takeValue("a file name")) return false;
      for (const auto& output : parsed->outputs) {
        if (output->Format() == row.format) {
          *error = name + " given twice";
          return false;
        }
      }
      parsed->outputs.push_back(std::make_unique<CReportOutput>(value, row.format));
    }
    if (matched) continue;
    if (name == "--paper") {
      if (!takeValue("a paper size: a4 or letter")) return false;
      if (value == "a4" || value == "A4") {
        parsed->paper = PaperSize::kA4;
      } else if (value == "letter" || value == "Letter") {
        parsed->paper = PaperSize::kLetter;
      } else {
        *error = "--paper must be a4 or letter, not '" + value + "'";
        return false;
      }
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      *error = "unknown report option '" + arg + "'";
      return false;
    } else {
      parsed->records.push_back(arg);
    }
  }
  if (parsed->records.empty()) {
    *error = "report needs at least one record (ID or FILE)";
    return false;
  }
  if (parsed->outputs.empty()) {
    *error = "report needs at least one of " + ReportFormatWords(Option, ", ", " or ");
    return false;
  }
  // Under any spelling: ./a.pdf and a.pdf, a symlink, - and /dev/stdout. A
  // folder takes each format's default name, which differ by extension.
  std::vector<std::string> paths;
  for (const auto& output : parsed->outputs)
    paths.push_back(output->IsDirectory() ? "" : output->Path());
  if (const auto same = FindSameOutput(paths)) {
    const std::string& first = paths[same->first];
    const std::string& second = paths[same->second];
    const std::string names =
        first == second ? "'" + first + "'" : "('" + first + "', '" + second + "')";
    *error = IsStandardOutput(first) ? "only one report can go to standard output " + names
                                     : "two reports name the same file " + names;
    return false;
  }
  return true;
}

}  // namespace

std::string ReportCommandUsage() {
  std::string optionHelp;
  for (const ReportFormatRow& row : ReportFormats()) {
    std::string option = row.option + std::string(" FILE");
    option.resize(std::max<size_t>(option.size() + 1, 23), ' ');
    optionHelp += "  " + option + row.optionHelp + "\n";
  }
  return "usage: velmo-cli report ID|FILE [ID|FILE...] " +
         ReportFormatWords(
             [](const ReportFormatRow& row) { return "[" + std::string(row.option) + " FILE]"; },
             " ", " ") +
         "\n"
         "                        [--paper a4|letter]\n"
         "\n"
         "Writes the report of a recorded run: the disc, the drive, the settings, the\n"
         "chart, the statistics and the verdict on one page. Several records make one\n"
         "comparison report. At least one output is needed:\n"
         "\n" +
         optionHelp +
         "  --paper a4|letter      the page size (default: from the locale's LC_PAPER)\n"
         "\n"
         "ID is a run kept in the history (velmo-cli history lists them); FILE a record\n"
         "written by scan --json or smart --json.\n"
         "FILE - writes to standard output; an existing folder gets the default name\n"
         "velmo-YYYYMMDD-HHMMSS-MID-SPEED.EXT inside it.\n";
}

int RunReportCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  for (const std::string& arg : options.commandArgs) {
    if (arg == "--help" || arg == "-h") {
      std::fputs(ReportCommandUsage().c_str(), out);
      return kExitOk;
    }
  }
  ReportArguments args;
  std::string error;
  if (!ParseReportArguments(options.commandArgs, &args, &error)) {
    std::fprintf(err, "velmo-cli: %s; %s\n", TerminalText(error).c_str(),
                 HelpHint("report").c_str());
    return kExitUsage;
  }
  bool toStdout = false;
  for (const auto& output : args.outputs) toStdout = toStdout || IsStandardOutput(output->Path());
  // A record that cannot be read (damaged in the history, a broken file)
  // is named and left out: the report holds the others, and the exit code
  // says one was missing.
  std::vector<ScanRecord> records;
  std::vector<std::string> names;
  std::unique_ptr<CHistory> history;
  size_t damaged = 0;
  for (const std::string& argument : args.records) {
    ScanRecord record;
    const int code =
        LoadRecordArgument(argument, CliHistoryLocation(options), &history, &record, &error, err);
    if (code != 0) {
      // A refused record's message quotes what the file holds.
      std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
      // A history that cannot be opened fails every ID alike.
      if (code != kExitBadRecord || error.rfind(kReportHistoryUnopened, 0) == 0) return code;
      ++damaged;
      continue;
    }
    records.push_back(std::move(record));
    names.push_back(argument);
  }
  if (records.empty()) return kExitBadRecord;
  std::vector<const ScanRecord*> loaded;
  for (const ScanRecord& record : records) loaded.push_back(&record);
  if (const std::string mixed = MixedKindsError(loaded, names); !mixed.empty()) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(mixed).c_str());
    return kExitUsage;
  }
  const PaperSize paper = args.paper.value_or(PaperSizeFromEnvironment());
  // What was written is said where it does not mix with a report on stdout.
  std::FILE* said = toStdout ? err : out;
  for (const auto& output : args.outputs) {
    std::string written;
    if (!output->Open(&error) || !output->Write(records, paper, &written, &error)) {
      // Not said, as with any write to a closed pipe.
      if (output->FailedError() == EPIPE) return kExitReaderGone;
      std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
      return kExitCannotWrite;
    }
    if (!IsStandardOutput(written))
      std::fprintf(said, "Report: %s\n", TerminalText(written).c_str());
  }
  if (damaged > 0) {
    std::fprintf(err, "velmo-cli: %zu run%s left out of the report\n", damaged,
                 damaged == 1 ? "" : "s");
    return kExitBadRecord;
  }
  return kExitOk;
}
