#include "simulator/tefe_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// One error signal of one quality class:
//   base + radial·ρ + speed·s + edge·rim(ρ)·gate(code) [+ layer1] ± noise
// with ρ the radial position (0 inner edge, 1 rim) and s the speed from
// 2.4X (0) to 16X (1).
struct SignalShape {
  double base;
  double radial;
  double speed;
  double edge;
  double layer1;
  double noise;
};

struct QualityShape {
  SignalShape te;
  SignalShape fe;
};

// Tuned so that good media keep ~80 units below the limits (TE 500, FE 450)
// everywhere, marginal media cross them only where the rim term is switched
// on (12X, 16X) and bad media cross them beyond the innermost fifth.
constexpr QualityShape kGoodShape{{200, 50, 60, 60, 25, 20}, {170, 40, 50, 50, 20, 20}};
constexpr QualityShape kMarginalShape{{270, 60, 60, 300, 25, 15}, {250, 50, 40, 220, 20, 15}};
constexpr QualityShape kBadShape{{520, 160, 60, 100, 30, 40}, {430, 130, 50, 80, 25, 35}};

// The rim term: off inside ρ = 0.84, fully on from ρ = 0.88 (the outer
// eighth of the data zone's radius), where the disc's warp and the
// groove's wobble stop being followed at high rotation.
constexpr double kRimKnee = 0.84;
constexpr double kRimWidth = 0.04;

// How much of the rim term each speed code feels: nothing up to 6X, a
// little at 8X and 10X, nearly all of it at 12X and 16X.
constexpr std::array<double, 7> kRimGate{0.0, 0.0, 0.0, 0.05, 0.15, 0.8, 1.0};
constexpr std::array<double, 7> kMultiples{2.4, 4, 6, 8, 10, 12, 16};

// Slow ripple along the radius (eccentricity, dye thickness), a few units.
constexpr double kRippleAmplitude = 8.0;
constexpr double kRippleCycles = 3.0;

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Uniform in [-1, 1], fixed by its inputs alone.
double Noise(uint32_t seed, uint32_t psn, uint8_t speedCode, uint8_t channel) {
  uint64_t h = Mix((static_cast<uint64_t>(seed) << 32) | psn);
  h = Mix(h ^ (static_cast<uint64_t>(speedCode) << 8 | channel));
  return static_cast<double>(h >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

double RadiusOf(double fraction) {
  // Constant linear density: the sector count grows with the area swept.
  constexpr double r0 = kSimInnerRadiusMm * kSimInnerRadiusMm;
  constexpr double r1 = kSimOuterRadiusMm * kSimOuterRadiusMm;
  return std::sqrt(r0 + fraction * (r1 - r0));
}

const QualityShape& ShapeOf(SimMediaQuality quality) {
  switch (quality) {
    case SimMediaQuality::kGood: return kGoodShape;
    case SimMediaQuality::kMarginal: return kMarginalShape;
    case SimMediaQuality::kBad: break;
  }
  return kBadShape;
}

double Signal(const SignalShape& shape, const TefePosition& where, size_t speedIndex, double ripple,
              double noise) {
  const double s =
      (kMultiples[speedIndex] - kMultiples.front()) / (kMultiples.back() - kMultiples.front());
  const double rim = std::clamp((where.radial - kRimKnee) / kRimWidth, 0.0, 1.0);
  double value = shape.base + shape.radial * where.radial + shape.speed * s +
                 shape.edge * rim * kRimGate[speedIndex] + ripple + shape.noise * noise;
  if (where.layer == 1) value += shape.layer1;
  return value;
}

}  // namespace

TefePosition LocatePsn(const SimDisc& disc, uint32_t psn) {
  TefePosition where;
  const uint64_t total = static_cast<uint64_t>(disc.lastLba) + 1;
  const uint64_t layer0 = disc.layers > 1 ? std::min<uint64_t>(disc.layer0Sectors, total) : total;
  if (layer0 == 0) return where;

  if (psn >= kSimLayer0PsnStart && psn - kSimLayer0PsnStart < layer0) {
    where.lba = psn - kSimLayer0PsnStart;
    where.layer = 0;
    where.radiusMm = RadiusOf(static_cast<double>(where.lba) / static_cast<double>(layer0));
  } else if (disc.layers > 1 && psn >= kSimLayer1PsnOffset + layer0 &&
             psn - kSimLayer1PsnOffset < total) {
    where.lba = psn - kSimLayer1PsnOffset;
    where.layer = 1;
    const uint64_t layer1 = total - layer0;
    const double fromRim = static_cast<double>(where.lba - layer0) / static_cast<double>(layer1);
    where.radiusMm = RadiusOf(1.0 - fromRim);
  } else {
    return where;
  }
  where.inDataZone = true;
  where.radial = (where.radiusMm - kSimInnerRadiusMm) / (kSimOuterRadiusMm - kSimInnerRadiusMm);
  return where;
}

double SpeedMultiple(uint8_t speedCode) {
  if (speedCode < kSimFirstSpeedCode || speedCode >= kSimFirstSpeedCode + kMultiples.size())
    return 0.0;
  return kMultiples[speedCode - kSimFirstSpeedCode];
}

SimTefeReading MeasureTefe(const SimDisc& disc, uint32_t psn, uint8_t speedCode, uint32_t seed) {
  SimTefeReading reading;
  if (!disc.measurable) {
    reading.status = kTefeStatusNotMeasurable;
    return reading;
  }
  const TefePosition where = LocatePsn(disc, psn);
  if (!where.inDataZone) {
    reading.status = kTefeStatusOutsideDataZone;
    return reading;
  }
  reading.layer = where.layer;
  const size_t speedIndex = std::min<size_t>(
      speedCode < kSimFirstSpeedCode ? 0 : speedCode - kSimFirstSpeedCode, kMultiples.size() - 1);

  if (disc.scratchWidthMm > 0.0 &&
      std::fabs(where.radiusMm - disc.scratchRadiusMm) <= disc.scratchWidthMm / 2.0) {
    reading.status = kTefeStatusOutOfRange;
    return reading;
  }

  const QualityShape& shape = ShapeOf(disc.quality);
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  const double phase = static_cast<double>(seed % 1024) / 1024.0 * kTwoPi;
  const double ripple = kRippleAmplitude * std::sin(kTwoPi * kRippleCycles * where.radial + phase);
  const double te = Signal(shape.te, where, speedIndex, ripple, Noise(seed, psn, speedCode, 0));
  const double fe = Signal(shape.fe, where, speedIndex, -ripple, Noise(seed, psn, speedCode, 1));

  if (te < kTefeMinReading || te > kTefeMaxReading || fe < kTefeMinReading ||
      fe > kTefeMaxReading) {
    reading.status = kTefeStatusOutOfRange;
    return reading;
  }
  reading.te = static_cast<uint16_t>(std::lround(te));
  reading.fe = static_cast<uint16_t>(std::lround(fe));
  return reading;
}
