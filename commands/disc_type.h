// Disc-type codes, as GetCurrentProfile derives them from the drive's current
// profile. Only DVD+R DL, DVD+R and DVD-R can be tested.
#pragma once

#include <cstdint>

using DiscTypeCode = uint8_t;

inline constexpr DiscTypeCode kDiscCdRom = 1;
inline constexpr DiscTypeCode kDiscCdR = 2;
inline constexpr DiscTypeCode kDiscCdRw = 3;
inline constexpr DiscTypeCode kDiscDvdRom = 4;
inline constexpr DiscTypeCode kDiscDvdPlusRDl = 5;
inline constexpr DiscTypeCode kDiscDvdPlusR = 6;
inline constexpr DiscTypeCode kDiscDvdPlusRw = 7;
inline constexpr DiscTypeCode kDiscDvdMinusR = 8;
inline constexpr DiscTypeCode kDiscDvdMinusRw = 9;
inline constexpr DiscTypeCode kDiscUnknown = 240;

// The disc type for the low byte of an MMC current profile.
DiscTypeCode DiscTypeFromProfile(uint8_t profileLowByte);

// The disc type in plain words ("DVD-ROM", "DVD+R DL"), for discs the test
// does not take too; "unknown" for a code not listed.
const char* DiscTypeName(DiscTypeCode type);
