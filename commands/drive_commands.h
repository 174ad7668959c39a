// The commands Velmo sends to a drive, apart from the enumeration INQUIRY:
// standard MMC commands and the two vendor-unique 0xFD commands. Each builds
// its CDB in a zero-filled 12-byte array and sends it through
// g_pDeviceManager to the selected drive. No state of their own: any thread
// may call them (the device manager keeps one command at a time per drive).
#pragma once

#include <cstdint>

#include "commands/disc_type.h"
#include "commands/speed_codes.h"
#include "device/scsi_exchange.h"

inline constexpr uint32_t kCommandTimeoutSeconds = 15;
inline constexpr uint32_t kSampleTimeoutSeconds = 30;

// A TE reading above 500 or an FE reading above 450 fails a sample; equal passes.
inline constexpr uint16_t kTeLimit = 500;
inline constexpr uint16_t kFeLimit = 450;

inline constexpr uint32_t kGetWriteSpeedsLength = 200;
inline constexpr uint32_t kAdipLength = 300;
inline constexpr uint32_t kPrerecordedLength = 44;
inline constexpr uint32_t kTefeReplyLength = 8;

// Where SampleOuterTrack samples: near the rim of the disc.
inline constexpr uint32_t kOuterTrackPsn = 0x260000;
inline constexpr uint32_t kOuterTrackPsnDualLayer = 0xDF0000;

inline constexpr uint8_t kDiagnosticEnter = 1;
inline constexpr uint8_t kDiagnosticLeave = 0;

// SampleOuterTrack results.
inline constexpr int kSampleNotRecommended = 0;
inline constexpr int kSampleFit = 1;
inline constexpr int kSampleFailed = 2;

// Any other command of the ordinary time-out, sent as the ones below are
// (again while the drive is busy); *sent gets the last exchange.
uint8_t SendDriveCommand(const uint8_t* cdb, uint8_t direction, void* buffer, uint32_t length,
                         ScsiExchange* sent = nullptr);

// Commands that take a ScsiExchange* fill it (when given) with the exchange
// they sent, for callers that need more than the yes or no: the host error
// of a failed transport call, the bytes moved.
bool DriveNotReady(ScsiExchange* sent = nullptr);
DiscTypeCode GetCurrentProfile();
// At least 200 bytes; *transferred (when given) gets the bytes the drive sent.
bool GetWriteSpeeds(uint8_t* buffer, uint32_t* transferred = nullptr);
bool ReadAdipInformation(uint8_t* buffer);         // at least 300 bytes
bool ReadPrerecordedInformation(uint8_t* buffer);  // at least 44 bytes
// READ DVD STRUCTURE format 0 (physical format information) of layer 0:
// at least kPhysicalFormatLength bytes; *transferred gets the bytes moved.
inline constexpr uint32_t kPhysicalFormatLength = 2052;
bool ReadPhysicalFormat(uint8_t* buffer, uint32_t* transferred);
// 1 enter, else leave (a failed leave asked again: kLeaveTries).
bool SetDiagnosticMode(uint8_t mode, ScsiExchange* sent = nullptr);
int SampleOuterTrack(SpeedCode speed);

// The TE/FE sample command for a speed code and a physical sector number
// (only its low 24 bits travel).
void BuildTefeSampleCdb(uint8_t cdb[12], SpeedCode speed, uint32_t psn);

struct TefeReading {
  bool valid = false;  // reply byte 0 was 0
  uint8_t status = 0;  // reply byte 0
  uint16_t te = 0;
  uint16_t fe = 0;
};

TefeReading DecodeTefeReply(const uint8_t reply[8]);

// How a sample command ended. Only kReading carries a reading: the drive
// answered GOOD, moved all 8 bytes, and its reply's status byte is 0.
enum class SampleAnswer : uint8_t {
  kReading,
  kInvalidReading,  // GOOD and 8 bytes, but the reply's status byte says no reading
  kShortReply,      // GOOD with fewer than 8 bytes moved
  kBusy,            // BUSY or TASK SET FULL through every try
  kOtherStatus,     // any other SCSI status without CHECK CONDITION
  kCheckCondition,  // the exchange holds the sense
  kTimedOut,
  kDriveGone,
  kTransportError,
};

// A drive that answers BUSY (or TASK SET FULL) to any command is asked again
// after a short pause, kBusyTries times in all, about a second together.
inline constexpr int kBusyTries = 5;
// A leave of the diagnostic mode that failed is sent again, kLeaveTries times
// in all (not to a drive that is gone or does not know the command).
inline constexpr int kLeaveTries = 3;

// What one exchange of the sample command means.
SampleAnswer ClassifySampleExchange(const ScsiExchange& exchange, const TefeReading& reading);

// Sends one sample command, again while the drive is busy; *sent (when
// given) gets the last exchange.
SampleAnswer TakeSample(SpeedCode speed, uint32_t psn, TefeReading* reading,
                        ScsiExchange* sent = nullptr);

// TakeSample that only tells whether it gave a reading.
bool TakeTefeSample(SpeedCode speed, uint32_t psn, TefeReading* reading,
                    ScsiExchange* sent = nullptr);

// One outer-track sample for a speed: where it was taken, what the drive
// read, and SampleOuterTrack's result for it.
struct OuterTrackSample {
  uint32_t psn = 0;
  TefeReading reading;  // valid only when result is not kSampleFailed
  int result = kSampleFailed;
  SampleAnswer answer = SampleAnswer::kTransportError;
  ScsiExchange exchange;  // the sample command's last exchange
};

OuterTrackSample TakeOuterTrackSample(SpeedCode speed);

// The tray. PREVENT ALLOW MEDIUM REMOVAL (0x1E) sets or clears the prevent
// bit (never the persistent one); START STOP UNIT (0x1B) with LoEj set and
// Start clear opens the tray, and is refused while removal is prevented, so
// an eject first allows removal. Immed is clear: the command returns once
// the tray has moved.
void BuildPreventAllowCdb(uint8_t cdb[12], bool prevent);
void BuildStartStopUnitCdb(uint8_t cdb[12], bool start, bool loadEject);
bool PreventMediumRemoval(bool prevent, ScsiExchange* sent = nullptr);
bool EjectMedium();  // allow removal, then START STOP UNIT LoEj
