#include "cli/record_commands.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/cli_history.h"
#include "cli/cli_options.h"
#include "cli/digits.h"
#include "cli/history_commands.h"
#include "cli/terminal_style.h"
#include "cli/text_table.h"
#include "history/history.h"
#include "history/since_time.h"
#include "records/drive_facts_text.h"
#include "records/run_end_text.h"
#include "reports/compare_chart.h"
#include "reports/comparison_rows.h"
#include "session/output_file.h"
#include "session/terminal_text.h"

namespace {

// What one argument of show or compare named: a file, or a run kept in the
// history by its id.
struct LoadedRun {
  std::string name;  // "#12" or the file name
  ScanRecord record;
};

// 0 when loaded; otherwise the exit code, with the reason on err.
int LoadRun(const std::string& what, const std::string& location, CHistory* history,
            bool* historyOpen, LoadedRun* run, std::FILE* err) {
  std::string error;
  struct stat info {};
  if (!AllDigits(what) || stat(what.c_str(), &info) == 0) {
    run->name = what;
    if (stat(what.c_str(), &info) != 0) {
      std::fprintf(err, "velmo-cli: %s: no such file\n", TerminalText(what).c_str());
      return kExitNoRecord;
    }
    RecordLoadError kind = RecordLoadError::kNone;
    if (!LoadRecordFile(what, &run->record, &error, &kind)) {
      std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
      return kind == RecordLoadError::kUnreadable ? kExitNoRecord : kExitBadRecord;
    }
    return 0;
  }
  if (!*historyOpen) {
    if (const int code = OpenCliHistory(history, location, false, kExitNoRecord, err)) return code;
    *historyOpen = true;
  }
  run->name = "#" + what;
  if (!history->Load(std::stoll(what), &run->record, &error)) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
    return error.find("no run") == 0 ? kExitNoRecord
                                     : CliHistoryFailureExit(*history, kExitBadRecord);
  }
  return 0;
}

// Wide enough for the longest label of the compare table.
constexpr int kCompareLabelWidth = 20;
constexpr int kCompareValueWidth = 30;

// Runs that do not fit side by side on the terminal: one row a run, the
// columns most wanted first, as many as fit.
void PrintComparisonByRun(std::FILE* out, const TerminalStyle& style,
                          const std::vector<std::string>& names,
                          const std::vector<ComparisonRow>& rows) {
  struct ByRunColumn {
    const char* label;  // the comparison row's
    const char* head;
    int width;
    int priority;
  };
  static constexpr ByRunColumn kByRunColumns[] = {
      {"Manufacture ID", "MID", 8, 1},
      {"Speed", "Speed", 5, 2},
      {"Outcome", "Outcome", 15, 3},
      {"TE max / mean / p95", "TE max/mean/p95", 17, 4},
      {"FE max / mean / p95", "FE max/mean/p95", 17, 5},
      {"Disc Type", "Disc", 8, 6},
      {"TE over / margin", "TE over/margin", 14, 7},
      {"FE over / margin", "FE over/margin", 14, 8},
      {"Samples", "Samples", 7, 9},
      {"Started", "Started", 25, 10},
      {"Density", "Density", 7, 11},
      {"Manufacturer", "Manufacturer", 24, 12},
      {"Drive", "Drive", 28, 13},
      {"Media Type ID", "Media", 8, 14},
      {"Worst LBA", "Worst LBA", 20, 15},
  };
  std::vector<TextColumn> columns = {{"Run", 7, 0}};
  std::vector<const ComparisonRow*> shown;
  for (const ComparisonRow& row : rows) {
    for (const ByRunColumn& column : kByRunColumns) {
      if (row.label != column.label) continue;
      columns.push_back({column.head, column.width, column.priority});
      shown.push_back(&row);
    }
  }
  const TextTable table(columns, style, false);
  std::fputs(table.Head().c_str(), out);
  for (size_t i = 0; i < names.size(); ++i) {
    std::vector<std::string> values = {TerminalText(names[i])};
    for (const ComparisonRow* row : shown) values.push_back(TerminalText(row->values[i]));
    std::fputs(table.Row(values).c_str(), out);
  }
}

std::string Maker(const std::optional<std::string>& name) { return name.value_or("unknown"); }

// An ID as the listing shows it: without the blanks and NULs around it.
std::string Trim(const std::string& id) {
  const size_t first = id.find_first_not_of(std::string(" \0", 2));
  if (first == std::string::npos) return "";
  const size_t last = id.find_last_not_of(std::string(" \0", 2));
  return id.substr(first, last - first + 1);
}

std::string OrDash(const std::optional<int>& value) { return value ? std::to_string(*value) : "-"; }

std::string Fixed(double value, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string LayerName(const LayerStatistics& s) {
  return s.layer < 0 ? "whole disc" : "layer " + std::to_string(s.layer);
}

void PrintStatisticsLine(std::FILE* out, const LayerStatistics& s) {
  std::string worst = "-";
  if (s.worst) {
    worst = std::to_string(s.worst->lba) + " (" + Fixed(s.worst->gb, 2) + " GB)";
  }
  std::fprintf(out, "  %-11s %7d  %4d %6s %4d %4d %5d  %4d %6s %4d %4d %5d  %s\n",
               LayerName(s).c_str(), s.samples, s.te.max, Fixed(s.te.mean).c_str(), s.te.p95,
               s.te.overLimit, s.te.margin, s.fe.max, Fixed(s.fe.mean).c_str(), s.fe.p95,
               s.fe.overLimit, s.fe.margin, worst.c_str());
}

void PrintRecord(std::FILE* out, const std::string& name, const ScanRecord& r) {
  // Every value may hold what a drive, a disc or a sent file put there.
  auto line = [out](const char* label, const std::string& value) {
    std::fprintf(out, "%-22s%s\n", label, TerminalText(value).c_str());
  };
  if (r.outcome == RunOutcome::kSkipped) {
    // The disc as it was found and why: no run, so no settings or readings.
    line("Run:", name + " (skipped disc)");
    line("Started:", r.startTime);
    line("Program:", r.program + " " + r.programVersion);
    line("Drive:", r.drive.name + " (" + r.drive.node + ")");
    line("Disc Type:", r.disc.type);
    line("Manufacture ID:", r.disc.manufacturerId);
    line("Manufacturer:", Maker(r.disc.manufacturerName));
    line("Media Type ID:", r.disc.mediaTypeId);
    line("Outcome:", RunOutcomeName(r.outcome));
    line("Cause:", r.skippedBecause);
    line("Readings:", "none: the disc was skipped, nothing was run on it");
    return;
  }
  line("Run:", name + (r.kind == RecordKind::kSmart ? " (Smart Scan)" : " (scan)"));
  line("Started:", r.startTime);
  line("Duration:", std::to_string(r.durationSeconds) + " s");
  line("Program:", r.program + " " + r.programVersion);
  line("Drive:", r.drive.name + " (" + r.drive.node + ")");
  // Records made before drives were asked have no facts to show.
  if (r.drive.facts) {
    for (const DriveFactLine& fact : DriveFactLines(*r.drive.facts)) line(fact.label, fact.value);
  }
  line("Disc Type:", r.disc.type);
  line("Manufacture ID:", r.disc.manufacturerId);
  line("Manufacturer:", Maker(r.disc.manufacturerName));
  line("Media Type ID:", r.disc.mediaTypeId);
  line("Blank Disc Capacity:", r.disc.capacity);
  line("Last LBA:", std::to_string(r.disc.lastLba));
  if (r.kind == RecordKind::kScan) {
    line("Disc Speed:", r.settings.speed);
    line("Graph Density:",
         r.settings.density + " (step " + std::to_string(r.settings.densityStep) + ")");
    if (r.range) {
      line("Part of the Disc:",
           "LBA " + std::to_string(r.range->from) + " up to " + std::to_string(r.range->to));
    }
    if (r.resumed) {
      line("Resumed:", "at LBA " + std::to_string(r.resumed->firstLba) + " after " +
                           std::to_string(r.resumed->earlierSamples) + " samples of run " +
                           r.resumed->runId);
    }
  }
  line("Limits:",
       "TE " + std::to_string(r.settings.teLimit) + ", FE " + std::to_string(r.settings.feLimit));
  if (r.kind == RecordKind::kSmart) {
    std::fprintf(out, "%-6s%6s%6s  %s\n", "Speed", "TE", "FE", "Result");
    for (const SmartRow& row : r.rows) {
      std::fprintf(out, "%-6s%6s%6s  %s\n", TerminalText(row.speed).c_str(),
                   row.te ? std::to_string(*row.te).c_str() : "-",
                   row.fe ? std::to_string(*row.fe).c_str() : "-",
                   TerminalText(row.result).c_str());
    }
  }
  const RecordStatistics stats = StatisticsOf(r);
  // A Smart Scan's readings were taken at different speeds: none is pooled
  // with another, so its statistics are its rows above.
  if (r.kind == RecordKind::kScan) {
    std::fprintf(out, "Statistics:\n  %-11s %7s  %4s %6s %4s %4s %5s  %4s %6s %4s %4s %5s  %s\n",
                 "", "samples", "TE", "mean", "p95", "over", "margin", "FE", "mean", "p95", "over",
                 "margin", "worst LBA");
    PrintStatisticsLine(out, stats.whole);
    if (stats.layers.size() > 1) {
      for (const LayerStatistics& layer : stats.layers) PrintStatisticsLine(out, layer);
    }
  }
  line("Outcome:", RunOutcomeName(r.outcome));
  if (!HasVerdict(r.outcome) && r.outcome != RunOutcome::kAborted)
    line("Cause:", DescribeRunEnd(r.outcome, r.cause));
  if (r.kind == RecordKind::kSmart && (HasVerdict(r.outcome) || r.fitSpeed)) {
    std::optional<SpeedCode> fit;
    if (r.fitSpeed) fit = static_cast<SpeedCode>(r.fitSpeed->speedCode);
    line("Answer:", SmartAnswerText(fit));
  }
  if (!r.verdict.empty()) line("Verdict:", r.verdict);
}

// Options of the record commands: value options and flags, anything else
// is an argument.
struct RecordArgs {
  std::vector<std::string> positional;
  bool json = false;
  bool wide = false;  // every column whole, even on a terminal
  std::string mid, drive, station, since, chart;
  // Given, even empty (refused then rather than taken for none).
  std::optional<std::string> limit, offset;
  std::vector<std::string> outcomes;
};

bool ParseRecordArgs(const std::string& command, const std::vector<std::string>& args,
                     RecordArgs* parsed, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string name = arg == "-n" ? "--limit" : arg, value;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    const bool takesValue = name == "--mid" || name == "--drive" || name == "--outcome" ||
                            name == "--since" || name == "--chart" || name == "--limit" ||
                            name == "--offset" || name == "--station";
    if (takesValue && eq == std::string::npos) {
      if (i + 1 >= args.size()) {
        *error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    const bool forHistory = name == "--mid" || name == "--drive" || name == "--outcome" ||
                            name == "--since" || name == "--limit" || name == "--offset" ||
                            name == "--station";
    if ((forHistory && command != "history") || (name == "--chart" && command != "compare")) {
      *error = name + " does not apply to " + command;
      return false;
    }
    if (name == "--json") {
      parsed->json = true;
    } else if (name == "--wide" && command != "show") {
      parsed->wide = true;
    } else if (name == "--mid") {
      parsed->mid = value;
    } else if (name == "--drive") {
      parsed->drive = value;
    } else if (name == "--station") {
      parsed->station = value;
    } else if (name == "--since") {
      parsed->since = value;
    } else if (name == "--limit") {
      parsed->limit = value;
    } else if (name == "--offset") {
      parsed->offset = value;
    } else if (name == "--chart") {
      if (value.empty()) {
        *error = "--chart needs a file name";
        return false;
      }
      parsed->chart = value;
    } else if (name == "--outcome") {
      parsed->outcomes.push_back(value);
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option '" + arg + "' for " + command;
      return false;
    } else {
      parsed->positional.push_back(arg);
    }
  }
  return true;
}

using Json = nlohmann::ordered_json;

Json RecordOf(const ScanRecord& record) { return Json::parse(WriteRecordJson(record)); }

}  // namespace

// Every outcome as --outcome takes it, from the one table of names:
// "ok, not-recommended, ... or aborted".
// Text broken at spaces into lines of at most 79 columns, each ending in a
// newline.
static std::string WrappedLines(const std::string& text) {
  std::string lines, line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (!line.empty() && line.size() + 1 + word.size() > 79) {
      lines += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  return lines + line + "\n";
}

static std::string OutcomeArgumentList() {
  std::string list;
  for (int i = 0; i < kRunOutcomeCount; ++i) {
    std::string name = RunOutcomeName(static_cast<RunOutcome>(i));
    for (char& c : name) {
      if (c == ' ') c = '-';
    }
    list += (i == 0 ? "" : i + 1 == kRunOutcomeCount ? " or " : ", ") + name;
  }
  return list;
}

// The filter's outcome names: as records write them, or with hyphens
// ("not-recommended") so that no quoting is needed.
std::optional<RunOutcome> OutcomeArgument(std::string name) {
  for (char& c : name) {
    if (c == '-') c = ' ';
  }
  return RunOutcomeFromName(name);
}

bool ParseHistoryFilter(const std::vector<std::string>& args, HistoryFilter* filter, bool* json,
                        std::string* error, bool* wide) {
  RecordArgs parsed;
  if (!ParseRecordArgs("history", args, &parsed, error)) return false;
  if (!parsed.positional.empty()) {
    *error = "unexpected argument '" + parsed.positional.front() + "'";
    return false;
  }
  filter->mid = parsed.mid;
  filter->drive = parsed.drive;
  filter->station = parsed.station;
  for (const std::string& name : parsed.outcomes) {
    const auto outcome = OutcomeArgument(name);
    if (!outcome) {
      *error = "--outcome must be " + OutcomeArgumentList() + ", not '" + name + "'";
      return false;
    }
    filter->outcomes.push_back(*outcome);
  }
  if (!parsed.since.empty()) {
    std::string impossible;
    filter->since =
        ParseSinceTime(parsed.since, static_cast<int64_t>(std::time(nullptr)), &impossible);
    if (!impossible.empty()) {
      *error = "--since " + parsed.since + " is no date: " + impossible;
      return false;
    }
    if (!filter->since) {
      *error =
          "--since needs a date (2026-12-08), a time (2026-12-08T10:00:00+01:00), today, "
          "yesterday or Nd (the last N days), not '" +
          parsed.since + "'";
      return false;
    }
  }
  if (parsed.limit) {
    if (!AllDigits(*parsed.limit) || std::stoll(*parsed.limit) == 0) {
      *error = "--limit needs a number of runs (1 or more), not '" + *parsed.limit + "'";
      return false;
    }
    filter->limit = std::stoll(*parsed.limit);
  }
  if (parsed.offset) {
    if (!AllDigits(*parsed.offset)) {
      *error =
          "--offset needs a number of runs to pass over (0 or more), not '" + *parsed.offset + "'";
      return false;
    }
    filter->offset = std::stoll(*parsed.offset);
  }
  if (parsed.wide && wide == nullptr) {
    *error = "--wide does not apply here";
    return false;
  }
  if (wide != nullptr) *wide = parsed.wide;
  *json = parsed.json;
  return true;
}

void KeepInHistory(const ScanRecord& record, const CliOptions& options, std::FILE* err) {
  if (options.noHistory) return;
  CHistory history;
  std::string error, notice;
  const bool open = history.Open(DefaultHistoryPath(), &error, &notice);
  if (!notice.empty()) std::fprintf(err, "velmo-cli: %s\n", TerminalText(notice).c_str());
  // Said once: a watch would otherwise say the same of every disc.
  static bool told = false;
  if ((!open || history.Add(record, &error) == 0) && !told) {
    std::fprintf(err, "velmo-cli: this run is not kept in the history: %s\n",
                 TerminalText(error).c_str());
    told = true;
  }
  // Kept here first, then on to the lab's history, never waited for.
  if (open) StartBackgroundPush(options);
}

int RunHistoryCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  if (IsHistorySubcommand(options.commandArgs)) return RunHistorySubcommand(options, out, err);
  HistoryFilter filter;
  bool json = false, wide = false;
  std::string error, notice;
  if (!ParseHistoryFilter(options.commandArgs, &filter, &json, &error, &wide))
    return CliUsageError(err, "history", error);
  CHistory history;
  if (const int code =
          OpenCliHistory(&history, CliHistoryLocation(options), false, kExitNoRecord, err))
    return code;
  // On a terminal the columns that fit its width, most wanted first; in a
  // pipe, or with --wide, all of them.
  const TextTable table({{"ID", 5, 0, true},
                         {"Time", 25, 1},
                         {"Drive", 28, 8},
                         {"Disc", 8, 2},
                         {"MID", 8, 3},
                         {"Manufacturer", 24, 11},
                         {"Speed", 5, 4},
                         {"Density", 7, 10},
                         {"Outcome", 16, 5},
                         {"TE", 4, 6, true},
                         {"FE", 4, 7, true},
                         {"Station", 12, 9}},
                        TerminalStyleOf(out), wide);
  // Each row is written as it is read: the first comes at once and memory
  // stays the same whatever the history holds. A reader that went away
  // (`| head`) ends the listing.
  bool first = true;
  auto row = [&](const HistoryEntry& e) {
    if (json) {
      const Json item{
          {"id", e.id},
          {"startTime", e.startTime},
          {"kind", RecordKindName(e.kind)},
          {"drive", e.drive},
          {"discType", e.discType},
          {"manufacturerId", e.manufacturerId},
          {"manufacturerName", e.manufacturerName ? Json(*e.manufacturerName) : Json(nullptr)},
          {"speed", e.speed},
          {"density", e.density},
          {"outcome", RunOutcomeName(e.outcome)},
          {"fitSpeed",
           e.kind == RecordKind::kSmart && !e.speed.empty() ? Json(e.speed) : Json(nullptr)},
          {"maxTe", e.maxTe ? Json(*e.maxTe) : Json(nullptr)},
          {"maxFe", e.maxFe ? Json(*e.maxFe) : Json(nullptr)},
          {"host", e.host},
          // The same: in a lab's history, the station that made the run.
          {"station", e.host}};
      // The array's own layout: each item indented one level further.
      std::string text = item.dump(2, ' ', false, Json::error_handler_t::replace);
      std::string indented = first ? "[\n  " : ",\n  ";
      for (const char c : text) {
        indented += c;
        if (c == '\n') indented += "  ";
      }
      first = false;
      return std::fputs(TerminalJson(indented).c_str(), out) >= 0;
    }
    // A row is one line whatever its run's texts hold: a CR or LF in a field
    // must not start a row of its own.
    return std::fputs(
               table
                   .Row({std::to_string(e.id), TerminalText(e.startTime), TerminalText(e.drive),
                         TerminalText(e.discType), TerminalText(Trim(e.manufacturerId)),
                         TerminalText(Maker(e.manufacturerName)),
                         e.kind == RecordKind::kSmart ? "smart" : TerminalText(e.speed),
                         TerminalText(e.density), TerminalText(HistoryOutcomeText(e)),
                         OrDash(e.maxTe), OrDash(e.maxFe),
                         e.host.empty() ? "-" : TerminalText(e.host)})
                   .c_str(),
               out) >= 0;
  };
  if (!json) std::fputs(table.Head().c_str(), out);
  if (!history.Each(filter, row, &error)) {
    std::fprintf(err, "velmo-cli: the history cannot be read: %s\n", TerminalText(error).c_str());
    return CliHistoryFailureExit(history, kExitNoRecord);
  }
  if (json) std::fputs(first ? "[]\n" : "\n]\n", out);
  return kExitOk;
}

int LoadNamedRun(const std::string& what, const CliOptions& options, ScanRecord* record,
                 std::FILE* err) {
  CHistory history;
  bool historyOpen = false;
  LoadedRun run;
  const int code = LoadRun(what, CliHistoryLocation(options), &history, &historyOpen, &run, err);
  if (code == 0) *record = std::move(run.record);
  return code;
}

int RunShowCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  RecordArgs parsed;
  std::string error;
  if (!ParseRecordArgs("show", options.commandArgs, &parsed, &error))
    return CliUsageError(err, "show", error);
  if (parsed.positional.size() != 1)
    return CliUsageError(err, "show", "show needs one run: an ID or a record file");
  CHistory history;
  bool historyOpen = false;
  LoadedRun run;
  const int code = LoadRun(parsed.positional.front(), CliHistoryLocation(options), &history,
                           &historyOpen, &run, err);
  if (code != 0) return code;
  if (parsed.json) {
    std::fputs(TerminalJson(WriteRecordJson(run.record)).c_str(), out);
  } else {
    PrintRecord(out, run.name, run.record);
  }
  return kExitOk;
}

int RunCompareCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  RecordArgs parsed;
  std::string error;
  if (!ParseRecordArgs("compare", options.commandArgs, &parsed, &error))
    return CliUsageError(err, "compare", error);
  if (parsed.positional.size() < 2)
    return CliUsageError(err, "compare", "compare needs two runs or more");
  if (parsed.positional.size() > kMaxComparedRuns) {
    return CliUsageError(err, "compare",
                         "compare takes at most " + std::to_string(kMaxComparedRuns) + " runs");
  }
  // A chart on standard output keeps it to itself: the table goes to
  // standard error, and --json has nowhere to go.
  const bool chartOnStdout = !parsed.chart.empty() && IsStandardOutput(parsed.chart);
  if (chartOnStdout && parsed.json) {
    return CliUsageError(err, "compare",
                         "--chart " + parsed.chart +
                             " and --json both go to standard output; give the chart a file");
  }
  if (chartOnStdout) out = err;
  COutputFile chartFile;
  if (!parsed.chart.empty() && !chartFile.Open(parsed.chart, &error)) {
    std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  CHistory history;
  bool historyOpen = false;
  // A run that is no readable record (damaged in the history, or a broken
  // file) is named and left out; the others are compared, and the exit
  // code says one was missing.
  std::vector<LoadedRun> runs;
  size_t damaged = 0;
  for (const std::string& what : parsed.positional) {
    LoadedRun run;
    const int code = LoadRun(what, CliHistoryLocation(options), &history, &historyOpen, &run, err);
    if (code == kExitBadRecord && !history.RefusedAsNewer()) {
      ++damaged;
      continue;
    }
    if (code != 0) return code;
    if (run.record.outcome == RunOutcome::kSkipped) {
      // Named and left out as a damaged one is: it has no readings at all.
      std::fprintf(err, "velmo-cli: %s is a skipped disc: nothing was run on it; left out\n",
                   TerminalText(run.name).c_str());
      ++damaged;
      continue;
    }
    runs.push_back(std::move(run));
  }
  if (runs.size() < 2) return kExitBadRecord;
  std::vector<const ScanRecord*> records;
  std::vector<std::string> names;
  for (const LoadedRun& run : runs) {
    records.push_back(&run.record);
    names.push_back(run.name);
  }
  if (const std::string mixed = MixedKindsError(records, names); !mixed.empty()) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(mixed).c_str());
    return kExitUsage;
  }

  if (parsed.json) {
    Json list = Json::array();
    for (const LoadedRun& run : runs)
      list.push_back(Json{{"run", run.name}, {"record", RecordOf(run.record)}});
    Json result{{"runs", std::move(list)}};
    if (runs.size() == 2) {
      const RunDifferences d = DifferencesOf(runs[0].record, runs[1].record);
      auto channel = [](const ChannelDifference& c) {
        return Json{
            {"max", c.max}, {"mean", std::round(c.mean * 1000) / 1000}, {"overLimit", c.overLimit}};
      };
      result["differences"] = Json{{"te", channel(d.te)}, {"fe", channel(d.fe)}};
    }
    std::fputs(
        (TerminalJson(result.dump(2, ' ', false, Json::error_handler_t::replace)) + "\n").c_str(),
        out);
  } else {
    const TerminalStyle style = TerminalStyleOf(out);
    const bool shorten = style.terminal && !parsed.wide;
    const std::vector<ComparisonRow> rows = ComparisonRowsOf(records);
    std::vector<std::string> names;
    for (const LoadedRun& run : runs) names.push_back(run.name);
    const int sideBySide =
        kCompareLabelWidth + static_cast<int>(runs.size()) * (kCompareValueWidth + 2);
    if (shorten && sideBySide > style.columns - 1) {
      PrintComparisonByRun(out, style, names, rows);
    } else {
      auto line = [&](const std::string& label, const std::vector<std::string>& values) {
        std::fprintf(out, "%-*s", kCompareLabelWidth, label.c_str());
        for (const std::string& value : values) {
          const std::string text = TerminalText(value);
          const std::string shown = shorten ? ShortenedText(text, kCompareValueWidth) : text;
          const int pad = std::max(kCompareValueWidth - TextColumnsOf(shown), 0);
          std::fprintf(out, "  %s%*s", shown.c_str(), pad, "");
        }
        std::fputc('\n', out);
      };
      line("Run", names);
      for (const ComparisonRow& row : rows) line(row.label, row.values);
    }
    if (runs.size() == 2) {
      const RunDifferences d = DifferencesOf(runs[0].record, runs[1].record);
      std::fprintf(out, "\nDifferences (%s minus %s):\n", TerminalText(runs[1].name).c_str(),
                   TerminalText(runs[0].name).c_str());
      std::fprintf(out, "  TE %s\n  FE %s\n", DifferenceText(d.te).c_str(),
                   DifferenceText(d.fe).c_str());
    }
  }
  if (!parsed.chart.empty()) {
    std::vector<ChartRun> chartRuns;
    for (const LoadedRun& run : runs) chartRuns.push_back(ChartRun{run.name, &run.record});
    std::string png;
    if (!DrawCompareChartPng(chartRuns, &png, &error) || !chartFile.Commit(png, &error)) {
      if (chartFile.FailedError() == EPIPE) return kExitReaderGone;
      std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
      return kExitCannotWrite;
    }
    if (!chartOnStdout)
      std::fprintf(parsed.json ? err : out, "%-*s%s\n", kCompareLabelWidth,
                   "Chart:", TerminalText(parsed.chart).c_str());
  }
  if (damaged > 0) {
    std::fprintf(err, "velmo-cli: %zu run%s left out of the comparison\n", damaged,
                 damaged == 1 ? "" : "s");
    return kExitBadRecord;
  }
  return kExitOk;
}

std::string RecordCommandUsage(const std::string& command) {
  if (command == "history") {
    return "usage: velmo-cli history [--mid TEXT] [--drive TEXT] [--outcome OUTCOME]...\n"
           "                         [--since DATE|today|yesterday|Nd] [--limit N]\n"
           "                         [--station NAME] [--offset N] [--json] [--wide] [--local]\n"
           "       velmo-cli history delete ID...\n"
           "       velmo-cli history prune --before DATE [--yes]\n"
           "       velmo-cli history export [FILTERS] [-o FILE|-]\n"
           "       velmo-cli history import FILE...|-\n"
           "       velmo-cli --history URL history push [--all]\n"
           "\n"
           "Lists the kept runs of velmo and velmo-cli, newest first, as they are read:\n"
           "id, time, drive, disc type, manufacturer ID and name, speed, density,\n"
           "outcome, max TE, max FE, and the station (computer) the run was made on.\n"
           "With a lab history (--history URL, VELMO_HISTORY) every command here, show,\n"
           "compare and report read and change the lab's server; --local, this\n"
           "station's own history.\n"
           "\n"
           "  --mid TEXT             runs whose manufacturer ID contains TEXT (any case)\n"
           "  --drive TEXT           runs whose drive name or device node contains TEXT\n"
           "  --outcome OUTCOME      one of the outcomes below (repeat for several)\n"
           "  --since DATE           runs started on or after DATE (2026-12-08, or a time\n"
           "                         such as 2026-12-08T10:00:00+01:00); today, yesterday\n"
           "                         (from local midnight) or 7d (the last 7 days)\n"
           "  --station NAME         runs made on the station NAME (its whole name)\n"
           "  --limit N, -n N        the newest N runs only\n"
           "  --offset N             passes over the first N runs the filters let through\n"
           "                         (--offset 20 --limit 10: the runs 21 to 30)\n"
           "  --json                 the list as JSON\n"
           "  --wide                 every column, each value whole, even on a terminal\n"
           "                         (there the columns that fit its width are shown,\n"
           "                         most wanted first, long values cut with \"...\")\n"
           "\n"
           "  delete ID...           removes these runs (all or none)\n"
           "  prune --before DATE    removes every run started before DATE (as --since\n"
           "                         takes it: 90d keeps the last 90 days); --yes where\n"
           "                         it cannot ask (standard input is no terminal)\n"
           "  export [FILTERS]       every run the filters above let through, whole, as\n"
           "                         JSON lines ({\"id\", \"host\", \"record\"}) to -o FILE\n"
           "                         or standard output\n"
           "  import FILE...|-       an export's lines, or record files, into this\n"
           "                         history with their own time, drive and host; a run\n"
           "                         already there (same start time, drive and disc) is\n"
           "                         passed over; an input that is not all records\n"
           "                         imports nothing (exit 65)\n"
           "  push [--all]           sends this station's runs the lab history does not\n"
           "                         hold yet (--all: every run kept here); says how many\n"
           "                         went and how many wait. Exit 75: the server does not\n"
           "                         answer; 77: it does not allow it; 65: it was made\n"
           "                         by a newer Velmo. Runs are pushed after every run\n"
           "                         on their own; this is for a server that was away.\n"
           "\n" +
           WrappedLines("Outcomes: " + OutcomeArgumentList() + ".");
  }
  if (command == "show") {
    return "usage: velmo-cli show ID|FILE [--json]\n"
           "\n"
           "Shows one kept run (ID from 'velmo-cli history') or a record file (written by\n"
           "scan --json or smart --json): identity, settings, statistics of the whole disc\n"
           "and of each layer, and the outcome. --json prints the record itself.\n";
  }
  if (command == "compare") {
    return "usage: velmo-cli compare ID|FILE ID|FILE... [--chart FILE.png] [--json] [--wide]\n"
           "\n"
           "Shows runs side by side (identity, settings, statistics, outcome) and, for\n"
           "two runs, the differences of max, mean and over-limit counts. On a terminal\n"
           "too narrow for them side by side, one row a run with the columns that fit.\n"
           "\n"
           "  --chart FILE.png       every run's TE and FE over one LBA axis, each run in\n"
           "                         its own colours, with the limits and the DL layer start\n"
           "  --json                 the runs and differences as JSON\n"
           "  --wide                 side by side, each value whole, even on a terminal\n";
  }
  return "";
}
