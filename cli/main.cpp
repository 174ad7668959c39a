// velmo-cli: the scan tool without a window, for automation, headless
// machines and the project's own end-to-end tests.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/drive_fanout.h"
#include "cli/record_commands.h"
#include "cli/standard_streams.h"
#include "history/history.h"
#include "reports/report_format.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/output_file.h"
#include "session/sim_catalogue.h"
#include "session/standard_fds.h"
#include "session/terminal_text.h"

namespace {

void ListScenarios(std::FILE* out) {
  std::fprintf(out, "Simulator scenarios (--simulate=NAME); the first is the default:\n");
  std::fputs(SimScenarioLines().c_str(), out);
  std::fprintf(out,
               "  replay:FILE          the drives of a trace written with --trace=FILE, answering "
               "as they did\n");
}

// The file --report names; empty for none or for a default name (made
// from the run, so it cannot be known to clash yet).
std::string ReportPath(const CliOptions& options) {
  for (const ReportFormatRow& row : ReportFormats()) {
    if (options.reportFile == row.extension) return "";
  }
  return options.reportFile;
}

// Two outputs naming one file would overwrite or interleave each other:
// refused before the drive is touched. The message, or empty.
std::string SameFileError(const CliOptions& options) {
  const CliCommand* row = FindCliCommand(options.command);
  const bool scan = row != nullptr && (row->flags & kTakesLog) != 0;
  const std::vector<std::pair<const char*, std::string>> outputs = {
      {"--log", scan ? options.logFile : ""}, {"--csv", options.csvFile},
      {"--json", options.jsonFile},           {"--chart", options.chartFile},
      {"--trace", options.traceFile},         {"--report", ReportPath(options)}};
  std::vector<std::string> paths;
  for (const auto& output : outputs) paths.push_back(output.second);
  const auto same = FindSameOutput(paths);
  if (!same) return "";
  return std::string(outputs[same->first].first) + " and " + outputs[same->second].first +
         " name the same file ('" + paths[same->first] + "', '" + paths[same->second] +
         "'); give each output its own";
}

// The command line's command, help, version or scenario list; its exit code.
int RunCommandLine(const std::vector<std::string>& args) {
  for (const CliCommand& command : CliCommands()) {
    if (command.RunKind() == kRunsOwnMain && command.claims(args))
      return command.run({args, nullptr, nullptr, stdout, stderr});
  }
  std::string error;
  auto options = ParseCliOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "velmo-cli: %s; %s\n", TerminalText(error).c_str(),
                 HelpHint(CommandNamedIn(args)).c_str());
    return kExitUsage;
  }
  const CliCommand* row = FindCliCommand(options->command);
  if (row != nullptr && row->RunKind() == kRunsOnRecords) {
    for (const std::string& arg : options->commandArgs)
      options->help |= arg == "--help" || arg == "-h";
  }
  if (options->help) {
    const std::string commandHelp = CommandUsage(options->command);
    std::fputs(commandHelp.empty() ? CliUsage().c_str() : commandHelp.c_str(), stdout);
    return kExitOk;
  }
  if (options->version) {
    std::puts("velmo-cli " VELMO_VERSION);
    return kExitOk;
  }
  if (options->listScenarios) {
    ListScenarios(stdout);
    return kExitOk;
  }
  if (options->command.empty()) {
    std::fprintf(stderr, "velmo-cli: no command given (%s); %s\n", CliCommandNames().c_str(),
                 kCliHelpHint);
    return kExitUsage;
  }
  const std::string& command = options->command;
  // Kept runs and their reports need no drive.
  if (row != nullptr && row->RunKind() == kRunsOnRecords)
    return row->run({args, &*options, nullptr, stdout, stderr});
  if (row != nullptr && row->RunKind() == kRunsOwnMain)
    return row->run({args, nullptr, nullptr, stdout, stderr});
  if (row == nullptr) {
    std::fprintf(stderr, "velmo-cli: unknown command '%s' (%s); %s\n",
                 TerminalText(command).c_str(), CliCommandNames().c_str(), kCliHelpHint);
    return kExitUsage;
  }

  for (const std::string& refused : {SameFileError(*options), DriveAllOutputError(*options)}) {
    if (refused.empty()) continue;
    std::fprintf(stderr, "velmo-cli: %s; %s\n", TerminalText(refused).c_str(),
                 HelpHint(command).c_str());
    return kExitUsage;
  }
  // An output on standard output keeps it to itself; what a person reads
  // goes to standard error.
  std::FILE* human = stdout;
  for (const std::string* path : {&options->traceFile, &options->csvFile, &options->jsonFile,
                                  &options->chartFile, &options->logFile, &options->reportFile}) {
    if (path == &options->logFile && (row->flags & kTakesLog) == 0) continue;
    if (!path->empty() && IsStandardOutput(*path)) human = stderr;
  }

  CDriveSession session;
  auto messages = [](const std::string& text, const std::string&) {
    std::fprintf(stderr, "velmo-cli: %s\n", TerminalText(text).c_str());
  };
  SessionOpening opening;
  {
    // A trace that is a FIFO waits here for its reader; a signal ends that.
    CInterruptWatch traceWait;
    opening = session.Open(*options, messages);
    if (opening.outcome == SessionOpenOutcome::kTraceNotWritable &&
        traceWait.StoppedOutput(opening.traceError)) {
      std::fprintf(stderr, "velmo-cli: %s: %s was waiting for a reader; the drive was not used\n",
                   traceWait.StopText().c_str(), TerminalText(options->traceFile).c_str());
      return traceWait.ExitCode();
    }
  }
  if (!opening.Opened()) {
    std::fprintf(stderr, "velmo-cli: %s\n", TerminalText(opening.error).c_str());
    switch (opening.outcome) {
      case SessionOpenOutcome::kReplayUnreadable: return kExitNoRecord;
      case SessionOpenOutcome::kReplayRefused: return kExitBadRecord;
      case SessionOpenOutcome::kTraceNotWritable: return kExitCannotWrite;
      default: return kExitUsage;
    }
  }
  int code = kExitOk;
  if (options->driveAll && (row->flags & kDriveAllItself) == 0) {
    code = RunOnEveryDrive(session, *options, args, human, stderr, stdout);
  } else {
    code = row->run({args, &*options, &session, human, stderr});
  }
  if (const int traceError = session.TraceWriteError(); traceError != 0) {
    std::fprintf(stderr, "velmo-cli: the trace file %s lost lines: %s\n",
                 options->traceFile.c_str(), std::strerror(traceError));
    code = kExitCannotWrite;
  }
  return code;
}

// Bringing a large history forward takes seconds: said before they start,
// once, by whichever command opened it first.
void SayHistoryMigration(const HistoryMigration& migration) {
  std::fprintf(stderr,
               "velmo-cli: updating the history at %s to version %d (%" PRId64 " run%s)...\n",
               TerminalText(migration.path).c_str(), migration.toVersion, migration.runs,
               migration.runs == 1 ? "" : "s");
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  // Before any file is opened: none may become descriptor 0, 1 or 2.
  ReopenClosedStandardDescriptors();
  // An output nobody reads is said at once, not waited on in silence.
  SetOutputReaderWait([](const std::string& given) {
    std::fprintf(stderr, "velmo-cli: %s is a FIFO nobody is reading; waiting for a reader\n",
                 TerminalText(given).c_str());
    return true;
  });
  SetHistoryMigrationWatcher(SayHistoryMigration);
  const int code = RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  // Every command's output, checked in one place.
  return FinishStandardStreams(code, stdout, stderr);
}
