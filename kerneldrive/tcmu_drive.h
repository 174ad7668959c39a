// A simulated drive behind the kernel's command ring: each CDB the ring
// brings goes to CSimDrive as it would in-process, and the drive's status,
// sense and data go back. What the drive never answers (its time-out fault)
// is held back, as a drive that hangs would, so that the kernel's own timer
// is the one that runs out.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>

#include "kerneldrive/tcmu_ring.h"

class CSimDrive;

class CTcmuDrive {
 public:
  // log: one line per command (CDB in hex, status), flushed each time;
  // may be null. hold: how long an unanswered command is withheld.
  CTcmuDrive(std::shared_ptr<CSimDrive> drive, std::FILE* log, std::chrono::milliseconds hold);

  TcmuReply Serve(const TcmuCommand& command);

 private:
  std::shared_ptr<CSimDrive> m_drive;
  std::FILE* m_log;
  std::chrono::milliseconds m_hold;
};

// True for the operation codes that carry data to the drive.
bool TcmuDataOut(uint8_t operationCode);
