// One simulated optical drive: what a drive's firmware does with a CDB. The
// simulated host (sim_host.h) routes both transports to it.
//
// Threads: Execute and the tray / fault controls may be called from any
// thread; the drive runs one command at a time, as a real drive does.
#pragma once

#include <array>
#include <cstdint>

// One exchange as the drive sees it.
struct SimCommand {
  const uint8_t* cdb = nullptr;
  uint8_t cdbLength = 0;  // bytes of cdb actually sent (6, 10, 12 or 16)
  uint8_t direction = 0;  // 0 none, 1 data out, 2 data in
  uint8_t* data = nullptr;
  uint32_t dataLength = 0;
  uint32_t timeoutMs = 0;
};

enum class SimTransport {
  kCompleted,  // the drive answered: see scsiStatus
  kTimedOut,   // no answer within timeoutMs
  kGone,       // the drive is no longer attached
};

struct SimReply {
  SimTransport transport = SimTransport::kCompleted;
  uint8_t scsiStatus = 0;  // 0 GOOD, 2 CHECK CONDITION, 8 BUSY
  std::array<uint8_t, 18> sense{};  // fixed-format sense data when senseLength > 0
  uint8_t senseLength = 0;
  uint32_t transferred = 0;  // bytes of data actually moved, never above dataLength
};
