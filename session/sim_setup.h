// Builds the simulated host of a named scenario, as `--simulate` runs it:
// the scenario's drives in list order, on pass-through volumes d:, e:, ... or
// on ASPI adapter 0 behind a fixed disk at target 0 (as most buses had one).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "simulator/sim_scenarios.h"

class CReplayRecording;
class CSimDrive;
class CSimulatedHost;

enum class SimTransportChoice { kPassThrough, kAspi };

struct SimSetup {
  std::shared_ptr<CSimulatedHost> host;
  std::vector<std::shared_ptr<CSimDrive>> drives;
};

SimSetup BuildSimSetup(const SimScenario& scenario, const SimOptions& options,
                       SimTransportChoice transport);

// The simulated host of a recording (--simulate=replay:FILE): one volume or
// target per recorded drive, on the transport the recording was made on.
std::shared_ptr<CSimulatedHost> BuildReplayHost(std::shared_ptr<CReplayRecording> recording);
