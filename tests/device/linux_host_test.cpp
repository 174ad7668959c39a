// The Linux host: SG_IO outcome mapping, and drive discovery and opening on
// a sysfs and /dev laid out in a temporary folder.
#include "device/linux_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  bool ok;
  uint8_t scsiStatus;
  uint32_t error;
};

Outcome Map(SgIoResult r) {
  Outcome o{};
  o.error = 0;
  o.ok = MapSgIoOutcome(r, &o.scsiStatus, &o.error);
  return o;
}

TEST(SgIoOutcome, TimeOutsInAllTheirDisguises) {
  SgIoResult r;
  r.timeoutMs = 30000;

  r.hostStatus = 0x03;  // DID_TIME_OUT
  EXPECT_EQ(Map(r).error, kErrorSemTimeout);
  r.hostStatus = 0;
  r.driverStatus = 0x06;  // DRIVER_TIMEOUT
  EXPECT_EQ(Map(r).error, kErrorSemTimeout);
  r.driverStatus = 0x06 | 0x08;  // with the suggestion bits set
  EXPECT_FALSE(Map(r).ok);
  EXPECT_EQ(Map(r).error, kErrorSemTimeout);

  // The kernel aborts or resets a command it gave up on.
  r.driverStatus = 0;
  r.hostStatus = 0x05;  // DID_ABORT
  r.elapsedMs = 30000;
  EXPECT_EQ(Map(r).error, kErrorSemTimeout);
  r.hostStatus = 0x08;  // DID_RESET
  r.elapsedMs = 30500;
  EXPECT_EQ(Map(r).error, kErrorSemTimeout);
  // ... but an abort well before the time-out is a failure, not a time-out.
  r.elapsedMs = 12;
  const Outcome early = Map(r);
  EXPECT_FALSE(early.ok);
  EXPECT_NE(early.error, kErrorSemTimeout);
}

TEST(SgIoOutcome, FailedCallsAndLostDevices) {
  SgIoResult r;
  r.ioctlErrno = ENODEV;
  EXPECT_EQ(Map(r).error, kErrorDevNotExist);
  r.ioctlErrno = EIO;
  EXPECT_EQ(Map(r).error, kErrorIoDevice);
  r.ioctlErrno = EPERM;  // the block node's command filter
  EXPECT_EQ(Map(r).error, kErrorAccessDenied);
  r.ioctlErrno = 0;
  r.hostStatus = 0x01;  // DID_NO_CONNECT
  EXPECT_EQ(Map(r).error, kErrorDevNotExist);
  r.hostStatus = 0x07;  // DID_ERROR
  EXPECT_FALSE(Map(r).ok);
  r.hostStatus = 0;
  r.driverStatus = 0x04;  // DRIVER_ERROR without sense
  EXPECT_FALSE(Map(r).ok);
}

TEST(SgIoOutcome, ScsiStatusAndSense) {
  SgIoResult r;
  Outcome good = Map(r);
  EXPECT_TRUE(good.ok);
  EXPECT_EQ(good.scsiStatus, 0);

  r.status = 0x02;
  r.driverStatus = 0x08;
  r.senseWritten = 18;
  EXPECT_TRUE(Map(r).ok);
  EXPECT_EQ(Map(r).scsiStatus, 2);

  // CHECK CONDITION seen only as DRIVER_SENSE with sense written.
  r.status = 0;
  EXPECT_EQ(Map(r).scsiStatus, 2);
  r.senseWritten = 0;
  EXPECT_EQ(Map(r).scsiStatus, 0);

  r = SgIoResult{};
  r.status = 0x08;  // BUSY is passed on as it is
  EXPECT_TRUE(Map(r).ok);
  EXPECT_EQ(Map(r).scsiStatus, 8);
}

class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.Path().empty());
    root = m_scratch.Path();
    fs::create_directories(root / "sys/class/block");
    fs::create_directories(root / "dev");
  }

  void AddBlock(const std::string& name, const std::string& type, const std::string& sg) {
    const fs::path device = root / "sys/class/block" / name / "device";
    fs::create_directories(device);
    std::ofstream(device / "type") << type << "\n";
    if (!sg.empty()) fs::create_directories(device / "scsi_generic" / sg);
  }
  void AddNode(const std::string& name) { std::ofstream(root / "dev" / name) << ""; }

  CLinuxHost Host() { return CLinuxHost((root / "sys").string(), (root / "dev").string()); }

  ScratchFolder m_scratch{"velmo-sysfs"};
  fs::path root;
};

TEST_F(FakeSysfs, FindsOpticalDrivesInNumberOrder) {
  AddBlock("sr10", "5", "sg12");
  AddBlock("sr2", "5", "sg3");
  AddBlock("sda", "0", "sg0");
  AddBlock("sr0", "5", "sg1");
  CLinuxHost host = Host();
  const auto volumes = host.VolumeCandidates();
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_EQ(volumes[0].openPath, (root / "dev/sr0").string());
  EXPECT_EQ(volumes[1].typePath, "sr2");
  EXPECT_EQ(volumes[2].typePath, "sr10");
  EXPECT_EQ(host.DriveTypeOf("sr2"), kDriveTypeCdRom);

  AddBlock("sr3", "0", "");  // an sr name that is not an optical drive
  EXPECT_NE(host.DriveTypeOf("sr3"), kDriveTypeCdRom);
}

TEST_F(FakeSysfs, OpensTheGenericNodeAndFallsBackToTheBlockNode) {
  AddBlock("sr0", "5", "sg1");
  AddNode("sg1");
  AddNode("sr0");
  AddBlock("sr1", "5", "sg4");  // sg module not loaded: no /dev/sg4
  AddNode("sr1");
  AddBlock("sr2", "5", "");
  CLinuxHost host = Host();

  uint32_t error = 0;
  const DeviceHandle first = host.OpenVolume(host.VolumeCandidates()[0].openPath, &error);
  ASSERT_NE(first, 0);
  EXPECT_EQ(host.DescribeVolume(first), (root / "dev/sg1").string());
  EXPECT_FALSE(host.OpenedOnBlockNode(first));

  const DeviceHandle second = host.OpenVolume("sr1", &error);
  ASSERT_NE(second, 0);
  EXPECT_EQ(host.DescribeVolume(second), (root / "dev/sr1").string());
  EXPECT_TRUE(host.OpenedOnBlockNode(second));

  EXPECT_EQ(host.OpenVolume("sr2", &error), 0);  // neither node exists
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(host.OpenVolume("../etc", &error), 0);
  host.CloseVolume(first);
  EXPECT_EQ(host.DescribeVolume(first), "");
}

TEST_F(FakeSysfs, AnUnreadableNodeIsReportedNotLost) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens any node";
  AddBlock("sr0", "5", "sg1");
  AddNode("sg1");
  ::chmod((root / "dev/sg1").c_str(), 0);
  CLinuxHost host = Host();
  uint32_t error = 0;
  EXPECT_EQ(host.OpenVolume("sr0", &error), 0);
  EXPECT_EQ(error, kErrorAccessDenied);
}

TEST_F(FakeSysfs, ACommandOnANodeThatIsNotADriveFailsCleanly) {
  AddBlock("sr0", "5", "sg1");
  AddNode("sg1");  // a plain file: SG_IO is not a valid ioctl on it
  CLinuxHost host = Host();
  uint32_t error = 0;
  const DeviceHandle handle = host.OpenVolume("sr0", &error);
  ASSERT_NE(handle, 0);
  SptdWithSense block{};
  block.sptd.Length = 44;
  block.sptd.CdbLength = 6;
  block.sptd.SenseInfoLength = 32;
  block.sptd.SenseInfoOffset = 48;
  block.sptd.TimeOutValue = 15;
  EXPECT_FALSE(host.PassThroughDirect(handle, block, nullptr, &error));
  EXPECT_NE(error, kErrorSemTimeout);

  // Data promised but no buffer: refused before anything is sent.
  block.sptd.DataTransferLength = 8;
  EXPECT_FALSE(host.PassThroughDirect(handle, block, nullptr, &error));
  EXPECT_EQ(error, kErrorInvalidParameter);
  EXPECT_FALSE(host.PassThroughDirect(9999, block, nullptr, &error));
}

// The sg node is the drive's node whenever it exists: its refusal is the
// answer, named as that node, and /dev/srN is not tried behind its back.
TEST_F(FakeSysfs, ARefusingGenericNodeIsReportedAndNotBypassed) {
  AddBlock("sr0", "5", "sg1");
  AddNode("sr0");
  fs::create_directory(root / "dev/sg1");  // open(O_RDWR) on a folder: EISDIR
  CLinuxHost host = Host();
  const std::string volume = host.VolumeCandidates()[0].openPath;
  uint32_t error = 0;
  EXPECT_EQ(host.OpenVolume(volume, &error), 0);
  EXPECT_NE(error, kErrorSuccess);
  EXPECT_NE(error, kErrorFileNotFound);
  EXPECT_EQ(host.FailedOpenNode(volume), (root / "dev/sg1").string());

  // Once the sg node opens, the failure is forgotten.
  fs::remove(root / "dev/sg1");
  AddNode("sg1");
  const DeviceHandle handle = host.OpenVolume(volume, &error);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(host.DescribeVolume(handle), (root / "dev/sg1").string());
  EXPECT_EQ(host.FailedOpenNode(volume), volume);

  // No node at all: the block node is what failed.
  AddBlock("sr1", "5", "");
  EXPECT_EQ(host.OpenVolume("sr1", &error), 0);
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(host.FailedOpenNode("sr1"), (root / "dev/sr1").string());
}

// Root opens any node, so as root the check runs in a child that has
// become an ordinary user.
TEST_F(FakeSysfs, APermissionRefusalOnTheGenericNodeIsKept) {
  AddBlock("sr0", "5", "sg1");
  AddNode("sg1");
  AddNode("sr0");
  ::chmod((root / "dev/sg1").c_str(), 0);
  ::chmod((root / "dev/sr0").c_str(), 0666);  // open to all: the old code fell back to it
  // base: the fake tree's path as this process reaches it.
  const auto check = [&](const fs::path& base) {
    CLinuxHost host((base / "sys").string(), (base / "dev").string());
    uint32_t error = 0;
    const bool refused = host.OpenVolume("sr0", &error) == 0;
    return refused && error == kErrorAccessDenied &&
           host.FailedOpenNode("sr0") == (base / "dev/sg1").string();
  };
  if (::geteuid() != 0) {
    EXPECT_TRUE(check(root));
    return;
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!BecomeUserIn(root.string(), 65534)) ::_exit(2);
    ::_exit(check(".") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not become an ordinary user";
}

TEST_F(FakeSysfs, FindsDrivesThatOnlyHaveAGenericNode) {
  AddBlock("sr0", "5", "sg0");
  // sg0 belongs to sr0; sg3 is an optical drive sr never bound; sg2 a disk.
  const auto generic = [&](const std::string& sg, const std::string& type,
                           const std::string& block) {
    const fs::path device = root / "sys/class/scsi_generic" / sg / "device";
    fs::create_directories(device);
    std::ofstream(device / "type") << type << "\n";
    if (!block.empty()) fs::create_directories(device / "block" / block);
  };
  generic("sg0", "5", "sr0");
  generic("sg2", "0", "sda");
  generic("sg10", "5", "");
  generic("sg3", "5", "");
  AddNode("sg3");
  CLinuxHost host = Host();
  const auto volumes = host.VolumeCandidates();
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_EQ(volumes[0].typePath, "sr0");
  EXPECT_EQ(volumes[1].typePath, "sg3");
  EXPECT_EQ(volumes[2].typePath, "sg10");
  EXPECT_EQ(host.DriveTypeOf("sg3"), kDriveTypeCdRom);
  EXPECT_NE(host.DriveTypeOf("sg2"), kDriveTypeCdRom);

  uint32_t error = 0;
  const DeviceHandle handle = host.OpenVolume(volumes[1].openPath, &error);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(host.DescribeVolume(handle), (root / "dev/sg3").string());
  EXPECT_FALSE(host.OpenedOnBlockNode(handle));
  EXPECT_EQ(host.OpenVolume(volumes[2].openPath, &error), 0);  // no /dev/sg10
  EXPECT_EQ(error, kErrorFileNotFound);
}

// A real second process holding a real file: found by pid and name.
TEST_F(FakeSysfs, FindsTheProcessThatHoldsANode) {
  AddNode("sg7");
  const std::string node = (root / "dev/sg7").string();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(node.c_str(), O_RDONLY);
    char byte = fd >= 0 ? 'y' : 'n';
    if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  const auto holders = FindNodeHolders(node);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].pid, child);
  EXPECT_FALSE(holders[0].program.empty());
  EXPECT_TRUE(FindNodeHolders(node).empty());
}

}  // namespace
