// Speed codes: the write speed at which the drive takes a TE/FE sample, sent
// in byte 7 of the sample command. 13 to 19 stand for 2.4X to 16X.
#pragma once

#include <cstdint>

using SpeedCode = uint8_t;

inline constexpr SpeedCode kSpeed2_4X = 13;
inline constexpr SpeedCode kSpeed4X = 14;
inline constexpr SpeedCode kSpeed6X = 15;
inline constexpr SpeedCode kSpeed8X = 16;
inline constexpr SpeedCode kSpeed10X = 17;
inline constexpr SpeedCode kSpeed12X = 18;
inline constexpr SpeedCode kSpeed16X = 19;
