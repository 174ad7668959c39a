#include "session/run_options.h"

#include <charconv>
#include <filesystem>
#include <string_view>

#include "console/scan_run.h"

const DensityChoice kDensityChoices[kDensityChoiceCount] = {
    {"normal", "Normal (Default)", kNormalDensityStep, kDensityNormal},
    {"full", "Full", kFullDensityStep, kDensityFull},
    {"quick", "Quick", kNormalDensityStep, kDensityQuick},
};

bool ParseIntInRange(const std::string& text, int min, int max, int* value) {
  int parsed = 0;
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, parsed);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) return false;
  if (parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

bool TakeValue(const std::vector<std::string>& args, size_t* i, const std::string& name,
               std::string* value) {
  const std::string& arg = args[*i];
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  if (arg == name && *i + 1 < args.size()) {
    *value = args[++*i];
    return true;
  }
  return false;
}

bool TakeRunOption(const std::vector<std::string>& args, size_t* i, RunOptions* options,
                   std::string* error) {
  const std::string& arg = args[*i];
  std::string value;
  if (arg == "--help" || arg == "-h") {
    options->help = true;
  } else if (arg == "--version") {
    options->version = true;
  } else if (arg == "--simulate") {
    options->simulate = true;
  } else if (arg.rfind("--simulate=", 0) == 0) {
    options->simulate = true;
    options->scenario = arg.substr(11);
    if (options->scenario == "help") {
      options->listScenarios = true;
      options->scenario.clear();
    } else if (options->scenario.empty()) {
      *error = "--simulate= needs a scenario name (--simulate=help lists them)";
    } else if (options->scenario == "replay:") {
      *error = "--simulate=replay: needs a trace file (--simulate=replay:FILE)";
    }
  } else if (TakeValue(args, i, "--transport", &value)) {
    if (value == "aspi") {
      options->aspi = true;
    } else if (value == "spti") {
      options->aspi = false;
    } else {
      *error = "--transport must be spti or aspi, not '" + value + "'";
    }
  } else if (TakeValue(args, i, "--sim-latency", &value)) {
    options->simLatencyRecorded = value == "recorded";
    if (options->simLatencyRecorded) {
      options->simLatencyMs = -1;
    } else if (!ParseIntInRange(value, 0, 60000, &options->simLatencyMs)) {
      *error = "--sim-latency needs milliseconds from 0 to 60000, not '" + value + "'";
    }
  } else if (TakeValue(args, i, "--drive", &value)) {
    if (value == "all") {
      options->driveAll = true;
    } else if (!ParseIntInRange(value, 0, 7, &options->drive)) {
      *error = "--drive needs a drive index from 0 to 7, not '" + value + "'";
    }
  } else if (TakeValue(args, i, "--trace", &value)) {
    if (value.empty()) {
      *error = "--trace needs a file name";
    } else {
      options->traceFile = value;
    }
  } else if (arg == "--no-history") {
    options->noHistory = true;
  } else if (TakeValue(args, i, "--history", &value)) {
    if (value.rfind("postgresql://", 0) != 0 && value.rfind("postgres://", 0) != 0) {
      // Not echoed: whatever it is may hold a password.
      *error = "--history takes a lab history's URL (postgresql://... or postgres://...)";
    } else {
      options->historyUrl = value;
    }
  } else {
    return false;
  }
  return true;
}

std::string CheckRunOptions(const RunOptions& options) {
  if (options.aspi && !options.simulate) {
    return "--transport=aspi needs --simulate: this platform has no ASPI layer";
  }
  if (options.simLatencyMs >= 0 && !options.simulate) return "--sim-latency needs --simulate";
  const bool replay = options.simulate && !ReplayFile(options).empty();
  if (options.simLatencyRecorded && !replay)
    return "--sim-latency=recorded needs --simulate=replay:FILE";
  if (replay && options.simLatencyMs > 0)
    return "a replay takes --sim-latency=recorded or 0, not milliseconds";
  return "";
}

std::string ArgumentForAnotherFolder(const std::string& arg) {
  static constexpr std::string_view kReplay = "--simulate=replay:";
  if (arg.compare(0, kReplay.size(), kReplay) != 0 || arg.size() == kReplay.size()) return arg;
  std::error_code ignored;
  const std::filesystem::path path = std::filesystem::absolute(arg.substr(kReplay.size()), ignored);
  return path.empty() ? arg : std::string(kReplay) + path.string();
}

std::string ReplayFile(const RunOptions& options) {
  static constexpr std::string_view kPrefix = "replay:";
  if (options.scenario.compare(0, kPrefix.size(), kPrefix) != 0) return "";
  return options.scenario.substr(kPrefix.size());
}
