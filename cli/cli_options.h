// Command line of velmo-cli: the run options both programs take (session/)
// and velmo-cli's own command and outputs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "commands/speed_codes.h"
#include "session/run_options.h"

// Exit codes of velmo-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotRecommended = 1;
inline constexpr int kExitDriveFailure = 2;
inline constexpr int kExitNoDrive = 3;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitCannotWrite =
    73;  // a log, trace, CSV, JSON or chart file could not be written
inline constexpr int kExitStdoutFailed = 74;  // standard output or error could not be written
inline constexpr int kExitBusy = 75;          // another run holds the log or the drive
inline constexpr int kExitInterrupted = 130;  // Ctrl-C stopped the run (128 + SIGINT)
inline constexpr int kExitReaderGone = 141;   // standard output's reader went away (128 + SIGPIPE)

struct CliOptions : RunOptions {
  std::string command;                   // a name in the command table (cli_commands.h)
  std::vector<std::string> commandArgs;  // what follows a command that reads its own
  bool local = false;                    // --local: the station's own history, not the lab's

  // scan only
  std::optional<SpeedCode> speed;  // none: the first speed the disc lists
  const DensityChoice* density = &kDensityChoices[0];
  std::string logFile = "TEFE.txt";
  std::string csvFile;       // empty: none
  std::string jsonFile;      // empty: none
  std::string chartFile;     // empty: none
  bool chartFitted = false;  // --chart-range readings: y fitted to the readings, not 0..600
  std::string reportFile;    // empty: none; a report file, or its extension alone
  bool quiet = false;        // --quiet, -q: errors and the verdict only
  std::string from, to;  // --from, --to: a part of the disc (ParseDiscPosition); empty: its ends
  std::string resume;    // --resume: the run to go on from, an ID or a record file
  bool longListing = false;  // drives --long: each drive's own facts

  // watch only
  bool smart = false;     // --smart: Smart Scan instead of a scan
  bool eject = false;     // --eject
  std::string reportDir;  // --report-dir: empty for the working directory, no reports
  int count = 0;          // --count: 0 for no limit
};

// Parses argv; on a usage error returns nothing and sets *error.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string* error);

std::string CliUsage();
// history, show and compare: they work on kept runs and read their own arguments.
bool IsRecordCommand(const std::string& command);
// Help of one command (velmo-cli COMMAND --help); empty for an unknown one.
std::string CommandUsage(const std::string& command);

// The one line that follows a usage error.
inline constexpr char kCliHelpHint[] = "try 'velmo-cli --help'";
// The same, pointing at the command's own help when it has one.
std::string HelpHint(const std::string& command);
// Says message as a usage error of command on err, with the hint to that
// command's help; returns kExitUsage.
int CliUsageError(std::FILE* err, const std::string& command, const std::string& message);
// The command a command line names (its first word that is one), for the
// hint after a usage error; empty when none does.
std::string CommandNamedIn(const std::vector<std::string>& args);
