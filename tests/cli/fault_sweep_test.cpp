// Every exchange of a run fails in turn, with every kind of fault the
// simulated drive can show: the run ends with the matching outcome, the log
// holds exactly the whole lines before it, the drive is left out of its
// diagnostic mode, and the record says the same as the exit code. A drive
// busy for a moment changes nothing at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "results/scan_record.h"
#include "simulator/sim_drive.h"
#include "tests/cli/cli_test_util.h"

namespace {

struct FaultKind {
  const char* name;
  SimFault fault;  // fromNth is set by the sweep
  // The outcome when the n-th sample fails (n from 1).
  RunOutcome (*expected)(uint32_t n);
};

SimFault Fault(SimFaultKind kind, SenseTriple sense = kSenseInvalidField, uint32_t value = 0) {
  SimFault fault;
  fault.kind = kind;
  fault.target = SimCommandClass::kTefeSample;
  fault.times = 1;
  fault.senseKey = sense.key;
  fault.asc = sense.asc;
  fault.ascq = sense.ascq;
  fault.value = value;
  return fault;
}

const std::vector<FaultKind>& Kinds() {
  static const std::vector<FaultKind> kinds = {
      {"time-out", Fault(SimFaultKind::kTimeOut), [](uint32_t) { return RunOutcome::kTimedOut; }},
      {"drive gone", Fault(SimFaultKind::kGone), [](uint32_t) { return RunOutcome::kDriveGone; }},
      {"refused (5/24/00)", Fault(SimFaultKind::kCheckCondition),
       [](uint32_t) { return RunOutcome::kFirmwareFailure; }},
      {"medium error (3/11/00)", Fault(SimFaultKind::kCheckCondition, {0x03, 0x11, 0x00}),
       [](uint32_t) { return RunOutcome::kNoReading; }},
      {"hardware error (4/44/00)", Fault(SimFaultKind::kCheckCondition, {0x04, 0x44, 0x00}),
       [](uint32_t) { return RunOutcome::kDriveError; }},
      {"disc ejected", Fault(SimFaultKind::kEject),
       [](uint32_t) { return RunOutcome::kDiscEjected; }},
      {"busy once", Fault(SimFaultKind::kBusy), nullptr},
      {"short transfer", Fault(SimFaultKind::kShortTransfer, kSenseNone, 3),
       [](uint32_t) { return RunOutcome::kDriveError; }},
      {"invalid reading", Fault(SimFaultKind::kSampleStatus, kSenseNone, 0x04),
       [](uint32_t n) { return n == 1 ? RunOutcome::kFirmwareFailure : RunOutcome::kNoReading; }},
  };
  return kinds;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end + 2 - at));
  return lines;
}

class FaultSweep : public ::testing::Test {
 protected:
  // One run with fault armed (or none), its log, record and whether the
  // drive was left in its diagnostic mode.
  struct Ran {
    int exitCode = -1;
    std::string log;
    ScanRecord record;
    bool diagnostic = true;
    bool attached = true;
    std::string err;
  };

  Ran Once(const std::vector<std::string>& command, const SimFault* fault) {
    std::vector<std::string> args = {"--simulate=dvd+r-good", "--sim-latency=0", "--no-history"};
    if (command[0] == "scan") args.insert(args.end(), {"--log", log.str()});
    args.insert(args.end(), {command[0], "--json", json.str()});
    std::remove(json.str().c_str());
    Ran ran;
    const Captured run = RunCli(
        args,
        [&](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
          if (fault != nullptr) session.SimDrives().front()->AddFault(*fault);
          return command[0] == "scan" ? RunScanCommand(session, options, out, err, QuickWait())
                                      : RunSmartCommand(session, options, out, err, QuickWait());
        },
        [&](CDriveSession& session) {
          ran.diagnostic = session.SimDrives().front()->InDiagnosticMode();
          ran.attached = session.SimDrives().front()->Attached();
        });
    ran.exitCode = run.exitCode;
    ran.err = run.err;
    ran.log = ReadFile(log);
    std::string error;
    EXPECT_TRUE(LoadRecordFile(json.str(), &ran.record, &error)) << error;
    return ran;
  }

  TempPath log{"sweep-TEFE.txt"};
  TempPath json{"sweep.json"};
};

TEST_F(FaultSweep, ANormalScanFailingAtEverySample) {
  const Ran clean = Once({"scan"}, nullptr);
  ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
  const std::vector<std::string> cleanLines = Lines(clean.log);
  const uint32_t samples = static_cast<uint32_t>(clean.record.samples.size());
  ASSERT_EQ(samples, 58u);
  for (const FaultKind& kind : Kinds()) {
    for (uint32_t n = 1; n <= samples; ++n) {
      SCOPED_TRACE(std::string(kind.name) + " at sample " + std::to_string(n));
      SimFault fault = kind.fault;
      fault.fromNth = n;
      const Ran ran = Once({"scan"}, &fault);
      if (kind.expected == nullptr) {
        // Busy for a moment: the same readings, byte for byte.
        EXPECT_EQ(ran.exitCode, kExitOk) << ran.err;
        EXPECT_EQ(ran.log, clean.log);
        EXPECT_EQ(ran.record.samples, clean.record.samples);
        EXPECT_EQ(ran.record.outcome, RunOutcome::kOk);
        continue;
      }
      const RunOutcome expected = kind.expected(n);
      EXPECT_EQ(ran.exitCode, kExitDriveFailure) << ran.err;
      EXPECT_EQ(RunOutcomeName(ran.record.outcome), std::string(RunOutcomeName(expected)));
      // The whole lines before the failed sample, and nothing else.
      EXPECT_EQ(ran.log,
                std::accumulate(cleanLines.begin(), cleanLines.begin() + n, std::string()));
      ASSERT_EQ(ran.record.samples.size(), n - 1);
      EXPECT_EQ(ran.record.cause.lba, n - 1 < cleanLines.size() - 1
                                          ? std::optional<int32_t>(clean.record.samples[n - 1].lba)
                                          : std::nullopt);
      EXPECT_TRUE(ran.record.verdict.empty());
      // Only the drive's refusal is a matter for its firmware.
      EXPECT_EQ(ran.err.find("flash") != std::string::npos,
                expected == RunOutcome::kFirmwareFailure)
          << ran.err;
      // At the first sample nothing was read before it, nor taken.
      EXPECT_TRUE(n > 1 || ran.err.find("before") == std::string::npos) << ran.err;
      EXPECT_TRUE(n > 1 || ran.err.find("0 samples") == std::string::npos) << ran.err;
      if (ran.attached) {
        EXPECT_FALSE(ran.diagnostic);
      }
    }
  }
}

TEST_F(FaultSweep, ASmartScanFailingAtEveryRow) {
  const Ran clean = Once({"smart"}, nullptr);
  ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
  const uint32_t rows = static_cast<uint32_t>(clean.record.rows.size());
  ASSERT_EQ(rows, 5u);
  ASSERT_TRUE(clean.record.fitSpeed);
  for (const FaultKind& kind : Kinds()) {
    for (uint32_t n = 1; n <= rows; ++n) {
      SCOPED_TRACE(std::string(kind.name) + " at row " + std::to_string(n));
      SimFault fault = kind.fault;
      fault.fromNth = n;
      const Ran ran = Once({"smart"}, &fault);
      if (ran.attached) {
        EXPECT_FALSE(ran.diagnostic);
      }
      if (kind.expected == nullptr) {
        EXPECT_EQ(ran.exitCode, kExitOk) << ran.err;
        EXPECT_EQ(ran.record.rows, clean.record.rows);
        EXPECT_EQ(ran.record.fitSpeed, clean.record.fitSpeed);
        continue;
      }
      EXPECT_EQ(ran.exitCode, kExitDriveFailure) << ran.err;
      ASSERT_EQ(ran.record.rows.size(), rows);
      EXPECT_EQ(ran.record.rows[n - 1].result, kSmartRowFailed);
      // A failed row is its own: the rows before it stand as they were.
      for (uint32_t i = 0; i + 1 < n; ++i) EXPECT_EQ(ran.record.rows[i], clean.record.rows[i]);
      // The first failed row says why; the answer is still the highest
      // speed that was read "OK.".
      const RunOutcome first = kind.expected(n);
      if (kind.fault.kind == SimFaultKind::kSampleStatus) {
        // No reading where an earlier row read one: not the firmware's.
        EXPECT_EQ(ran.record.outcome,
                  n == 1 ? RunOutcome::kFirmwareFailure : RunOutcome::kNoReading);
      } else if (kind.fault.kind != SimFaultKind::kGone &&
                 kind.fault.kind != SimFaultKind::kEject) {
        EXPECT_EQ(ran.record.outcome, first);
      } else {
        // The drive or the disc is gone for every row after it too.
        EXPECT_EQ(ran.record.outcome, first);
        for (uint32_t i = n; i < rows; ++i) EXPECT_EQ(ran.record.rows[i].result, kSmartRowFailed);
      }
      int highest = -1;
      for (const SmartRow& row : ran.record.rows)
        if (row.result == kSmartRowOk) highest = std::max(highest, row.speedCode);
      EXPECT_EQ(ran.record.fitSpeed ? ran.record.fitSpeed->speedCode : -1, highest);
    }
  }
}

// A drive that stays busy ends the run as busy, not as a reading of 0.
TEST_F(FaultSweep, ADriveThatStaysBusyEndsTheRunAsBusy) {
  SimFault busy = Fault(SimFaultKind::kBusy);
  busy.times = 0;
  busy.fromNth = 3;
  const Ran scan = Once({"scan"}, &busy);
  EXPECT_EQ(scan.exitCode, kExitDriveFailure);
  EXPECT_EQ(scan.record.outcome, RunOutcome::kDriveBusy);
  EXPECT_EQ(scan.record.cause.scsiStatus, kScsiStatusBusy);
  EXPECT_EQ(scan.record.samples.size(), 2u);
  EXPECT_NE(scan.err.find("stayed busy"), std::string::npos) << scan.err;
  for (const RecordSample& s : scan.record.samples) EXPECT_NE(s.te, 0);
}

}  // namespace
