#include "device/sense.h"

#include <cstdio>

#include "device/mmc_vocabulary.h"

SenseInfo DecodeSense(const uint8_t* sense, size_t length) {
  SenseInfo info;
  if (sense == nullptr || length < 1) return info;
  const uint8_t code = sense[0] & 0x7F;
  if (code == 0x70 || code == 0x71) {
    if (length < 3) return info;
    info.key = sense[2] & 0x0F;
    // The additional length says how much of the block the drive filled.
    const size_t filled = length >= 8 ? 8u + sense[7] : length;
    if (length > 12 && filled > 12) info.asc = sense[12];
    if (length > 13 && filled > 13) info.ascq = sense[13];
    info.valid = true;
  } else if (code == 0x72 || code == 0x73) {
    if (length < 4) return info;
    info.key = sense[1] & 0x0F;
    info.asc = sense[2];
    info.ascq = sense[3];
    info.valid = true;
  }
  return info;
}

std::string FormatSense(const SenseInfo& info) {
  if (!info.valid) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%X/%02X/%02X", info.key, info.asc, info.ascq);
  return text;
}

std::string SenseMeaning(const SenseInfo& info) {
  static const struct {
    SenseTriple sense;
    const char* meaning;
  } kMeanings[] = {
      {kSenseNoMedium, "medium not present"},
      {kSenseBecomingReady, "becoming ready"},
      {kSenseInvalidOpcode, "invalid command operation code"},
      {kSenseInvalidField, "invalid field in CDB"},
      {kSenseSequenceError, "command sequence error"},
      {kSenseIncompatibleMedium, "incompatible medium"},
      {kSenseMediumChanged, "medium may have changed"},
      {kSenseRemovalPrevented, "medium removal prevented"},
      {kSenseLunNotSupported, "logical unit not supported"},
      {kSenseAbortedCommand, "aborted command"},
  };
  if (!info.valid) return "";
  for (const auto& entry : kMeanings) {
    if (entry.sense.key == info.key && entry.sense.asc == info.asc &&
        entry.sense.ascq == info.ascq) {
      return entry.meaning;
    }
  }
  return "";
}
