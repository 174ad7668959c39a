// velmo-cli: the scan tool without a window, for automation, headless
// machines and the project's own end-to-end tests.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/drive_session.h"
#include "cli/drives_command.h"
#include "cli/identify_command.h"
#include "cli/record_commands.h"
#include "cli/report_command.h"
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "simulator/sim_scenarios.h"

namespace {

void ListScenarios(std::FILE* out) {
  std::fprintf(out, "Simulator scenarios (--simulate=NAME); the first is the default:\n");
  for (const SimScenario& scenario : SimScenarios()) {
    std::fprintf(out, "  %-20s %s\n", scenario.name.c_str(), scenario.description.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
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
    std::fprintf(stderr, "velmo-cli: no command given (drives, identify, scan, smart, history, show or compare); %s\n",
                 kCliHelpHint);
    return kExitUsage;
  }
  const std::string& command = options->command;
  // Kept runs and their reports need no drive.
  if (command == "history") return RunHistoryCommand(*options, stdout, stderr);
  if (command == "show") return RunShowCommand(*options, stdout, stderr);
  if (command == "compare") return RunCompareCommand(*options, stdout, stderr);
  if (command == "report") return RunReportCommand(*options, stdout, stderr);
  if (command != "drives" && command != "identify" && command != "scan" && command != "smart") {
    std::fprintf(stderr,
                 "velmo-cli: unknown command '%s' (drives, identify, scan, smart, history, show or compare); %s\n",
                 command.c_str(), kCliHelpHint);
    return kExitUsage;
  }

  CDriveSession session;
  auto messages = [](const std::string& text, const std::string&) {
    std::fprintf(stderr, "velmo-cli: %s\n", text.c_str());
  };
  if (!session.Open(*options, messages, &error)) {
    std::fprintf(stderr, "velmo-cli: %s\n", error.c_str());
    return kExitUsage;
  }
  if (command == "identify") return RunIdentifyCommand(session, *options, stdout, stderr);
  if (command == "scan") return RunScanCommand(session, *options, stdout, stderr);
  if (command == "smart") return RunSmartCommand(session, *options, stdout, stderr);
  return RunDrivesCommand(session, stdout, stderr);
}
