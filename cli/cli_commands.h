// velmo-cli's commands, one row each: parsing, help and dispatch read this
// table, so a new command is one row and its handler. Main thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct CliOptions;
class CDriveSession;

// velmo-cli's own options a command may take besides the run options.
enum CliOptionSet : unsigned {
  kTakesSpeed = 1u << 0,
  kTakesDensity = 1u << 1,
  kTakesLog = 1u << 2,
  kTakesCsv = 1u << 3,
  kTakesJson = 1u << 4,
  kTakesChart = 1u << 5,
  kTakesReport = 1u << 6,
  kTakesWatchOptions = 1u << 7,  // --smart, --eject, --report-dir, --count
  kTakesDriveAll = 1u << 8,      // --drive all
  kDriveAllItself = 1u << 9,     // --drive all: the command goes through the drives itself
  kTakesPart = 1u << 10,         // --from, --to, --resume
  kTakesLong = 1u << 11,         // --long
};

// How a command runs: exactly one of the three, in the same bits as the
// options it takes.
// On the drive session main opens from the run options.
inline constexpr unsigned kRunsOnDrive = 1u << 16;
// Needs no drive; reads its own arguments (options.commandArgs).
inline constexpr unsigned kRunsOnRecords = 1u << 17;
// Reads the whole command line itself, before velmo-cli's parser; claims
// tells whether a command line is its.
inline constexpr unsigned kRunsOwnMain = 1u << 18;
inline constexpr unsigned kCliRunKinds = kRunsOnDrive | kRunsOnRecords | kRunsOwnMain;

// What a command's handler is given.
struct CliCall {
  const std::vector<std::string>& args;  // the whole command line
  const CliOptions* options;             // as parsed; null for kRunsOwnMain
  CDriveSession* session;                // open for kRunsOnDrive, else null
  std::FILE* out;
  std::FILE* err;
};

struct CliCommand {
  const char* name;
  std::string summary;     // its line under "commands:" in velmo-cli --help
  std::string (*usage)();  // velmo-cli COMMAND --help; null: velmo-cli --help
  unsigned flags;          // one kRuns... bit, and the CliOptionSet bits it takes
  int (*run)(const CliCall& call);
  // kRunsOwnMain: whether a command line is its.
  bool (*claims)(const std::vector<std::string>& args) = nullptr;
  // Its arguments in velmo-cli --help's synopsis when it has no usage of its
  // own (otherwise the usage's first lines are its synopsis).
  const char* synopsis = nullptr;

  unsigned RunKind() const { return flags & kCliRunKinds; }
};

// In the order velmo-cli --help lists them.
const std::vector<CliCommand>& CliCommands();
// nullptr for an unknown name.
const CliCommand* FindCliCommand(const std::string& name);

// The commands a usage error names when none or an unknown one is given:
// "drives, identify, ... or recover".
std::string CliCommandNames();
// velmo-cli --help's lines naming each command with its arguments, one
// command after the other, every line indented as "usage: " is.
std::string CliCommandSynopses();
