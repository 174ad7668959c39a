// Sense data decoding, in one place for every transport: fixed format (response
// codes 0x70 / 0x71) and descriptor format (0x72 / 0x73).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SenseInfo {
  bool valid = false;
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};

// Decodes up to length bytes; anything too short or of an unknown response
// code gives an invalid SenseInfo.
SenseInfo DecodeSense(const uint8_t* sense, size_t length);

// "5/24/00" style text for traces and messages; "-" when not valid.
std::string FormatSense(const SenseInfo& info);

// What the drive meant, in the standard's words ("invalid field in CDB"),
// for the answers Velmo's commands meet; empty for any other.
std::string SenseMeaning(const SenseInfo& info);
