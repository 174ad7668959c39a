// The device manager over the pass-through transport, through the simulated
// host: enumeration, the request block, status mapping, selection.
#include "device/device_manager.h"

#include <gtest/gtest.h>

#include <thread>

#include "device/command_trace.h"
#include "tests/device/shown_messages.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/scripted_drive.h"

namespace {

std::unique_ptr<CDeviceManager> StartManager(std::shared_ptr<CSimulatedHost> host,
                                             Messages* messages = nullptr) {
  auto manager = std::make_unique<CDeviceManager>(host);
  if (messages != nullptr) manager->SetMessageHandler(messages->Handler());
  EXPECT_TRUE(manager->Initialize());
  manager->EnumerateDrives();
  return manager;
}

TEST(CdbLength, FollowsTheOperationCodeGroup) {
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x00), 6);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x12), 6);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x1F), 6);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x20), 10);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x46), 10);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x5F), 10);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x60), 12);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x7F), 12);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x80), 16);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0x9F), 16);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0xA0), 12);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0xAC), 12);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0xAD), 12);
  EXPECT_EQ(CDeviceManager::CdbLengthFor(0xFD), 12);
}

TEST(PassThroughEnumeration, ListsDrivesWithTheirInquiryNames) {
  ScriptedDrive first("VELMO   DVDRW VX-2016   ", "1.02");
  ScriptedDrive second("OTHERCO DVD-ROM XR-52   ", "3.10");
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({&first, &second}));
  auto manager = StartManager(host);

  ASSERT_EQ(manager->GetDriveCount(), 2);
  EXPECT_TRUE(manager->UsesPassThrough());
  EXPECT_EQ(manager->GetSelected(), 0);
  char name[100];
  ASSERT_TRUE(manager->GetDriveName(name));
  EXPECT_STREQ(name, "VELMO   DVDRW VX-2016   1.02");  // no separator, blanks kept
  ASSERT_TRUE(manager->SelectDrive(1));
  ASSERT_TRUE(manager->GetDriveName(name));
  EXPECT_STREQ(name, "OTHERCO DVD-ROM XR-52   3.10");

  // The enumeration INQUIRY asks for 56 bytes with a 6-byte CDB.
  const auto inquiry = first.Commands().front();
  EXPECT_EQ(inquiry.cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 0x38, 0}));
  EXPECT_EQ(inquiry.direction, 2);
  EXPECT_EQ(inquiry.dataLength, 56u);
  EXPECT_EQ(inquiry.timeoutMs, 15000u);
}

TEST(PassThroughEnumeration, ProbesOnlyLettersCToY) {
  ScriptedDrive onA, onB, onZ, onY;
  SimHostConfig config;
  config.volumes = {SimVolume{'a', kDriveTypeCdRom, 0, onA.Device()},
                    SimVolume{'b', kDriveTypeCdRom, 0, onB.Device()},
                    SimVolume{'y', kDriveTypeCdRom, 0, onY.Device()},
                    SimVolume{'z', kDriveTypeCdRom, 0, onZ.Device()}};
  auto host = std::make_shared<CSimulatedHost>(config);
  auto manager = StartManager(host);

  EXPECT_EQ(manager->GetDriveCount(), 1);
  EXPECT_EQ(onY.Commands().size(), 1u);
  EXPECT_TRUE(onA.Commands().empty());
  EXPECT_TRUE(onB.Commands().empty());
  EXPECT_TRUE(onZ.Commands().empty());
  const auto attempts = host->OpenAttempts();
  ASSERT_EQ(attempts.size(), 23u);
  EXPECT_EQ(attempts.front(), "\\\\.\\c:");
  EXPECT_EQ(attempts.back(), "\\\\.\\y:");
}

TEST(PassThroughEnumeration, SkipsAndClosesWhatIsNotAUsableDrive) {
  ScriptedDrive good, silent, disk;
  silent.On(0x12, {ExchangeOutcome::kCheckCondition, 2, 5, 0x20, 0, {}});
  SimHostConfig config;
  config.volumes = {SimVolume{'c', 3, 0, disk.Device()},                      // fixed disk
                    SimVolume{'d', kDriveTypeCdRom, 0, silent.Device()},      // fails INQUIRY
                    SimVolume{'e', kDriveTypeCdRom, kErrorAccessDenied, {}},  // cannot be opened
                    SimVolume{'f', kDriveTypeCdRom, 0, good.Device()}};
  auto host = std::make_shared<CSimulatedHost>(config);
  auto manager = StartManager(host);

  ASSERT_EQ(manager->GetDriveCount(), 1);
  EXPECT_EQ(manager->GetDrivePath(0), "sim:f:");
  EXPECT_TRUE(disk.Commands().empty());   // not a CD-ROM: never asked anything
  EXPECT_EQ(host->OpenVolumeCount(), 1);  // only the listed drive stays open
  const auto& skipped = manager->GetSkippedVolumes();
  ASSERT_EQ(skipped.size(), 2u);
  EXPECT_TRUE(skipped[0].inquiryFailed);
  EXPECT_EQ(skipped[1].path, "\\\\.\\e:");
  EXPECT_EQ(skipped[1].error, kErrorAccessDenied);
}

TEST(PassThroughEnumeration, NeverListsANinthDrive) {
  std::vector<ScriptedDrive> drives(10);
  SimHostConfig config;
  for (int i = 0; i < 10; ++i) {
    config.volumes.push_back(
        SimVolume{static_cast<char>('d' + i), kDriveTypeCdRom, 0, drives[i].Device()});
  }
  auto host = std::make_shared<CSimulatedHost>(config);
  auto manager = StartManager(host);

  EXPECT_EQ(manager->GetDriveCount(), 8);
  EXPECT_EQ(host->OpenVolumeCount(), 8);
  EXPECT_TRUE(drives[8].Commands().empty());  // enumeration stops at a full table
  EXPECT_TRUE(drives[9].Commands().empty());
  EXPECT_FALSE(manager->SelectDrive(8));
}

TEST(NoDrive, NothingIsSentAndNothingIsNamed) {
  auto host = std::make_shared<CSimulatedHost>(SimHostConfig{});
  auto manager = StartManager(host);

  EXPECT_EQ(manager->GetDriveCount(), 0);
  EXPECT_EQ(manager->GetSelected(), kNoDriveSelected);
  char name[100] = "untouched";
  EXPECT_FALSE(manager->GetDriveName(name));
  EXPECT_STREQ(name, "untouched");
  uint8_t cdb[12] = {};
  EXPECT_EQ(manager->ExecuteCommand(cdb, kDirectionNone, nullptr, 0, 15), kStatusFailed);
  EXPECT_TRUE(host->PassThroughBlocks().empty());
  EXPECT_FALSE(manager->SelectDrive(0));
}

TEST(Selection, OutOfRangeLeavesTheSelection) {
  ScriptedDrive a, b;
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({&a, &b}));
  auto manager = StartManager(host);
  ASSERT_TRUE(manager->SelectDrive(1));
  EXPECT_FALSE(manager->SelectDrive(2));
  EXPECT_FALSE(manager->SelectDrive(255));
  EXPECT_EQ(manager->GetSelected(), 1);

  uint8_t cdb[12] = {};
  manager->ExecuteCommand(cdb, kDirectionNone, nullptr, 0, 15);
  EXPECT_EQ(b.Commands().size(), 2u);  // INQUIRY and this one
  EXPECT_EQ(a.Commands().size(), 1u);
}

TEST(PassThroughBlock, IsLaidOutAsTheDriverReadsIt) {
  ScriptedDrive drive;
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({&drive}));
  auto manager = StartManager(host);

  // Bytes past the CDB length must not travel, whatever the caller's array holds.
  uint8_t cdb[12] = {0x46, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE};
  uint8_t data[8];
  manager->ExecuteCommand(cdb, kDirectionIn, data, sizeof data, 15);
  const SptdWithSense block = host->PassThroughBlocks().back();
  EXPECT_EQ(block.sptd.Length, 44);
  EXPECT_EQ(block.sptd.PathId, 0);
  EXPECT_EQ(block.sptd.TargetId, 0);
  EXPECT_EQ(block.sptd.Lun, 0);
  EXPECT_EQ(block.sptd.CdbLength, 10);
  EXPECT_EQ(block.sptd.SenseInfoLength, 32);
  EXPECT_EQ(block.sptd.SenseInfoOffset, 48u);
  EXPECT_EQ(block.sptd.DataIn, kScsiIoctlDataIn);
  EXPECT_EQ(block.sptd.DataTransferLength, 8u);
  EXPECT_EQ(block.sptd.TimeOutValue, 15u);
  EXPECT_EQ(block.sptd.Cdb[9], 9);
  EXPECT_EQ(block.sptd.Cdb[10], 0);
  EXPECT_EQ(block.sptd.Cdb[11], 0);
  EXPECT_EQ(drive.Last().cdb.size(), 10u);

  const struct {
    uint8_t direction;
    uint8_t dataIn;
  } directions[] = {{0, kScsiIoctlDataUnspecified},
                    {1, kScsiIoctlDataOut},
                    {2, kScsiIoctlDataIn},
                    {3, kScsiIoctlDataUnspecified},
                    {200, kScsiIoctlDataUnspecified}};
  for (const auto& d : directions) {
    uint8_t tur[12] = {};
    manager->ExecuteCommand(tur, d.direction, data, sizeof data, 30);
    const SptdWithSense sent = host->PassThroughBlocks().back();
    EXPECT_EQ(sent.sptd.DataIn, d.dataIn) << "direction " << int(d.direction);
    EXPECT_EQ(sent.sptd.CdbLength, 6);
    EXPECT_EQ(sent.sptd.TimeOutValue, 30u);
  }
}

TEST(PassThroughStatus, MapsEveryOutcome) {
  ScriptedDrive drive;
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({&drive}));
  auto manager = StartManager(host);
  uint8_t tur[12] = {};

  drive.On(0x00, {ExchangeOutcome::kDone, 0, 0, 0, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusDone);
  drive.On(0x00, {ExchangeOutcome::kCheckCondition, 2, 2, 0x3A, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusFailed);
  drive.On(0x00, {ExchangeOutcome::kDone, 8, 0, 0, 0, {}});  // BUSY counts as done
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusDone);
  // The host error travels with the exchange it belongs to.
  const auto send = [&] {
    ScsiExchange exchange;
    exchange.SetCdb(tur, 6);
    exchange.timeout = std::chrono::seconds(15);
    manager->Execute(exchange);
    return exchange;
  };
  drive.On(0x00, {ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusTimedOut);
  EXPECT_EQ(send().hostError, kErrorSemTimeout);
  drive.On(0x00, {ExchangeOutcome::kDriveGone, 0, 0, 0, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusFailed);
  EXPECT_EQ(send().hostError, kErrorDevNotExist);
  drive.On(0x00, {ExchangeOutcome::kDone, 0, 0, 0, 0, {}});
  manager->ExecuteCommand(tur, 0, nullptr, 0, 15);
  EXPECT_EQ(send().hostError, 0u);
}

TEST(PassThroughStatus, SenseArrivesAtItsOffsetAndReachesTheTrace) {
  ScriptedDrive drive;
  drive.On(0xFD, {ExchangeOutcome::kCheckCondition, 2, 5, 0x20, 0, {}});
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({&drive}));
  auto manager = StartManager(host);

  const ScratchFolder scratch("velmo-trace");
  const std::string path = scratch.Path() + "/trace.txt";
  CCommandTrace trace;
  ASSERT_TRUE(trace.Open(path));
  manager->SetTrace(&trace);
  uint8_t cdb[12] = {0xFD, 0xF1, 'V', 'L', 'M', 'O'};
  EXPECT_EQ(manager->ExecuteCommand(cdb, 0, nullptr, 0, 15), kStatusFailed);
  manager->SetTrace(nullptr);

  std::FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  std::fclose(f);
  const std::string text = line;
  EXPECT_NE(text.find("cdb=[FD F1 56 4C 4D 4F 00 00 00 00 00 00]"), std::string::npos) << text;
  EXPECT_NE(text.find("status=1 scsi=0x02 sense=5/20/00"), std::string::npos) << text;
  EXPECT_NE(text.find("drive=0 spti"), std::string::npos) << text;
}

TEST(PassThroughCommands, OneAtATimePerDrive) {
  ScriptedDrive drive;
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({&drive}));
  auto manager = StartManager(host);
  auto hammer = [&] {
    for (int i = 0; i < 300; ++i) {
      uint8_t tur[12] = {};
      manager->ExecuteCommand(tur, 0, nullptr, 0, 15);
    }
  };
  std::thread a(hammer), b(hammer), c(hammer);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(drive.MaxInFlight(), 1);
  EXPECT_EQ(drive.Commands().size(), 901u);
}

TEST(Lifecycle, ReleaseClosesEveryHandle) {
  ScriptedDrive a, b;
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({&a, &b}));
  {
    auto manager = StartManager(host);
    EXPECT_EQ(host->OpenVolumeCount(), 2);
    manager->EnumerateDrives();  // again: the old handles must not leak
    EXPECT_EQ(host->OpenVolumeCount(), 2);
  }
  EXPECT_EQ(host->OpenVolumeCount(), 0);
}

TEST(Platform, ChoosesTheTransportFromThePlatformId) {
  SimHostConfig nt;
  nt.platformId = kPlatformWin32Nt;
  CDeviceManager onNt(std::make_shared<CSimulatedHost>(nt));
  onNt.DetectPlatform();
  EXPECT_TRUE(onNt.UsesPassThrough());

  SimHostConfig win9x;
  win9x.platformId = kPlatformWin32Windows;
  CDeviceManager onWin9x(std::make_shared<CSimulatedHost>(win9x));
  onWin9x.DetectPlatform();
  EXPECT_FALSE(onWin9x.UsesPassThrough());

  // A failing version query is taken as NT: only NT has pass-through and
  // every system still in use is NT.
  SimHostConfig broken;
  broken.platformId = kPlatformWin32Windows;
  broken.versionQueryFails = true;
  CDeviceManager onBroken(std::make_shared<CSimulatedHost>(broken));
  onBroken.DetectPlatform();
  EXPECT_TRUE(onBroken.UsesPassThrough());
}

TEST(Platform, PassThroughInitializesWithoutLoadingAspi) {
  auto host = std::make_shared<CSimulatedHost>(SimHostConfig{});
  Messages messages;
  CDeviceManager manager(host);
  manager.SetMessageHandler(messages.Handler());
  EXPECT_TRUE(manager.Initialize());
  EXPECT_FALSE(host->ModuleLoaded());
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
