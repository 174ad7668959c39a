// Named set-ups of the simulator (`--simulate=NAME`): which drives are on
// the bus, which disc is in them, which faults are armed. A scenario is data;
// BuildSimDrives turns one into drives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/sim_drive.h"

struct SimOptions {
  int sampleLatencyMs = -1;  // -1: drive-like default
  int insertDelayMs = -1;    // -1: default ~1500 ms; 0 = disc present at once
  uint32_t seed = 1;
};

// The kinds of device a scenario puts on the bus.
enum class SimDriveRole : uint8_t {
  kSupported,  // understands the diagnostic mode and the TE/FE sample command
  kRefusing,   // another maker's drive: refuses every vendor command
  kHardDisk,   // not an optical device at all
};

// What INQUIRY tells of a drive: vendor, product and revision (8, 16 and 4
// bytes on the wire).
struct SimIdentity {
  std::string vendor;
  std::string product;
  std::string revision;
};

struct SimScenario {
  std::string name;
  std::string description;
  std::vector<SimDriveRole> drives{SimDriveRole::kSupported, SimDriveRole::kRefusing};
  std::string disc;              // catalogue name, put into every optical drive; empty: none
  std::vector<SimFault> faults;  // armed on the supported drive
  int faultyDrive = -1;          // >= 0: armed on that supported drive only (by its place)
  bool reportMediumChange = false;
  // On the ASPI transport: the layer refuses every time-out setting.
  bool aspiTimeoutRefused = false;
  // The discs that follow disc in the supported drives, one each time the
  // tray is opened by START STOP UNIT (a spindle fed by hand or a robot).
  std::vector<std::string> feed;
  // Noise seeded per drive (the seed plus the drive's place among the
  // supported ones) and per disc, so every drive and disc reads its own way.
  bool seedPerDriveAndDisc = false;
  // The supported drives' INQUIRY identity, when not the default one.
  std::optional<SimIdentity> identity;
};

// In listing order, default first.
const std::vector<SimScenario>& SimScenarios();
const SimScenario* FindSimScenario(std::string_view name);  // nullptr when unknown

// The identities of the three roles.
SimDriveConfig SimDriveConfigFor(SimDriveRole role);

// The drives of a scenario in list order: the supported drive first, the
// drive that refuses the diagnostic mode second.
std::vector<std::shared_ptr<CSimDrive>> BuildSimDrives(const SimScenario& scenario,
                                                       const SimOptions& options);
