// The tray commands on the simulated drive: PREVENT ALLOW MEDIUM REMOVAL and
// START STOP UNIT as MMC defines them, the feeder behind the tray, and TE/FE
// noise that follows the drive and the disc.
#include <gtest/gtest.h>

#include <thread>

#include "sim_test_util.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_scenarios.h"

namespace {

using std::chrono::milliseconds;

const std::vector<uint8_t> kPrevent = {0x1E, 0, 0, 0, 0x01, 0};
const std::vector<uint8_t> kAllow = {0x1E, 0, 0, 0, 0x00, 0};
const std::vector<uint8_t> kEject = {0x1B, 0, 0, 0, 0x02, 0};
const std::vector<uint8_t> kLoad = {0x1B, 0, 0, 0, 0x03, 0};

TEST(SimTray, PreventBlocksTheEjectUntilAllowed) {
  CSimDrive drive(InstantConfig());
  drive.InsertDisc(*FindSimDisc("dvd+r-novadisc"));
  ASSERT_TRUE(Good(Send(drive, kTur).reply));
  ASSERT_TRUE(Good(Send(drive, kPrevent).reply));
  EXPECT_TRUE(drive.RemovalPrevented());
  EXPECT_TRUE(HasSense(Send(drive, kEject).reply, 0x05, 0x53, 0x02));
  EXPECT_EQ(drive.DiscName(), "dvd+r-novadisc");
  ASSERT_TRUE(Good(Send(drive, kAllow).reply));
  EXPECT_TRUE(Good(Send(drive, kEject).reply));
  EXPECT_EQ(drive.DiscName(), "");
  EXPECT_TRUE(HasSense(Send(drive, kTur).reply, 0x02, 0x3A, 0x00));
}

TEST(SimTray, FieldsAndLengthsAreChecked) {
  CSimDrive drive(InstantConfig());
  drive.InsertDisc(*FindSimDisc("dvd+r-novadisc"));
  struct Case {
    const char* what;
    std::vector<uint8_t> cdb;
    bool good;
  } cases[] = {
      {"persistent prevent", {0x1E, 0, 0, 0, 0x02, 0}, false},
      {"power condition", {0x1B, 0, 0, 0, 0x12, 0}, false},
      {"start stop as 10 bytes", {0x1B, 0, 0, 0, 0x02, 0, 0, 0, 0, 0}, false},
      {"immediate spin up", {0x1B, 0x01, 0, 0, 0x01, 0}, true},
      {"load (close the tray)", kLoad, true},
  };
  for (const Case& c : cases) {
    const ScsiExchange reply = Send(drive, c.cdb).reply;
    if (c.good) {
      EXPECT_TRUE(Good(reply)) << c.what;
    } else {
      EXPECT_EQ(reply.scsiStatus, 2) << c.what;
      EXPECT_EQ(reply.senseBytes[2] & 0x0F, 0x05) << c.what;
    }
    EXPECT_EQ(drive.DiscName(), "dvd+r-novadisc") << c.what;
  }
  // A power cycle forgets the prevent, as MMC says.
  ASSERT_TRUE(Good(Send(drive, kPrevent).reply));
  drive.Detach();
  drive.Attach();
  EXPECT_FALSE(drive.RemovalPrevented());
}

TEST(SimTray, TheFeederLandsTheNextDiscAfterEachEject) {
  SimDriveConfig config = InstantConfig();
  config.feed = {*FindSimDisc("dvd+r-orbtek"), *FindSimDisc("dvd-rom")};
  config.feedDelay = milliseconds(40);
  CSimDrive drive(config);
  drive.InsertDisc(*FindSimDisc("dvd+r-novadisc"));
  ASSERT_TRUE(Good(Send(drive, VendorCdb(0xF1)).reply));
  for (const char* next : {"dvd+r-orbtek", "dvd-rom"}) {
    ASSERT_TRUE(Good(Send(drive, kEject).reply));
    EXPECT_TRUE(drive.InDiagnosticMode()) << "the tray leaves the firmware's mode alone";
    EXPECT_TRUE(HasSense(Send(drive, kTur).reply, 0x02, 0x3A, 0x00)) << "lands a moment later";
    std::this_thread::sleep_for(milliseconds(60));
    EXPECT_TRUE(Good(Send(drive, kTur).reply)) << next;
    EXPECT_EQ(drive.DiscName(), next);
  }
  EXPECT_EQ(drive.FeedLeft(), 0u);
  ASSERT_TRUE(Good(Send(drive, kEject).reply));
  std::this_thread::sleep_for(milliseconds(60));
  EXPECT_TRUE(HasSense(Send(drive, kTur).reply, 0x02, 0x3A, 0x00)) << "the spindle is empty";
}

// The first sample at one place, on drive `index` of a scenario's drives.
uint16_t FirstTe(const char* scenario, size_t index, uint32_t seed) {
  SimOptions options;
  options.sampleLatencyMs = 0;
  options.insertDelayMs = 0;
  options.seed = seed;
  auto drives = BuildSimDrives(*FindSimScenario(scenario), options);
  CSimDrive& drive = *drives.at(index);
  EXPECT_TRUE(Good(Send(drive, VendorCdb(0xF1)).reply));
  const Exchange sample = Send(drive, SampleCdb(17, 0x100000), 8);
  EXPECT_TRUE(Good(sample.reply));
  return static_cast<uint16_t>(sample.data[1] << 8 | sample.data[2]);
}

TEST(SimTray, BenchNoiseIsPerDriveAndRepeatable) {
  const SimScenario* bench = FindSimScenario("bench");
  ASSERT_NE(bench, nullptr);
  ASSERT_EQ(bench->drives.size(), 5u);
  EXPECT_EQ(bench->drives.back(), SimDriveRole::kRefusing);
  std::vector<uint16_t> firsts;
  for (size_t i = 0; i < 4; ++i) {
    firsts.push_back(FirstTe("bench", i, 1));
    EXPECT_EQ(FirstTe("bench", i, 1), firsts.back()) << "drive " << i << " repeats";
  }
  std::sort(firsts.begin(), firsts.end());
  EXPECT_EQ(std::unique(firsts.begin(), firsts.end()), firsts.end()) << "every drive its own noise";
}

TEST(SimTray, FeederAndBenchAreListed) {
  for (const char* name : {"feeder", "bench", "bench-fault"}) {
    const SimScenario* scenario = FindSimScenario(name);
    ASSERT_NE(scenario, nullptr) << name;
    EXPECT_FALSE(scenario->description.empty());
  }
  EXPECT_EQ(FindSimScenario("feeder")->feed.size(), 4u);
}

}  // namespace
