#include "session/sim_setup.h"

#include "simulator/sim_drive.h"
#include "simulator/sim_host.h"
#include "simulator/sim_replay.h"

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

std::shared_ptr<CSimulatedHost> BuildReplayHost(std::shared_ptr<CReplayRecording> recording) {
  SimHostConfig config;
  const bool aspi = recording->RecordedOnAspi();
  config.platformId = aspi ? kPlatformWin32Windows : kPlatformWin32Nt;
  char letter = 'd';
  uint8_t target = 0;
  for (int drive : recording->VolumeDrives()) {
    SimDevice device = [recording, drive](ScsiExchange& exchange) {
      recording->Answer(drive, exchange);
    };
    if (aspi) {
      config.targets.push_back(SimTarget{0, target++, kDeviceTypeCdRom, std::move(device)});
    } else if (letter <= 'y') {
      config.volumes.push_back(SimVolume{letter++, kDriveTypeCdRom, 0, std::move(device)});
    }
  }
  return std::make_shared<CSimulatedHost>(std::move(config));
}
