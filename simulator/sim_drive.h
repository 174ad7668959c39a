// One simulated optical drive: what a drive's firmware does with a CDB. The
// simulated host (sim_host.h) routes both transports to it.
//
// Threads: Execute and the tray / fault controls may be called from any
// thread; the drive runs one command at a time, as a real drive does.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commands/vendor_code.h"
#include "device/scsi_exchange.h"
#include "device/thread_annotations.h"
#include "simulator/sim_disc.h"
#include "simulator/sim_fault.h"

inline constexpr uint8_t kSimDeviceTypeOptical = 5;

// Tray timing reads this clock; latencies always run on real time.
using SimClock = std::function<std::chrono::steady_clock::time_point()>;

struct SimDriveConfig {
  // INQUIRY identity, blank padded (or cut) to 8, 16 and 4 bytes.
  std::string vendor = "VELMO";
  std::string product = "DVDRW VX-2016";
  std::string revision = "1.02";
  std::string firmwareDate = "2016/05/23";  // vendor-specific INQUIRY bytes 36..55
  // The unit serial number page; empty: the drive has none and refuses it.
  std::string serial = "VX16A0417";
  uint16_t bufferKiB = 2048;  // the capabilities page's buffer size
  // 5 for a CD/DVD drive. Any other type answers only INQUIRY, TEST UNIT
  // READY and REQUEST SENSE, as a disk on the same bus would.
  uint8_t deviceType = kSimDeviceTypeOptical;
  // False: the firmware knows no vendor command and refuses any 0xFD with
  // 5/20/00, as another maker's drive does.
  bool diagnosticMode = true;
  std::string accessCode = kVendorAccessCode;

  std::chrono::milliseconds sampleLatency{40};  // one TE/FE measurement
  std::chrono::milliseconds commandLatency{2};  // every other command
  // After a disc lands in the tray the drive reports "becoming ready"
  // (2/04/01) for this long.
  std::chrono::milliseconds spinUp{0};
  // One UNIT ATTENTION 6/28/00 (medium may have changed) to the first
  // command after a disc became ready. Off by default.
  bool reportMediumChange = false;

  uint32_t seed = 1;  // TE/FE noise
  // The noise also follows the disc's name, so two discs in one drive (or
  // one disc in two drives) read differently, and the same again next run.
  bool seedPerDisc = false;
  // A feeder: each time START STOP UNIT opens the tray, the next of these
  // discs lands feedDelay later (then spins up as any disc does).
  std::vector<SimDisc> feed;
  std::chrono::milliseconds feedDelay{500};
  std::vector<SimFault> faults;
  SimClock clock;  // empty: std::chrono::steady_clock::now
};

// One command as the drive received it, with what it answered (its data
// pointer cleared).
using SimLoggedCommand = ScsiExchange;

// The firmware of one drive. Execute checks each CDB as a drive does
// (operation code, CDB length, fields, vendor access code, diagnostic mode,
// medium state) and answers with status, fixed-format sense and data; it
// never writes more than dataLength bytes, nor any byte unless the direction
// is data in. Sense: 5/20/00 unknown operation code (and every 0xFD on a
// drive without the diagnostic mode), 5/24/00 a wrong CDB length or field
// (a wrong vendor access code included), 5/2C/00 a sample outside diagnostic
// mode, 2/3A/00 no disc, 2/04/01 disc spinning up, 5/30/02 a DVD structure
// asked of a medium that is no DVD. The sample command accepts speed codes
// 13..19 whatever the disc offers (the drive can spin at any of its speeds);
// an address outside the disc's data zone gives reply status 1.
// A timeoutMs of 0 sets no limit.
//
// Threads: every method may be called from any thread. Commands run one at a
// time; a command waiting out its latency wakes early when the tray or the
// attachment changes (Eject, InsertDisc, Detach).
class CSimDrive {
 public:
  static constexpr size_t kLogCapacity = 4096;

  explicit CSimDrive(SimDriveConfig config = {});
  ~CSimDrive();
  CSimDrive(const CSimDrive&) = delete;
  CSimDrive& operator=(const CSimDrive&) = delete;

  // Answers the exchange: fills in its outcome and, for data in, its data.
  void Execute(ScsiExchange& exchange);

  uint8_t DeviceType() const { return m_deviceType; }

  // Tray. The disc lands after delay (the tray reads empty until then) and
  // then spins up for the config's spinUp. Inserting over a disc changes it.
  void InsertDisc(const SimDisc& disc, std::chrono::milliseconds delay = {});
  void Eject();
  std::string DiscName() const;  // the disc in or landing in the tray; empty if none
  bool DiscReady() const;

  // Attachment: a detached drive answers kGone; attaching again is a power
  // cycle (diagnostic mode left).
  void Detach();
  void Attach();
  bool Attached() const;

  // Faults armed now count their trigger from the next command on.
  void AddFault(const SimFault& fault);
  void ClearFaults();
  void SetSampleLatency(std::chrono::milliseconds latency);
  void SetCommandLatency(std::chrono::milliseconds latency);

  bool InDiagnosticMode() const;
  bool RemovalPrevented() const;
  size_t FeedLeft() const;  // feeder discs not yet inserted

  // The last kLogCapacity commands, oldest first; counts cover every command
  // since construction or the last ClearCommandLog.
  std::vector<SimLoggedCommand> CommandLog() const;
  uint32_t CommandCount(SimCommandClass commandClass) const;
  uint32_t OpcodeCount(uint8_t opcode) const;
  void ClearCommandLog();

 private:
  struct ArmedFault {
    SimFault fault;
    uint32_t seen = 0;
  };
  struct Outcome;
  enum class Medium { kEmpty, kBecomingReady, kReady };

  std::chrono::steady_clock::time_point Now() const;
  // Everything a command does runs with m_lock held.
  Medium MediumState() const REQUIRES(m_lock);
  // Waits up to duration on real time, letting go of m_lock meanwhile; false
  // when woken by a tray or attachment change.
  bool Pause(std::chrono::milliseconds duration) REQUIRES(m_lock);
  void Run(ScsiExchange& command) REQUIRES(m_lock);
  void RunCommand(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunVendor(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunSample(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunStartStop(const uint8_t* cdb, Outcome& out) REQUIRES(m_lock);
  void RunTestUnitReady(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunRequestSense(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunInquiry(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunGetConfiguration(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunGetPerformance(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunReadDvdStructure(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunPreventAllow(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunReadCapacity(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunReadDiscInformation(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunReadTrackInformation(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunModeSense(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);
  void RunStartStopUnit(const ScsiExchange& command, Outcome& out) REQUIRES(m_lock);

  // One row of the opcode table (sim_drive.cpp): class, who answers it, and
  // the handler that runs it (with m_lock held).
  using Handler = void (CSimDrive::*)(const ScsiExchange&, Outcome&);
  struct OpcodeEntry {
    uint8_t opcode;
    SimCommandClass commandClass;
    bool opticalOnly;
    Handler run;
  };
  static const OpcodeEntry kOpcodes[];  // one row per kOperationCodes, in its order
  static const OpcodeEntry* FindOpcode(uint8_t opcode);
  static SimCommandClass Classify(const uint8_t* cdb, uint8_t length);
  bool CheckMedium(Outcome& out) const REQUIRES(m_lock);
  void Log(const ScsiExchange& exchange) REQUIRES(m_lock);

  const SimDriveConfig m_config;
  const uint8_t m_deviceType;
  const SimClock m_clock;

  std::mutex m_commandLock;  // one command at a time
  mutable Mutex m_lock;      // everything below
  CondVar m_wake;
  uint64_t m_epoch GUARDED_BY(m_lock) = 0;  // bumped by every tray or attachment change

  std::optional<SimDisc> m_disc GUARDED_BY(m_lock);
  std::chrono::steady_clock::time_point m_landsAt GUARDED_BY(m_lock){};
  std::chrono::steady_clock::time_point m_readyAt GUARDED_BY(m_lock){};
  uint64_t m_discGeneration GUARDED_BY(m_lock) = 0;
  // The disc generation whose UNIT ATTENTION went out.
  uint64_t m_attentionGiven GUARDED_BY(m_lock) = 0;

  bool m_attached GUARDED_BY(m_lock) = true;
  bool m_diagnostic GUARDED_BY(m_lock) = false;
  bool m_prevented GUARDED_BY(m_lock) = false;
  std::deque<SimDisc> m_feed GUARDED_BY(m_lock);
  std::chrono::milliseconds m_sampleLatency GUARDED_BY(m_lock);
  std::chrono::milliseconds m_commandLatency GUARDED_BY(m_lock);
  std::vector<ArmedFault> m_faults GUARDED_BY(m_lock);

  std::deque<SimLoggedCommand> m_log GUARDED_BY(m_lock);
  std::array<uint32_t, 256> m_opcodeCounts GUARDED_BY(m_lock){};
  std::array<uint32_t, kSimCommandClassCount> m_classCounts GUARDED_BY(m_lock){};
};
