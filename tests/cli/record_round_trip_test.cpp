// Every simulator scenario, scanned and Smart-Scanned: the record each run
// writes reads back as the same record and writes the same text again.
#include <gtest/gtest.h>

#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "records/scan_record.h"
#include "simulator/sim_scenarios.h"
#include "tests/cli/cli_test_util.h"

namespace {

TEST(RecordRoundTrip, EveryScenarioScanAndSmart) {
  TempPath log{"round-trip-TEFE.txt"};
  TempPath json{"round-trip.json"};
  int records = 0;
  for (const SimScenario& scenario : SimScenarios()) {
    for (const bool smart : {false, true}) {
      std::remove(json.str().c_str());
      std::vector<std::string> args = {"--simulate=" + scenario.name, "--sim-latency=0", "--json",
                                       json.str(), "--no-history"};
      if (!smart) args.insert(args.end(), {"--log", log.str(), "--density", "quick"});
      args.push_back(smart ? "smart" : "scan");
      const Captured run = RunCli(args, smart ? Smart : Scan);
      const std::string what = scenario.name + (smart ? " smart" : " scan");
      const std::string text = ReadFile(json);
      if (text.empty()) {
        // No run, no record: nothing to scan in this scenario.
        EXPECT_EQ(run.exitCode, kExitNoDrive) << what << run.err;
        continue;
      }
      ++records;
      ScanRecord record;
      std::string error;
      ASSERT_TRUE(ReadRecordJson(text, &record, &error)) << what << ": " << error;
      EXPECT_EQ(record.kind, smart ? RecordKind::kSmart : RecordKind::kScan) << what;
      EXPECT_EQ(WriteRecordJson(record), text) << what;
      ScanRecord again;
      ASSERT_TRUE(ReadRecordJson(WriteRecordJson(record), &again, &error)) << what << error;
      EXPECT_EQ(again, record) << what;
      // The exit code and the record's outcome tell the same story.
      const int expected = record.outcome == RunOutcome::kOk               ? kExitOk
                           : record.outcome == RunOutcome::kNotRecommended ? kExitNotRecommended
                                                                           : kExitDriveFailure;
      EXPECT_EQ(run.exitCode, expected) << what << " " << RunOutcomeName(record.outcome);
      // The drive's bytes as it sent them, controls and all.
      EXPECT_EQ(record.drive.vendor,
                scenario.identity ? scenario.identity->vendor : std::string("VELMO"))
          << what;
      EXPECT_FALSE(record.startTime.empty()) << what;
      if (!smart) {
        const bool dualLayer = record.disc.type == "DVD+R DL";
        bool secondLayer = false;
        for (const RecordSample& s : record.samples) secondLayer |= s.layer == 1;
        EXPECT_EQ(secondLayer, dualLayer && record.samples.size() > 20) << what;
      }
    }
  }
  EXPECT_GT(records, 20);
}

// The outcomes that are more than a firmware failure, and the real IDs.
TEST(RecordRoundTrip, FailuresAndManufacturerNamesAreRecorded) {
  TempPath log{"outcome-TEFE.txt"};
  TempPath json{"outcome.json"};
  const struct {
    const char* scenario;
    RunOutcome outcome;
    std::optional<std::string> maker;
  } cases[] = {
      {"timeout", RunOutcome::kTimedOut, std::nullopt},
      {"drive-gone", RunOutcome::kDriveGone, std::nullopt},
      {"eject-mid-scan", RunOutcome::kDiscEjected, std::nullopt},
      {"old-firmware", RunOutcome::kFirmwareFailure, std::nullopt},
      {"dvd+r-yuden", RunOutcome::kOk, "Taiyo Yuden Co., Ltd."},
      {"dvd-r-mcc", RunOutcome::kOk, "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)"},
      {"dvd+rdl-mkm", RunOutcome::kOk, "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)"},
  };
  for (const auto& c : cases) {
    std::remove(json.str().c_str());
    const Captured run = RunCli({std::string("--simulate=") + c.scenario, "--sim-latency=0",
                                 "--log", log.str(), "--json", json.str(), "--no-history", "scan"},
                                Scan);
    ScanRecord record;
    std::string error;
    ASSERT_TRUE(LoadRecordFile(json.str(), &record, &error)) << c.scenario << error << run.err;
    EXPECT_EQ(RunOutcomeName(record.outcome), std::string(RunOutcomeName(c.outcome))) << c.scenario;
    EXPECT_EQ(record.disc.manufacturerName, c.maker) << c.scenario;
  }
}

}  // namespace
