// ScsiExchange: one command sent to a drive and what came of it, as one value.
// The request half (CDB, direction, data span, time-out) is filled by whoever
// sends; the outcome half (outcome, SCSI status, sense, bytes moved, host
// error) by whoever answers: the device manager from the transport's reply,
// a simulated drive or a scripted test drive from its firmware model. The
// command trace prints an exchange; the simulated host passes one from its
// request blocks to the device behind a volume or target and back.
//
// Threads: a plain value; one exchange belongs to the thread sending it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "device/mmc_vocabulary.h"
#include "device/sense.h"

// ExecuteCommand's results.
inline constexpr uint8_t kStatusDone = 0;
inline constexpr uint8_t kStatusFailed = 1;
inline constexpr uint8_t kStatusTimedOut = 255;

enum class ExchangeOutcome : uint8_t {
  kDone,            // the drive answered without CHECK CONDITION (BUSY included)
  kCheckCondition,  // the drive answered CHECK CONDITION: see sense
  kTimedOut,        // no answer within the time-out
  kDriveGone,       // the drive is no longer attached
  kTransportError,  // the transport failed otherwise: see hostError
};

// Fixed-format sense as drives send it: 18 bytes.
inline constexpr uint8_t kFixedSenseLength = 18;

struct ScsiExchange {
  // Request.
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 0;  // bytes of cdb that travel (6, 10, 12 or 16)
  uint8_t direction = kDirectionNone;
  uint8_t* data = nullptr;
  uint32_t dataLength = 0;
  std::chrono::milliseconds timeout{0};  // 0: no limit

  // Outcome.
  ExchangeOutcome outcome = ExchangeOutcome::kDone;
  uint8_t scsiStatus = 0;
  SenseInfo sense;                       // decoded, valid on CHECK CONDITION
  std::array<uint8_t, 32> senseBytes{};  // the sense data as it came
  uint8_t senseLength = 0;
  uint32_t transferred = 0;  // data bytes moved, as far as the transport reports it
  uint32_t hostError = 0;    // error of a failed pass-through call (GetLastError), else 0
  uint16_t aspiStatus = 0;   // ASPI: request status | host adapter status << 8

  // Copies the first length bytes of a CDB.
  void SetCdb(const uint8_t* bytes, uint8_t length) {
    cdbLength = length > cdb.size() ? static_cast<uint8_t>(cdb.size()) : length;
    if (cdbLength > 0) std::memcpy(cdb.data(), bytes, cdbLength);  // an empty CDB may be null
  }

  // Sense bytes as they came (cut to what fits) and their decoding.
  void SetSense(const uint8_t* bytes, size_t length) {
    senseLength = static_cast<uint8_t>(length > senseBytes.size() ? senseBytes.size() : length);
    if (senseLength > 0) std::memcpy(senseBytes.data(), bytes, senseLength);
    sense = DecodeSense(bytes, length);
  }

  // A drive's answer: SCSI status, and the fixed-format sense of a CHECK
  // CONDITION.
  void Answer(uint8_t status, SenseTriple sense = kSenseNone);

  // A replayed drive's answer to a command its recording holds no answer for:
  // ILLEGAL REQUEST (5/20/00), marked in the sense's command-specific bytes
  // so that a run can tell it from a drive that refused the command.
  void AnswerNotRecorded();
  bool AnswerNotRecordedMarked() const;

  bool Done() const { return outcome == ExchangeOutcome::kDone; }
  // Data bytes moved, never more than the data span.
  uint32_t Moved() const { return transferred < dataLength ? transferred : dataLength; }

  // ExecuteCommand's 0 done, 1 failed, 255 timed out.
  uint8_t Status() const {
    switch (outcome) {
      // An ASPI request that did not end SS_COMP (0x01) failed, whatever the
      // drive answered.
      case ExchangeOutcome::kDone:
        return aspiStatus != 0 && (aspiStatus & 0xFF) != 0x01 ? kStatusFailed : kStatusDone;
      case ExchangeOutcome::kTimedOut: return kStatusTimedOut;
      default: return kStatusFailed;
    }
  }
};

// The CDB bytes that travel, in hex: "FD F2 56 ...", as the trace and
// velmo-cli recover show them.
std::string CdbText(const ScsiExchange& exchange);

// The 18-byte fixed-format sense for a sense triple.
std::array<uint8_t, kFixedSenseLength> FixedSense(SenseTriple sense);
