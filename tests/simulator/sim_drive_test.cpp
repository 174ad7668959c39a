#include "simulator/sim_drive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim_test_util.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/tefe_model.h"

namespace {

using std::chrono::milliseconds;

// A drive with a good DVD+R in it, already in diagnostic mode.
std::unique_ptr<CSimDrive> ReadyDrive(SimDriveConfig config = InstantConfig(),
                                      const char* disc = "dvd+r-novadisc") {
  auto drive = std::make_unique<CSimDrive>(std::move(config));
  drive->InsertDisc(Disc(disc));
  EXPECT_TRUE(Good(Send(*drive, VendorCdb(0xF1)).reply));
  return drive;
}

SimFault Fault(SimFaultKind kind, SimCommandClass target, uint32_t fromNth, uint32_t times) {
  SimFault fault;
  fault.kind = kind;
  fault.target = target;
  fault.fromNth = fromNth;
  fault.times = times;
  return fault;
}

TEST(SimDriveCdb, UnknownOperationCodeIsInvalidCommand) {
  auto drive = ReadyDrive();
  const Exchange read10 = Send(*drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048);
  EXPECT_TRUE(HasSense(read10.reply, 5, 0x20, 0));
  EXPECT_EQ(read10.reply.transferred, 0u);
  EXPECT_EQ(read10.data[0], 0xA5);
  EXPECT_TRUE(HasSense(Send(*drive, {}).reply, 5, 0x20, 0));
}

TEST(SimDriveCdb, LengthMustMatchTheGroup) {
  auto drive = ReadyDrive();
  EXPECT_TRUE(HasSense(Send(*drive, std::vector<uint8_t>(12, 0)).reply, 5, 0x24, 0));
  std::vector<uint8_t> config12 = kGetConfiguration8;
  config12.resize(12, 0);
  EXPECT_TRUE(HasSense(Send(*drive, config12, 8).reply, 5, 0x24, 0));
  std::vector<uint8_t> sample10 = SampleCdb(13, 0x100000);
  sample10.resize(10);
  EXPECT_TRUE(HasSense(Send(*drive, sample10, 8).reply, 5, 0x24, 0));
  EXPECT_TRUE(Good(Send(*drive, kTestUnitReady).reply));
}

TEST(SimDriveCdb, InvalidFieldsAreRefused) {
  auto drive = ReadyDrive();
  // Vital product data: the page list and the serial number only.
  EXPECT_TRUE(HasSense(Send(*drive, {0x12, 0x01, 0x83, 0, 36, 0}, 36).reply, 5, 0x24, 0));
  EXPECT_TRUE(HasSense(Send(*drive, {0x12, 0x00, 0x80, 0, 36, 0}, 36).reply, 5, 0x24, 0));
  EXPECT_TRUE(Good(Send(*drive, {0x12, 0x01, 0x80, 0, 36, 0}, 36).reply));
  EXPECT_TRUE(HasSense(Send(*drive, {0x46, 0x03, 0, 0, 0, 0, 0, 0, 8, 0}, 8).reply, 5, 0x24, 0));
  std::vector<uint8_t> nominal = kGetWriteSpeeds;
  nominal[10] = 0x00;
  EXPECT_TRUE(HasSense(Send(*drive, nominal, 200).reply, 5, 0x24, 0));
  std::vector<uint8_t> reserved = kReadAdip;
  reserved[7] = 0xE0;  // a reserved structure format
  EXPECT_TRUE(HasSense(Send(*drive, reserved, 300).reply, 5, 0x24, 0));
  std::vector<uint8_t> unknownVendor = VendorCdb(0xF5);
  EXPECT_TRUE(HasSense(Send(*drive, unknownVendor).reply, 5, 0x24, 0));
}

TEST(SimDriveCdb, WrongAccessCodeIsInvalidFieldAndEntersNothing) {
  CSimDrive drive(InstantConfig());
  drive.InsertDisc(Disc("dvd+r-novadisc"));
  EXPECT_TRUE(HasSense(Send(drive, VendorCdb(0xF1, "VLMX")).reply, 5, 0x24, 0));
  EXPECT_TRUE(HasSense(Send(drive, VendorCdb(0xF1, "vlmo")).reply, 5, 0x24, 0));
  EXPECT_FALSE(drive.InDiagnosticMode());
  ASSERT_TRUE(Good(Send(drive, VendorCdb(0xF1)).reply));
  std::vector<uint8_t> sample = SampleCdb(13, 0x100000);
  sample[5] = 'X';
  EXPECT_TRUE(HasSense(Send(drive, sample, 8).reply, 5, 0x24, 0));
}

TEST(SimDriveCdb, SampleNeedsDiagnosticModeAndAKnownSpeed) {
  CSimDrive drive(InstantConfig());
  drive.InsertDisc(Disc("dvd+r-novadisc"));
  EXPECT_TRUE(HasSense(Send(drive, SampleCdb(13, 0x100000), 8).reply, 5, 0x2C, 0));
  ASSERT_TRUE(Good(Send(drive, VendorCdb(0xF1)).reply));
  EXPECT_TRUE(Good(Send(drive, SampleCdb(13, 0x100000), 8).reply));
  EXPECT_TRUE(Good(Send(drive, SampleCdb(19, 0x100000), 8).reply));
  EXPECT_TRUE(HasSense(Send(drive, SampleCdb(12, 0x100000), 8).reply, 5, 0x24, 0));
  EXPECT_TRUE(HasSense(Send(drive, SampleCdb(20, 0x100000), 8).reply, 5, 0x24, 0));
  std::vector<uint8_t> mode4 = SampleCdb(13, 0x100000);
  mode4[6] = 0x04;
  EXPECT_TRUE(HasSense(Send(drive, mode4, 8).reply, 5, 0x24, 0));
  ASSERT_TRUE(Good(Send(drive, VendorCdb(0xF2)).reply));
  EXPECT_TRUE(HasSense(Send(drive, SampleCdb(13, 0x100000), 8).reply, 5, 0x2C, 0));
}

TEST(SimDriveCdb, DvdStructuresOnlyWhereTheMediumHasThem) {
  auto plusR = ReadyDrive(InstantConfig(), "dvd+r-novadisc");
  EXPECT_TRUE(Good(Send(*plusR, kReadAdip, 300).reply));
  EXPECT_TRUE(HasSense(Send(*plusR, kReadPrerecorded, 44).reply, 5, 0x24, 0));
  auto minusR = ReadyDrive(InstantConfig(), "dvd-r-magnat");
  EXPECT_TRUE(Good(Send(*minusR, kReadPrerecorded, 44).reply));
  EXPECT_TRUE(HasSense(Send(*minusR, kReadAdip, 300).reply, 5, 0x24, 0));
  auto cd = ReadyDrive(InstantConfig(), "cd-r");
  EXPECT_TRUE(HasSense(Send(*cd, kReadAdip, 300).reply, 5, 0x30, 0x02));
  CSimDrive empty(InstantConfig());
  EXPECT_TRUE(HasSense(Send(empty, kReadAdip, 300).reply, 2, 0x3A, 0));
}

TEST(SimDriveCdb, NonOpticalDeviceAnswersOnlyTheCommonCommands) {
  SimDriveConfig config = InstantConfig();
  config.deviceType = 0;
  CSimDrive disk(config);
  const Exchange inquiry = Send(disk, {0x12, 0, 0, 0, 36, 0}, 36);
  ASSERT_TRUE(Good(inquiry.reply));
  EXPECT_EQ(inquiry.data[0], 0);
  EXPECT_TRUE(Good(Send(disk, kTestUnitReady).reply));
  EXPECT_TRUE(HasSense(Send(disk, kGetConfiguration8, 8).reply, 5, 0x20, 0));
  EXPECT_TRUE(HasSense(Send(disk, VendorCdb(0xF1)).reply, 5, 0x20, 0));
}

TEST(SimDriveTransfer, NeverMoreThanAllocationOrBuffer) {
  auto drive = ReadyDrive();
  const Exchange inquiry36 = Send(*drive, {0x12, 0, 0, 0, 36, 0}, 56);
  EXPECT_EQ(inquiry36.reply.transferred, 36u);
  EXPECT_EQ(inquiry36.data[36], 0xA5);
  const Exchange inquiry56 = Send(*drive, {0x12, 0, 0, 0, 56, 0}, 36);
  EXPECT_EQ(inquiry56.reply.transferred, 36u);
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 56, 0}, 56).reply.transferred, 56u);

  const Exchange config = Send(*drive, kGetConfiguration8, 64);
  EXPECT_EQ(config.reply.transferred, 8u);
  EXPECT_EQ(config.data[8], 0xA5);

  std::vector<uint8_t> adip10 = kReadAdip;
  adip10[8] = 0;
  adip10[9] = 10;
  const Exchange shortAdip = Send(*drive, adip10, 300);
  EXPECT_EQ(shortAdip.reply.transferred, 10u);
  EXPECT_EQ(shortAdip.data[10], 0xA5);
  EXPECT_EQ(Send(*drive, kReadAdip, 300).reply.transferred, 260u);

  const Exchange tiny = Send(*drive, kGetWriteSpeeds, 12);
  EXPECT_EQ(tiny.reply.transferred, 12u);
}

TEST(SimDriveTransfer, NothingMovesUnlessDataIn) {
  auto drive = ReadyDrive();
  for (uint8_t direction : {uint8_t{0}, uint8_t{1}, uint8_t{3}}) {
    const Exchange out = Send(*drive, {0x12, 0, 0, 0, 36, 0}, 36, direction);
    EXPECT_TRUE(Good(out.reply));
    EXPECT_EQ(out.reply.transferred, 0u);
    EXPECT_EQ(out.data, std::vector<uint8_t>(36, 0xA5));
  }
}

TEST(SimDriveTransfer, WriteSpeedsHonourMaximumDescriptors) {
  auto drive = ReadyDrive();
  std::vector<uint8_t> two = kGetWriteSpeeds;
  two[9] = 2;
  // The header counts every descriptor the disc has (five), as the data
  // available; only the descriptors sent are cut to the maximum.
  const Exchange reply = Send(*drive, two, 200);
  EXPECT_EQ(Be32(reply.data, 0), 4u + 16 * 5);
  EXPECT_EQ(reply.reply.transferred, 8u + 16 * 2);
  two[9] = 0;
  const Exchange none = Send(*drive, two, 200);
  EXPECT_EQ(Be32(none.data, 0), 4u + 16 * 5);
  EXPECT_EQ(none.reply.transferred, 8u);
}

// Tray timing runs on an injected clock so the phases are exact.
class SimDriveTray : public ::testing::Test {
 protected:
  SimDriveConfig Config() {
    SimDriveConfig config = InstantConfig();
    config.spinUp = milliseconds(500);
    config.clock = [this] { return now; };
    return config;
  }
  std::chrono::steady_clock::time_point now{};
};

TEST_F(SimDriveTray, EmptyThenLandingThenSpinningThenReady) {
  CSimDrive drive(Config());
  EXPECT_TRUE(HasSense(Send(drive, kTestUnitReady).reply, 2, 0x3A, 0));
  const Exchange none = Send(drive, kGetConfiguration8, 8);
  ASSERT_TRUE(Good(none.reply));
  EXPECT_EQ(Be16(none.data, 6), 0);

  drive.InsertDisc(Disc("dvd-r-magnat"), milliseconds(1000));
  now += milliseconds(999);
  EXPECT_TRUE(HasSense(Send(drive, kTestUnitReady).reply, 2, 0x3A, 0));
  now += milliseconds(1);
  EXPECT_TRUE(HasSense(Send(drive, kTestUnitReady).reply, 2, 0x04, 0x01));
  EXPECT_TRUE(HasSense(Send(drive, kGetWriteSpeeds, 200).reply, 2, 0x04, 0x01));
  EXPECT_EQ(Be16(Send(drive, kGetConfiguration8, 8).data, 6), 0);
  now += milliseconds(500);
  EXPECT_TRUE(Good(Send(drive, kTestUnitReady).reply));
  EXPECT_EQ(Be16(Send(drive, kGetConfiguration8, 8).data, 6), 0x11);
  EXPECT_TRUE(drive.DiscReady());

  drive.Eject();
  EXPECT_TRUE(HasSense(Send(drive, kTestUnitReady).reply, 2, 0x3A, 0));
  EXPECT_EQ(drive.DiscName(), "");
}

TEST_F(SimDriveTray, MediumChangeReportedOnceWhenAskedFor) {
  SimDriveConfig config = Config();
  config.spinUp = milliseconds(0);
  config.reportMediumChange = true;
  CSimDrive drive(config);
  drive.InsertDisc(Disc("dvd+r-novadisc"));
  EXPECT_TRUE(Good(Send(drive, {0x12, 0, 0, 0, 36, 0}, 36).reply));
  EXPECT_TRUE(HasSense(Send(drive, kTestUnitReady).reply, 6, 0x28, 0));
  EXPECT_TRUE(Good(Send(drive, kTestUnitReady).reply));
  drive.InsertDisc(Disc("dvd-r-magnat"));
  EXPECT_TRUE(HasSense(Send(drive, kGetConfiguration8, 8).reply, 6, 0x28, 0));
  EXPECT_EQ(Be16(Send(drive, kGetConfiguration8, 8).data, 6), 0x11);

  CSimDrive quiet(Config());
  quiet.InsertDisc(Disc("dvd+r-novadisc"));
  now += milliseconds(500);
  EXPECT_TRUE(Good(Send(quiet, kTestUnitReady).reply));
}

TEST(SimDriveSample, ReplyCarriesTheModelReading) {
  auto drive = ReadyDrive();
  const SimDisc& disc = Disc("dvd+r-novadisc");
  for (uint32_t psn : {0x30000u, 0x150000u, 0x260000u}) {
    const Exchange sample = Send(*drive, SampleCdb(18, psn), 8);
    ASSERT_TRUE(Good(sample.reply));
    ASSERT_EQ(sample.reply.transferred, 8u);
    const SimTefeReading expected = MeasureTefe(disc, psn, 18, 1);
    EXPECT_EQ(sample.data[0], 0);
    EXPECT_EQ(Be16(sample.data, 1), expected.te);
    EXPECT_EQ(Be16(sample.data, 5), expected.fe);
  }
}

TEST(SimDriveSample, OutsideTheDataZoneStatusIsNonZero) {
  auto single = ReadyDrive();
  EXPECT_NE(Send(*single, SampleCdb(13, 0x2FFFF), 8).data[0], 0);
  EXPECT_NE(Send(*single, SampleCdb(13, 0x30000 + 2295104), 8).data[0], 0);
  EXPECT_EQ(Send(*single, SampleCdb(13, 0x30000 + 2295103), 8).data[0], 0);

  auto dual = ReadyDrive(InstantConfig(), "dvd+r-dl-strata");
  const Exchange rim = Send(*dual, SampleCdb(13, 0xDF0000), 8);
  EXPECT_EQ(rim.data[0], 0);
  EXPECT_EQ(rim.data[3], 1);                                      // layer
  EXPECT_NE(Send(*dual, SampleCdb(13, 0x300000), 8).data[0], 0);  // between the layers

  auto cd = ReadyDrive(InstantConfig(), "cd-r");
  EXPECT_NE(Send(*cd, SampleCdb(13, 0x40000), 8).data[0], 0);
}

TEST(SimDriveFaults, CheckConditionFromTheKthSampleOn) {
  SimDriveConfig config = InstantConfig();
  config.faults = {Fault(SimFaultKind::kCheckCondition, SimCommandClass::kTefeSample, 3, 0)};
  auto drive = ReadyDrive(config);
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(HasSense(Send(*drive, SampleCdb(13, 0x100000), 8).reply, 5, 0x24, 0));
  EXPECT_TRUE(Good(Send(*drive, kTestUnitReady).reply));
}

TEST(SimDriveFaults, TimeOutOnceThenAnswers) {
  SimDriveConfig config = InstantConfig();
  config.faults = {Fault(SimFaultKind::kTimeOut, SimCommandClass::kTefeSample, 2, 1)};
  auto drive = ReadyDrive(config);
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
  const Exchange hung = Send(*drive, SampleCdb(13, 0x100000), 8);
  EXPECT_EQ(hung.reply.outcome, ExchangeOutcome::kTimedOut);
  EXPECT_EQ(hung.reply.transferred, 0u);
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
}

TEST(SimDriveFaults, GoneStaysGoneUntilAttached) {
  SimDriveConfig config = InstantConfig();
  config.faults = {Fault(SimFaultKind::kGone, SimCommandClass::kTefeSample, 2, 0)};
  auto drive = ReadyDrive(config);
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
  EXPECT_EQ(Send(*drive, SampleCdb(13, 0x100000), 8).reply.outcome, ExchangeOutcome::kDriveGone);
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 36, 0}, 36).reply.outcome, ExchangeOutcome::kDriveGone);
  EXPECT_FALSE(drive->Attached());
  drive->ClearFaults();
  drive->Attach();
  EXPECT_TRUE(Good(Send(*drive, kTestUnitReady).reply));
  EXPECT_TRUE(HasSense(Send(*drive, SampleCdb(13, 0x100000), 8).reply, 5, 0x2C, 0));
}

TEST(SimDriveFaults, EjectAtTheKthSample) {
  SimDriveConfig config = InstantConfig();
  config.faults = {Fault(SimFaultKind::kEject, SimCommandClass::kTefeSample, 2, 1)};
  auto drive = ReadyDrive(config);
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
  EXPECT_TRUE(HasSense(Send(*drive, SampleCdb(13, 0x100000), 8).reply, 2, 0x3A, 0));
  EXPECT_TRUE(HasSense(Send(*drive, kTestUnitReady).reply, 2, 0x3A, 0));
}

TEST(SimDriveFaults, BrokenReplies) {
  auto drive = ReadyDrive();
  SimFault claim = Fault(SimFaultKind::kHeaderLength, SimCommandClass::kGetPerformance, 1, 1);
  claim.value = 4 + 16 * 40;
  drive->AddFault(claim);
  const Exchange overclaim = Send(*drive, kGetWriteSpeeds, 200);
  EXPECT_EQ(Be32(overclaim.data, 0), 4u + 16 * 40);
  EXPECT_EQ(overclaim.reply.transferred, 8u + 16 * 5);

  SimFault cut = Fault(SimFaultKind::kShortTransfer, SimCommandClass::kGetPerformance, 1, 1);
  cut.value = 24;
  drive->AddFault(cut);
  const Exchange shortened = Send(*drive, kGetWriteSpeeds, 200);
  EXPECT_EQ(shortened.reply.transferred, 24u);
  EXPECT_EQ(Be32(shortened.data, 0), 4u + 16 * 5);
  EXPECT_EQ(shortened.data[24], 0xA5);

  drive->AddFault(Fault(SimFaultKind::kAllOnes, SimCommandClass::kReadDvdStructure, 1, 1));
  const Exchange ones = Send(*drive, kReadAdip, 300);
  EXPECT_EQ(ones.reply.transferred, 300u);
  EXPECT_EQ(ones.data, std::vector<uint8_t>(300, 0xFF));

  SimFault status = Fault(SimFaultKind::kSampleStatus, SimCommandClass::kTefeSample, 1, 1);
  status.value = 4;
  drive->AddFault(status);
  EXPECT_EQ(Send(*drive, SampleCdb(13, 0x100000), 8).data[0], 4);
  EXPECT_EQ(Send(*drive, SampleCdb(13, 0x100000), 8).data[0], 0);

  drive->AddFault(Fault(SimFaultKind::kBusy, SimCommandClass::kTefeSample, 1, 1));
  const Exchange busy = Send(*drive, SampleCdb(13, 0x100000), 8);
  EXPECT_EQ(busy.reply.scsiStatus, 8);
  EXPECT_EQ(busy.reply.transferred, 0u);
}

TEST(SimDriveFaults, ArmedLaterCountsFromArming) {
  auto drive = ReadyDrive();
  for (int i = 0; i < 5; ++i) Send(*drive, SampleCdb(13, 0x100000), 8);
  drive->AddFault(Fault(SimFaultKind::kCheckCondition, SimCommandClass::kTefeSample, 2, 1));
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
  EXPECT_FALSE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
  EXPECT_TRUE(Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply));
}

TEST(SimDriveLatency, SampleSlowerThanTimeOutTimesOut) {
  SimDriveConfig config = InstantConfig();
  config.sampleLatency = milliseconds(5000);
  auto drive = ReadyDrive(config);
  const auto start = std::chrono::steady_clock::now();
  const Exchange sample = Send(*drive, SampleCdb(13, 0x100000), 8, 2, 30);
  EXPECT_EQ(sample.reply.outcome, ExchangeOutcome::kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
}

TEST(SimDriveLatency, TrayAndBusChangesCutTheWaitShort) {
  SimDriveConfig config = InstantConfig();
  config.sampleLatency = milliseconds(20000);
  auto drive = ReadyDrive(config);
  const auto start = std::chrono::steady_clock::now();
  std::thread ejector([&] {
    std::this_thread::sleep_for(milliseconds(50));
    drive->Eject();
  });
  EXPECT_TRUE(HasSense(Send(*drive, SampleCdb(13, 0x100000), 8, 2, 30000).reply, 2, 0x3A, 0));
  ejector.join();

  drive->InsertDisc(Disc("dvd+r-novadisc"));
  std::thread detacher([&] {
    std::this_thread::sleep_for(milliseconds(50));
    drive->Detach();
  });
  EXPECT_EQ(Send(*drive, SampleCdb(13, 0x100000), 8, 2, 30000).reply.outcome,
            ExchangeOutcome::kDriveGone);
  detacher.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
}

TEST(SimDriveLatency, OneCommandAtATime) {
  SimDriveConfig config = InstantConfig();
  config.sampleLatency = milliseconds(40);
  auto drive = ReadyDrive(config);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      if (Good(Send(*drive, SampleCdb(13, 0x100000), 8).reply)) ++good;
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 4);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(160));
}

TEST(SimDriveLog, RecordsCdbsAndCounts) {
  auto drive = ReadyDrive();
  drive->ClearCommandLog();
  Send(*drive, kTestUnitReady);
  Send(*drive, SampleCdb(17, 0x123456), 8);
  Send(*drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  const auto log = drive->CommandLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].cdbLength, 12);
  EXPECT_EQ(log[1].cdb[7], 17);
  EXPECT_EQ(log[1].cdb[8], 0x12);
  EXPECT_EQ(log[1].dataLength, 8u);
  EXPECT_EQ(log[2].scsiStatus, 2);
  EXPECT_EQ(drive->CommandCount(SimCommandClass::kTefeSample), 1u);
  EXPECT_EQ(drive->CommandCount(SimCommandClass::kAny), 3u);
  EXPECT_EQ(drive->OpcodeCount(0xFD), 1u);
  EXPECT_EQ(drive->OpcodeCount(0x28), 1u);
}

}  // namespace
