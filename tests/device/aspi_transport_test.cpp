// The device manager over the ASPI transport, through the simulated host's
// ASPI layer: loading, enumeration by adapter and target, the execute
// request, completion by event or by polling, status mapping, and the
// bytes a reply moved.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "device/device_manager.h"
#include "tests/device/shown_messages.h"
#include "tests/support/scripted_drive.h"

namespace {

TEST(AspiLoading, FailuresShowTheirMessages) {
  struct Case {
    const char* what;
    SimHostConfig config;
    std::vector<std::string> messages;
  };
  SimHostConfig missing;
  missing.platformId = kPlatformWin32Windows;
  missing.aspiInstalled = false;
  SimHostConfig noSend = missing;
  noSend.aspiInstalled = true;
  noSend.hasSendCommandEntry = false;
  SimHostConfig noInfo = noSend;
  noInfo.hasSendCommandEntry = true;
  noInfo.hasSupportInfoEntry = false;
  SimHostConfig unexpected = noInfo;
  unexpected.hasSupportInfoEntry = true;
  unexpected.supportStatus = SS_ERR;
  unexpected.adapterCount = 1;

  const Case cases[] = {
      {"library missing", missing, {"Can't load WNASPI32.DLL!!"}},
      {"SendASPI32Command missing", noSend, {"Can't load WNASPI32.DLL!!"}},
      {"GetASPI32SupportInfo missing", noInfo, {"Can't load WNASPI32.DLL!!"}},
      {"unexpected status", unexpected, {"Unexpected ASPI Failure", "Can't load WNASPI32.DLL!!"}},
  };
  for (const Case& c : cases) {
    auto host = std::make_shared<CSimulatedHost>(c.config);
    Messages messages;
    CDeviceManager manager(host);
    manager.SetMessageHandler(messages.Handler());
    EXPECT_FALSE(manager.Initialize()) << c.what;
    ASSERT_EQ(messages.shown.size(), c.messages.size()) << c.what;
    for (size_t i = 0; i < c.messages.size(); ++i) {
      EXPECT_EQ(messages.shown[i].first, c.messages[i]) << c.what;
      EXPECT_EQ(messages.shown[i].second, "") << c.what;  // the application's caption
    }
    EXPECT_EQ(manager.GetDriveCount(), 0) << c.what;
  }
}

TEST(AspiLoading, NoAdaptersIsASuccessWithAnEmptyTable) {
  SimHostConfig config;
  config.platformId = kPlatformWin32Windows;
  config.supportStatus = SS_NO_ADAPTERS;
  config.adapterCount = 0;
  auto host = std::make_shared<CSimulatedHost>(config);
  Messages messages;
  CDeviceManager manager(host);
  manager.SetMessageHandler(messages.Handler());
  EXPECT_TRUE(manager.Initialize());
  manager.EnumerateDrives();
  EXPECT_EQ(manager.GetDriveCount(), 0);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(host->ModuleLoaded());
}

TEST(AspiLoading, ReleaseFreesTheLibrary) {
  ScriptedDrive drive;
  auto host = std::make_shared<CSimulatedHost>(AspiConfig({&drive}));
  {
    CDeviceManager manager(host);
    ASSERT_TRUE(manager.Initialize());
    EXPECT_TRUE(host->ModuleLoaded());
  }
  EXPECT_FALSE(host->ModuleLoaded());
}

// Targets scanned for a given max-target byte of the adapter inquiry.
int TargetsScanned(uint8_t maxTargetsByte) {
  SimHostConfig config;
  config.platformId = kPlatformWin32Windows;
  config.adapterCount = 1;
  config.maxTargetsByte[0] = maxTargetsByte;
  auto host = std::make_shared<CSimulatedHost>(config);
  CDeviceManager manager(host);
  EXPECT_TRUE(manager.Initialize());
  manager.EnumerateDrives();
  const auto queries = host->DeviceTypeQueries();
  for (size_t i = 0; i < queries.size(); ++i) {
    EXPECT_EQ(queries[i].second, i) << "targets in order, LUN 0 only";
  }
  return static_cast<int>(queries.size());
}

TEST(AspiEnumeration, TargetCountIsEightOrSixteen) {
  EXPECT_EQ(TargetsScanned(8), 8);
  EXPECT_EQ(TargetsScanned(16), 16);
  EXPECT_EQ(TargetsScanned(15), 8);
  EXPECT_EQ(TargetsScanned(32), 8);
  EXPECT_EQ(TargetsScanned(0), 8);
}

TEST(AspiEnumeration, ListsOptionalDrivesOnEveryAdapter) {
  ScriptedDrive first("VELMO   DVDRW VX-2016   ", "1.02"), silent, second;
  silent.On(0x12, {ExchangeOutcome::kCheckCondition, 2, 5, 0x24, 0, {}});
  SimHostConfig config;
  config.platformId = kPlatformWin32Windows;
  config.targets = {SimTarget{0, 0, 0, {}},  // a disk
                    SimTarget{0, 3, 5, first.Device()}, SimTarget{1, 1, 5, silent.Device()},
                    SimTarget{1, 5, 5, second.Device()}};
  auto host = std::make_shared<CSimulatedHost>(config);
  CDeviceManager manager(host);
  ASSERT_TRUE(manager.Initialize());
  manager.EnumerateDrives();

  ASSERT_EQ(manager.GetDriveCount(), 2);
  EXPECT_EQ(manager.GetDriveEntry(0).adapterId, 0);
  EXPECT_EQ(manager.GetDriveEntry(0).targetId, 3);
  // The row of the drive that failed INQUIRY is reused by the next one.
  EXPECT_EQ(manager.GetDriveEntry(1).adapterId, 1);
  EXPECT_EQ(manager.GetDriveEntry(1).targetId, 5);
  EXPECT_EQ(manager.GetDriveEntry(0).hDevice, 0);
  EXPECT_EQ(manager.GetDrivePath(1), "aspi:1:5");
  char name[100];
  ASSERT_TRUE(manager.GetDriveName(name));
  EXPECT_STREQ(name, "VELMO   DVDRW VX-2016   1.02");

  // ASPI enumeration asks for the 36-byte standard data.
  const auto inquiry = first.Commands().front();
  EXPECT_EQ(inquiry.cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 0x24, 0}));
  EXPECT_EQ(inquiry.dataLength, 36u);
}

TEST(AspiEnumeration, NeverListsANinthDrive) {
  std::vector<ScriptedDrive> drives(12);
  SimHostConfig config;
  config.platformId = kPlatformWin32Windows;
  config.maxTargetsByte[0] = 16;
  for (uint8_t t = 0; t < 12; ++t) config.targets.push_back(SimTarget{0, t, 5, drives[t].Device()});
  auto host = std::make_shared<CSimulatedHost>(config);
  CDeviceManager manager(host);
  ASSERT_TRUE(manager.Initialize());
  manager.EnumerateDrives();
  EXPECT_EQ(manager.GetDriveCount(), 8);
  EXPECT_TRUE(drives[8].Commands().empty());
}

class AspiExecute : public ::testing::Test {
 protected:
  void Start(SimHostConfig config) {
    host = std::make_shared<CSimulatedHost>(std::move(config));
    manager = std::make_unique<CDeviceManager>(host);
    manager->SetMessageHandler(messages.Handler());
    ASSERT_TRUE(manager->Initialize());
    manager->EnumerateDrives();
    ASSERT_EQ(manager->GetDriveCount(), 1);
  }
  SimHostConfig OnTargetTwo() {
    SimHostConfig config;
    config.platformId = kPlatformWin32Windows;
    config.adapterCount = 2;
    config.targets = {SimTarget{1, 2, 5, drive.Device()}};
    return config;
  }

  ScriptedDrive drive;
  Messages messages;
  std::shared_ptr<CSimulatedHost> host;
  std::unique_ptr<CDeviceManager> manager;
};

TEST_F(AspiExecute, BuildsTheRequestAndSetsTheTimeoutInHalfSeconds) {
  Start(OnTargetTwo());
  const size_t before = host->ExecRequests().size();
  uint8_t cdb[12] = {0xFD, 0xFB, 'V', 'L', 'M', 'O', 5, 13, 0x26, 0, 0, 0};
  uint8_t reply[8];
  drive.On(0xFD, {ExchangeOutcome::kDone, 0, 0, 0, 0, {0, 1, 2, 0, 0, 3, 4, 0}});
  EXPECT_EQ(manager->ExecuteCommand(cdb, kDirectionIn, reply, sizeof reply, 30), kStatusDone);
  EXPECT_EQ(reply[2], 2);

  ASSERT_EQ(host->ExecRequests().size(), before + 1);
  const SrbExecScsiCmd srb = host->ExecRequests().back();
  EXPECT_EQ(srb.SRB_Cmd, SC_EXEC_SCSI_CMD);
  EXPECT_EQ(srb.SRB_HaId, 1);
  EXPECT_EQ(srb.SRB_Target, 2);
  EXPECT_EQ(srb.SRB_Lun, 0);
  EXPECT_EQ(srb.SRB_Flags, SRB_DIR_IN | SRB_EVENT_NOTIFY);
  EXPECT_EQ(srb.SRB_BufLen, 8u);
  EXPECT_EQ(srb.SRB_SenseLen, 14);
  EXPECT_EQ(srb.SRB_CDBLen, 12);
  EXPECT_EQ(srb.CDBByte[7], 13);
  EXPECT_EQ(host->TimeoutRequests().back(), 60u);
  EXPECT_EQ(drive.Last().timeoutMs, 30000u);

  uint8_t tur[12] = {};
  manager->ExecuteCommand(tur, kDirectionNone, nullptr, 0, 15);
  EXPECT_EQ(host->TimeoutRequests().back(), 30u);  // 15 s as half-seconds
  EXPECT_EQ(host->ExecRequests().back().SRB_Flags, SRB_EVENT_NOTIFY);
  EXPECT_EQ(host->ExecRequests().back().SRB_CDBLen, 6);
  uint8_t out[4] = {};
  manager->ExecuteCommand(tur, kDirectionOut, out, sizeof out, 15);
  EXPECT_EQ(host->ExecRequests().back().SRB_Flags, SRB_DIR_OUT | SRB_EVENT_NOTIFY);
  manager->ExecuteCommand(tur, 9, out, sizeof out, 15);
  EXPECT_EQ(host->ExecRequests().back().SRB_Flags, SRB_EVENT_NOTIFY);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(AspiExecute, MapsEveryOutcome) {
  Start(OnTargetTwo());
  uint8_t tur[12] = {};
  drive.On(0x00, {ExchangeOutcome::kDone, 0, 0, 0, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusDone);
  drive.On(0x00, {ExchangeOutcome::kCheckCondition, 2, 2, 0x3A, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusFailed);
  drive.On(0x00, {ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusTimedOut);
  drive.On(0x00, {ExchangeOutcome::kDriveGone, 0, 0, 0, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusFailed);
}

// A reply shorter than the buffer counts as what came, as on pass-through:
// a GET PERFORMANCE cut after two descriptors is 40 bytes, not 200.
TEST_F(AspiExecute, BytesMovedAreWhatTheDriveSent) {
  Start(OnTargetTwo());
  for (const bool polled : {false, true}) {
    SCOPED_TRACE(polled ? "polled" : "event");
    if (polled) {
      SimHostConfig config = OnTargetTwo();
      config.eventsFail = true;
      Start(config);
    }
    std::vector<uint8_t> reply(8 + 16 * 2, 0x5A);
    drive.On(0xAC, {ExchangeOutcome::kDone, 0, 0, 0, 0, reply});
    uint8_t buffer[200] = {};
    ScsiExchange exchange;
    const uint8_t cdb[12] = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x03, 0};
    exchange.SetCdb(cdb, 12);
    exchange.direction = kDirectionIn;
    exchange.data = buffer;
    exchange.dataLength = sizeof buffer;
    exchange.timeout = std::chrono::seconds(10);
    manager->Execute(exchange);
    EXPECT_EQ(exchange.outcome, ExchangeOutcome::kDone);
    EXPECT_EQ(exchange.Moved(), 40u);
    EXPECT_EQ(buffer[39], 0x5A);
    EXPECT_EQ(buffer[40], 0);
    // A reply longer than the buffer still counts only the buffer.
    drive.On(0xAC, {ExchangeOutcome::kDone, 0, 0, 0, 0, std::vector<uint8_t>(300, 1)});
    manager->Execute(exchange);
    EXPECT_EQ(exchange.Moved(), 200u);
  }
}

TEST_F(AspiExecute, PollsTheRequestWhenNoEventCanBeMade) {
  SimHostConfig config = OnTargetTwo();
  config.eventsFail = true;
  Start(config);
  uint8_t tur[12] = {};
  drive.On(0x00, {ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}});
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusTimedOut);
  EXPECT_EQ(host->ExecRequests().back().SRB_Flags & SRB_EVENT_NOTIFY, 0);
  drive.On(0x00, {ExchangeOutcome::kDone, 0, 0, 0, 0, {}});
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusDone);
  }
}

TEST_F(AspiExecute, RefusedTimeoutIsReportedAndTheCommandStillSent) {
  SimHostConfig config = OnTargetTwo();
  config.setTimeoutFails = true;
  Start(config);
  const size_t before = drive.Commands().size();
  messages.shown.clear();
  uint8_t tur[12] = {};
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusDone);
  EXPECT_EQ(drive.Commands().size(), before + 1);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].first, "Set ASPI timeout fail!!");
  EXPECT_EQ(messages.shown[0].second, "Error");
}

TEST_F(AspiExecute, NoSelectedDriveSendsNothing) {
  SimHostConfig config;
  config.platformId = kPlatformWin32Windows;
  config.adapterCount = 1;
  host = std::make_shared<CSimulatedHost>(config);
  manager = std::make_unique<CDeviceManager>(host);
  ASSERT_TRUE(manager->Initialize());
  manager->EnumerateDrives();
  uint8_t tur[12] = {};
  EXPECT_EQ(manager->ExecuteCommand(tur, 0, nullptr, 0, 15), kStatusFailed);
  EXPECT_TRUE(host->TimeoutRequests().empty());
  EXPECT_TRUE(host->ExecRequests().empty());
}

}  // namespace

namespace {

// A host without an ASPI layer, as the Linux host is: the manager gets no
// IAspiHost from it.
class NoAspiHost : public IDeviceHost {
 public:
  explicit NoAspiHost(std::shared_ptr<CSimulatedHost> inner) : m_inner(std::move(inner)) {}
  bool QueryPlatform(uint32_t* platformId) override { return m_inner->QueryPlatform(platformId); }
  std::vector<VolumeCandidate> VolumeCandidates() override { return m_inner->VolumeCandidates(); }
  DeviceHandle OpenVolume(const std::string& path, uint32_t* error) override {
    return m_inner->OpenVolume(path, error);
  }
  uint32_t DriveTypeOf(const std::string& path) override { return m_inner->DriveTypeOf(path); }
  bool PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                         uint32_t* error) override {
    return m_inner->PassThroughDirect(device, block, data, error);
  }
  void CloseVolume(DeviceHandle device) override { m_inner->CloseVolume(device); }
  std::string DescribeVolume(DeviceHandle device) override {
    return m_inner->DescribeVolume(device);
  }

 private:
  std::shared_ptr<CSimulatedHost> m_inner;
};

TEST(AspiLoading, AHostWithoutAspiIsAMissingModuleUnlessOneIsGiven) {
  ScriptedDrive drive;
  auto sim = std::make_shared<CSimulatedHost>(AspiConfig({&drive}));
  {
    Messages messages;
    CDeviceManager manager(std::make_shared<NoAspiHost>(sim));
    manager.SetMessageHandler(messages.Handler());
    EXPECT_FALSE(manager.Initialize());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, "Can't load WNASPI32.DLL!!");
    EXPECT_FALSE(sim->ModuleLoaded());
  }
  // The same host with its ASPI layer handed in beside it.
  CDeviceManager manager(std::make_shared<NoAspiHost>(sim), sim);
  manager.SetMessageHandler([](const std::string&, const std::string&) {});
  ASSERT_TRUE(manager.Initialize());
  manager.EnumerateDrives();
  EXPECT_EQ(manager.GetDriveCount(), 1);
  EXPECT_EQ(manager.GetDrivePath(0), "aspi:0:0");
}

}  // namespace
