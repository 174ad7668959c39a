// velmo-cli --simulate=replay:FILE as a user runs it: a recorded scan
// replays to the same log bytes, verdict and exit code; a recording edited
// by hand gives the edited reading; the committed recordings of the fault
// scenarios (tests/replay/) still give what they gave; and a recording that
// is broken, missing or lacks an answer is said, never crashed on.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

namespace fs = std::filesystem;

namespace {

const std::string kFixtures = std::string(velmo_test::SourceDir()) + "/tests/replay/";

// stdout without the "Log:" line, whose elapsed seconds follow the clock.
std::string WithoutElapsed(const std::string& out) {
  std::string kept;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Log:", 0) != 0) kept += line + "\n";
  return kept;
}

class ReplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_scratch = m_scratchFolder.Path();
  }

  // A run in a fresh folder of its own; the folder is returned in *dir.
  Finished Run(const std::vector<std::string>& args, std::string* dir = nullptr) {
    const std::string folder = m_scratch + "/run" + std::to_string(m_runs++);
    fs::create_directory(folder);
    if (dir != nullptr) *dir = folder;
    SpawnOptions options;
    options.cwd = folder;
    options.env.push_back("XDG_DATA_HOME=" + m_scratch + "/data");
    return Child(args, options).Wait();
  }

  ScratchFolder m_scratchFolder{"velmo-replay"};
  std::string m_scratch;
  int m_runs = 0;
};

TEST_F(ReplayTest, ARecordedScanReplaysToTheSameLogVerdictAndExitCode) {
  // Each with its own way to end: ok, not recommended, a BUSY drive that
  // recovers, a time-out (replayed on recorded time), a disc taken out.
  const std::vector<std::pair<std::string, std::string>> scenarios = {
      {"dvd+r-good", "0"},     {"dvd+r-marginal", "0"},        {"busy-recovers", "0"},
      {"timeout", "recorded"}, {"eject-mid-scan", "recorded"},
  };
  for (const auto& [scenario, latency] : scenarios) {
    SCOPED_TRACE(scenario);
    const std::string trace = m_scratch + "/" + scenario + ".trace";
    std::string recordedDir, replayedDir;
    const Finished recorded = Run({"--simulate=" + scenario, "--sim-latency=0", "--trace=" + trace,
                                   "--no-history", "--log", "TEFE.txt", "scan"},
                                  &recordedDir);
    const Finished replayed = Run({"--simulate=replay:" + trace, "--sim-latency=" + latency,
                                   "--no-history", "--log", "TEFE.txt", "scan"},
                                  &replayedDir);
    EXPECT_EQ(replayed.code, recorded.code) << replayed.err;
    const std::string log = ReadAll(recordedDir + "/TEFE.txt");
    EXPECT_FALSE(log.empty());
    EXPECT_EQ(ReadAll(replayedDir + "/TEFE.txt"), log);
    EXPECT_EQ(WithoutElapsed(replayed.out), WithoutElapsed(recorded.out));
    EXPECT_EQ(replayed.err, recorded.err);
  }
}

TEST_F(ReplayTest, AHandEditedSampleGivesTheEditedReading) {
  const std::string trace = kFixtures + "dvd+r-good.trace";
  // The fifth sample's reply: TE 0x0999 (2457), FE 0x00D4 (212).
  std::ifstream in(trace);
  std::string edited;
  int samples = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("cdb=[FD FB") != std::string::npos && ++samples == 5)
      line = line.substr(0, line.find("data=[")) + "data=[00 09 99 00 12 00 D4 CF]";
    edited += line + "\n";
  }
  const std::string editedPath = m_scratch + "/edited.trace";
  std::ofstream(editedPath) << edited;

  std::string dir;
  const Finished run =
      Run({"--simulate=replay:" + editedPath, "--no-history", "--log", "TEFE.txt", "scan"}, &dir);
  EXPECT_EQ(run.code, 1) << "one sample over the limit: not recommended\n" << run.err;
  std::istringstream original(ReadAll(kFixtures + "dvd+r-good.TEFE.txt"));
  std::istringstream replayed(ReadAll(dir + "/TEFE.txt"));
  int lineNumber = 0;
  int differing = 0;
  for (std::string a, b; std::getline(original, a) && std::getline(replayed, b);) {
    ++lineNumber;
    if (a == b) continue;
    ++differing;
    EXPECT_EQ(lineNumber, 6) << "the header and four samples before it";
    EXPECT_EQ(b.substr(8, 10), " 2457  212") << b;
    EXPECT_NE(b.find("not recommended"), std::string::npos) << b;
  }
  EXPECT_EQ(differing, 1);
  EXPECT_NE(run.out.find("This disc is not recommended"), std::string::npos) << run.out;
}

// The committed recordings: drives, identify and the scan each holds.
TEST_F(ReplayTest, CommittedRecordingsStillReplayAsRecorded) {
  struct Fixture {
    const char* name;
    int scanExit;
    const char* scanSays;
  };
  const std::vector<Fixture> fixtures = {
      {"dvd+r-good", 0, "This disc is ok for writing under this speed setting."},
      {"busy-recovers", 0, "This disc is ok for writing under this speed setting."},
      {"timeout", 2, "did not answer"},
      {"drive-gone", 2, "the drive went away during the run"},
      {"invalid-reading", 2, ""},
  };
  for (const Fixture& fixture : fixtures) {
    SCOPED_TRACE(fixture.name);
    const std::string replay = "--simulate=replay:" + kFixtures + fixture.name + ".trace";
    const Finished drives = Run({replay, "drives"});
    EXPECT_EQ(drives.code, 0) << drives.err;
    EXPECT_NE(drives.out.find("0   VELMO   DVDRW VX-2016   1.02  sim:d:      accepted"),
              std::string::npos)
        << drives.out;
    const Finished identify = Run({replay, "identify"});
    EXPECT_EQ(identify.code, 0) << identify.err;
    EXPECT_NE(identify.out.find("Manufacture ID:       NOVADISC"), std::string::npos)
        << identify.out;
    std::string dir;
    const Finished scan = Run({replay, "--no-history", "--log", "TEFE.txt", "scan"}, &dir);
    EXPECT_EQ(scan.code, fixture.scanExit) << scan.err;
    EXPECT_EQ(ReadAll(dir + "/TEFE.txt"), ReadAll(kFixtures + fixture.name + ".TEFE.txt"));
    EXPECT_NE((scan.out + scan.err).find(fixture.scanSays), std::string::npos)
        << scan.out << scan.err;
    EXPECT_EQ(scan.err.find("no answer"), std::string::npos) << scan.err;
  }
}

// --drive all starts each drive's run in a folder of its own: a recording
// named from here is still found there.
TEST_F(ReplayTest, EveryDriveReplaysFromARecordingNamedRelatively) {
  std::string dir;
  const Finished none = Run({"--version"}, &dir);
  ASSERT_EQ(none.code, 0);
  fs::copy_file(kFixtures + "dvd+r-good.trace", dir + "/good.trace");
  SpawnOptions options;
  options.cwd = dir;
  options.env.push_back("XDG_DATA_HOME=" + m_scratch + "/data");
  const Finished all = Child({"--simulate=replay:good.trace", "--drive", "all", "--no-history",
                              "--log", "TEFE.txt", "scan"},
                             options)
                           .Wait();
  EXPECT_EQ(all.code, 0) << all.out << all.err;
  EXPECT_EQ(all.err.find("cannot be read"), std::string::npos) << all.err;
  EXPECT_EQ(ReadAll(dir + "/0-DVDRW_VX-2016/TEFE.txt"), ReadAll(kFixtures + "dvd+r-good.TEFE.txt"));
}

TEST_F(ReplayTest, ACommandTheRecordingLacksIsRefusedAndSaidOnce) {
  // The recorded scan ran on the first drive: the second one's diagnostic
  // mode was never asked. The replay refuses it as a drive that does not
  // know the command would.
  std::string dir;
  const Finished scan = Run({"--simulate=replay:" + kFixtures + "dvd+r-good.trace", "--drive", "1",
                             "--no-history", "--log", "TEFE.txt", "scan"},
                            &dir);
  EXPECT_EQ(scan.code, 3) << "the second drive's diagnostic mode was never recorded\n" << scan.err;
  const std::string said = "velmo-cli: the recording has no answer for CDB [FD F1 56 4C 4D 4F";
  const size_t first = scan.err.find(said);
  EXPECT_NE(first, std::string::npos) << scan.err;
  EXPECT_EQ(scan.err.find(said, first + 1), std::string::npos) << "said once\n" << scan.err;
}

// A recording answers only what the recorded run sent: a scan at another
// density, or a Smart Scan, asks for samples it never took. That gap is the
// recording's, not a refusal by the drive: said as such (no firmware
// advice), kept as such in the record and the history, exit 2.
TEST_F(ReplayTest, ASampleTheRecordingLacksIsSaidAsSuchNotAsFirmware) {
  const std::string replay = "--simulate=replay:" + kFixtures + "dvd+r-good.trace";
  std::string dir;
  const Finished scan =
      Run({replay, "--log", "TEFE.txt", "scan", "--density", "quick", "--json", "run.json"}, &dir);
  EXPECT_EQ(scan.code, 2) << scan.err;
  EXPECT_EQ(scan.err.find("flash"), std::string::npos) << scan.err;
  EXPECT_NE(scan.err.find("velmo-cli: the recording has no answer for the sample command at LBA "),
            std::string::npos)
      << scan.err;
  EXPECT_NE(ReadAll(dir + "/run.json").find("\"outcome\": \"not in recording\""),
            std::string::npos);
  const Finished kept = Run({"history", "--outcome", "not-in-recording"});
  EXPECT_EQ(kept.code, 0) << kept.err;
  EXPECT_NE(kept.out.find("not in recording"), std::string::npos) << kept.out;

  const Finished smart = Run({replay, "--no-history", "smart"});
  EXPECT_EQ(smart.code, 2) << smart.err;
  EXPECT_EQ(smart.err.find("flash"), std::string::npos) << smart.err;
  EXPECT_NE(smart.err.find("the recording has no answer for the sample command"), std::string::npos)
      << smart.err;
}

// Binary data is refused at once, whatever its size, and so is a last line
// past the line cap: nothing is replayed, exit 65 with the reason.
TEST_F(ReplayTest, BinaryDataOrAnOverlongLastLineIsRefused) {
  const std::string good = ReadAll(kFixtures + "dvd+r-good.trace");
  const std::string nuls = m_scratch + "/nuls.trace";
  std::ofstream(nuls, std::ios::binary) << std::string(4 * 1024 * 1024, '\0');
  const std::string longLast = m_scratch + "/long.trace";
  std::ofstream(longLast, std::ios::binary) << good << std::string(300 * 1024, 'x');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {nuls, " is refused at line 1: a NUL byte: binary data, not a trace\n"},
      {longLast, " is refused at line " +
                     std::to_string(std::count(good.begin(), good.end(), '\n') + 1) +
                     ": a line longer than 256 KiB\n"}};
  for (const auto& [path, said] : cases) {
    SCOPED_TRACE(path);
    const Finished run = Run({"--simulate=replay:" + path, "drives"});
    EXPECT_EQ(run.code, 65);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "velmo-cli: the recording " + path + said);
  }
}

TEST_F(ReplayTest, BrokenOrMissingRecordingsAreRefusedWithWhereAndWhy) {
  const std::string good = ReadAll(kFixtures + "dvd+r-good.trace");
  const std::string firstTwo = good.substr(0, good.find('\n', good.find('\n') + 1) + 1);
  const std::string broken = m_scratch + "/broken.trace";
  std::ofstream(broken) << firstTwo << "2026-01-01T00:00:00.000Z drive=0 spti cdb=[ZZ]\n" << good;
  Finished run = Run({"--simulate=replay:" + broken, "drives"});
  EXPECT_EQ(run.code, 65);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "velmo-cli: the recording " + broken +
                         " is refused at line 3: a byte that is not two hex digits\n");

  run = Run({"--simulate=replay:" + m_scratch + "/none.trace", "drives"});
  EXPECT_EQ(run.code, 66);
  EXPECT_NE(run.err.find("none.trace cannot be read"), std::string::npos) << run.err;

  // Cut while a line was written: the whole lines replay, and the cut is said.
  const std::string cut = m_scratch + "/cut.trace";
  std::ofstream(cut) << firstTwo << good.substr(firstTwo.size(), 30);
  run = Run({"--simulate=replay:" + cut, "drives"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("ends in a cut line (3); replaying the whole ones"), std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("KESTRON"), std::string::npos) << "both INQUIRY lines were whole";

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--sim-latency=recorded", "drives"},
        std::vector<std::string>{"--simulate=replay:" + cut, "--sim-latency=40", "drives"}}) {
    EXPECT_EQ(Run(args).code, 64) << args[0];
  }
}

// A stop while the disc is still being prepared (here the last identifying
// command, slowed in the recording) comes before the run opens its log: the
// user's TEFE.txt stays as it was, and nothing claims a header was written.
TEST_F(ReplayTest, AStopBeforeTheRunBeganLeavesTheOldLog) {
  std::string dir;
  ASSERT_EQ(Run({"--version"}, &dir).code, 0);
  std::string trace = ReadAll(kFixtures + "dvd+r-good.trace");
  const size_t at = trace.find("time=", trace.find("cdb=[AC 00 00 00 00 00 00 00 00 0A 03 00]"));
  ASSERT_NE(at, std::string::npos);
  trace.replace(at, trace.find(' ', at) - at, "time=3000000us");
  std::ofstream(dir + "/slow.trace") << trace;
  std::ofstream(dir + "/TEFE.txt") << "an earlier run's log\r\n";
  SpawnOptions options;
  options.cwd = dir;
  options.env.push_back("XDG_DATA_HOME=" + m_scratch + "/data");
  Child child({"--simulate=replay:slow.trace", "--sim-latency=recorded", "--trace=t.txt",
               "--no-history", "scan"},
              options);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadAll(dir + "/t.txt").find("cdb=[AD 00") == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the slow command
  kill(child.Pid(), SIGTERM);
  const Finished run = child.Wait();
  EXPECT_EQ(run.code, 143) << run.err;
  EXPECT_NE(run.err.find("No log was written: the run stopped before it began."), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("header"), std::string::npos) << run.err;
  EXPECT_EQ(ReadAll(dir + "/TEFE.txt"), "an earlier run's log\r\n");
}

}  // namespace
