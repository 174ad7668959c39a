// The scan run against a scripted drive: the range and steps, the sample
// commands, TEFE.txt byte for byte, the verdicts, failures and stopping.
#include "console/scan_run.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include <fstream>
#include <sstream>

#include "commands/disc_globals.h"
#include "device/big_endian.h"
#include "device/device_manager.h"
#include "session/output_file.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/scripted_bus.h"

namespace {

struct RecordingChart : ScanChart {
  std::vector<std::string> calls;
  int points = 0;
  void ClearData() override { calls.push_back("clear"); }
  void DrawLimitLine(ScanSeries series, double y, bool show) override {
    calls.push_back("limit " + std::to_string(SeriesIndex(series)) + " " + std::to_string(int(y)) +
                    (show ? " on" : " off"));
  }
  void AppendPoint(ScanSeries, double, double) override { ++points; }
  void Refresh() override {}
};

const char* OutcomeWord(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kFirmwareFailure: return "firmware";
    case RunOutcome::kNoReading: return "no reading";
    case RunOutcome::kTimedOut: return "timed out";
    case RunOutcome::kDriveGone: return "drive gone";
    case RunOutcome::kDiscEjected: return "disc ejected";
    case RunOutcome::kDriveBusy: return "drive busy";
    case RunOutcome::kDriveError: return "drive error";
    default: return "other";
  }
}

struct RecordingSink : ScanSink {
  std::vector<std::string> events;
  std::vector<int32_t> lbas;
  std::function<void(int32_t)> onSample;
  void SetScanning(bool on) override { events.push_back(on ? "scanning" : "idle"); }
  void LogOpenFailed() override { events.push_back("log failed"); }
  void LogWriteFailed(int error) override {
    events.push_back("write failed " + std::to_string(error));
  }
  void RunStarted() override { events.push_back("started"); }
  void Elapsed(long) override {}
  void Sampled(int32_t lba, uint16_t, uint16_t) override {
    lbas.push_back(lba);
    if (onSample) onSample(lba);
  }
  void SampleFailed(const RunEnd& end) override {
    events.push_back(std::string("failed ") + OutcomeWord(end.outcome));
  }
  void SampleFailureEnded(const RunEnd&) override { events.push_back("failure ended"); }
  void Verdict(ScanVerdict verdict) override {
    events.push_back(std::string("verdict ") + VerdictText(verdict) + " " +
                     std::to_string(VerdictColour(verdict)));
  }
  void Finished() override { events.push_back("finished"); }
};

uint32_t PsnOf(const std::vector<uint8_t>& cdb) { return GetBe24(cdb.data() + 8); }

class ScanRunTest : public ScriptedBusTest {
 protected:
  void SetUp() override {
    ScriptedBusTest::SetUp();
    if (HasFatalFailure()) return;
    SetDisc(kDiscDvdPlusR, 2086912);
    logPath = m_scratch.Path() + "/TEFE.txt";
    drive.On(0xFD, Reading(200, 150));
  }
  static void SetDisc(DiscTypeCode type, int32_t lastLba) {
    g_discType = type;
    std::lock_guard<std::mutex> hold(g_discLock);
    g_lastLba = lastLba;
  }
  void SetDensity(uint8_t mode) {
    settings.densityMode = mode;
    settings.densityStep = mode == kDensityFull ? kFullDensityStep : kNormalDensityStep;
  }
  void Run() {
    CScanRun run(settings, chart, sink, OutputStreamOpener(logPath));
    run.Run();
    EXPECT_TRUE(run.Finished());
  }
  std::string Log() const {
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::vector<uint8_t>> Samples() const {
    std::vector<std::vector<uint8_t>> cdbs;
    for (const auto& c : drive.Commands()) {
      if (c.cdb[0] == 0xFD) cdbs.push_back(c.cdb);
    }
    return cdbs;
  }

  ScanSettings settings;
  RecordingChart chart;
  RecordingSink sink;
  ScratchFolder m_scratch{"velmo-scan-run"};
  std::string logPath;
};

TEST_F(ScanRunTest, SampleCountsForEachDensity) {
  const struct {
    DiscTypeCode type;
    int32_t lastLba;
    uint8_t density;
    size_t samples;
  } cases[] = {
      {kDiscDvdPlusR, 2086912, kDensityNormal, 58},
      {kDiscDvdPlusR, 2086912, kDensityFull, 127},
      {kDiscDvdPlusR, 2086912, kDensityQuick, 12},
      {kDiscDvdMinusR, 2086912, kDensityNormal, 58},
      {kDiscDvdPlusRDl, 4173824, kDensityNormal, 127},
      {kDiscDvdPlusRDl, 4173824, kDensityFull, 254},
      {kDiscDvdPlusRDl, 4173824, kDensityQuick, 25},
  };
  for (const auto& c : cases) {
    sink = RecordingSink{};
    SetDisc(c.type, c.lastLba);
    SetDensity(c.density);
    Run();
    EXPECT_EQ(sink.lbas.size(), c.samples) << int(c.type) << " density " << int(c.density);
  }
}

TEST_F(ScanRunTest, TheLogIsByteExactWithCrLf) {
  SetDensity(kDensityQuick);
  drive.OnEach(0xFD, [](const ScsiExchange& c) {
    return PsnOf({c.cdb.begin(), c.cdb.begin() + 12}) == 1878221 + 0x30000 ? Reading(501, 450)
                                                                           : Reading(7, 451);
  });
  Run();
  const std::string log = Log();
  const std::string header = " Address   TE   FE Result\r\n";
  ASSERT_EQ(log.substr(0, header.size()), header);
  const std::string first =
      " 1878221  501  450 The disc is not recommended for writing under "
      "this speed setting.\r\n";
  EXPECT_EQ(log.substr(header.size(), first.size()), first);
  const std::string second =
      " 1894605    7  451 The disc is not recommended for writing under "
      "this speed setting.\r\n";
  EXPECT_EQ(log.substr(header.size() + first.size(), second.size()), second);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 13);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 13);
}

TEST_F(ScanRunTest, LimitsAndVerdicts) {
  SetDensity(kDensityQuick);
  drive.On(0xFD, Reading(500, 450));
  Run();
  EXPECT_EQ(sink.events.back(), "finished");
  EXPECT_EQ(sink.events[sink.events.size() - 3], std::string("verdict ") + kVerdictOk + " 33280");
  EXPECT_NE(Log().find("  500  450 The disc is ok for writing under this speed setting.\r\n"),
            std::string::npos);

  // One sample over a limit, at the very end, turns the whole verdict.
  sink = RecordingSink{};
  drive.OnEach(0xFD, [](const ScsiExchange& c) {
    return PsnOf({c.cdb.begin(), c.cdb.begin() + 12}) >= 0x1F0000 ? Reading(100, 451)
                                                                  : Reading(100, 100);
  });
  Run();
  EXPECT_EQ(sink.events[sink.events.size() - 3],
            std::string("verdict ") + kVerdictNotRecommended + " 255");
}

// A drive that answers BUSY or TASK SET FULL is asked again, on either
// transport, and the run reads every sample.
TEST_F(ScanRunTest, ABusyDriveIsAskedAgainOnBothTransports) {
  SetDensity(kDensityQuick);
  for (const bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "aspi" : "pass-through");
    g_pDeviceManager = nullptr;
    manager.reset();
    host =
        std::make_shared<CSimulatedHost>(aspi ? AspiConfig({&drive}) : PassThroughConfig({&drive}));
    manager = std::make_unique<CDeviceManager>(host);
    ASSERT_TRUE(manager->Initialize());
    manager->EnumerateDrives();
    ASSERT_EQ(manager->GetDriveCount(), 1);
    g_pDeviceManager = manager.get();
    sink = RecordingSink{};
    int sent = 0;
    drive.OnEach(0xFD, [&sent](const ScsiExchange&) {
      ++sent;
      if (sent <= 2) return ScriptedReply{ExchangeOutcome::kDone, kScsiStatusBusy, {}, {}};
      if (sent == 6) return ScriptedReply{ExchangeOutcome::kDone, kScsiStatusTaskSetFull, {}, {}};
      return Reading(100, 100);
    });
    Run();
    EXPECT_EQ(sink.lbas.size(), 12u);
    EXPECT_EQ(sent, 15);
    ASSERT_GE(sink.events.size(), 3u);
    EXPECT_EQ(sink.events[sink.events.size() - 3], std::string("verdict ") + kVerdictOk + " 33280");
  }
}

// A drive being unplugged fails commands below SCSI for a moment before the
// system calls it gone: the tray is asked again until it says which, and a
// drive that only ever fails so ends as a drive error after ten asks.
TEST_F(ScanRunTest, ADriveBeingUnpluggedIsAskedAgainUntilItIsGone) {
  const ScriptedReply lost{ExchangeOutcome::kTransportError, 0, kSenseNone, {}};
  const ScriptedReply gone{ExchangeOutcome::kDriveGone, 0, kSenseNone, {}};
  for (const auto& [failingAsks, said, asks] :
       {std::tuple{3, "failed drive gone", 4}, std::tuple{99, "failed drive error", 10}}) {
    SCOPED_TRACE(said);
    sink = RecordingSink{};
    int sent = 0, asked = 0;
    drive.OnEach(0xFD, [&sent, &lost](const ScsiExchange&) {
      return ++sent < 3 ? Reading(100, 100) : lost;
    });
    drive.OnEach(0x00, [&, failingAsks = failingAsks](const ScsiExchange&) {
      return ++asked <= failingAsks ? lost : gone;
    });
    Run();
    EXPECT_EQ(sink.lbas.size(), 2u);
    EXPECT_EQ(asked, asks);
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"scanning", "started", said, "idle", "failure ended"}));
  }
}

TEST_F(ScanRunTest, ARangeThatIsEmptyTakesNoSample) {
  SetDisc(kDiscDvdPlusR, 16384);
  Run();
  EXPECT_TRUE(Samples().empty());
  EXPECT_EQ(Log(), " Address   TE   FE Result\r\n");
  EXPECT_EQ(sink.events, (std::vector<std::string>{"scanning", "started",
                                                   std::string("verdict ") + kVerdictOk + " 33280",
                                                   "idle", "finished"}));
}

TEST_F(ScanRunTest, AFailureAtTheFirstSampleLeavesOnlyTheHeader) {
  std::ofstream(logPath) << "a line of an earlier run\r\n";
  settings.showFeLimit = 1;
  settings.showTeLimit = 1;
  // A reading the drive calls invalid with none before it, and a refusal,
  // are the firmware's; a time-out is a time-out.
  const std::pair<ScriptedReply, const char*> failures[] = {
      {Reading(1, 1, 1), "failed firmware"},
      {ScriptedReply{ExchangeOutcome::kCheckCondition, 2, 5, 0x24, 0, {}}, "failed firmware"},
      {ScriptedReply{ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}}, "failed timed out"}};
  for (const auto& [failure, said] : failures) {
    sink = RecordingSink{};
    chart = RecordingChart{};
    drive.On(0xFD, failure);
    Run();
    EXPECT_EQ(Log(), " Address   TE   FE Result\r\n");
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"scanning", "started", said, "idle", "failure ended"}));
    EXPECT_EQ(chart.points, 0);
    // The FE line first, then the TE line, after the chart is cleared.
    EXPECT_EQ(chart.calls, (std::vector<std::string>{"clear", "limit 1 450 on", "limit 0 500 on"}));
  }
}

// No reading at the very first sample (GOOD, 8 bytes, a non-zero status
// byte) is the firmware's case, said without asking the drive anything
// more: not even an empty tray turns it into another ending.
TEST_F(ScanRunTest, AnInvalidFirstReadingSendsNothingMore) {
  drive.On(0x00, ScriptedReply{ExchangeOutcome::kCheckCondition, 2, {0x02, 0x3A, 0x00}, {}});
  drive.On(0xFD, Reading(1, 1, 1));
  Run();
  EXPECT_EQ(sink.events, (std::vector<std::string>{"scanning", "started", "failed firmware", "idle",
                                                   "failure ended"}));
  ASSERT_FALSE(drive.Commands().empty());
  EXPECT_EQ(drive.Commands().back().cdb[0], 0xFD) << "the sample was the last command sent";
}

TEST_F(ScanRunTest, AnUnwritableLogStopsBeforeAnything) {
  CScanRun run(settings, chart, sink, OutputStreamOpener("/nonexistent-dir/TEFE.txt"));
  run.Run();
  EXPECT_EQ(sink.events, (std::vector<std::string>{"scanning", "log failed", "idle"}));
  EXPECT_TRUE(chart.calls.empty());
  EXPECT_TRUE(Samples().empty());
}

// Disk full: the run ends at the line that did not fit, with no verdict,
// and the log holds whole lines only. The child process gets a file size
// limit that cuts the log in the middle of a line.
TEST_F(ScanRunTest, ALogThatFillsUpEndsTheRunWithWholeLines) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr long kLimit = 3 * 71 + 20;  // header and two sample lines fit, then part of one
  auto fillUp = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kLimit, kLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    Run();
    const std::string log = Log();
    const bool wholeLines = !log.empty() && log.size() < static_cast<size_t>(kLimit) &&
                            log.compare(log.size() - 2, 2, "\r\n") == 0;
    const bool noVerdict =
        sink.events.back() == "idle" &&
        sink.events[sink.events.size() - 2] == "write failed " + std::to_string(EFBIG);
    const bool samplesStopped = sink.lbas.size() <= 3;
    // The child's fixture is its own, and _Exit runs no destructor.
    std::error_code ignored;
    std::filesystem::remove_all(m_scratch.Path(), ignored);
    std::_Exit(wholeLines && noVerdict && samplesStopped ? 0 : 1);
  };
  EXPECT_EXIT(fillUp(), ::testing::ExitedWithCode(0), "");

  // A device that takes nothing: not even the header.
  CScanRun full(settings, chart, sink, OutputStreamOpener("/dev/full"));
  full.Run();
  EXPECT_EQ(sink.events, (std::vector<std::string>{
                             "scanning", "write failed " + std::to_string(ENOSPC), "idle"}));
  EXPECT_TRUE(Samples().empty());
}

TEST_F(ScanRunTest, AddressesAndZonesOfADualLayerDisc) {
  SetDisc(kDiscDvdPlusRDl, 4173824);
  SetDensity(kDensityQuick);
  Run();
  const auto samples = Samples();
  ASSERT_EQ(samples.size(), 25u);
  // Layer 0's last sample is clamped; layer 1 starts above the clamped range.
  bool sawClamp = false, sawLayer1 = false;
  for (size_t i = 0; i < samples.size(); ++i) {
    const int32_t lba = sink.lbas[i];
    const uint32_t psn = PsnOf(samples[i]);
    if (lba < 2086912) {
      EXPECT_TRUE(psn == uint32_t(lba + 0x30000) || psn == 0x229800u) << lba;
      sawClamp |= psn == 0x229800u;
    } else {
      EXPECT_EQ(psn, uint32_t(lba + 0xBD5000)) << lba;
      sawLayer1 = true;
    }
    EXPECT_LT(lba, 2295603 - 16384);
  }
  EXPECT_TRUE(sawClamp);
  EXPECT_TRUE(sawLayer1);
}

TEST(ScanRules, AddressConversionAndClamp) {
  EXPECT_EQ(LbaToPsn(0, kDiscDvdPlusR), 0x30000);
  EXPECT_EQ(LbaToPsn(2086911, kDiscDvdPlusRDl), 2267136);  // lands in the clamped range
  EXPECT_EQ(LbaToPsn(2086912, kDiscDvdPlusRDl), 2086912 + 12406784);
  EXPECT_EQ(LbaToPsn(2086912, kDiscDvdPlusR), 2267136);           // clamped too
  EXPECT_EQ(LbaToPsn(2070527, kDiscDvdPlusR), 2070527 + 196608);  // just below the range
  EXPECT_EQ(LbaToPsn(2070528, kDiscDvdPlusR), 2267136);
}

TEST(ScanRules, StepsByZone) {
  const int32_t tenth = 208691;
  EXPECT_EQ(GetSampleStep(5 * tenth - 1, 49152, kDiscDvdPlusR, 2086912), 49152);
  EXPECT_EQ(GetSampleStep(5 * tenth, 49152, kDiscDvdPlusR, 2086912), (49152 + 16384) / 2);
  EXPECT_EQ(GetSampleStep(9 * tenth - 1, 49152, kDiscDvdPlusR, 2086912), 32768);
  EXPECT_EQ(GetSampleStep(9 * tenth, 49152, kDiscDvdPlusR, 2086912), 16384);
  EXPECT_EQ(GetSampleStep(0, 16384, kDiscDvdPlusR, 2086912), 16384);
  // Dual layer: layer 1 counts back from the rim.
  EXPECT_EQ(GetSampleStep(2086912, 49152, kDiscDvdPlusRDl, 4173824), 16384);
  EXPECT_EQ(GetSampleStep(2086912 + 2 * tenth, 49152, kDiscDvdPlusRDl, 4173824), 32768);
  EXPECT_EQ(GetSampleStep(2086912 + 6 * tenth, 49152, kDiscDvdPlusRDl, 4173824), 49152);
  // A tiny last address must not divide by zero.
  EXPECT_EQ(GetSampleStep(5, 49152, kDiscDvdPlusR, 9), 16384);
}

TEST(ScanRules, RangesByDensity) {
  EXPECT_EQ(GetScanRange(kDensityQuick, kDiscDvdPlusRDl, 4173824).start, 1878221);
  EXPECT_EQ(GetScanRange(kDensityQuick, kDiscDvdPlusRDl, 4173824).end, 2295603 - 16384);
  EXPECT_EQ(GetScanRange(kDensityQuick, kDiscDvdPlusR, 2086912).end, 2086912 - 16384);
  EXPECT_EQ(GetScanRange(kDensityFull, kDiscDvdPlusRDl, 4173824).start, 0);
  EXPECT_EQ(GetScanRange(kDensityNormal, kDiscDvdPlusRDl, 4173824).end, 4173824 - 16384);
}

TEST_F(ScanRunTest, ChangesDuringARunApplyFromTheNextSample) {
  settings.speedCode = kSpeed4X;
  sink.onSample = [&](int32_t lba) {
    if (lba == 0) {
      settings.speedCode = kSpeed16X;
      settings.densityStep = kFullDensityStep;
      settings.densityMode = kDensityQuick;  // the range stays as it was
    }
  };
  Run();
  const auto samples = Samples();
  ASSERT_GE(samples.size(), 2u);
  EXPECT_EQ(samples[0][7], kSpeed4X);
  EXPECT_EQ(samples[1][7], kSpeed16X);
  EXPECT_EQ(sink.lbas[1], 49152);  // the step of the first sample was already taken
  EXPECT_EQ(sink.lbas[2], 49152 + 16384);
  EXPECT_EQ(sink.lbas[0], 0);
}

TEST_F(ScanRunTest, AStopKeepsTheLinesSoFarAndEndsSilently) {
  CScanRun run(settings, chart, sink, OutputStreamOpener(logPath));
  // STOP arrives while the fourth sample command is with the drive.
  int sent = 0;
  drive.OnEach(0xFD, [&](const ScsiExchange&) {
    if (++sent == 4) std::thread([&] { run.RequestStop(); }).join();
    return Reading(200, 150);
  });
  run.Run();
  EXPECT_TRUE(run.Finished());
  EXPECT_EQ(Samples().size(), 4u);  // the sample already sent comes back, unused
  EXPECT_EQ(sink.lbas.size(), 3u);
  EXPECT_EQ(sink.events, (std::vector<std::string>{"scanning", "started"}));
  const std::string log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);  // header and three lines
  EXPECT_EQ(log.back(), '\n');

  // A run stopped before it starts does nothing at all, not even open the log.
  std::remove(logPath.c_str());
  RecordingSink quiet;
  CScanRun early(settings, chart, quiet, OutputStreamOpener(logPath));
  early.RequestStop();
  early.Run();
  EXPECT_TRUE(quiet.events.empty());
  EXPECT_FALSE(std::ifstream(logPath).good());
}

}  // namespace
