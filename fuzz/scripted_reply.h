// A scripted drive reply read from a fuzz input: transport outcome, SCSI
// status with its sense bytes, and data of any length (short replies and
// headers whose lengths lie included).
#pragma once

#include <memory>

#include "device/device_manager.h"
#include "fuzz/fuzz_input.h"
#include "tests/support/scripted_drive.h"

inline ScriptedReply ReadScriptedReply(FuzzInput& in) {
  ScriptedReply reply;
  const uint8_t flags = in.Byte();
  // Mostly completed commands, so the decoding behind them is reached.
  switch (flags & 7) {
    case 6: reply.outcome = ExchangeOutcome::kTimedOut; break;
    case 7: reply.outcome = ExchangeOutcome::kDriveGone; break;
    default: reply.outcome = ExchangeOutcome::kDone; break;
  }
  switch ((flags >> 3) & 3) {
    case 0:
    case 1: reply.scsiStatus = 0; break;
    case 2: reply.scsiStatus = kScsiStatusCheckCondition; break;
    case 3: reply.scsiStatus = in.Byte(); break;
  }
  if (reply.scsiStatus == kScsiStatusCheckCondition) {
    if (reply.outcome == ExchangeOutcome::kDone) reply.outcome = ExchangeOutcome::kCheckCondition;
    reply.sense.key = in.Byte();
    reply.sense.asc = in.Byte();
    reply.sense.ascq = in.Byte();
  }
  reply.data = in.Field();
  return reply;
}

// A manager over a simulated host with one scripted drive, on the transport
// the input picks; selected and set as the program's manager.
struct ScriptedRig {
  ScriptedDrive drive;
  std::shared_ptr<CSimulatedHost> host;
  std::unique_ptr<CDeviceManager> manager;

  explicit ScriptedRig(bool aspi) {
    host =
        std::make_shared<CSimulatedHost>(aspi ? AspiConfig({&drive}) : PassThroughConfig({&drive}));
    manager = std::make_unique<CDeviceManager>(host);
    manager->SetMessageHandler([](const std::string&, const std::string&) {});
    FUZZ_CHECK(manager->Initialize());
    manager->EnumerateDrives();
    FUZZ_CHECK(manager->GetDriveCount() == 1);
    g_pDeviceManager = manager.get();
  }
  ~ScriptedRig() {
    g_pDeviceManager = nullptr;
    manager.reset();
  }
};
