// Faults a simulated drive can be told to show: data, armed on a drive (in
// its config or later with CSimDrive::AddFault) and fired by a trigger that
// counts the commands of one class the drive has received.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// Commands as the drive tells them apart for triggers and counts; kAny
// counts every command (a fault on the n-th exchange of whatever kind).
enum class SimCommandClass : uint8_t {
  kAny,
  kInquiry,
  kTestUnitReady,
  kRequestSense,
  kGetConfiguration,
  kGetPerformance,
  kReadDvdStructure,
  kDiagnosticMode,  // FD F1 / FD F2
  kTefeSample,      // FD FB
  kOther,           // keep last: it sizes the counters
};
inline constexpr size_t kSimCommandClassCount = static_cast<size_t>(SimCommandClass::kOther) + 1;

enum class SimFaultKind : uint8_t {
  // CHECK CONDITION with the fault's sense, before the command runs (an old
  // firmware that does not know the sample command: 5/24/00).
  kCheckCondition,
  // SCSI status BUSY, no data.
  kBusy,
  // No answer: the drive stalls for `stall` (capped by the command's
  // time-out) and the exchange ends with SimTransport::kTimedOut.
  kTimeOut,
  // The drive leaves the bus: kGone for this and every later command.
  kGone,
  // The disc leaves the tray before the command runs (it then fails as any
  // command does on an empty tray: 2/3A/00).
  kEject,
  // The reply is replaced by 0xFF over the whole data buffer.
  kAllOnes,
  // Only `value` bytes of the reply are transferred.
  kShortTransfer,
  // The reply's length header holds `value` (32-bit for GET PERFORMANCE and
  // GET CONFIGURATION, 16-bit for READ DVD STRUCTURE) whatever was sent:
  // more than sent, or below the header's own size.
  // Other replies have no such header and are left as they are.
  kHeaderLength,
  // The sample reply's status byte is `value` (non-zero: readings invalid).
  kSampleStatus,
};

struct SimFault {
  SimFaultKind kind = SimFaultKind::kCheckCondition;
  SimCommandClass target = SimCommandClass::kTefeSample;
  uint32_t fromNth = 1;  // the first hit: the n-th command of the class (1-based)
  uint32_t times = 0;    // hits in all; 0: every command of the class from then on
  uint8_t senseKey = 0x05;
  uint8_t asc = 0x24;
  uint8_t ascq = 0x00;
  uint32_t value = 0;
  std::chrono::milliseconds stall{0};
};
