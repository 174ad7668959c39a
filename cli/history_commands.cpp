#include "cli/history_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/cli_history.h"
#include "cli/cli_options.h"
#include "cli/digits.h"
#include "cli/record_commands.h"
#include "history/history.h"
#include "history/since_time.h"
#include "session/output_file.h"
#include "session/terminal_text.h"

namespace {

using Json = nlohmann::ordered_json;

// Runs kept in one transaction of an import: large enough to be quick,
// small enough that a scan kept meanwhile waits well within the history's
// busy time-out.
constexpr size_t kImportBatch = 500;
// A line longer than any record may be is refused before it is read whole.
constexpr size_t kMaxLineBytes = kRecordMaxBytes + 4096;

// The history opened for changing it; 0, or the exit code with the reason on err.
int OpenForWriting(CHistory* history, const CliOptions& options, std::FILE* err) {
  return OpenCliHistory(history, CliHistoryLocation(options), true, kExitCannotWrite, err);
}

int RunDelete(const std::vector<std::string>& args, const CliOptions& options, std::FILE* out,
              std::FILE* err) {
  if (args.empty())
    return CliUsageError(err, "history", "history delete needs the IDs of the runs");
  std::vector<int64_t> ids;
  for (const std::string& arg : args) {
    if (!AllDigits(arg))
      return CliUsageError(err, "history",
                           "history delete takes run IDs, not '" + TerminalText(arg) + "'");
    ids.push_back(std::stoll(arg));
  }
  CHistory history;
  if (const int code = OpenForWriting(&history, options, err)) return code;
  std::string error;
  if (!history.Delete(ids, &error)) {
    std::fprintf(err, "velmo-cli: nothing deleted: %s\n", TerminalText(error).c_str());
    return error.rfind("no run", 0) == 0 ? kExitNoRecord
                                         : CliHistoryFailureExit(history, kExitCannotWrite);
  }
  // The same run named twice is deleted once.
  std::sort(ids.begin(), ids.end());
  const size_t deleted = static_cast<size_t>(std::unique(ids.begin(), ids.end()) - ids.begin());
  std::fprintf(out, "deleted %zu run%s\n", deleted, deleted == 1 ? "" : "s");
  return kExitOk;
}

int RunPrune(const std::vector<std::string>& args, const CliOptions& options, std::FILE* out,
             std::FILE* err) {
  std::string before;
  bool yes = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--yes") {
      yes = true;
    } else if (args[i] == "--before" && i + 1 < args.size()) {
      before = args[++i];
    } else if (args[i].rfind("--before=", 0) == 0) {
      before = args[i].substr(std::strlen("--before="));
    } else if (args[i] == "--before") {
      return CliUsageError(err, "history", "--before needs a value");
    } else {
      return CliUsageError(err, "history", "unknown argument '" + args[i] + "' for history prune");
    }
  }
  if (before.empty()) return CliUsageError(err, "history", "history prune needs --before DATE");
  // As --since reads it: "--before 90d" keeps the last 90 days.
  std::string impossible;
  const auto time = ParseSinceTime(before, static_cast<int64_t>(std::time(nullptr)), &impossible);
  if (!impossible.empty()) {
    return CliUsageError(err, "history", "--before " + before + " is no date: " + impossible);
  }
  if (!time) {
    return CliUsageError(err, "history",
                         "--before needs a date (2026-12-08), a time "
                         "(2026-12-08T10:00:00+01:00), today, yesterday or Nd, not '" +
                             TerminalText(before) + "'");
  }
  const bool terminal = isatty(STDIN_FILENO) == 1;
  if (!yes && !terminal) {
    return CliUsageError(err, "history",
                         "history prune removes runs for good; give --yes when not asked on a "
                         "terminal");
  }
  CHistory history;
  if (const int code = OpenForWriting(&history, options, err)) return code;
  std::string error;
  if (!yes) {
    int64_t count = 0;
    HistoryFilter filter;
    filter.before = time;
    if (!history.Count(filter, &count, &error)) {
      std::fprintf(err, "velmo-cli: the history cannot be read: %s\n", TerminalText(error).c_str());
      return CliHistoryFailureExit(history, kExitNoRecord);
    }
    if (count == 0) {
      std::fprintf(out, "removed 0 runs\n");
      return kExitOk;
    }
    std::fprintf(err, "Remove %" PRId64 " run%s started before %s from the history? [y/N] ", count,
                 count == 1 ? "" : "s", TerminalText(before).c_str());
    std::fflush(err);
    char answer[16] = {};
    if (std::fgets(answer, sizeof answer, stdin) == nullptr ||
        (answer[0] != 'y' && answer[0] != 'Y')) {
      std::fprintf(out, "nothing removed\n");
      return kExitOk;
    }
  }
  int64_t removed = 0;
  if (!history.Prune(*time, &removed, &error)) {
    std::fprintf(err, "velmo-cli: nothing removed: %s\n", TerminalText(error).c_str());
    return CliHistoryFailureExit(history, kExitCannotWrite);
  }
  std::fprintf(out, "removed %" PRId64 " run%s\n", removed, removed == 1 ? "" : "s");
  return kExitOk;
}

// The record's JSON text (as the writer lays it out) on one line: its line
// breaks and the indentation after them are all outside strings, which
// keep theirs escaped.
std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\n') {
      line += text[at];
      continue;
    }
    while (at + 1 < text.size() && text[at + 1] == ' ') ++at;
  }
  return line;
}

int RunExport(const std::vector<std::string>& args, const CliOptions& options, std::FILE* out,
              std::FILE* err) {
  std::string output = "-";
  std::vector<std::string> filters;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size()) {
      output = args[++i];
    } else if (args[i] == "-o" || args[i] == "--output") {
      return CliUsageError(err, "history",
                           args[i] + " needs a file name (or - for standard output)");
    } else if (args[i].rfind("--output=", 0) == 0) {
      output = args[i].substr(std::strlen("--output="));
    } else {
      filters.push_back(args[i]);
    }
  }
  HistoryFilter filter;
  bool json = false;
  std::string error, notice;
  if (!ParseHistoryFilter(filters, &filter, &json, &error))
    return CliUsageError(err, "history", error);
  if (json)
    return CliUsageError(err, "history", "history export writes JSON lines; --json does not apply");
  CHistory history;
  if (const int code =
          OpenCliHistory(&history, CliHistoryLocation(options), false, kExitNoRecord, err))
    return code;
  // A file appears whole once every run is in it; standard output gets the
  // lines as they are read.
  COutputFile file;
  const bool toFile = output != "-";
  if (toFile && !file.Open(output, &error)) {
    std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  std::string chunk;
  bool written = true;
  int writeErrno = 0;
  auto flush = [&] {
    if (toFile) {
      written = written && file.Write(chunk, &error);
    } else if (written) {
      errno = 0;
      written = std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
      if (!written) writeErrno = errno;
    }
    chunk.clear();
    return written;
  };
  int64_t runs = 0, damaged = 0;
  const bool read = history.EachRecord(
      filter,
      [&](const HistoryEntry& e, const std::string& record) {
        chunk += TerminalJson(Json{{"id", e.id}, {"host", e.host}}.dump(
            -1, ' ', false, Json::error_handler_t::replace));
        chunk.pop_back();  // the closing brace: the record goes inside
        chunk += ",\"record\":" + TerminalJson(OneLine(record)) + "}\n";
        ++runs;
        return chunk.size() < (1u << 20) || flush();
      },
      &error,
      // One damaged run keeps none of the others from being taken out.
      [&](const HistoryEntry&, const std::string& why) {
        std::fprintf(err, "velmo-cli: %s; not exported\n", TerminalText(why).c_str());
        ++damaged;
      });
  if (!read) {
    std::fprintf(err, "velmo-cli: the history cannot be read: %s\n", TerminalText(error).c_str());
    return CliHistoryFailureExit(history, kExitNoRecord);
  }
  if (!flush() || (toFile && !file.Commit(&error)) || (!toFile && std::fflush(out) != 0)) {
    // A reader that went away is not said: the ending gives 141 for it, as
    // the signal would have.
    if (toFile ? file.FailedError() == EPIPE : writeErrno == EPIPE || errno == EPIPE)
      return kExitReaderGone;
    std::fprintf(err, "velmo-cli: cannot write %s\n",
                 TerminalText(toFile ? error : "standard output").c_str());
    return kExitCannotWrite;
  }
  if (toFile)
    std::fprintf(err, "velmo-cli: %" PRId64 " run%s exported to %s\n", runs, runs == 1 ? "" : "s",
                 TerminalText(output).c_str());
  if (damaged > 0) {
    std::fprintf(err, "velmo-cli: %" PRId64 " damaged run%s left out\n", damaged,
                 damaged == 1 ? "" : "s");
    return kExitBadRecord;
  }
  return kExitOk;
}

// A start time of the right shape that names no moment (31 February) would
// be kept as another day: refused as a broken record is.
bool ImportedStartTimeHolds(const ScanRecord& record, std::string* why) {
  std::string impossible;
  ParseIsoTime(record.startTime, &impossible);
  if (impossible.empty()) return true;
  *why = "startTime " + record.startTime + " is no time: " + impossible;
  return false;
}

// One input of an import: a record file, or JSON lines (an export, or
// records one a line).
class CImportInput {
 public:
  // Standard input is kept in a file of its own first: it is read twice.
  bool Open(const std::string& name, std::string* error, int* code) {
    m_name = name == "-" ? "standard input" : name;
    if (name == "-") {
      m_file.reset(std::tmpfile());
      char buffer[1 << 16];
      size_t got;
      while (m_file && (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        if (std::fwrite(buffer, 1, got, m_file.get()) != got) m_file.reset();
      }
      if (!m_file || std::ferror(stdin)) {
        *error = "standard input cannot be kept for reading";
        *code = kExitNoRecord;
        return false;
      }
    } else {
      // The record reader's own checks first: no FIFO, device or folder.
      ScanRecord record;
      RecordLoadError kind = RecordLoadError::kNone;
      std::string why;
      if (!LoadRecordFile(name, &record, &why, &kind) && kind == RecordLoadError::kUnreadable) {
        *error = why;
        *code = kExitNoRecord;
        return false;
      }
      m_file.reset(std::fopen(name.c_str(), "rb"));
      if (!m_file) {
        *error = name + ": " + std::strerror(errno);
        *code = kExitNoRecord;
        return false;
      }
    }
    m_path = name;
    return true;
  }

  // Every run of the input to each, in batches; false with *error naming
  // the input (and line) at the first thing that is no record.
  bool Read(size_t batch, const std::function<bool(std::vector<ImportedRun>&)>& each,
            std::string* error) {
    std::rewind(m_file.get());
    std::string line;
    bool tooLong = false;
    if (!ReadLine(&line, &tooLong)) {
      *error = m_name + ": empty, not a scan record";
      return false;
    }
    std::vector<ImportedRun> runs;
    if (!tooLong && LooksLikeOneLine(line)) {
      size_t number = 1;
      do {
        if (tooLong) {
          *error = m_name + ":" + std::to_string(number) + ": a line longer than any record";
          return false;
        }
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
          runs.emplace_back();
          std::string why;
          if (!ReadLineRun(line, &runs.back(), &why) ||
              !ImportedStartTimeHolds(runs.back().record, &why)) {
            *error = m_name + ":" + std::to_string(number) + ": " + why;
            return false;
          }
        }
        if (runs.size() >= batch) {
          if (!each(runs)) return false;
          runs.clear();
        }
        ++number;
      } while (ReadLine(&line, &tooLong));
    } else {
      // A record file as `scan --json` writes it.
      runs.emplace_back();
      std::string why;
      if (m_path != "-") {
        if (!LoadRecordFile(m_path, &runs.back().record, &why)) {
          *error = why;
          return false;
        }
        if (!ImportedStartTimeHolds(runs.back().record, &why)) {
          *error = m_name + ": " + why;
          return false;
        }
      } else {
        std::string text;
        std::rewind(m_file.get());
        char buffer[1 << 16];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, m_file.get())) > 0 &&
               text.size() <= kRecordMaxBytes)
          text.append(buffer, got);
        if (!ReadRecordJson(text, &runs.back().record, &why) ||
            !ImportedStartTimeHolds(runs.back().record, &why)) {
          *error = m_name + ": " + why;
          return false;
        }
      }
    }
    return runs.empty() || each(runs);
  }

  const std::string& Name() const { return m_name; }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  // The next line without its newline; false at the end.
  bool ReadLine(std::string* line, bool* tooLong) {
    line->clear();
    *tooLong = false;
    char buffer[1 << 16];
    bool any = false;
    while (std::fgets(buffer, sizeof buffer, m_file.get()) != nullptr) {
      any = true;
      const size_t length = std::strlen(buffer);
      if (!*tooLong) line->append(buffer, length);
      if (line->size() > kMaxLineBytes) {
        *tooLong = true;
        line->clear();
      }
      if (length > 0 && buffer[length - 1] == '\n') {
        if (!line->empty()) line->pop_back();
        return true;
      }
    }
    return any;
  }

  // A whole JSON object on the first line: JSON lines. A record file's
  // first line is its opening brace alone.
  static bool LooksLikeOneLine(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] != '{') return false;
    return Json::accept(line);
  }

  static bool ReadLineRun(const std::string& line, ImportedRun* run, std::string* error) {
    // The record reader refuses what is nested too deeply before parsing;
    // the line is given the same check first.
    if (RecordNestedTooDeeply(line)) return ReadRecordJson(line, &run->record, error);
    Json json;
    try {
      json = Json::parse(line);
    } catch (const Json::exception&) {
      // Said as the record reader says it of a broken record.
      return ReadRecordJson(line, &run->record, error);
    }
    if (!json.is_object()) {
      *error = "not a scan record or an exported run";
      return false;
    }
    // A record of its own on the line, or an exported run around one.
    if (json.contains("format")) return ReadRecordJson(line, &run->record, error);
    const auto record = json.find("record");
    const auto host = json.find("host");
    if (record == json.end() || !record->is_object() ||
        (host != json.end() && !host->is_string())) {
      *error = "not a scan record or an exported run (\"record\" and \"host\")";
      return false;
    }
    if (host != json.end()) run->host = host->get<std::string>();
    return ReadRecordJson(record->dump(), &run->record, error);
  }

  std::string m_name;
  std::string m_path;
  std::unique_ptr<std::FILE, Closer> m_file;
};

int RunImport(const std::vector<std::string>& args, const CliOptions& options, std::FILE* out,
              std::FILE* err) {
  if (args.empty())
    return CliUsageError(err, "history", "history import needs files (or - for standard input)");
  for (const std::string& arg : args) {
    if (arg.size() > 1 && arg[0] == '-')
      return CliUsageError(err, "history", "unknown option '" + arg + "' for history import");
  }
  std::vector<CImportInput> inputs(args.size());
  std::string error;
  int code = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!inputs[i].Open(args[i], &error, &code)) {
      std::fprintf(err, "velmo-cli: %s; nothing imported\n", TerminalText(error).c_str());
      return code;
    }
  }
  // Every input is read whole before the first run is kept: one that is no
  // record leaves the history as it was.
  for (CImportInput& input : inputs) {
    if (!input.Read(
            kImportBatch, [](std::vector<ImportedRun>&) { return true; }, &error)) {
      std::fprintf(err, "velmo-cli: %s; nothing imported\n", TerminalText(error).c_str());
      return kExitBadRecord;
    }
  }
  CHistory history;
  if (const int opened = OpenForWriting(&history, options, err)) return opened;
  int64_t added = 0, skipped = 0;
  for (CImportInput& input : inputs) {
    const bool read = input.Read(
        kImportBatch,
        [&](std::vector<ImportedRun>& runs) {
          int64_t batchAdded = 0, batchSkipped = 0;
          if (!history.Import(runs, &batchAdded, &batchSkipped, &error)) return false;
          added += batchAdded;
          skipped += batchSkipped;
          return true;
        },
        &error);
    if (!read) {
      std::fprintf(err, "velmo-cli: %s: %s (%" PRId64 " runs imported before it)\n",
                   TerminalText(input.Name()).c_str(), TerminalText(error).c_str(), added);
      return CliHistoryFailureExit(history, kExitCannotWrite);
    }
  }
  std::fprintf(out, "imported %" PRId64 " run%s, %" PRId64 " already in the history\n", added,
               added == 1 ? "" : "s", skipped);
  return kExitOk;
}

}  // namespace

bool IsHistorySubcommand(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  for (const char* name : {"delete", "prune", "export", "import", "push"}) {
    if (args[0] == name) return true;
  }
  return false;
}

int RunHistorySubcommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const std::string& name = options.commandArgs.front();
  const std::vector<std::string> args(options.commandArgs.begin() + 1, options.commandArgs.end());
  if (name == "delete") return RunDelete(args, options, out, err);
  if (name == "prune") return RunPrune(args, options, out, err);
  if (name == "export") return RunExport(args, options, out, err);
  if (name == "push") return RunHistoryPush(options, out, err);
  return RunImport(args, options, out, err);
}
