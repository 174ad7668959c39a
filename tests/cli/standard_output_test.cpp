// Standard output and error as velmo-cli ends: a full device, a reader that
// went away, a failure at an earlier write, and what each does to the exit
// code; first on the streams themselves, then with the binary's commands.
#include "cli/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "tests/cli/cli_process.h"
#include "tests/cli/cli_test_util.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

const char kFullSaid[] = "velmo-cli: standard output: No space left on device\n";

struct Ending {
  int code = -1;
  std::string said;  // on standard error
};

Ending Finish(int code, std::FILE* out) {
  std::FILE* err = std::tmpfile();
  const int exitCode = FinishStandardStreams(code, out, err);
  return {exitCode, Slurp(err)};
}

// Text still in the stream's buffer: the failure comes at the last flush.
std::FILE* FullWithPending() {
  std::FILE* out = std::fopen("/dev/full", "w");
  std::fputs("Disc Type:            DVD+R\n", out);
  return out;
}

// The write failed long before the end and nothing is pending any more:
// stdio kept only its error flag.
void FailNow(std::FILE* out) {
  const std::string big(64 * 1024, 'x');
  std::fwrite(big.data(), 1, big.size(), out);
  ASSERT_TRUE(std::ferror(out));
  ASSERT_EQ(__fpending(out), 0u);
}

TEST(StandardStreams, AFullOutputIsSaidAndFailsOnlyARunThatWentThrough) {
  const struct {
    int command;
    int exit;
  } cases[] = {
      {kExitOk, kExitStdoutFailed},           {kExitNotRecommended, kExitStdoutFailed},
      {kExitDriveFailure, kExitDriveFailure}, {kExitUsage, kExitUsage},
      {kExitCannotWrite, kExitCannotWrite},   {kExitInterrupted, kExitInterrupted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const Ending end = Finish(c.command, FullWithPending());
    EXPECT_EQ(end.code, c.exit);
    EXPECT_EQ(end.said, kFullSaid);
  }
}

TEST(StandardStreams, AnEarlierFailureIsStillSaidWithItsReason) {
  std::FILE* out = std::fopen("/dev/full", "w");
  FailNow(out);
  const Ending end = Finish(kExitOk, out);
  EXPECT_EQ(end.code, kExitStdoutFailed);
  EXPECT_EQ(end.said, kFullSaid);
}

// SIGPIPE is set to its default here: the test process lives only if the
// last flush does not raise it.
TEST(StandardStreams, AReaderThatWentAwayEndsAsItsSignalWouldWithoutAWord) {
  struct sigaction byDefault {
  }, before{};
  byDefault.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &byDefault, &before);
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "failed at an earlier write" : "fails at the last flush");
    for (const int command : {kExitOk, kExitNoDrive}) {
      int fds[2];
      ASSERT_EQ(pipe(fds), 0);
      close(fds[0]);
      std::FILE* out = fdopen(fds[1], "w");
      if (earlier) {
        struct sigaction ignore {
        }, kept{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &kept);
        FailNow(out);
        sigaction(SIGPIPE, &kept, nullptr);
      } else {
        std::fputs("[]\n", out);
      }
      const Ending end = Finish(command, out);
      EXPECT_EQ(end.code, command == kExitOk ? 128 + SIGPIPE : command);
      EXPECT_EQ(end.said, "");
    }
  }
  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_DFL) << "SIGPIPE is given back as it was";
  sigaction(SIGPIPE, &before, nullptr);
}

TEST(StandardStreams, WhatWentOutLeavesTheCodeAlone) {
  TempPath path("stdout.txt");
  std::FILE* out = std::fopen(path.str().c_str(), "w");
  std::fputs("0   VELMO   DVDRW VX-2016\n", out);
  const Ending end = Finish(kExitNotRecommended, out);
  EXPECT_EQ(end.code, kExitNotRecommended);
  EXPECT_EQ(end.said, "");
  EXPECT_EQ(ReadFile(path), "0   VELMO   DVDRW VX-2016\n") << "flushed as it was closed";
}

// Nobody can be told, but the exit code still says it.
TEST(StandardStreams, AFailedStandardErrorFailsARunThatWentThrough) {
  for (const int command : {kExitOk, kExitNoDrive}) {
    TempPath path("stdout.txt");
    std::FILE* out = std::fopen(path.str().c_str(), "w");
    std::FILE* err = std::fopen("/dev/full", "w");
    std::fputs("velmo-cli: This disc is ok for writing under this speed setting.\n", err);
    EXPECT_EQ(FinishStandardStreams(command, out, err),
              command == kExitOk ? kExitStdoutFailed : kExitNoDrive);
    std::fclose(err);
  }
}

// The binary itself, in a scratch folder with a history of its own.
class StandardOutputOfCommands : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_scratch = m_scratchFolder.Path();
    fs::create_directory(m_scratch + "/run");
  }

  Finished Run(const std::vector<std::string>& args, SpawnOptions options) {
    options.cwd = m_scratch + "/run";
    options.env.push_back("XDG_DATA_HOME=" + m_scratch + "/data");
    return Child(args, options).Wait();
  }

  // Commands that need neither a disc nor a kept run.
  static std::vector<std::vector<std::string>> QuickCommands() {
    return {
        {"--simulate", "--sim-latency=0", "drives"},
        {"--simulate", "--sim-latency=0", "recover"},
        {"history"},
        {"history", "--json"},
        {"--help"},
        {"scan", "--help"},
        {"--version"},
        {"--simulate=help"},
    };
  }

  ScratchFolder m_scratchFolder{"velmo-stdout"};
  std::string m_scratch;
};

std::string Joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

TEST_F(StandardOutputOfCommands, AFullDeviceIsSaidAndExits74) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  SpawnOptions options;
  options.stdoutFd = full;
  // Every command that writes to standard output; the scan's record (still
  // written: it is a file of its own) and kept run serve those after it.
  std::vector<std::vector<std::string>> commands = {
      {"--simulate", "--sim-latency=0", "scan", "--density=quick", "--json", "r.json"},
      {"--simulate", "--sim-latency=0", "identify"},
      {"--simulate", "--sim-latency=0", "doctor", "--json"},
      {"show", "--json", "r.json"},
      {"compare", "--json", "r.json", "r.json"},
  };
  for (const auto& args : QuickCommands()) commands.push_back(args);
  for (const auto& args : commands) {
    SCOPED_TRACE(Joined(args));
    const Finished run = Run(args, options);
    EXPECT_EQ(run.code, kExitStdoutFailed) << run.err;
    ASSERT_GE(run.err.size(), sizeof kFullSaid - 1);
    EXPECT_EQ(run.err.substr(run.err.size() - (sizeof kFullSaid - 1)), kFullSaid) << run.err;
    EXPECT_EQ(run.err.find(kFullSaid), run.err.rfind(kFullSaid)) << "said once";
  }
  EXPECT_NE(ReadAll(m_scratch + "/run/r.json").find("\"outcome\": \"ok\""), std::string::npos);
  // A command that failed on its own keeps its code; the lost output is
  // said all the same.
  const Finished refused =
      Run({"--simulate=old-firmware", "--sim-latency=0", "scan", "--no-history"}, options);
  EXPECT_EQ(refused.code, kExitDriveFailure);
  EXPECT_NE(refused.err.find(kFullSaid), std::string::npos) << refused.err;
  // Standard error full as well: nobody to tell, still not 0.
  options.stderrFd = full;
  EXPECT_EQ(Run({"history", "--json"}, options).code, kExitStdoutFailed);
  close(full);
}

// Standard error alone full, with the drive, disc and verdict lines on it
// (the JSON has standard output): the run did not say what it found.
TEST_F(StandardOutputOfCommands, AFullStandardErrorIsNotSuccess) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  SpawnOptions options;
  options.stderrFd = full;
  const Finished run =
      Run({"--simulate", "--sim-latency=0", "scan", "--density=quick", "--json", "-"}, options);
  EXPECT_EQ(run.code, kExitStdoutFailed);
  EXPECT_NE(run.out.find("\"outcome\": \"ok\""), std::string::npos) << run.out;
  close(full);
}

// A reader that went away before the first line: 141 as a shell reports it,
// whether SIGPIPE ends the process or, ignored, the write answers EPIPE;
// nothing said about standard output either way. (A scan stops its run at
// the signal instead, as the output rules show.)
TEST_F(StandardOutputOfCommands, AClosedPipeIs141) {
  for (const bool ignored : {false, true}) {
    SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE by default");
    for (const auto& args : QuickCommands()) {
      SCOPED_TRACE(Joined(args));
      int fds[2];
      ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
      close(fds[0]);
      SpawnOptions options;
      options.stdoutFd = fds[1];
      options.ignoreSigpipe = ignored;
      const Finished run = Run(args, options);
      close(fds[1]);
      EXPECT_EQ(run.ShellStatus(), 128 + SIGPIPE) << run.err;
      EXPECT_EQ(run.err.find("standard output"), std::string::npos) << run.err;
    }
  }
}

// The same with a kept run to write, SIGPIPE ignored as `trap '' PIPE`
// leaves it: export said "cannot write standard output" and exited 73, a
// report to standard output 73 as well.
TEST_F(StandardOutputOfCommands, AClosedPipeIs141ForWhatKeptRunsWriteToo) {
  ASSERT_EQ(Run({"--simulate", "--sim-latency=0", "scan", "--density=quick"}, {}).code, kExitOk);
  const std::vector<std::vector<std::string>> commands = {
      {"history", "export"},
      {"history", "export", "-o", "/dev/stdout"},
      {"history"},
      {"show", "1"},
      {"compare", "1", "1"},
      {"compare", "1", "1", "--chart", "-"},
      {"report", "1", "--html", "-"},
      {"report", "1", "--png", "-"},
      {"--simulate", "--sim-latency=0", "drives"},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(Joined(args));
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    close(fds[0]);
    SpawnOptions options;
    options.stdoutFd = fds[1];
    options.ignoreSigpipe = true;
    const Finished run = Run(args, options);
    close(fds[1]);
    EXPECT_EQ(run.ShellStatus(), 128 + SIGPIPE) << run.err;
    EXPECT_EQ(run.err.find("cannot write"), std::string::npos) << run.err;
  }
}

}  // namespace
