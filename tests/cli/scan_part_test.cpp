// A part of the disc (--from, --to) and a run that goes on after a fault
// (--resume), over the simulator: each against the whole run it is a piece of.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/record_commands.h"
#include "console/disc_range.h"
#include "history/history.h"
#include "records/scan_record.h"
#include "tests/cli/cli_test_util.h"

namespace {

// The log's lines after its header, CR LF ends kept.
std::vector<std::string> PartLogLines(const std::string& log) {
  std::vector<std::string> lines;
  for (size_t at = log.find("\r\n"); at != std::string::npos && at + 2 < log.size();) {
    const size_t end = log.find("\r\n", at + 2);
    if (end == std::string::npos) break;
    lines.push_back(log.substr(at + 2, end - at));
    at = end;
  }
  return lines;
}

// The PSNs of the sample commands a drive was sent.
std::vector<uint32_t> SampledPsns(CDriveSession& session) {
  std::vector<uint32_t> psns;
  for (const SimLoggedCommand& c : session.SimDrives().front()->CommandLog()) {
    if (c.cdb[0] == 0xFD && c.cdb[1] == 0xFB)
      psns.push_back((uint32_t{c.cdb[8]} << 16) | (uint32_t{c.cdb[9]} << 8) | c.cdb[10]);
  }
  return psns;
}

// The newest run of the scratch history.
ScanRecord NewestKeptRun() {
  CHistory history;
  std::string error, notice;
  std::vector<HistoryEntry> entries;
  HistoryFilter newest;
  newest.limit = 1;
  ScanRecord record;
  EXPECT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
  EXPECT_TRUE(history.List(newest, &entries, &error)) << error;
  if (entries.empty()) return record;
  EXPECT_TRUE(history.Load(entries.front().id, &record, &error)) << error;
  return record;
}

class ScanPartTest : public ::testing::Test {
 protected:
  Captured Scan(const std::string& scenario, std::vector<std::string> args,
                std::vector<uint32_t>* psns = nullptr) {
    args.insert(args.begin(),
                {"--simulate=" + scenario, "--sim-latency=0", "--log", log.str(), "scan"});
    return RunCli(args, ::Scan, [psns](CDriveSession& s) {
      if (psns != nullptr) *psns = SampledPsns(s);
    });
  }
  ScanRecord Record() {
    ScanRecord record;
    std::string error;
    EXPECT_TRUE(LoadRecordFile(json.str(), &record, &error)) << error;
    return record;
  }
  TempPath log{"part-TEFE.txt"};
  TempPath json{"part.json"};
};

TEST_F(ScanPartTest, APartTakesTheWholeRunsSamplesInsideItsRange) {
  std::vector<uint32_t> wholePsns;
  ASSERT_EQ(Scan("dvd+r-good", {"--json", json.str()}, &wholePsns).exitCode, kExitOk);
  const std::vector<std::string> wholeLines = PartLogLines(ReadFile(log));
  const ScanRecord whole = Record();
  ASSERT_EQ(whole.samples.size(), 58u);
  const int32_t end = whole.disc.lastLba + 1;
  const int32_t fifth = whole.samples[5].lba, tenth = whole.samples[10].lba;

  const struct {
    const char* name;
    std::string from, to;
    int32_t first, last;  // the range the record keeps, to exclusive
  } cases[] = {
      {"inside", "1000000", "1500000", 1000000, 1500000},
      {"from and to sample positions", std::to_string(fifth), std::to_string(tenth), fifth, tenth},
      {"just past a sample position", std::to_string(fifth + 1), std::to_string(tenth + 1),
       fifth + 1, tenth + 1},
      {"the disc's ends", "0", "100%", 0, end},
      {"from a share to the end", "50%", "", end / 2, end},
      {"up to a size", "", "1GB", 0, 1000000000 / 2048},
      {"binary sizes", "1GiB", "3GiB", 1073741824 / 2048, 3 * (1073741824 / 2048)},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--json", json.str()};
    if (!c.from.empty()) args.insert(args.end(), {"--from", c.from});
    if (!c.to.empty()) args.insert(args.end(), {"--to", c.to});
    std::vector<uint32_t> psns;
    const Captured run = Scan("dvd+r-good", args, &psns);
    ASSERT_EQ(run.exitCode, kExitOk) << c.name << ": " << run.err;
    std::vector<std::string> lines;
    std::vector<uint32_t> expectedPsns;
    for (size_t i = 0; i < whole.samples.size(); ++i) {
      if (whole.samples[i].lba < c.first || whole.samples[i].lba >= c.last) continue;
      lines.push_back(wholeLines[i]);
      expectedPsns.push_back(wholePsns[i]);
    }
    ASSERT_FALSE(lines.empty()) << c.name;
    EXPECT_EQ(PartLogLines(ReadFile(log)), lines) << c.name;
    EXPECT_EQ(psns, expectedPsns) << c.name;
    const ScanRecord part = Record();
    ASSERT_TRUE(part.range.has_value()) << c.name;
    EXPECT_EQ(*part.range, (RecordRange{c.first, c.last})) << c.name;
    EXPECT_EQ(part.samples.size(), lines.size()) << c.name;
    EXPECT_NE(run.out.find("Part of the Disc:"), std::string::npos) << c.name;
    const ScanRecord kept = NewestKeptRun();
    EXPECT_EQ(kept.range, part.range) << c.name;
  }
}

TEST_F(ScanPartTest, ARangeOutsideTheDiscOrWithoutASampleIsRefused) {
  const struct {
    const char* name;
    std::string from, to;
    const char* says;
  } cases[] = {
      {"starts past the end", "3000000", "", "outside the disc"},
      {"ends past the end", "0", "2086914", "outside the disc"},
      {"more than the whole", "10%", "101%", "outside the disc"},
      {"empty", "1000000", "1000000", "is empty"},
      {"backwards", "60%", "40%", "is empty"},
      {"between two sample positions", "100", "200", "no sample position"},
  };
  for (const auto& c : cases) {
    std::vector<uint32_t> psns = {0};
    std::vector<std::string> args = {"--from", c.from};
    if (!c.to.empty()) args.insert(args.end(), {"--to", c.to});
    const Captured run = Scan("dvd+r-good", args, &psns);
    EXPECT_EQ(run.exitCode, kExitUsage) << c.name;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.name << ": " << run.err;
    EXPECT_TRUE(psns.empty()) << c.name;
  }
  // Positions that are none: refused before any drive is asked.
  for (const char* bad : {"-5", "2.5", "12XB", "%", "1..5GB", ""}) {
    std::string error;
    EXPECT_FALSE(ParseCliOptions({"scan", "--from", bad}, &error)) << bad;
  }
  std::string error;
  EXPECT_FALSE(ParseCliOptions({"smart", "--from", "50%"}, &error));
  EXPECT_NE(error.find("--from applies to scan"), std::string::npos) << error;
}

}  // namespace

namespace {

class ScanResumeTest : public ScanPartTest {
 protected:
  // A record file of the run, as --json wrote it.
  std::string SaveRecord(const std::string& name) {
    const std::string path =
        ::testing::TempDir() + "/velmo-resume-" + std::to_string(::getpid()) + "-" + name + ".json";
    std::ofstream(path, std::ios::binary) << ReadFile(json.str());
    saved.push_back(path);
    return path;
  }
  ~ScanResumeTest() override {
    for (const std::string& path : saved) std::remove(path.c_str());
  }
  std::vector<std::string> saved;
};

// Samples as readings, without where the record says they were judged.
std::vector<std::pair<int32_t, std::pair<int, int>>> Readings(const ScanRecord& record) {
  std::vector<std::pair<int32_t, std::pair<int, int>>> readings;
  for (const RecordSample& s : record.samples) readings.push_back({s.lba, {s.te, s.fe}});
  return readings;
}

TEST_F(ScanResumeTest, ARunCutByAFaultGoesOnToTheSameEndAsAWholeRun) {
  ASSERT_EQ(Scan("dvd+r-good", {"--json", json.str()}).exitCode, kExitOk);
  const std::string wholeLog = ReadFile(log);
  const ScanRecord whole = Record();

  const struct {
    const char* scenario;
    RunOutcome cut;
    const char* rename;  // the outcome written over the record's, for endings no scenario gives
  } cases[] = {
      {"timeout", RunOutcome::kTimedOut, nullptr},
      {"drive-gone", RunOutcome::kDriveGone, nullptr},
      {"eject-mid-scan", RunOutcome::kDiscEjected, nullptr},
      {"busy-stays", RunOutcome::kDriveBusy, nullptr},
      {"invalid-reading", RunOutcome::kNoReading, nullptr},
      {"timeout", RunOutcome::kDriveError, "drive error"},
      {"timeout", RunOutcome::kAborted, "aborted"},
  };
  for (const auto& c : cases) {
    const Captured cut = Scan(c.scenario, {"--json", json.str()});
    ASSERT_NE(cut.exitCode, kExitOk) << c.scenario;
    std::string text = ReadFile(json.str());
    if (c.rename != nullptr) {
      const std::string was = "\"outcome\": \"timed out\"";
      ASSERT_NE(text.find(was), std::string::npos);
      text.replace(text.find(was), was.size(), std::string("\"outcome\": \"") + c.rename + "\"");
      std::ofstream(json.str(), std::ios::binary) << text;
    }
    const ScanRecord first = Record();
    ASSERT_EQ(first.outcome, c.cut) << c.scenario;
    ASSERT_LT(first.samples.size(), whole.samples.size()) << c.scenario;
    const std::string earlier = SaveRecord(c.scenario);

    std::vector<uint32_t> psns;
    const Captured resumed = Scan("dvd+r-good", {"--resume", earlier, "--json", json.str()}, &psns);
    ASSERT_EQ(resumed.exitCode, kExitOk) << c.scenario << ": " << resumed.err;
    const ScanRecord second = Record();
    EXPECT_EQ(ReadFile(log), wholeLog) << c.scenario;
    EXPECT_EQ(Readings(second), Readings(whole)) << c.scenario;
    EXPECT_EQ(second.verdict, whole.verdict) << c.scenario;
    EXPECT_EQ(second.settings.speed, first.settings.speed) << c.scenario;
    // Only the samples the first part had not taken were asked of the drive.
    EXPECT_EQ(psns.size(), whole.samples.size() - first.samples.size()) << c.scenario;
    ASSERT_TRUE(second.resumed.has_value()) << c.scenario;
    EXPECT_EQ(second.resumed->runId, first.runId) << c.scenario;
    EXPECT_EQ(second.resumed->earlierSamples, first.samples.size()) << c.scenario;
    EXPECT_EQ(second.resumed->firstLba, whole.samples[first.samples.size()].lba) << c.scenario;
    // The history keeps the second run, pointing at the first.
    EXPECT_EQ(NewestKeptRun().resumed, second.resumed) << c.scenario;
  }
}

TEST_F(ScanResumeTest, ARunGoesOnOnlyOnItsOwnDiscAndOnlyAfterAFault) {
  ASSERT_NE(Scan("timeout", {"--json", json.str(), "--speed", "8X"}).exitCode, kExitOk);
  const std::string cut = SaveRecord("cut");
  ASSERT_EQ(Scan("dvd+r-good", {"--json", json.str()}).exitCode, kExitOk);
  const std::string done = SaveRecord("done");
  const struct {
    const char* scenario;
    std::string run;
    int exitCode;
    const char* says;
  } cases[] = {
      {"dvd+r-marginal", cut, kExitBadRecord, "manufacturer ID is ORBTEK"},
      {"dvd-r-good", cut, kExitBadRecord, "disc type is DVD-R"},
      {"dvd+r-good", done, kExitUsage, "ended ok"},
      {"dvd+r-good", "no-such-record.json", kExitNoRecord, "no such file"},
  };
  for (const auto& c : cases) {
    std::vector<uint32_t> psns = {0};
    const Captured run = Scan(c.scenario, {"--resume", c.run}, &psns);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.scenario << ": " << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.scenario << ": " << run.err;
    EXPECT_TRUE(psns.empty()) << c.scenario;
  }
  // The speed, density and part are the run's own.
  for (const char* option : {"--speed", "--density", "--from", "--to"}) {
    std::string error;
    const std::string value = std::string(option) == "--density" ? "full" : "4X";
    EXPECT_FALSE(ParseCliOptions({"scan", "--resume", cut, option, value}, &error)) << option;
  }
}

TEST_F(ScanResumeTest, AResumedRunThatFailsAgainGoesOnOnceMore) {
  ASSERT_EQ(Scan("dvd+r-good", {"--json", json.str(), "--from", "20%", "--to", "90%"}).exitCode,
            kExitOk);
  const std::string wholeLog = ReadFile(log);
  const ScanRecord whole = Record();
  ASSERT_NE(Scan("timeout", {"--json", json.str(), "--from", "20%", "--to", "90%"}).exitCode,
            kExitOk);
  const ScanRecord first = Record();
  const std::string firstFile = SaveRecord("first");
  // The second part meets the drive's fault again at its own 10th sample.
  ASSERT_NE(Scan("busy-stays", {"--json", json.str(), "--resume", firstFile}).exitCode, kExitOk);
  const ScanRecord second = Record();
  ASSERT_EQ(second.outcome, RunOutcome::kDriveBusy);
  ASSERT_GT(second.samples.size(), first.samples.size());
  const std::string secondFile = SaveRecord("second");
  ASSERT_EQ(Scan("dvd+r-good", {"--json", json.str(), "--resume", secondFile}).exitCode, kExitOk);
  const ScanRecord third = Record();
  EXPECT_EQ(ReadFile(log), wholeLog);
  EXPECT_EQ(Readings(third), Readings(whole));
  EXPECT_EQ(third.range, whole.range);
  ASSERT_TRUE(third.resumed && second.resumed);
  EXPECT_EQ(third.resumed->runId, second.runId);
  EXPECT_EQ(second.resumed->runId, first.runId);
  EXPECT_EQ(third.resumed->earlierSamples, second.samples.size());
}

}  // namespace
