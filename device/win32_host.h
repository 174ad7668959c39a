// The Windows host: the real calls the device manager was first written on.
// Built only for 32-bit Windows (the build picks it there), where the request
// blocks are the drivers' own layouts.
#pragma once

#include "device/host.h"

class CWin32Host : public IDeviceHost, public IAspiHost {
 public:
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
};
