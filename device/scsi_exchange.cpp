#include "device/scsi_exchange.h"

#include <cstdio>

std::string CdbText(const ScsiExchange& exchange) {
  std::string text;
  for (uint8_t i = 0; i < exchange.cdbLength; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", exchange.cdb[i]);
    text += byte;
  }
  return text;
}

std::array<uint8_t, kFixedSenseLength> FixedSense(SenseTriple triple) {
  std::array<uint8_t, kFixedSenseLength> sense{};
  sense[0] = 0x70;
  sense[2] = triple.key & 0x0F;
  sense[7] = 10;
  sense[12] = triple.asc;
  sense[13] = triple.ascq;
  return sense;
}

namespace {

// In the fixed-format sense's command-specific information (bytes 8 to 11),
// which both transports carry.
constexpr uint8_t kNotRecordedMark[4] = {'V', 'N', 'R', 'A'};
constexpr size_t kNotRecordedMarkAt = 8;

}  // namespace

void ScsiExchange::AnswerNotRecorded() {
  Answer(kScsiStatusCheckCondition, kSenseInvalidOpcode);
  std::memcpy(senseBytes.data() + kNotRecordedMarkAt, kNotRecordedMark, sizeof kNotRecordedMark);
}

bool ScsiExchange::AnswerNotRecordedMarked() const {
  return outcome == ExchangeOutcome::kCheckCondition &&
         senseLength >= kNotRecordedMarkAt + sizeof kNotRecordedMark &&
         std::memcmp(senseBytes.data() + kNotRecordedMarkAt, kNotRecordedMark,
                     sizeof kNotRecordedMark) == 0;
}

void ScsiExchange::Answer(uint8_t status, SenseTriple triple) {
  scsiStatus = status;
  if (status == kScsiStatusCheckCondition) {
    outcome = ExchangeOutcome::kCheckCondition;
    const auto fixed = FixedSense(triple);
    SetSense(fixed.data(), fixed.size());
  } else {
    outcome = ExchangeOutcome::kDone;
  }
}
