// Smart Scan rows and verdicts against a scripted drive.
#include "console/smart_scan.h"

#include <gtest/gtest.h>

#include <thread>

#include "commands/disc_globals.h"
#include "device/big_endian.h"
#include "device/device_manager.h"
#include "tests/support/scripted_bus.h"

namespace {

struct SmartRecordingSink : SmartScanSink {
  int rows = -1;
  int steps = 0;
  std::vector<std::pair<int, std::string>> texts;
  void Started(int n) override { rows = n; }
  void RowTesting(int row) override { texts.emplace_back(row, kSmartTesting); }
  void RowVerdict(int row, SmartVerdict verdict) override {
    texts.emplace_back(row, SmartVerdictText(verdict));
  }
  void Stepped() override { ++steps; }
};

class SmartScanTest : public ScriptedBusTest {
 protected:
  static void SetSpeeds(std::vector<SpeedCode> codes) {
    std::lock_guard<std::mutex> hold(g_discLock);
    g_speedCount = static_cast<int32_t>(codes.size());
    for (size_t i = 0; i < codes.size(); ++i) g_speedCodes[i] = codes[i];
  }

  SmartRecordingSink sink;
};

TEST_F(SmartScanTest, OneVerdictPerSpeedInListOrder) {
  SetSpeeds({13, 14, 15, 16, 17, 18, 19});
  std::vector<std::string> labels;
  for (SpeedCode code : CurrentSpeedRows()) labels.push_back(SpeedLabel(code));
  EXPECT_EQ(labels, (std::vector<std::string>{"2.4X", "4X", "6X", "8X", "10X", "12X", "16X"}));

  // 2.4X at the limits, 4X over on TE, 6X over on FE, 8X a bad status byte,
  // 10X refused, the rest fine.
  drive.OnEach(0xFD, [](const ScsiExchange& c) -> ScriptedReply {
    switch (c.cdb[7]) {
      case 13: return Reading(500, 450);
      case 14: return Reading(501, 0);
      case 15: return Reading(0, 451);
      case 16: return Reading(1, 1, 1);
      case 17: return {ExchangeOutcome::kCheckCondition, 2, 5, 0x24, 0, {}};
      default: return Reading(100, 100);
    }
  });
  CSmartScanRun run(CurrentSpeedRows(), sink);
  run.Run();
  EXPECT_TRUE(run.Finished());
  EXPECT_EQ(sink.rows, 7);
  EXPECT_EQ(sink.steps, 7);
  std::vector<std::string> verdicts;
  for (const auto& [row, text] : sink.texts) {
    if (text != kSmartTesting) verdicts.push_back(text);
  }
  EXPECT_EQ(verdicts, (std::vector<std::string>{"OK.", "Not recommended.", "Not recommended.",
                                                "TE/FE fail.", "TE/FE fail.", "OK.", "OK."}));
  EXPECT_EQ(sink.texts[0], (std::pair<int, std::string>{0, "Testing..."}));
}

TEST_F(SmartScanTest, AnEmptyListEndsAtOnce) {
  CSmartScanRun run(CurrentSpeedRows(), sink);
  run.Run();
  EXPECT_EQ(sink.rows, 0);
  EXPECT_TRUE(sink.texts.empty());
  EXPECT_TRUE(drive.Commands().size() == 1u);  // only the enumeration INQUIRY
}

TEST_F(SmartScanTest, RowsAreTakenWhenTheRunIsMade) {
  SetSpeeds({14, 16});
  CSmartScanRun run(CurrentSpeedRows(), sink);
  SetSpeeds({19});  // a new disc identified meanwhile
  drive.On(0xFD, Reading(100, 100));
  run.Run();
  EXPECT_EQ(sink.rows, 2);
  EXPECT_EQ(drive.Commands()[1].cdb[7], 14);
  EXPECT_EQ(drive.Commands()[2].cdb[7], 16);
}

TEST_F(SmartScanTest, NothingChangesAfterAStop) {
  SetSpeeds({13, 14, 15});
  CSmartScanRun run(CurrentSpeedRows(), sink);
  drive.OnEach(0xFD, [&](const ScsiExchange&) {
    std::thread([&] { run.RequestStop(); }).join();  // Exit while the first sample is pending
    return Reading(100, 100);
  });
  run.Run();
  EXPECT_TRUE(run.Finished());
  ASSERT_EQ(sink.texts.size(), 1u);
  EXPECT_EQ(sink.texts[0].second, kSmartTesting);
  EXPECT_EQ(sink.steps, 0);
}

TEST_F(SmartScanTest, NoDriveMeansEveryRowFails) {
  SetSpeeds({13, 19});
  g_pDeviceManager = nullptr;
  CSmartScanRun run(CurrentSpeedRows(), sink);
  run.Run();
  EXPECT_EQ(sink.texts.back().second, kSmartFail);
  EXPECT_EQ(sink.texts[1].second, kSmartFail);
}

}  // namespace

TEST(StoredDiscInfoTest, ShowsTheGlobalsOfATestableDiscOnly) {
  ResetDiscGlobals();
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    std::snprintf(g_manufacturerId, sizeof g_manufacturerId, "%s", "MAKER");
    std::snprintf(g_mediaTypeId, sizeof g_mediaTypeId, "%s", "T01");
    g_lastLba = kAssumedDualLayerLastLba;
  }
  g_discType = kDiscDvdPlusRDl;
  DiscView view = StoredDiscInfo();
  EXPECT_EQ(view.discType, "DVD+R DL");
  EXPECT_EQ(view.manufacturerId, "MAKER");
  EXPECT_EQ(view.mediaTypeId, "T01");
  EXPECT_EQ(view.capacity, "8152.0 MB");

  // An untestable or unknown disc sets the type only; the globals of the
  // earlier disc are not shown.
  for (DiscTypeCode type : {kDiscDvdPlusRw, kDiscUnknown}) {
    g_discType = type;
    view = StoredDiscInfo();
    EXPECT_EQ(view.discType, type == kDiscUnknown ? "N/A" : "Not Support.");
    EXPECT_FALSE(view.manufacturerId.has_value());
    EXPECT_FALSE(view.capacity.has_value());
  }
  ResetDiscGlobals();
}
