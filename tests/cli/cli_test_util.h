// Running a velmo-cli command in the test process, over the simulator with
// no latency and a disc that lands almost at once, with its output captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/disc_preparation.h"
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "session/drive_session.h"
#include "simulator/sim_drive.h"

struct Captured {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string Slurp(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char chunk[512];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  std::fclose(f);
  return text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

using CommandFunction =
    std::function<int(CDriveSession&, const CliOptions&, std::FILE*, std::FILE*)>;

// A quick disc wait: the simulated disc lands after 30 ms.
inline DiscWait QuickWait() {
  DiscWait wait;
  wait.period = std::chrono::milliseconds(5);
  wait.limit = std::chrono::milliseconds(1000);
  return wait;
}

// scan and smart as velmo-cli runs them, with the quick disc wait.
inline int Scan(CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
  return RunScanCommand(session, options, out, err, QuickWait());
}
inline int Smart(CDriveSession& session, const CliOptions& options, std::FILE* out,
                 std::FILE* err) {
  return RunSmartCommand(session, options, out, err, QuickWait());
}

// afterwards, when given, sees the session once the command is done, drives included.
// insertDelayMs: how long the simulated disc takes to land and spin up (0:
// ready at once, so a run's exchanges do not depend on timing).
inline Captured RunCli(const std::vector<std::string>& args, const CommandFunction& command,
                       const std::function<void(CDriveSession&)>& afterwards = nullptr,
                       int insertDelayMs = 30) {
  Captured result;
  std::string error;
  auto options = ParseCliOptions(args, &error);
  if (!options) {
    ADD_FAILURE() << error;
    return result;
  }
  options->simInsertDelayMs = insertDelayMs;
  CDriveSession session;
  std::string messages;
  const SessionOpening opening = session.Open(
      *options, [&](const std::string& text, const std::string&) { messages += text + "\n"; });
  EXPECT_TRUE(opening.Opened()) << opening.error;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  result.exitCode = command(session, *options, out, err);
  if (afterwards) afterwards(session);
  result.out = Slurp(out);
  result.err = messages + Slurp(err);
  return result;
}

// A file name in the test temp folder, gone when the test ends.
class TempPath {
 public:
  explicit TempPath(const std::string& name)
      : m_path(::testing::TempDir() + "/velmo-cli-" + std::to_string(::getpid()) + "-" + name) {
    std::remove(m_path.c_str());
  }
  ~TempPath() { std::remove(m_path.c_str()); }
  const std::string& str() const { return m_path; }
  operator const std::string&() const { return m_path; }

 private:
  std::string m_path;
};
