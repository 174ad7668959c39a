// The narrow platform interface the device manager runs on. It offers exactly
// the operations the manager's algorithms were written against (version query,
// volume open / type / pass-through / close), so those algorithms stay the
// same on every host. A host that has an ASPI layer also offers IAspiHost
// (the module with its two entry points, completion events):
//   - CLinuxHost: SG_IO on the optical drives of this machine; no ASPI;
//   - CSimulatedHost (simulator/): in-process drives for both transports;
//   - CWin32Host: the real Windows calls, built for Windows only.
// Error codes keep their Windows values so the manager's mapping (121 is a
// time-out, anything else a failure) holds on every host.
//
// Threads: a host must accept calls from several threads at once; it is the
// manager that keeps to one command at a time per drive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/request_blocks.h"

// Windows error codes as the hosts report them (GetLastError values).
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorNotReady = 21;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorDevNotExist = 55;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorIoDevice = 1117;

inline constexpr uint32_t kPlatformWin32Windows = 1;
inline constexpr uint32_t kPlatformWin32Nt = 2;
inline constexpr uint32_t kDriveTypeCdRom = 5;

// Opaque handles; 0 is null.
using DeviceHandle = std::intptr_t;
using ModuleHandle = std::intptr_t;
using EventHandle = std::intptr_t;

// One volume the pass-through enumeration probes, in discovery order.
struct VolumeCandidate {
  std::string openPath;  // what OpenVolume gets ("\\.\d:", "sr0")
  std::string typePath;  // what GetDriveType gets ("d:", "sr0")
};

// Addresses that the 32-bit pointer fields of an ASPI execute request stand
// for: where the data goes and which event to signal on completion.
struct AspiAddresses {
  void* buffer = nullptr;
  EventHandle postEvent = 0;
};

// An ASPI entry point: SendASPI32Command takes a request block (and, beside
// it, the addresses its pointer fields stand for); GetASPI32SupportInfo takes
// nothing and is called with a null block.
using AspiProc = std::function<uint32_t(void* srb, const AspiAddresses* addresses)>;

class IDeviceHost {
 public:
  virtual ~IDeviceHost() = default;

  // GetVersionExA: false when the call itself fails.
  virtual bool QueryPlatform(uint32_t* platformId) = 0;

  // Pass-through transport.
  virtual std::vector<VolumeCandidate> VolumeCandidates() = 0;
  // CreateFileA for read and write, shared read and write, existing only.
  // Returns 0 and sets *error on failure.
  virtual DeviceHandle OpenVolume(const std::string& openPath, uint32_t* error) = 0;
  // GetDriveTypeA.
  virtual uint32_t DriveTypeOf(const std::string& typePath) = 0;
  // DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) with block as input (44
  // bytes) and output (80 bytes); data is the buffer DataBuffer stands for.
  // False and *error on failure of the call; otherwise ScsiStatus, the sense
  // area and DataTransferLength (bytes moved) are updated.
  virtual bool PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                                 uint32_t* error) = 0;
  virtual void CloseVolume(DeviceHandle device) = 0;
  // The device node or path a handle was opened on, for messages and traces.
  virtual std::string DescribeVolume(DeviceHandle device) = 0;
  // The node that refused the last OpenVolume of openPath, when a host opens
  // a volume through another node than the one it is named by.
  virtual std::string FailedOpenNode(const std::string& openPath) { return openPath; }
};

// The ASPI transport of a host that has one.
class IAspiHost {
 public:
  virtual ~IAspiHost() = default;

  // LoadLibraryA / GetProcAddress / FreeLibrary. Method names differ from the
  // Windows calls because <windows.h> defines some of those as macros.
  virtual ModuleHandle LoadModule(const std::string& name) = 0;
  virtual AspiProc FindEntryPoint(ModuleHandle module, const std::string& name) = 0;
  virtual void UnloadModule(ModuleHandle module) = 0;

  // Completion events: unnamed, manual reset, initially not signalled.
  // 0 when no event could be created.
  virtual EventHandle NewEvent() = 0;
  virtual void WaitEvent(EventHandle event) = 0;  // no time limit
  virtual void DeleteEvent(EventHandle event) = 0;
};

// The 23 drive letters the Windows pass-through enumeration probes: 'c' to 'y'.
std::vector<VolumeCandidate> DriveLetterVolumes();
