// The options both front ends take: which drives (this machine's or the
// simulator's), the trace, and whether runs are kept in the history. Read
// on the main thread before anything else starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One entry of the graph density list (velmo-cli --density, the window's list).
struct DensityChoice {
  const char* name;   // as --density takes it
  const char* label;  // as the window lists it
  int32_t step;
  uint8_t mode;
};

inline constexpr int kDensityChoiceCount = 3;
extern const DensityChoice kDensityChoices[kDensityChoiceCount];  // list order, Normal first

struct RunOptions {
  bool simulate = false;
  std::string scenario;             // empty: the default scenario
  bool listScenarios = false;       // --simulate=help
  bool aspi = false;                // --transport=aspi
  int simLatencyMs = -1;            // -1: drive-like default
  bool simLatencyRecorded = false;  // --sim-latency=recorded: a replay takes recorded time
  int drive = 0;
  bool driveAll = false;  // --drive all
  std::string traceFile;
  bool help = false;
  bool version = false;
  bool noHistory = false;  // --no-history: this run is not kept in the history
  std::string historyUrl;  // --history URL: a lab's history (postgresql://...)

  // Not an option: tests set it so the simulated disc lands at once.
  int simInsertDelayMs = -1;
};

// One of the options above at args[*i]: true when it was one (advancing *i
// past a separate value); *error is set, and true returned, when its value
// is wrong.
bool TakeRunOption(const std::vector<std::string>& args, size_t* i, RunOptions* options,
                   std::string* error);

// Options that need --simulate given without it; empty when all is well.
std::string CheckRunOptions(const RunOptions& options);

// "--name=value" or "--name value" at args[*i]: the value, advancing *i for
// the second form; false when args[*i] is not that option with a value.
bool TakeValue(const std::vector<std::string>& args, size_t* i, const std::string& name,
               std::string* value);

// text as a whole decimal number from min to max.
bool ParseIntInRange(const std::string& text, int min, int max, int* value);

// The trace of --simulate=replay:FILE; empty when the scenario is no replay.
std::string ReplayFile(const RunOptions& options);

// An argument as a run started in another folder must get it: a recording
// to replay by its absolute path, anything else as it is.
std::string ArgumentForAnotherFolder(const std::string& arg);
