// CSimulatedHost: the platform interface over simulated drives, for both
// transports. Pass-through sees Windows-style volumes by drive letter (the
// letter walk of the real Windows host applies), ASPI sees host adapters with
// targets. Execute requests complete on the module's own completion thread,
// as a real ASPI layer completes them, signalling the caller's event or, with
// no event, the request status the caller polls.
//
// The configuration also breaks the platform on purpose (no ASPI layer, a
// missing entry point, an unexpected support status, no events, refused
// time-outs, volumes that cannot be opened) so every failure path of the
// device manager can be driven.
//
// Threads: every method may be called from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/host.h"

#include "simulator/sim_drive.h"

// What sits behind a volume or target: a simulated drive's Execute, or a
// scripted device in tests. It answers the exchange the host made of the
// request block.
using SimDevice = std::function<void(ScsiExchange&)>;

SimDevice DeviceOf(std::shared_ptr<CSimDrive> drive);

struct SimVolume {
  char letter = 'd';
  uint32_t driveType = kDriveTypeCdRom;  // 3 for a fixed disk
  uint32_t openError = 0;                // non-zero: CreateFile fails with it
  SimDevice drive;                       // empty for a non-optical volume
};

struct SimTarget {
  uint8_t adapter = 0;
  uint8_t target = 0;
  uint8_t deviceType = 5;
  SimDevice drive;
};

struct SimHostConfig {
  uint32_t platformId = kPlatformWin32Nt;
  bool versionQueryFails = false;

  std::vector<SimVolume> volumes;

  // ASPI layer.
  bool aspiInstalled = true;
  bool hasSupportInfoEntry = true;
  bool hasSendCommandEntry = true;
  int supportStatus = -1;                     // -1: SS_COMP with adapters, SS_NO_ADAPTERS without
  int adapterCount = -1;                      // -1: one past the highest adapter of the targets
  std::map<uint8_t, uint8_t> maxTargetsByte;  // HA_Unique[3] per adapter; 8 when absent
  std::vector<SimTarget> targets;
  bool eventsFail = false;  // NewEvent answers 0: the caller polls
  bool setTimeoutFails = false;
  bool inquiryAdapterFails = false;
};

class CSimulatedHost : public IDeviceHost, public IAspiHost {
 public:
  explicit CSimulatedHost(SimHostConfig config);
  ~CSimulatedHost() override;

  bool QueryPlatform(uint32_t* platformId) override;
  std::vector<VolumeCandidate> VolumeCandidates() override;
  DeviceHandle OpenVolume(const std::string& openPath, uint32_t* error) override;
  uint32_t DriveTypeOf(const std::string& typePath) override;
  bool PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                         uint32_t* error) override;
  void CloseVolume(DeviceHandle device) override;
  std::string DescribeVolume(DeviceHandle device) override;

  ModuleHandle LoadModule(const std::string& name) override;
  AspiProc FindEntryPoint(ModuleHandle module, const std::string& name) override;
  void UnloadModule(ModuleHandle module) override;
  EventHandle NewEvent() override;
  void WaitEvent(EventHandle event) override;
  void DeleteEvent(EventHandle event) override;

  // What the tests look at.
  std::vector<std::string> OpenAttempts() const;
  int OpenVolumeCount() const;
  bool ModuleLoaded() const;
  std::vector<SptdWithSense> PassThroughBlocks() const;  // as received, in order
  std::vector<SrbExecScsiCmd> ExecRequests() const;      // as received, in order
  std::vector<uint32_t> TimeoutRequests() const;         // SRB_Timeout values received
  std::vector<std::pair<uint8_t, uint8_t>> DeviceTypeQueries() const;  // (adapter, target)

 private:
  struct Event;
  struct Completion;
  uint32_t SendAspiCommand(void* srb, const AspiAddresses* addresses);
  void CompletionLoop();
  void Complete(Completion& job);
  const SimTarget* FindTarget(uint8_t adapter, uint8_t target) const;

  SimHostConfig m_config;
  mutable std::mutex m_lock;
  std::map<DeviceHandle, const SimVolume*> m_open;
  DeviceHandle m_nextHandle = 1;
  std::vector<std::string> m_openAttempts;
  std::vector<SptdWithSense> m_blocks;
  std::vector<SrbExecScsiCmd> m_execs;
  std::vector<uint32_t> m_timeoutRequests;
  std::vector<std::pair<uint8_t, uint8_t>> m_typeQueries;
  std::map<std::pair<uint8_t, uint8_t>, uint32_t> m_targetTimeouts;  // half-seconds

  std::map<EventHandle, std::shared_ptr<Event>> m_events;
  EventHandle m_nextEvent = 1;

  bool m_moduleLoaded = false;
  std::deque<std::shared_ptr<Completion>> m_queue;
  std::condition_variable m_queueSignal;
  bool m_stopping = false;
  std::thread m_completer;
};
