// The drive commands: exact CDB bytes, direction, length and time-out of each,
// and how their replies are read. Through the device manager and the
// simulated host, with a scripted drive behind it.
#include "commands/drive_commands.h"

#include <gtest/gtest.h>

#include <functional>

#include "commands/disc_globals.h"
#include "commands/vendor_code.h"
#include "device/device_manager.h"
#include "tests/support/scripted_bus.h"

namespace {

using Bytes = std::vector<uint8_t>;

class DriveCommands : public ScriptedBusTest {
 protected:
  // The TE/FE reply with the given status byte and readings; the unused
  // bytes are filled so that reading them by mistake shows.
  static Bytes TefeReply(uint8_t status, uint16_t te, uint16_t fe) {
    return {status, uint8_t(te >> 8), uint8_t(te), 0xAA, 0xBB, uint8_t(fe >> 8), uint8_t(fe), 0xCC};
  }
  void AnswerSample(uint8_t status, uint16_t te, uint16_t fe) {
    drive.On(0xFD, {ExchangeOutcome::kDone, 0, 0, 0, 0, TefeReply(status, te, fe)});
  }
};

TEST_F(DriveCommands, EachCommandSendsItsExactBytes) {
  uint8_t buffer[300] = {};
  const uint8_t k1 = kVendorAccessCode[0], k2 = kVendorAccessCode[1], k3 = kVendorAccessCode[2],
                k4 = kVendorAccessCode[3];
  struct Expect {
    const char* what;
    Bytes cdb;
    uint8_t direction;
    uint32_t length;
    uint32_t timeoutMs;
  };
  DriveNotReady();
  const Expect tur{"TEST UNIT READY", {0, 0, 0, 0, 0, 0}, 0, 0, 15000};
  const auto check = [&](const Expect& e) {
    const auto got = drive.Last();
    EXPECT_EQ(got.cdb, e.cdb) << e.what;
    EXPECT_EQ(got.direction, e.direction) << e.what;
    EXPECT_EQ(got.dataLength, e.length) << e.what;
    EXPECT_EQ(got.timeoutMs, e.timeoutMs) << e.what;
  };
  check(tur);
  GetCurrentProfile();
  check({"GET CONFIGURATION", {0x46, 0, 0, 0, 0, 0, 0, 0, 0x08, 0}, 2, 8, 15000});
  GetWriteSpeeds(buffer);
  check({"GET PERFORMANCE", {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x03, 0}, 2, 200, 15000});
  ReadAdipInformation(buffer);
  check({"READ DVD STRUCTURE 11", {0xAD, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0x2C, 0, 0}, 2, 300, 15000});
  ReadPrerecordedInformation(buffer);
  check({"READ DVD STRUCTURE 0E", {0xAD, 0, 0, 0, 0, 0, 0, 0x0E, 0x00, 0x2C, 0, 0}, 2, 44, 15000});
  SetDiagnosticMode(kDiagnosticEnter);
  check({"diagnostic enter", {0xFD, 0xF1, k1, k2, k3, k4, 0, 0, 0, 0, 0, 0}, 0, 0, 15000});
  SetDiagnosticMode(kDiagnosticLeave);
  check({"diagnostic leave", {0xFD, 0xF2, k1, k2, k3, k4, 0, 0, 0, 0, 0, 0}, 0, 0, 15000});
  SetDiagnosticMode(2);
  check({"diagnostic 2 leaves", {0xFD, 0xF2, k1, k2, k3, k4, 0, 0, 0, 0, 0, 0}, 0, 0, 15000});
  SampleOuterTrack(kSpeed16X);
  check({"TE/FE sample",
         {0xFD, 0xFB, k1, k2, k3, k4, 0x05, 19, 0x26, 0x00, 0x00, 0x00},
         2,
         8,
         30000});
}

TEST(VendorCode, IsFourUpperCaseLetters) {
  for (int i = 0; i < 4; ++i) {
    EXPECT_GE(kVendorAccessCode[i], 'A');
    EXPECT_LE(kVendorAccessCode[i], 'Z');
  }
  EXPECT_EQ(kVendorAccessCode[4], '\0');
}

TEST_F(DriveCommands, ProfileLowByteGivesTheDiscType) {
  const struct {
    uint8_t high, low;
    DiscTypeCode type;
  } cases[] = {
      {0x00, 0x11, kDiscDvdMinusR}, {0x00, 0x12, kDiscUnknown},    {0x01, 0x11, kDiscDvdMinusR},
      {0x00, 0x08, kDiscCdRom},     {0x00, 0x09, kDiscCdR},        {0x00, 0x0A, kDiscCdRw},
      {0x00, 0x10, kDiscDvdRom},    {0x00, 0x13, kDiscDvdMinusRw}, {0x00, 0x14, kDiscDvdMinusRw},
      {0x00, 0x1A, kDiscDvdPlusRw}, {0x00, 0x1B, kDiscDvdPlusR},   {0x00, 0x2B, kDiscDvdPlusRDl},
      {0x00, 0x00, kDiscUnknown},   {0x00, 0x15, kDiscUnknown},    {0xFF, 0x2B, kDiscDvdPlusRDl}};
  for (const auto& c : cases) {
    drive.On(0x46, {ExchangeOutcome::kDone, 0, 0, 0, 0, {0, 0, 0, 4, 0, 0, c.high, c.low}});
    EXPECT_EQ(GetCurrentProfile(), c.type) << std::hex << int(c.high) << int(c.low);
  }
  drive.On(0x46, {ExchangeOutcome::kCheckCondition, 2, 2, 0x3A, 0, {}});
  EXPECT_EQ(GetCurrentProfile(), kDiscUnknown);
  drive.On(0x46, {ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}});
  EXPECT_EQ(GetCurrentProfile(), kDiscUnknown);
}

TEST_F(DriveCommands, ReadsSucceedOnlyOnStatusZeroAndKeepTheCallersBuffer) {
  uint8_t buffer[300];
  std::memset(buffer, 0x5A, sizeof buffer);
  drive.On(0xAC, {ExchangeOutcome::kCheckCondition, 2, 5, 0x24, 0, {}});
  EXPECT_FALSE(GetWriteSpeeds(buffer));
  EXPECT_EQ(buffer[0], 0x5A);  // not cleared: the caller clears it
  drive.On(0xAC, {ExchangeOutcome::kDone, 0, 0, 0, 0, {0, 0, 0, 20}});
  EXPECT_TRUE(GetWriteSpeeds(buffer));
  EXPECT_EQ(buffer[3], 20);
  EXPECT_EQ(buffer[4], 0x5A);  // a short reply leaves the rest alone
  drive.On(0xAD, {ExchangeOutcome::kDriveGone, 0, 0, 0, 0, {}});
  EXPECT_FALSE(ReadAdipInformation(buffer));
  EXPECT_FALSE(ReadPrerecordedInformation(buffer));
}

TEST_F(DriveCommands, DriveNotReadyForEveryNonZeroStatus) {
  EXPECT_FALSE(DriveNotReady());
  drive.On(0x00, {ExchangeOutcome::kCheckCondition, 2, 2, 0x3A, 0, {}});
  EXPECT_TRUE(DriveNotReady());
  drive.On(0x00, {ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}});
  EXPECT_TRUE(DriveNotReady());
  drive.On(0x00, {ExchangeOutcome::kDriveGone, 0, 0, 0, 0, {}});
  EXPECT_TRUE(DriveNotReady());
}

TEST(DriveCommandsWithoutDrive, NothingSelectedMeansNotReady) {
  auto host = std::make_shared<CSimulatedHost>(SimHostConfig{});
  CDeviceManager manager(host);
  ASSERT_TRUE(manager.Initialize());
  manager.EnumerateDrives();
  g_pDeviceManager = &manager;
  EXPECT_TRUE(DriveNotReady());
  EXPECT_EQ(GetCurrentProfile(), kDiscUnknown);
  EXPECT_FALSE(SetDiagnosticMode(kDiagnosticEnter));
  EXPECT_EQ(SampleOuterTrack(kSpeed4X), kSampleFailed);
  g_pDeviceManager = nullptr;
  EXPECT_TRUE(DriveNotReady());  // no manager at all is no drive either
}

TEST_F(DriveCommands, DiagnosticModeReportsTheDrivesAnswer) {
  EXPECT_TRUE(SetDiagnosticMode(kDiagnosticEnter));
  drive.On(0xFD, {ExchangeOutcome::kCheckCondition, 2, 5, 0x20, 0, {}});
  EXPECT_FALSE(SetDiagnosticMode(kDiagnosticEnter));
  EXPECT_FALSE(SetDiagnosticMode(kDiagnosticLeave));
}

TEST_F(DriveCommands, OuterTrackLimits) {
  const struct {
    uint8_t status;
    uint16_t te, fe;
    int result;
  } cases[] = {
      {0, 500, 450, kSampleFit},
      {0, 0, 0, kSampleFit},
      {0, 501, 450, kSampleNotRecommended},
      {0, 500, 451, kSampleNotRecommended},
      {0, 65535, 0, kSampleNotRecommended},
      {0, 0, 65535, kSampleNotRecommended},
      {1, 100, 100, kSampleFailed},
      {0xFF, 0, 0, kSampleFailed},
  };
  for (const auto& c : cases) {
    AnswerSample(c.status, c.te, c.fe);
    EXPECT_EQ(SampleOuterTrack(kSpeed8X), c.result)
        << "status " << int(c.status) << " TE " << c.te << " FE " << c.fe;
  }
  drive.On(0xFD, {ExchangeOutcome::kCheckCondition, 2, 5, 0x24, 0, TefeReply(0, 1, 1)});
  EXPECT_EQ(SampleOuterTrack(kSpeed8X), kSampleFailed);  // CHECK CONDITION
  drive.On(0xFD, {ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}});
  EXPECT_EQ(SampleOuterTrack(kSpeed8X), kSampleFailed);
}

TEST_F(DriveCommands, OuterTrackAddressFollowsTheDiscType) {
  AnswerSample(0, 100, 100);
  for (DiscTypeCode type : {kDiscDvdPlusR, kDiscDvdMinusR, kDiscUnknown, kDiscDvdPlusRDl}) {
    g_discType = type;
    SampleOuterTrack(kSpeed2_4X);
    const Bytes cdb = drive.Last().cdb;
    const uint32_t psn = (uint32_t(cdb[8]) << 16) | (cdb[9] << 8) | cdb[10];
    EXPECT_EQ(psn, type == kDiscDvdPlusRDl ? 0xDF0000u : 0x260000u) << int(type);
    EXPECT_EQ(cdb[7], kSpeed2_4X);
  }
}

TEST(TefeSampleCommand, CarriesTheLow24BitsOfTheAddress) {
  uint8_t cdb[12];
  std::memset(cdb, 0x77, sizeof cdb);
  BuildTefeSampleCdb(cdb, kSpeed12X, 0x12DF0001);
  EXPECT_EQ(cdb[0], 0xFD);
  EXPECT_EQ(cdb[1], 0xFB);
  EXPECT_EQ(cdb[6], 0x05);
  EXPECT_EQ(cdb[7], 18);
  EXPECT_EQ(cdb[8], 0xDF);
  EXPECT_EQ(cdb[9], 0x00);
  EXPECT_EQ(cdb[10], 0x01);
  EXPECT_EQ(cdb[11], 0x00);

  const uint8_t reply[8] = {0, 0x01, 0xF4, 0xFF, 0xFF, 0x01, 0xC2, 0xFF};
  const TefeReading reading = DecodeTefeReply(reply);
  EXPECT_TRUE(reading.valid);
  EXPECT_EQ(reading.te, 500);
  EXPECT_EQ(reading.fe, 450);
}

// The tray commands: 6-byte CDBs, no data, the command time-out; an eject
// allows removal first, and a refused allow does not keep the eject back.
TEST_F(DriveCommands, TrayCommandsSendTheirExactBytes) {
  struct Case {
    const char* what;
    std::function<bool()> send;
    std::vector<Bytes> cdbs;
  } cases[] = {
      {"prevent", [] { return PreventMediumRemoval(true); }, {{0x1E, 0, 0, 0, 0x01, 0}}},
      {"allow", [] { return PreventMediumRemoval(false); }, {{0x1E, 0, 0, 0, 0x00, 0}}},
      {"eject", [] { return EjectMedium(); }, {{0x1E, 0, 0, 0, 0x00, 0}, {0x1B, 0, 0, 0, 0x02, 0}}},
  };
  for (const Case& c : cases) {
    const size_t before = drive.Commands().size();
    EXPECT_TRUE(c.send()) << c.what;
    const auto sent = drive.Commands();
    ASSERT_EQ(sent.size() - before, c.cdbs.size()) << c.what;
    for (size_t i = 0; i < c.cdbs.size(); ++i) {
      const auto& got = sent[before + i];
      EXPECT_EQ(got.cdb, c.cdbs[i]) << c.what;
      EXPECT_EQ(got.direction, 0) << c.what;
      EXPECT_EQ(got.dataLength, 0u) << c.what;
      EXPECT_EQ(got.timeoutMs, 15000u) << c.what;
    }
  }
  uint8_t cdb[12];
  BuildStartStopUnitCdb(cdb, true, true);
  EXPECT_EQ(Bytes(cdb, cdb + 12), (Bytes{0x1B, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0})) << "load";
  BuildStartStopUnitCdb(cdb, true, false);
  EXPECT_EQ(cdb[4], 0x01) << "start";

  // The drive refuses the allow (locked by another program): the eject is
  // still sent, and its own failure is what the caller sees.
  drive.On(0x1E, {ExchangeOutcome::kCheckCondition, 2, 0x05, 0x20, 0x00, {}});
  drive.On(0x1B, {ExchangeOutcome::kCheckCondition, 2, 0x05, 0x53, 0x02, {}});
  EXPECT_FALSE(EjectMedium());
  EXPECT_EQ(drive.Last().cdb, (Bytes{0x1B, 0, 0, 0, 0x02, 0}));
}

}  // namespace
