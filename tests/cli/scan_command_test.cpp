// `velmo-cli scan`: exit codes from the run's outcome, the settings reaching
// the drive, the JSON and CSV files against TEFE.txt, and Ctrl-C on the
// real binary.
#include "cli/scan_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <set>
#include <thread>

#include "cli/run_chart.h"
#include "cli/scan_console.h"
#include "console/scan_run.h"
#include "records/scan_record.h"
#include "tests/cli/cli_test_util.h"
#include "tests/cli/json_reader.h"
#include "tests/support/test_paths.h"

extern char** environ;

namespace {

// The log's sample lines, without the header and the CR LF ends.
std::vector<std::string> LogSamples(const std::string& log) {
  std::vector<std::string> lines;
  size_t at = log.find("\r\n");
  while (at != std::string::npos && at + 2 < log.size()) {
    const size_t end = log.find("\r\n", at + 2);
    if (end == std::string::npos) break;
    lines.push_back(log.substr(at + 2, end - at - 2));
    at = end;
  }
  return lines;
}

class ScanCommandTest : public ::testing::Test {
 protected:
  Captured Run(std::vector<std::string> args,
               const std::function<void(CDriveSession&)>& afterwards = nullptr) {
    args.insert(args.begin(), {"--sim-latency=0", "--log", log.str()});
    args.push_back("scan");
    return RunCli(args, Scan, afterwards);
  }
  TempPath log{"TEFE.txt"};
  TempPath json{"scan.json"};
  TempPath csv{"scan.csv"};
};

TEST_F(ScanCommandTest, ExitCodeFollowsTheOutcome) {
  const struct {
    const char* scenario;
    int exitCode;
    const char* says;  // on stdout for a verdict, on stderr otherwise
  } cases[] = {
      {"dvd+r-good", kExitOk, kVerdictOk},
      {"dvd+r-marginal", kExitNotRecommended, kVerdictNotRecommended},
      {"old-firmware", kExitDriveFailure, "Firmware not supported.Please flash to latest version."},
      {"drive-gone", kExitDriveFailure, "the drive went away during the run at LBA"},
      {"timeout", kExitDriveFailure, "did not answer the sample command at LBA"},
      {"dvd+rw", kExitNoDrive, "Not support for this disc."},
  };
  for (const auto& c : cases) {
    const Captured run = Run({std::string("--simulate=") + c.scenario, "--density", "quick"});
    EXPECT_EQ(run.exitCode, c.exitCode) << c.scenario << ": " << run.err;
    const std::string& where = c.exitCode <= kExitNotRecommended ? run.out : run.err;
    EXPECT_NE(where.find(c.says), std::string::npos) << c.scenario << ":\n" << where;
  }
  // Old firmware fails at the first sample: the log holds its header alone.
  Run({"--simulate=old-firmware"});
  EXPECT_EQ(ReadFile(log), " Address   TE   FE Result\r\n");
}

// Why a disc cannot be scanned follows where its identification ended: a
// refused GET PERFORMANCE leaves the window's empty fields and is said as
// such; a disc without a known speed shows its status.
TEST_F(ScanCommandTest, AnUntestableDiscIsExplainedFromItsIdentity) {
  const struct {
    const char* scenario;
    bool refuseWriteSpeeds;
    const char* says;
  } cases[] = {
      {"dvd+r-good", true, "velmo-cli: the drive did not report the disc's write speeds\n"},
      {"dvd+r-odd-speeds", false,
       "velmo-cli: Not support for this disc. (Disc Type: DVD+R) Only blank DVD-R, DVD+R and "
       "DVD+R DL with a known write speed can be tested\n"},
  };
  for (const auto& c : cases) {
    const Captured run = RunCli(
        {std::string("--simulate=") + c.scenario, "--sim-latency=0", "--log", log.str(), "scan"},
        [&](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
          if (c.refuseWriteSpeeds) {
            SimFault refused;  // CHECK CONDITION 5/24/00 to every GET PERFORMANCE
            refused.target = SimCommandClass::kGetPerformance;
            session.SimDrives().front()->AddFault(refused);
          }
          return Scan(session, options, out, err);
        });
    EXPECT_EQ(run.exitCode, kExitNoDrive) << c.scenario;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.scenario << ":\n" << run.err;
    EXPECT_EQ(run.out.find("Testing..."), std::string::npos) << c.scenario;
  }
}

// The console prints the window's sentence for the run's verdict, green or
// red when colour is on (a terminal without NO_COLOR or TERM=dumb), plain
// otherwise; --quiet keeps it.
TEST(ScanConsole, VerdictIsPrintedFromTheOutcome) {
  const struct {
    ScanVerdict verdict;
    bool colour;
    const char* printed;
  } cases[] = {
      {ScanVerdict::kOk, false, "This disc is ok for writing under this speed setting.\n"},
      {ScanVerdict::kNotRecommended, false,
       "This disc is not recommended for writing under this speed setting.\n"},
      {ScanVerdict::kOk, true,
       "\033[32mThis disc is ok for writing under this speed setting.\033[0m\n"},
      {ScanVerdict::kNotRecommended, true,
       "\033[31mThis disc is not recommended for writing under this speed setting.\033[0m\n"},
  };
  for (const auto& c : cases) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    CScanConsole console(out, TerminalStyle{true, c.colour, 80}, true);
    console.RunStarted();
    console.Sampled(0, 10, 10);
    console.Verdict(c.verdict);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), c.printed);
    std::free(text);
  }
}

TEST_F(ScanCommandTest, SpeedAndDensityReachTheDrive) {
  std::vector<uint8_t> speeds;
  const Captured run =
      Run({"--simulate=dvd+r-good", "--speed", "4X", "--density", "full"}, [&](CDriveSession& s) {
        for (const SimLoggedCommand& c : s.SimDrives().front()->CommandLog()) {
          if (c.cdb[0] == 0xFD && c.cdb[1] == 0xFB) speeds.push_back(c.cdb[7]);
        }
      });
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  ASSERT_EQ(speeds.size(), 127u);  // Full on a single-layer disc
  EXPECT_TRUE(std::all_of(speeds.begin(), speeds.end(), [](uint8_t s) { return s == kSpeed4X; }));
  EXPECT_EQ(LogSamples(ReadFile(log)).size(), 127u);
  EXPECT_NE(run.out.find("Disc Speed:           4X\nGraph Density:        Full\n"),
            std::string::npos);
  // The progress knew the length of the run before it started.
  EXPECT_NE(run.out.find("127/127  LBA"), std::string::npos);
}

TEST_F(ScanCommandTest, ASpeedTheDiscDoesNotListIsAUsageError) {
  uint32_t samples = 1;
  bool diagnostic = true;
  const Captured run = Run({"--simulate=dvd+r-good", "--speed", "16X"}, [&](CDriveSession& s) {
    samples = s.SimDrives().front()->CommandCount(SimCommandClass::kTefeSample);
    diagnostic = s.SimDrives().front()->InDiagnosticMode();
  });
  EXPECT_EQ(run.exitCode, kExitUsage);
  EXPECT_NE(run.err.find("16X"), std::string::npos);
  EXPECT_NE(run.err.find("12X, 8X, 6X, 4X, 2.4X"), std::string::npos) << run.err;
  EXPECT_EQ(samples, 0u);
  EXPECT_FALSE(diagnostic);
}

TEST_F(ScanCommandTest, JsonAndCsvHoldWhatTheLogHolds) {
  const Captured run = Run({"--simulate=dvd+r-marginal", "--speed=16X", "--density=quick", "--json",
                            json.str(), "--csv", csv.str()});
  ASSERT_EQ(run.exitCode, kExitNotRecommended) << run.err;
  const std::vector<std::string> lines = LogSamples(ReadFile(log));
  ASSERT_EQ(lines.size(), 12u);

  ScanRecord report;
  std::string error;
  ASSERT_TRUE(LoadRecordFile(json.str(), &report, &error)) << error << ReadFile(json);
  EXPECT_EQ(report.disc.type, "DVD+R");
  EXPECT_EQ(report.disc.manufacturerId, "ORBTEK");
  EXPECT_EQ(report.disc.manufacturerName, std::nullopt);  // an invented ID
  EXPECT_EQ(report.disc.writeSpeeds.size(), 7u);
  EXPECT_EQ(report.disc.writeSpeeds[0], (RecordWriteSpeed{"16X", kSpeed16X, 22160}));
  EXPECT_EQ(WriteSpeedListEntry(report.disc.writeSpeeds[0]), "16X => (22160 Kb/Sec)  ");
  EXPECT_EQ(report.settings.speed, "16X");
  EXPECT_EQ(report.settings.density, "quick");
  EXPECT_EQ(report.outcome, RunOutcome::kNotRecommended);
  EXPECT_EQ(report.verdict, kVerdictNotRecommended);
  const auto& samples = report.samples;
  ASSERT_EQ(samples.size(), lines.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "%8d%5d%5d", samples[i].lba, samples[i].te, samples[i].fe);
    EXPECT_EQ(lines[i].substr(0, 18), line) << i;
    const bool ok = lines[i].find(" The disc is ok") != std::string::npos;
    EXPECT_EQ(samples[i].ok, ok) << i;
    EXPECT_EQ(samples[i].psn, samples[i].lba + 0x30000) << i;
    EXPECT_EQ(samples[i].layer, 0) << i;
  }
  EXPECT_EQ(samples[0].lba, 1878221);

  const std::string table = ReadFile(csv);
  EXPECT_EQ(table.substr(0, table.find('\n') + 1), "lba,psn,te,fe,verdict\n");
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 13);
  EXPECT_NE(table.find("\n1878221,2074829,"), std::string::npos) << table;
}

// The record keeps what the drive told of itself as the run began; a fact
// it does not give is null, and the run is the same run.
TEST_F(ScanCommandTest, TheRecordKeepsTheDrivesFactsAndAnUnansweredOneIsNull) {
  const auto inquiry = [](SimFaultKind kind, uint32_t times) {
    SimFault fault;
    fault.kind = kind;
    fault.target = SimCommandClass::kInquiry;
    fault.times = times;
    return fault;
  };
  const struct {
    const char* name;
    std::optional<SimFault> fault;
    std::optional<std::string> revision;
    std::optional<std::string> serial;
  } cases[] = {
      {"answered", std::nullopt, "1.02", "VX16A0417"},
      {"inquiry refused", inquiry(SimFaultKind::kCheckCondition, 0), std::nullopt, std::nullopt},
      {"refused once", inquiry(SimFaultKind::kCheckCondition, 1), std::nullopt, "VX16A0417"},
  };
  std::vector<RecordSample> clean;
  for (const auto& c : cases) {
    const Captured run = RunCli(
        {"--simulate=dvd+r-good", "--sim-latency=0", "--density=quick", "--log", log.str(),
         "--json", json.str(), "scan"},
        [&](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
          if (c.fault) session.SimDrives().front()->AddFault(*c.fault);
          return Scan(session, options, out, err);
        });
    ASSERT_EQ(run.exitCode, kExitOk) << c.name << "\n" << run.err;
    ScanRecord record;
    std::string error;
    ASSERT_TRUE(LoadRecordFile(json.str(), &record, &error)) << c.name << ": " << error;
    ASSERT_TRUE(record.drive.facts) << c.name;
    EXPECT_EQ(record.drive.facts->revision, c.revision) << c.name;
    EXPECT_EQ(record.drive.facts->serial, c.serial) << c.name;
    EXPECT_EQ(record.drive.facts->bufferKiB, std::optional<uint32_t>(2048)) << c.name;
    if (clean.empty()) clean = record.samples;
    EXPECT_EQ(record.samples, clean) << c.name;
  }
}

// The chart of the run in the BMP: the curves in their colours over the
// black plot, bottom row first.
TEST_F(ScanCommandTest, ChartIsWrittenAsABmpOfTheComposedLayers) {
  TempPath chart{"chart.bmp"};
  const Captured run = Run({"--simulate=dvd+r-marginal", "--chart", chart.str()});
  ASSERT_EQ(run.exitCode, kExitNotRecommended) << run.err;
  const std::string bmp = ReadFile(chart);
  ASSERT_GT(bmp.size(), 54u);
  auto le32 = [&](size_t at) {
    return uint32_t(uint8_t(bmp[at])) | uint32_t(uint8_t(bmp[at + 1])) << 8 |
           uint32_t(uint8_t(bmp[at + 2])) << 16 | uint32_t(uint8_t(bmp[at + 3])) << 24;
  };
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(le32(2), bmp.size());
  EXPECT_EQ(le32(18), uint32_t(kCliChartWidth));
  EXPECT_EQ(le32(22), uint32_t(kCliChartHeight));
  int te = 0, fe = 0;
  for (size_t at = le32(10); at + 3 <= bmp.size(); at += 3) {
    const uint8_t b = bmp[at], g = bmp[at + 1], r = bmp[at + 2];
    if (r == 227 && g == 28 && b == 187) ++te;
    if (r == 18 && g == 237 && b == 221) ++fe;
  }
  EXPECT_GT(te, 100);
  EXPECT_GT(fe, 100);

  const Captured unwritable = Run({"--simulate", "--chart", "/nonexistent-dir/c.bmp"});
  EXPECT_EQ(unwritable.exitCode, kExitCannotWrite);

  // A disc whose TE runs over 600: the fixed range cuts the curve off at the
  // top, --chart-range readings draws it across the whole disc.
  auto teColumns = [&](const char* range) {
    EXPECT_EQ(
        Run({"--simulate=dvd+r-bad", "--chart", chart.str(), "--chart-range", range}).exitCode,
        kExitNotRecommended);
    const std::string picture = ReadFile(chart);
    std::set<int> columns;
    const size_t stride = (size_t(kCliChartWidth) * 3 + 3) / 4 * 4;
    for (size_t at = le32(10); at + 3 <= picture.size(); at += 3) {
      const uint8_t b = picture[at], g = picture[at + 1], r = picture[at + 2];
      if (r == 227 && g == 28 && b == 187) columns.insert(int((at - le32(10)) % stride / 3));
    }
    return columns.size();
  };
  const size_t fixed = teColumns("fixed"), fitted = teColumns("readings");
  EXPECT_GT(fitted, size_t(kCliChartWidth) * 8 / 10);
  EXPECT_LT(fixed, fitted / 2);
}

TEST_F(ScanCommandTest, AFailedRunStillLeavesItsSamplesButNoVerdict) {
  const Captured run = Run({"--simulate=invalid-reading", "--json", json.str()});
  EXPECT_EQ(run.exitCode, kExitDriveFailure);
  ScanRecord report;
  std::string error;
  ASSERT_TRUE(LoadRecordFile(json.str(), &report, &error)) << error;
  // The drive read 19 samples before: a place it cannot track, named.
  EXPECT_EQ(report.outcome, RunOutcome::kNoReading);
  EXPECT_EQ(report.cause.lba, report.samples.empty() ? -1 : report.samples.back().lba + 49152);
  EXPECT_NE(report.cause.replyStatus.value_or(0), 0);
  EXPECT_EQ(report.verdict, "");
  EXPECT_NE(ReadFile(json).find("\"verdict\": null"), std::string::npos);
  EXPECT_EQ(report.samples.size(), 19u);  // the 20th sample failed
  EXPECT_EQ(LogSamples(ReadFile(log)).size(), 19u);
}

TEST_F(ScanCommandTest, OutputsThatCannotBeWrittenAreExit73) {
  // Known before the drive is touched: the log of an earlier run stays.
  std::ofstream(log.str()) << "earlier\r\n";
  uint32_t commands = 1;
  Captured run = Run({"--simulate", "--json", "/nonexistent-dir/r.json"}, [&](CDriveSession& s) {
    commands = s.SimDrives().front()->CommandCount(SimCommandClass::kDiagnosticMode);
  });
  EXPECT_EQ(run.exitCode, kExitCannotWrite);
  EXPECT_NE(run.err.find("/nonexistent-dir/r.json"), std::string::npos) << run.err;
  EXPECT_EQ(commands, 0u);
  EXPECT_EQ(ReadFile(log), "earlier\r\n");

  run = RunCli({"--simulate", "--sim-latency=0", "--log=/nonexistent-dir/TEFE.txt", "--json",
                json.str(), "scan"},
               Scan);
  EXPECT_EQ(run.exitCode, kExitCannotWrite);
  EXPECT_NE(run.err.find("Can't support to save log file."), std::string::npos) << run.err;
  std::ifstream jsonFile(json.str());
  EXPECT_FALSE(jsonFile.good());  // no report of a run that never started
}

// A disc taken out mid-scan is said as such, not as a firmware failure.
TEST_F(ScanCommandTest, AnEjectedDiscIsSaid) {
  const Captured run = Run({"--simulate=eject-mid-scan", "--json", json.str()});
  EXPECT_EQ(run.exitCode, kExitDriveFailure);
  EXPECT_NE(run.err.find("velmo-cli: the disc left the drive during the run at LBA "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("; the log keeps the 9 samples taken"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Firmware not supported"), std::string::npos) << run.err;
  EXPECT_EQ(LogSamples(ReadFile(log)).size(), 9u);
}

// Ctrl-C on the binary: a stop, not a kill. The log keeps whole lines and
// the JSON file is complete and says so.
TEST_F(ScanCommandTest, CtrlCStopsTheRunCleanly) {
  const std::string binary = velmo_test::CliBinary();
  std::vector<std::string> args = {binary,    "--simulate", "--sim-latency=20", "--log",
                                   log.str(), "--json",     json.str(),         "scan"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, binary.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Wait for a few samples in the log, then interrupt.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (LogSamples(ReadFile(log)).size() < 5 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kExitInterrupted);

  const std::string text = ReadFile(log);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::vector<std::string> lines = LogSamples(text);
  EXPECT_GE(lines.size(), 5u);
  EXPECT_LT(lines.size(), 58u);
  for (const std::string& line : lines) EXPECT_TRUE(line.size() == 71 || line.size() == 84) << line;
  ScanRecord report;
  std::string error;
  ASSERT_TRUE(LoadRecordFile(json.str(), &report, &error)) << error;
  EXPECT_EQ(report.outcome, RunOutcome::kAborted);
  EXPECT_EQ(report.samples.size(), lines.size());
}

}  // namespace
