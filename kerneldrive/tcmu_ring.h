// The command ring of the kernel's user-space SCSI backstore, read and
// answered in place. The kernel shares one mapping with us: a mailbox at
// offset 0, the ring of entries at cmdr_off, and data buffers after it,
// which entries name by offset from the start of the mapping.
//
// Nothing in the mapping is trusted: every offset, length and count is
// checked against the mapping before it is followed, and a ring that makes
// no sense is left alone (Drain reports it) rather than walked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "device/mmc_vocabulary.h"

// One data buffer of a command, inside the mapping.
struct TcmuBuffer {
  uint8_t* data = nullptr;
  size_t length = 0;
};

struct TcmuCommand {
  uint16_t id = 0;
  const uint8_t* cdb = nullptr;
  uint8_t cdbLength = 0;
  size_t cdbRoom = 0;               // bytes readable at cdb: cdbLength or more (at most 16)
  std::vector<TcmuBuffer> buffers;  // in order; together the transfer
  size_t dataLength = 0;            // sum of the buffers' lengths
};

struct TcmuReply {
  uint8_t scsiStatus = 0;
  std::array<uint8_t, 96> sense{};
  uint8_t senseLength = 0;
};

struct TcmuDrainResult {
  unsigned commands = 0;        // answered
  unsigned taskManagement = 0;  // abort / reset notices seen
  unsigned skipped = 0;         // padding and entries of kinds we do not know
  bool malformed = false;       // the ring or an entry broke its rules: walking stopped there
};

// Largest transfer one command may claim; beyond it the command is refused.
inline constexpr size_t kTcmuMaxTransfer = 16u << 20;

// Bytes of a CDB in the ring, as the kernel sizes it from the operation
// code's group (6, 10, 12 or 16; 10 for the vendor groups); 0 for
// variable-length CDBs.
uint8_t TcmuCdbLength(uint8_t operationCode);

class CTcmuRing {
 public:
  // map: the whole shared mapping; size: its length in bytes.
  CTcmuRing(uint8_t* map, size_t size) : m_map(map), m_size(size) {}

  // True when the mailbox describes a ring that lies inside the mapping.
  bool Valid() const;

  // Answers every entry between the ring's tail and head with serve, writes
  // each reply into its entry and moves the tail past it. A command whose
  // buffers or CDB lie outside the mapping is answered CHECK CONDITION
  // without calling serve.
  TcmuDrainResult Drain(const std::function<TcmuReply(const TcmuCommand&)>& serve);

 private:
  uint8_t* m_map;
  size_t m_size;
};

// Gathers a command's buffers into out (data sent to the drive) and
// scatters in back over them (data the drive returns); at most size bytes.
void TcmuGather(const TcmuCommand& command, uint8_t* out, size_t size);
void TcmuScatter(const TcmuCommand& command, const uint8_t* in, size_t size);

// A reply of CHECK CONDITION with fixed-format sense.
TcmuReply TcmuCheckCondition(SenseTriple sense);
