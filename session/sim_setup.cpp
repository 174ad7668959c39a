#include "session/sim_setup.h"

#include "simulator/sim_drive.h"
#include "simulator/sim_host.h"

SimSetup BuildSimSetup(const SimScenario& scenario, const SimOptions& options,
                       SimTransportChoice transport) {
  SimSetup setup;
  setup.drives = BuildSimDrives(scenario, options);
  SimHostConfig config;
  if (transport == SimTransportChoice::kPassThrough) {
    config.platformId = kPlatformWin32Nt;
    // c: is the system disk, as on any Windows machine.
    config.volumes.push_back(SimVolume{'c', 3, 0, nullptr});
    char letter = 'd';
    for (const auto& drive : setup.drives) {
      config.volumes.push_back(SimVolume{letter++, kDriveTypeCdRom, 0, DeviceOf(drive)});
    }
  } else {
    config.platformId = kPlatformWin32Windows;
    config.setTimeoutFails = scenario.aspiTimeoutRefused;
    config.targets.push_back(SimTarget{0, 0, 0, nullptr});
    uint8_t target = 1;
    for (const auto& drive : setup.drives) {
      config.targets.push_back(SimTarget{0, target++, kDeviceTypeCdRom, DeviceOf(drive)});
    }
  }
  setup.host = std::make_shared<CSimulatedHost>(std::move(config));
  return setup;
}
