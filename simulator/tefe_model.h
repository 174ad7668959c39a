// What the simulated drive measures when asked for a TE/FE sample: tracking
// error and focus error as a pure function of the disc, the physical sector,
// the write-speed code and a seed. Readings grow towards the rim, with speed
// and on the second layer; the noise is a hash of (seed, PSN, speed), so a
// reading never depends on the order in which samples are asked for.
#pragma once

#include <cstdint>

#include "simulator/sim_disc.h"

// Physical layout the drive firmware works in.
inline constexpr uint32_t kSimLayer0PsnStart = 0x30000;
inline constexpr uint32_t kSimLayer1PsnOffset = 0xBD5000;  // PSN = LBA + this on layer 1

// The first speed code the sample command takes (the lowest write speed).
inline constexpr uint8_t kSimFirstSpeedCode = 13;

// Data zone radii of a 120 mm disc.
inline constexpr double kSimInnerRadiusMm = 24.0;
inline constexpr double kSimOuterRadiusMm = 58.0;

// Reply status byte values of the sample command.
inline constexpr uint8_t kTefeStatusValid = 0x00;
inline constexpr uint8_t kTefeStatusOutsideDataZone = 0x01;
inline constexpr uint8_t kTefeStatusNotMeasurable = 0x02;
inline constexpr uint8_t kTefeStatusOutOfRange = 0x03;

// Readings outside this range (and any reading inside a scratch) mean the
// servo lost the track; the drive answers them with kTefeStatusOutOfRange
// rather than a number.
inline constexpr uint16_t kTefeMinReading = 60;
inline constexpr uint16_t kTefeMaxReading = 1500;

// Where a PSN lies on the disc.
struct TefePosition {
  bool inDataZone = false;
  uint8_t layer = 0;
  uint32_t lba = 0;
  double radiusMm = 0.0;
  double radial = 0.0;  // 0 at the inner edge of the data zone, 1 at the rim
};

TefePosition LocatePsn(const SimDisc& disc, uint32_t psn);

// The nominal multiple of a speed code (13 → 2.4 ... 19 → 16); 0 when the
// code is not one of 13..19.
double SpeedMultiple(uint8_t speedCode);

struct SimTefeReading {
  uint8_t status = kTefeStatusValid;  // reply byte 0
  uint8_t layer = 0;
  uint16_t te = 0;
  uint16_t fe = 0;
};

// One measurement. speedCode must be 13..19 (the drive checks the CDB first).
SimTefeReading MeasureTefe(const SimDisc& disc, uint32_t psn, uint8_t speedCode, uint32_t seed);
