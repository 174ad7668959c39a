// The Linux host: the real pass-through on this platform, SG_IO.
//
// Drives are the SCSI type-5 devices under /sys/class/block/sr*, in number
// order, then those type-5 devices that have an sg node but no bound sr
// driver (/sys/class/scsi_generic/sgN). Each is opened on its paired SCSI
// generic node (/dev/sgN) when there is one, because the kernel's command
// filter on /dev/srN refuses vendor opcodes such as 0xFD to anyone without
// CAP_SYS_RAWIO, while /dev/sgN checks permission at open and then passes
// every command. /dev/srN is used only when there is no sg node at all: an
// sg node that refuses (busy, permission) is reported, not bypassed, so
// another program's exclusive hold is respected and the advice fits.
//
// SG_IO outcomes are turned into the Windows results the device manager
// expects: a time-out is error 121, CHECK CONDITION is ScsiStatus 2 with the
// sense bytes, a failed ioctl or a lost device is a failed call.
//
// There is no ASPI layer on Linux: the host offers no IAspiHost.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/host.h"

struct SgIoResult;

class CLinuxHost : public IDeviceHost {
 public:
  // sysfsRoot and devRoot are for tests; the defaults are the real ones.
  explicit CLinuxHost(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");
  ~CLinuxHost() override;

  bool QueryPlatform(uint32_t* platformId) override;
  std::vector<VolumeCandidate> VolumeCandidates() override;
  DeviceHandle OpenVolume(const std::string& openPath, uint32_t* error) override;
  uint32_t DriveTypeOf(const std::string& typePath) override;
  bool PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                         uint32_t* error) override;
  void CloseVolume(DeviceHandle device) override;
  std::string DescribeVolume(DeviceHandle device) override;
  std::string FailedOpenNode(const std::string& openPath) override;

  // True when the device was opened on /dev/srN because no usable /dev/sgN
  // was found: vendor commands may then be refused by the kernel.
  bool OpenedOnBlockNode(DeviceHandle device);

 private:
  struct Open {
    int fd = -1;
    std::string path;
    bool blockNode = false;
  };

  std::string m_sysfsRoot;
  std::string m_devRoot;
  std::mutex m_lock;
  std::unordered_map<DeviceHandle, Open> m_open;
  std::unordered_map<std::string, std::string> m_failedNode;  // by volume name
  DeviceHandle m_nextHandle = 1;
};

// What SG_IO reported for one command, reduced to what the mapping needs.
struct SgIoResult {
  int ioctlErrno = 0;  // non-zero when the ioctl itself failed
  uint8_t status = 0;  // SCSI status byte
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  uint8_t senseWritten = 0;
  uint32_t elapsedMs = 0;  // the kernel's duration
  uint32_t timeoutMs = 0;  // the time-out that was asked for
};

// The mapping of an SG_IO outcome onto the pass-through results: false with
// *error for a failed call (121 for a time-out), true with *scsiStatus set
// otherwise. Kept apart from the ioctl so every outcome can be tested.
bool MapSgIoOutcome(const SgIoResult& result, uint8_t* scsiStatus, uint32_t* error);

// Windows error code for an errno of open or ioctl.
uint32_t ErrnoToHostError(int error);

// A process that has a device node open.
struct NodeHolder {
  int pid = 0;
  std::string program;  // its comm name
};

// The processes that hold nodePath open, from /proc/*/fd (only those this
// user may look into). procRoot is for tests.
std::vector<NodeHolder> FindNodeHolders(const std::string& nodePath,
                                        const std::string& procRoot = "/proc");
