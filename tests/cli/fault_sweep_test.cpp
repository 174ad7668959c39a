// Every exchange of a run fails in turn, with every kind of fault the
// simulated drive can show, until a run passes untouched: entering the
// diagnostic mode, the disc's identification, the samples, leaving, the
// ejects and the tray polls of a scan, a Smart Scan, `identify`, `recover`
// and a `watch` of two discs. The run ends with the outcome (or exit code)
// of the exchange that failed, counts no sample the drive did not answer
// GOOD with a whole reply, leaves the drive out of the diagnostic mode it
// put it in, and the history keeps what the record says. A drive busy for
// a moment during a sample changes nothing at all.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/identify_command.h"
#include "cli/recover_command.h"
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "cli/watch_command.h"
#include "commands/drive_commands.h"
#include "history/history.h"
#include "records/scan_record.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_drive.h"
#include "tests/cli/cli_test_util.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

// No disc (a fault took it out) is given up on soon: the sweep's discs
// are ready at once.
DiscWait SweepWait() {
  DiscWait wait;
  wait.period = std::chrono::milliseconds(2);
  wait.limit = std::chrono::milliseconds(60);
  return wait;
}

int SweepScan(CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
  return RunScanCommand(session, options, out, err, SweepWait());
}

int SweepSmart(CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
  return RunSmartCommand(session, options, out, err, SweepWait());
}

SimFault SweepFault(SimFaultKind kind, SenseTriple sense = kSenseInvalidField, uint32_t value = 0) {
  SimFault fault;
  fault.kind = kind;
  fault.target = SimCommandClass::kAny;
  fault.times = 1;
  fault.senseKey = sense.key;
  fault.asc = sense.asc;
  fault.ascq = sense.ascq;
  fault.value = value;
  return fault;
}

struct SweepKind {
  const char* name;
  SimFault fault;  // fromNth is set by the sweep
};

const std::vector<SweepKind>& SweepKinds() {
  static const std::vector<SweepKind> kinds = {
      {"time-out", SweepFault(SimFaultKind::kTimeOut)},
      {"drive gone", SweepFault(SimFaultKind::kGone)},
      {"refused (5/24/00)", SweepFault(SimFaultKind::kCheckCondition)},
      {"medium error (3/11/00)", SweepFault(SimFaultKind::kCheckCondition, {0x03, 0x11, 0x00})},
      {"hardware error (4/44/00)", SweepFault(SimFaultKind::kCheckCondition, {0x04, 0x44, 0x00})},
      {"disc ejected", SweepFault(SimFaultKind::kEject)},
      {"busy once", SweepFault(SimFaultKind::kBusy)},
      {"short transfer", SweepFault(SimFaultKind::kShortTransfer, kSenseNone, 3)},
      {"invalid reading", SweepFault(SimFaultKind::kSampleStatus, kSenseNone, 0x04)},
      {"all ones", SweepFault(SimFaultKind::kAllOnes)},
      {"length header too long", SweepFault(SimFaultKind::kHeaderLength, kSenseNone, 0xFFFF)},
  };
  return kinds;
}

std::vector<SweepKind> WatchKinds() {
  std::vector<SweepKind> kinds;
  for (const SweepKind& kind : SweepKinds()) {
    const SimFaultKind k = kind.fault.kind;
    if (k != SimFaultKind::kShortTransfer && k != SimFaultKind::kAllOnes &&
        k != SimFaultKind::kHeaderLength &&
        !(k == SimFaultKind::kCheckCondition && kind.fault.senseKey == 0x04))  // HARDWARE ERROR
      kinds.push_back(kind);
  }
  return kinds;
}

bool IsSample(const SimLoggedCommand& sent) {
  return sent.cdb[0] == kOpVendor && sent.cdb[1] == kVendorTefeSample;
}

std::string WhatWasSent(const SimLoggedCommand& sent) {
  if (sent.cdb[0] == kOpVendor) {
    switch (sent.cdb[1]) {
      case kVendorEnterDiagnostic: return "enter";
      case kVendorLeaveDiagnostic: return "leave";
      case kVendorTefeSample: return "sample";
      default: break;
    }
  }
  switch (sent.cdb[0]) {
    case kOpTestUnitReady: return "TEST UNIT READY";
    case kOpInquiry: return "INQUIRY";
    case kOpGetConfiguration: return "GET CONFIGURATION";
    case kOpGetPerformance: return "GET PERFORMANCE";
    case kOpReadDvdStructure: return "READ DVD STRUCTURE";
    case kOpPreventAllow: return "PREVENT ALLOW";
    case kOpStartStopUnit: return "START STOP UNIT";
    default: return CdbText(sent);
  }
}

std::vector<std::string> SweepLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end + 2 - at));
  return lines;
}

// How many runs the history holds.
int64_t KeptRuns() {
  CHistory history;
  std::string error, notice;
  int64_t count = 0;
  if (!history.OpenForReading(DefaultHistoryPath(), &error, &notice)) return 0;
  EXPECT_TRUE(history.Count({}, &count, &error)) << error;
  return count;
}

// The newest runs of the history, oldest first.
std::vector<ScanRecord> NewestKept(int64_t runs) {
  std::vector<ScanRecord> kept;
  if (runs <= 0) return kept;
  CHistory history;
  std::string error, notice;
  EXPECT_TRUE(history.OpenForReading(DefaultHistoryPath(), &error, &notice)) << error;
  std::vector<HistoryEntry> entries;
  HistoryFilter newest;
  newest.limit = runs;
  EXPECT_TRUE(history.List(newest, &entries, &error)) << error;
  std::vector<int64_t> ids;
  for (const HistoryEntry& entry : entries) ids.push_back(entry.id);
  std::sort(ids.begin(), ids.end());
  for (int64_t id : ids) {
    ScanRecord record;
    EXPECT_TRUE(history.Load(id, &record, &error)) << error;
    kept.push_back(record);
  }
  return kept;
}

// One run of a command with one fault armed (or none) on the supported
// drive once the session is open, and all it left behind.
struct SweepRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<SimLoggedCommand> sent;  // since the fault was armed
  bool hit = false;                    // the fault's exchange came
  bool diagnostic = false;
  bool prevented = false;
  bool attached = true;
  std::vector<ScanRecord> records;  // the JSON records written, in order
  std::vector<std::string> logs;    // their TEFE.txt
  std::vector<ScanRecord> kept;     // the runs the history gained, oldest first

  const SimLoggedCommand* Failed(uint32_t n) const { return hit ? &sent[n - 1] : nullptr; }
  // Sample exchanges the drive answered GOOD with a whole reply; the one the
  // fault spoiled (its reply's status or bytes) aside.
  size_t AnsweredSamples(uint32_t faultAt, bool spoilsReply) const {
    size_t answered = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
      const SimLoggedCommand& s = sent[i];
      if (!IsSample(s) || !s.Done() || s.scsiStatus != kScsiStatusGood ||
          s.Moved() < kTefeReplyLength)
        continue;
      if (spoilsReply && hit && i + 1 == faultAt) continue;
      ++answered;
    }
    return answered;
  }
};

class FaultSweep : public ::testing::Test {
 public:
  // The command under the sweep: its arguments and how it runs in process.
  struct Command {
    std::vector<std::string> args;
    CommandFunction run;
    // Before the fault is armed (recover: the state a killed run leaves).
    std::function<void(CDriveSession&)> before;
    int insertDelayMs = 0;  // 0: the disc is ready at once
    bool watch = false;     // runs in the scratch folder, discs fed back
  };

  SweepRun Once(const Command& command, const SimFault* fault) {
    for (const fs::directory_entry& entry : fs::directory_iterator(m_folder.Path()))
      fs::remove_all(entry.path());
    const int64_t keptBefore = KeptRuns();
    SweepRun ran;
    const fs::path home = fs::current_path();
    if (command.watch) fs::current_path(m_folder.Path());
    const Captured run = RunCli(
        command.args,
        [&](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
          CSimDrive& drive = *session.SimDrives().front();
          if (command.before) command.before(session);
          drive.ClearCommandLog();
          // Before the fault can take the disc out, and before the user's
          // thread gets to run.
          std::string last = drive.DiscName();
          if (fault != nullptr) drive.AddFault(*fault);
          // A disc the fault took out while a watch waits for the next one
          // leaves the spindle empty: the user puts it back. A disc the
          // watch could not eject the user takes out, and puts the next in
          // once the watch has polled the empty tray (two polls: one may
          // have been under way when the disc left).
          std::atomic<bool> done{false};
          std::thread user;
          if (command.watch) {
            user = std::thread([&] {
              bool swapped = false;
              std::optional<uint32_t> emptySince;  // polls before the disc was taken out
              while (!done) {
                const std::string name = drive.DiscName();
                if (!name.empty()) last = name;
                const SimDisc* disc = FindSimDisc(last);
                if (disc != nullptr && drive.Attached() && !drive.InDiagnosticMode()) {
                  const std::vector<SimLoggedCommand> log = drive.CommandLog();
                  if (emptySince) {
                    if (drive.OpcodeCount(kOpTestUnitReady) >= *emptySince + 2) {
                      drive.InsertDisc(*disc);
                      emptySince.reset();
                    }
                  } else if (!swapped && fault != nullptr && log.size() >= fault->fromNth &&
                             log[fault->fromNth - 1].cdb[0] == kOpStartStopUnit &&
                             !(log[fault->fromNth - 1].Done() &&
                               log[fault->fromNth - 1].scsiStatus == kScsiStatusGood)) {
                    drive.Eject();
                    emptySince = drive.OpcodeCount(kOpTestUnitReady);
                    swapped = true;
                  } else if (name.empty()) {
                    drive.InsertDisc(*disc);
                  }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
            });
          }
          const int code = command.run(session, options, out, err);
          done = true;
          if (user.joinable()) user.join();
          return code;
        },
        [&](CDriveSession& session) {
          const CSimDrive& drive = *session.SimDrives().front();
          ran.sent = drive.CommandLog();
          ran.diagnostic = drive.InDiagnosticMode();
          ran.prevented = drive.RemovalPrevented();
          ran.attached = drive.Attached();
        },
        command.insertDelayMs);
    if (command.watch) fs::current_path(home);
    ran.exitCode = run.exitCode;
    ran.out = run.out;
    ran.err = run.err;
    ran.hit = fault != nullptr && ran.sent.size() >= fault->fromNth;
    std::vector<fs::path> jsons;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_folder.Path()))
      if (entry.path().extension() == ".json") jsons.push_back(entry.path());
    std::sort(jsons.begin(), jsons.end());
    for (const fs::path& json : jsons) {
      ScanRecord record;
      std::string error;
      EXPECT_TRUE(LoadRecordFile(json.string(), &record, &error)) << error;
      ran.records.push_back(record);
      const std::string stem = json.string().substr(0, json.string().size() - 5);
      ran.logs.push_back(
          ReadFile(fs::exists(stem + "-TEFE.txt") ? stem + "-TEFE.txt" : stem + ".txt"));
    }
    ran.kept = NewestKept(KeptRuns() - keptBefore);
    return ran;
  }

 protected:
  std::string In(const std::string& name) const { return m_folder.Path() + "/" + name; }

  Command ScanCommand() const {
    return {{"--simulate=dvd+r-good", "--sim-latency=0", "scan", "--log", In("run.txt"), "--json",
             In("run.json")},
            SweepScan,
            nullptr};
  }
  Command SmartCommand() const {
    return {{"--simulate=dvd+r-good", "--sim-latency=0", "smart", "--json", In("run.json")},
            SweepSmart,
            nullptr};
  }
  static Command IdentifyCommand() {
    return {{"--simulate=dvd+r-good", "--sim-latency=0", "identify"},
            [](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
              return RunIdentifyCommand(session, options, out, err, SweepWait());
            },
            nullptr};
  }
  // recover over what a killed scan leaves: the drive in its diagnostic
  // mode with its tray locked.
  static Command RecoverCommand() {
    Command recover{
        {"--simulate=dvd+r-good", "--sim-latency=0", "recover"},
        [](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
          return RunRecoverCommand(session, options, out, err,
                                   [](const std::string&) { return std::string(); });
        },
        nullptr};
    recover.before = [](CDriveSession& session) {
      session.Manager().SelectDrive(0);
      EXPECT_TRUE(SetDiagnosticMode(kDiagnosticEnter));
      EXPECT_TRUE(PreventMediumRemoval(true));
    };
    return recover;
  }
  // Two discs of the feeder, each ejected when done: the tray has to be
  // seen empty between them, so the discs take a few milliseconds to land.
  static Command WatchCommand() {
    Command watch{
        {"--simulate=feeder", "--sim-latency=0", "watch", "--eject", "--count", "2"},
        [](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
          return RunWatchCommand(session, options, out, err, SweepWait());
        },
        nullptr};
    watch.insertDelayMs = 6;
    watch.watch = true;
    return watch;
  }

  ScratchFolder m_folder{"velmo-sweep"};
};

// The outcome a sample's fault ends a scan with; k counts the samples sent,
// the failed one included. None: the run goes on as if nothing happened.
std::optional<RunOutcome> SampleFaultOutcome(const SimFault& fault, size_t k) {
  switch (fault.kind) {
    case SimFaultKind::kTimeOut: return RunOutcome::kTimedOut;
    case SimFaultKind::kGone: return RunOutcome::kDriveGone;
    case SimFaultKind::kEject: return RunOutcome::kDiscEjected;
    case SimFaultKind::kShortTransfer: return RunOutcome::kDriveError;
    case SimFaultKind::kCheckCondition:
      if (fault.senseKey == kSenseKeyIllegalRequest) return RunOutcome::kFirmwareFailure;
      if (fault.senseKey == kSenseKeyMediumError) return RunOutcome::kNoReading;
      return RunOutcome::kDriveError;
    // No reading at all where none was read before: the firmware's case.
    case SimFaultKind::kSampleStatus:
    case SimFaultKind::kAllOnes:
      return k == 1 ? RunOutcome::kFirmwareFailure : RunOutcome::kNoReading;
    case SimFaultKind::kBusy:
    case SimFaultKind::kHeaderLength: return std::nullopt;
  }
  return std::nullopt;
}

// Faults that leave every exchange but a sample as it was.
// identify's output without the drive's fact lines (indented under "Drive:").
std::string WithoutDriveFacts(const std::string& out) {
  std::istringstream lines(out);
  std::string kept, line;
  while (std::getline(lines, line)) {
    if (line.rfind("  ", 0) == 0 && line.find(':') != std::string::npos &&
        line.find("=>") == std::string::npos)
      continue;
    kept += line + "\n";
  }
  return kept;
}

bool OnlySpoilsSamples(const SimFault& fault) {
  return fault.kind == SimFaultKind::kBusy || fault.kind == SimFaultKind::kSampleStatus ||
         fault.kind == SimFaultKind::kHeaderLength;
}

bool SpoilsReply(const SimFault& fault) {
  return fault.kind == SimFaultKind::kSampleStatus || fault.kind == SimFaultKind::kAllOnes;
}

size_t SamplesUpTo(const SweepRun& ran, uint32_t n) {
  return static_cast<size_t>(std::count_if(ran.sent.begin(), ran.sent.begin() + n,
                                           [](const auto& s) { return IsSample(s); }));
}

// The exchanges a sweep fails: every one that is no sample, the first
// three and the last three samples of each disc, and every stride-th in
// between (the middle samples are alike; striding keeps the sweep within
// seconds under the sanitizers too).
bool Swept(const std::vector<SimLoggedCommand>& clean, uint32_t n, size_t stride) {
  if (n > clean.size() || !IsSample(clean[n - 1])) return true;
  size_t before = 0, after = 0;
  for (size_t i = n - 1; i > 0 && IsSample(clean[i - 1]); --i) ++before;
  for (size_t i = n; i < clean.size() && IsSample(clean[i]); ++i) ++after;
  return before < 3 || after < 3 || before % stride == 0;
}

// What every run owes, whatever failed: the drive out of the diagnostic
// mode, no sample counted that the drive did not answer, the history
// keeping what the records say.
void CheckEveryRun(const SweepRun& ran, uint32_t n, const SimFault& fault) {
  if (ran.attached) {
    EXPECT_FALSE(ran.diagnostic) << "the drive was left in its diagnostic mode";
  }
  size_t counted = 0;
  for (const ScanRecord& record : ran.records) {
    counted += record.samples.size();
    counted += std::count_if(record.rows.begin(), record.rows.end(),
                             [](const SmartRow& row) { return row.te.has_value(); });
  }
  EXPECT_EQ(counted, ran.AnsweredSamples(n, SpoilsReply(fault)));
  // A disc a watch skipped has an entry of its own, without readings or a
  // record file.
  std::vector<const ScanRecord*> runs;
  for (const ScanRecord& kept : ran.kept) {
    if (kept.outcome != RunOutcome::kSkipped) {
      runs.push_back(&kept);
    } else {
      EXPECT_TRUE(kept.samples.empty() && kept.rows.empty());
    }
  }
  ASSERT_EQ(runs.size(), ran.records.size());
  for (size_t i = 0; i < ran.records.size(); ++i) {
    EXPECT_EQ(RunOutcomeName(runs[i]->outcome),
              std::string(RunOutcomeName(ran.records[i].outcome)));
    EXPECT_EQ(runs[i]->samples, ran.records[i].samples);
    EXPECT_EQ(runs[i]->rows, ran.records[i].rows);
    EXPECT_EQ(runs[i]->startTime, ran.records[i].startTime);
  }
}

// Fails exchange 1, 2, 3 ... of the command with each kind of fault until
// a run passes untouched; check sees each run with the number it failed.
// kinds: the faults to sweep with (all); skip: exchanges of the clean run
// left out (none).
template <typename Check>
void SweepEveryExchange(FaultSweep& sweep, const FaultSweep::Command& command,
                        const SweepRun& clean, size_t stride, Check check,
                        const std::vector<SweepKind>& kinds = SweepKinds(),
                        const std::function<bool(const SimLoggedCommand&)>& skip = nullptr) {
  for (const SweepKind& kind : kinds) {
    for (uint32_t n = 1;; ++n) {
      if (!Swept(clean.sent, n, stride)) continue;
      if (skip && n <= clean.sent.size() && skip(clean.sent[n - 1])) continue;
      SimFault fault = kind.fault;
      fault.fromNth = n;
      const SweepRun ran = sweep.Once(command, &fault);
      if (!ran.hit) break;
      SCOPED_TRACE(std::string(kind.name) + " at exchange " + std::to_string(n) + " (" +
                   WhatWasSent(*ran.Failed(n)) + ")");
      CheckEveryRun(ran, n, fault);
      check(ran, n, fault);
    }
  }
}

TEST_F(FaultSweep, AScanFailingAtEveryExchange) {
  const Command scan = ScanCommand();
  const SweepRun clean = Once(scan, nullptr);
  ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
  ASSERT_EQ(clean.records.size(), 1u);
  const ScanRecord& cleanRecord = clean.records[0];
  const std::vector<std::string> cleanLines = SweepLines(clean.logs[0]);
  ASSERT_EQ(cleanRecord.samples.size(), 58u);
  SweepEveryExchange(
      *this, scan, clean, 7, [&](const SweepRun& ran, uint32_t n, const SimFault& fault) {
        const SimLoggedCommand& failed = *ran.Failed(n);
        const size_t k = SamplesUpTo(ran, n);
        if (!IsSample(failed)) {
          if (k == 0 && !OnlySpoilsSamples(fault) && ran.exitCode != kExitOk) {
            // Before any sample: the disc was not identified as testable, so
            // no run, nothing kept.
            EXPECT_EQ(ran.exitCode, kExitNoDrive) << ran.err;
            EXPECT_TRUE(ran.records.empty());
            EXPECT_EQ(ran.AnsweredSamples(n, false), 0u);
            return;
          }
          // A poll asked again, the leave after the last sample, or a fault
          // this exchange has no part for: the clean run's readings.
          EXPECT_EQ(ran.exitCode, kExitOk) << ran.err;
          ASSERT_EQ(ran.records.size(), 1u);
          EXPECT_EQ(ran.records[0].samples, cleanRecord.samples);
          EXPECT_EQ(ran.logs[0], clean.logs[0]);
          return;
        }
        const std::optional<RunOutcome> expected = SampleFaultOutcome(fault, k);
        ASSERT_EQ(ran.records.size(), 1u);
        const ScanRecord& record = ran.records[0];
        if (!expected) {
          // Busy for a moment: the same readings, byte for byte.
          EXPECT_EQ(ran.exitCode, kExitOk) << ran.err;
          EXPECT_EQ(ran.logs[0], clean.logs[0]);
          EXPECT_EQ(record.samples, cleanRecord.samples);
          return;
        }
        EXPECT_EQ(ran.exitCode, kExitDriveFailure) << ran.err;
        EXPECT_EQ(RunOutcomeName(record.outcome), std::string(RunOutcomeName(*expected)));
        // The whole lines before the failed sample, and nothing else.
        EXPECT_EQ(ran.logs[0],
                  std::accumulate(cleanLines.begin(), cleanLines.begin() + k, std::string()));
        ASSERT_EQ(record.samples.size(), k - 1);
        EXPECT_TRUE(
            std::equal(record.samples.begin(), record.samples.end(), cleanRecord.samples.begin()));
        EXPECT_EQ(record.cause.lba, std::optional<int32_t>(cleanRecord.samples[k - 1].lba));
        EXPECT_TRUE(record.verdict.empty());
        // Only the drive's refusal is a matter for its firmware.
        EXPECT_EQ(ran.err.find("flash") != std::string::npos,
                  *expected == RunOutcome::kFirmwareFailure)
            << ran.err;
        // At the first sample nothing was read before it, nor taken.
        EXPECT_TRUE(k > 1 || ran.err.find("before") == std::string::npos) << ran.err;
        EXPECT_TRUE(k > 1 || ran.err.find("0 samples") == std::string::npos) << ran.err;
        // A first sample answered GOOD without a reading is the firmware's case
        // as it stands: nothing more is asked of the drive.
        if (SpoilsReply(fault) && k == 1 && ran.sent.size() > n) {
          EXPECT_NE(ran.sent[n].cdb[0], kOpTestUnitReady);
        }
      });
}
TEST_F(FaultSweep, ASmartScanFailingAtEveryExchange) {
  const Command smart = SmartCommand();
  const SweepRun clean = Once(smart, nullptr);
  ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
  ASSERT_EQ(clean.records.size(), 1u);
  const ScanRecord& cleanRecord = clean.records[0];
  const size_t rows = cleanRecord.rows.size();
  ASSERT_EQ(rows, 5u);
  ASSERT_TRUE(cleanRecord.fitSpeed);
  SweepEveryExchange(
      *this, smart, clean, 7, [&](const SweepRun& ran, uint32_t n, const SimFault& fault) {
        const size_t k = SamplesUpTo(ran, n);
        const std::optional<RunOutcome> first =
            IsSample(*ran.Failed(n)) ? SampleFaultOutcome(fault, k) : std::nullopt;
        if (!first) {
          if (ran.exitCode != kExitOk && k == 0 && !OnlySpoilsSamples(fault)) {
            EXPECT_EQ(ran.exitCode, kExitNoDrive) << ran.err;
            EXPECT_TRUE(ran.records.empty());
            return;
          }
          EXPECT_EQ(ran.exitCode, kExitOk) << ran.err;
          ASSERT_EQ(ran.records.size(), 1u);
          EXPECT_EQ(ran.records[0].rows, cleanRecord.rows);
          EXPECT_EQ(ran.records[0].fitSpeed, cleanRecord.fitSpeed);
          return;
        }
        EXPECT_EQ(ran.exitCode, kExitDriveFailure) << ran.err;
        ASSERT_EQ(ran.records.size(), 1u);
        const ScanRecord& record = ran.records[0];
        ASSERT_EQ(record.rows.size(), rows);
        EXPECT_EQ(record.rows[k - 1].result, kSmartRowFailed);
        // A failed row is its own: the rows before it stand as they were.
        for (size_t i = 0; i + 1 < k; ++i) EXPECT_EQ(record.rows[i], cleanRecord.rows[i]);
        // The first failed row says why.
        EXPECT_EQ(RunOutcomeName(record.outcome), std::string(RunOutcomeName(*first)));
        if (fault.kind == SimFaultKind::kGone || fault.kind == SimFaultKind::kEject) {
          // The drive or the disc is gone for every row after it too.
          for (size_t i = k; i < rows; ++i) EXPECT_EQ(record.rows[i].result, kSmartRowFailed);
        }
        // The answer is still the highest speed that was read "OK.".
        int highest = -1;
        for (const SmartRow& row : record.rows)
          if (row.result == kSmartRowOk) highest = std::max(highest, row.speedCode);
        EXPECT_EQ(record.fitSpeed ? record.fitSpeed->speedCode : -1, highest);
      });
}

// identify keeps nothing: what it owes is its exit code and the drive out
// of the diagnostic mode.
TEST_F(FaultSweep, AnIdentificationFailingAtEveryExchange) {
  const Command identify = IdentifyCommand();
  const SweepRun clean = Once(identify, nullptr);
  ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
  SweepEveryExchange(
      *this, identify, clean, 7, [&](const SweepRun& ran, uint32_t n, const SimFault& fault) {
        EXPECT_TRUE(ran.records.empty());
        EXPECT_EQ(ran.AnsweredSamples(n, false), 0u);
        const bool leave =
            ran.Failed(n)->cdb[0] == kOpVendor && ran.Failed(n)->cdb[1] == kVendorLeaveDiagnostic;
        if (OnlySpoilsSamples(fault) || leave) {
          // Identified before the leave, or nothing spoiled: the clean answer.
          EXPECT_EQ(ran.exitCode, kExitOk) << ran.err;
          if (fault.kind != SimFaultKind::kGone) {
            // A drive's fact it was too busy to give is "unknown"; the rest stands.
            const uint8_t op = ran.Failed(n)->cdb[0];
            const bool factAsked = op == 0x12 || op == 0x46 || op == 0x5A;
            EXPECT_EQ(factAsked ? WithoutDriveFacts(ran.out) : ran.out,
                      factAsked ? WithoutDriveFacts(clean.out) : clean.out);
          }
          return;
        }
        // A disc whose IDs did not read shows them as not known; one whose
        // type or speeds did not is no disc to test.
        EXPECT_TRUE(ran.exitCode == kExitOk || ran.exitCode == kExitNoDrive) << ran.exitCode;
      });
}

// recover's exit code tells the drive's state: 0 only when it is out of the
// diagnostic mode with its tray free.
TEST_F(FaultSweep, ARecoverFailingAtEveryExchange) {
  const Command recover = RecoverCommand();
  const SweepRun clean = Once(recover, nullptr);
  ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
  ASSERT_FALSE(clean.diagnostic);
  ASSERT_FALSE(clean.prevented);
  SweepEveryExchange(*this, recover, clean, 7,
                     [&](const SweepRun& ran, uint32_t, const SimFault& fault) {
                       const bool recovered = ran.attached && !ran.diagnostic && !ran.prevented;
                       EXPECT_EQ(ran.exitCode, recovered ? kExitOk : kExitDriveFailure) << ran.out;
                       // A drive busy for a moment is asked again.
                       if (fault.kind == SimFaultKind::kBusy) {
                         EXPECT_TRUE(recovered);
                       }
                     });
}

// The watch's own polls and ejects fail too. Each disc's record stands on
// its own: the one whose sample failed ends as that sample says, the other
// reads as it did without the fault.
TEST_F(FaultSweep, AWatchOfTwoDiscsFailingAtEveryExchange) {
  const Command watch = WatchCommand();
  const SweepRun clean = Once(watch, nullptr);
  ASSERT_EQ(clean.exitCode, kExitNotRecommended) << clean.err;
  ASSERT_EQ(clean.records.size(), 2u);
  SweepEveryExchange(
      *this, watch, clean, 1000,
      [&](const SweepRun& ran, uint32_t n, const SimFault& fault) {
        if (!IsSample(*ran.Failed(n))) return;
        // The disc of the failed sample, and its samples up to it.
        size_t disc = 0, k = 0;
        for (uint32_t i = 0; i < n; ++i) {
          const SimLoggedCommand& s = ran.sent[i];
          if (s.cdb[0] == kOpVendor && s.cdb[1] == kVendorEnterDiagnostic) ++disc, k = 0;
          if (IsSample(s)) ++k;
        }
        ASSERT_GE(disc, 1u);
        ASSERT_GE(ran.records.size(), disc);
        const ScanRecord& record = ran.records[disc - 1];
        const std::optional<RunOutcome> expected = SampleFaultOutcome(fault, k);
        if (!expected) {
          EXPECT_EQ(ran.exitCode, clean.exitCode) << ran.err;
          EXPECT_EQ(record.samples, clean.records[disc - 1].samples);
          return;
        }
        EXPECT_EQ(ran.exitCode, kExitDriveFailure) << ran.out << ran.err;
        EXPECT_EQ(RunOutcomeName(record.outcome), std::string(RunOutcomeName(*expected)));
        ASSERT_EQ(record.samples.size(), k - 1);
        EXPECT_TRUE(std::equal(record.samples.begin(), record.samples.end(),
                               clean.records[disc - 1].samples.begin()));
        if (disc == 2) {
          EXPECT_EQ(ran.records[0].samples, clean.records[0].samples);
        }
      },
      // The watch's own part: its polls, ejects and each disc's first and
      // last sample, with the faults a command without data can meet, and
      // one that spoils a reply. The scans' identification and middle
      // samples, and the other spoiled replies, are the scan sweep's.
      WatchKinds(),
      [](const SimLoggedCommand& sent) {
        return sent.cdb[0] == kOpGetConfiguration || sent.cdb[0] == kOpReadDvdStructure ||
               sent.cdb[0] == kOpGetPerformance;
      });
}

// A drive that stays busy ends the run as busy, not as a reading of 0.
TEST_F(FaultSweep, ADriveThatStaysBusyEndsTheRunAsBusy) {
  SimFault busy = SweepFault(SimFaultKind::kBusy);
  busy.target = SimCommandClass::kTefeSample;
  busy.times = 0;
  busy.fromNth = 3;
  const SweepRun scan = Once(ScanCommand(), &busy);
  EXPECT_EQ(scan.exitCode, kExitDriveFailure);
  ASSERT_EQ(scan.records.size(), 1u);
  EXPECT_EQ(scan.records[0].outcome, RunOutcome::kDriveBusy);
  EXPECT_EQ(scan.records[0].cause.scsiStatus, kScsiStatusBusy);
  EXPECT_EQ(scan.records[0].samples.size(), 2u);
  EXPECT_NE(scan.err.find("stayed busy"), std::string::npos) << scan.err;
  for (const RecordSample& s : scan.records[0].samples) EXPECT_NE(s.te, 0);
}
}  // namespace
