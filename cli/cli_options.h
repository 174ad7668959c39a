// Command line of velmo-cli (and the simulator options velmo shares).
#pragma once

#include <optional>
#include <string>
#include <vector>

// Exit codes of velmo-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotRecommended = 1;
inline constexpr int kExitDriveFailure = 2;
inline constexpr int kExitNoDrive = 3;
inline constexpr int kExitUsage = 64;

struct CliOptions {
  bool simulate = false;
  std::string scenario;      // empty: the default scenario
  bool listScenarios = false;  // --simulate=help
  bool aspi = false;         // --transport=aspi
  int simLatencyMs = -1;     // -1: drive-like default
  int drive = 0;
  std::string traceFile;
  bool help = false;
  bool version = false;
  std::string command;       // drives, ...
};

// Parses argv; on a usage error returns nothing and sets *error.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string* error);

std::string CliUsage();
