// velmo-cli: the scan tool without a window, for automation, headless
// machines and the project's own end-to-end tests.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/doctor_command.h"
#include "cli/drive_fanout.h"
#include "session/drive_session.h"
#include "cli/drives_command.h"
#include "cli/identify_command.h"
#include "cli/record_commands.h"
#include "cli/report_command.h"
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "cli/watch_command.h"
#include "session/output_file.h"
#include "session/standard_fds.h"
#include "simulator/sim_scenarios.h"

namespace {

void ListScenarios(std::FILE* out) {
  std::fprintf(out, "Simulator scenarios (--simulate=NAME); the first is the default:\n");
  for (const SimScenario& scenario : SimScenarios()) {
    std::fprintf(out, "  %-20s %s\n", scenario.name.c_str(), scenario.description.c_str());
  }
}

// The file --report names; empty for none or for a default name (made
// from the run, so it cannot be known to clash yet).
std::string ReportPath(const CliOptions& options) {
  const std::string& value = options.reportFile;
  return value == "png" || value == "pdf" || value == "html" ? "" : value;
}

// Two outputs naming one file would overwrite or interleave each other:
// refused before the drive is touched. The message, or empty.
std::string SameFileError(const CliOptions& options) {
  const bool scan = options.command == "scan";
  const std::vector<std::pair<const char*, std::string>> outputs = {
      {"--log", scan ? options.logFile : ""},     {"--csv", options.csvFile},
      {"--json", options.jsonFile},               {"--chart", options.chartFile},
      {"--trace", options.traceFile},            {"--report", ReportPath(options)}};
  std::vector<std::string> paths;
  for (const auto& output : outputs) paths.push_back(output.second);
  const auto same = FindSameOutput(paths);
  if (!same) return "";
  return std::string(outputs[same->first].first) + " and " + outputs[same->second].first +
         " name the same file ('" + paths[same->first] + "', '" + paths[same->second] +
         "'); give each output its own";
}

}  // namespace

int main(int argc, char** argv) {
  // Before any file is opened: none may become descriptor 0, 1 or 2.
  ReopenClosedStandardDescriptors();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (IsDoctorCommand(args)) return RunDoctorMain(args, stdout, stderr);
  std::string error;
  auto options = ParseCliOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "velmo-cli: %s; %s\n", error.c_str(), kCliHelpHint);
    return kExitUsage;
  }
  const bool recordCommand = IsRecordCommand(options->command);
  if (recordCommand) {
    for (const std::string& arg : options->commandArgs) options->help |= arg == "--help" || arg == "-h";
  }
  if (options->help) {
    const std::string commandHelp = recordCommand ? RecordCommandUsage(options->command)
                                                  : CommandUsage(options->command);
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
    std::fprintf(stderr, "velmo-cli: no command given (drives, identify, scan, smart, history, show, compare, report or doctor); %s\n",
                 kCliHelpHint);
    return kExitUsage;
  }
  const std::string& command = options->command;
  // Kept runs and their reports need no drive.
  if (command == "history") return RunHistoryCommand(*options, stdout, stderr);
  if (command == "show") return RunShowCommand(*options, stdout, stderr);
  if (command == "compare") return RunCompareCommand(*options, stdout, stderr);
  if (command == "report") return RunReportCommand(*options, stdout, stderr);
  if (command != "drives" && command != "identify" && command != "scan" && command != "smart" &&
      command != "watch") {
    std::fprintf(stderr,
                 "velmo-cli: unknown command '%s' (drives, identify, scan, smart, history, show, compare, report or doctor); %s\n",
                 command.c_str(), kCliHelpHint);
    return kExitUsage;
  }

  if (const std::string same = SameFileError(*options); !same.empty()) {
    std::fprintf(stderr, "velmo-cli: %s; %s\n", same.c_str(), kCliHelpHint);
    return kExitUsage;
  }
  // An output on standard output keeps it to itself; what a person reads
  // goes to standard error.
  std::FILE* human = stdout;
  for (const std::string* path : {&options->traceFile, &options->csvFile, &options->jsonFile,
                                  &options->chartFile, &options->logFile,
                                  &options->reportFile}) {
    if (path == &options->logFile && command != "scan") continue;
    if (!path->empty() && IsStandardOutput(*path)) human = stderr;
  }

  CDriveSession session;
  auto messages = [](const std::string& text, const std::string&) {
    std::fprintf(stderr, "velmo-cli: %s\n", text.c_str());
  };
  if (!session.Open(*options, messages, &error)) {
    std::fprintf(stderr, "velmo-cli: %s\n", error.c_str());
    return session.TraceFailed() ? kExitCannotWrite : kExitUsage;
  }
  int code = kExitOk;
  if (options->driveAll) {
    code = RunOnEveryDrive(session, *options, args, human, stderr);
  } else if (command == "watch") {
    code = RunWatchCommand(session, *options, human, stderr);
  } else if (command == "identify") {
    code = RunIdentifyCommand(session, *options, human, stderr);
  } else if (command == "scan") {
    code = RunScanCommand(session, *options, human, stderr);
  } else if (command == "smart") {
    code = RunSmartCommand(session, *options, human, stderr);
  } else {
    code = RunDrivesCommand(session, human, stderr);
  }
  if (const int traceError = session.TraceWriteError(); traceError != 0) {
    std::fprintf(stderr, "velmo-cli: the trace file %s lost lines: %s\n",
                 options->traceFile.c_str(), std::strerror(traceError));
    code = kExitCannotWrite;
  }
  return code;
}
