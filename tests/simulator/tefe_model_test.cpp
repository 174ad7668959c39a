#include "simulator/tefe_model.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim_test_util.h"
#include "simulator/sim_disc_catalogue.h"

namespace {

constexpr uint16_t kTeLimit = 500;
constexpr uint16_t kFeLimit = 450;
constexpr uint8_t kSlowest = 13;
constexpr uint8_t kFastest = 19;
constexpr uint8_t k10X = 17;

// Every PSN of the data zone, 8192 sectors apart, plus the last one.
std::vector<uint32_t> DataZone(const SimDisc& disc) {
  std::vector<uint32_t> psns;
  const uint32_t layer0 = disc.layers > 1 ? disc.layer0Sectors : disc.lastLba + 1;
  for (uint32_t lba = 0; lba < layer0; lba += 8192) psns.push_back(kSimLayer0PsnStart + lba);
  psns.push_back(kSimLayer0PsnStart + layer0 - 1);
  if (disc.layers > 1)
    for (uint32_t lba = layer0; lba <= disc.lastLba; lba += 8192)
      psns.push_back(kSimLayer1PsnOffset + lba);
  return psns;
}

bool Fails(const SimTefeReading& r) { return r.te > kTeLimit || r.fe > kFeLimit; }

TEST(TefeGeometry, PsnToRadius) {
  const SimDisc& single = Disc("dvd+r-novadisc");
  const TefePosition inner = LocatePsn(single, 0x30000);
  ASSERT_TRUE(inner.inDataZone);
  EXPECT_NEAR(inner.radiusMm, kSimInnerRadiusMm, 0.01);
  EXPECT_NEAR(LocatePsn(single, 0x30000 + single.lastLba).radiusMm, kSimOuterRadiusMm, 0.01);
  EXPECT_GT(LocatePsn(single, 0x260000).radial, 0.99);  // the outer-track sample point
  EXPECT_FALSE(LocatePsn(single, 0x2FFFF).inDataZone);
  EXPECT_FALSE(LocatePsn(single, 0x30000 + single.lastLba + 1).inDataZone);

  const SimDisc& dual = Disc("dvd+r-dl-strata");
  const TefePosition layer1Start = LocatePsn(dual, kSimLayer1PsnOffset + dual.layer0Sectors);
  ASSERT_TRUE(layer1Start.inDataZone);
  EXPECT_EQ(layer1Start.layer, 1);
  EXPECT_NEAR(layer1Start.radiusMm, kSimOuterRadiusMm, 0.01);  // layer 1 starts at the rim
  EXPECT_NEAR(LocatePsn(dual, kSimLayer1PsnOffset + dual.lastLba).radiusMm, kSimInnerRadiusMm,
              0.01);
  const TefePosition rim = LocatePsn(dual, 0xDF0000);
  EXPECT_EQ(rim.layer, 1);
  EXPECT_GT(rim.radial, 0.9);
  EXPECT_FALSE(LocatePsn(dual, 0x30000 + dual.layer0Sectors).inDataZone);
  EXPECT_FALSE(LocatePsn(dual, kSimLayer1PsnOffset + dual.layer0Sectors - 1).inDataZone);
}

TEST(TefeQuality, GoodMediaPassEverywhereWithMargin) {
  for (const SimDisc& disc : SimDiscCatalogue()) {
    if (!disc.measurable || disc.quality != SimMediaQuality::kGood || disc.scratchWidthMm > 0)
      continue;
    for (uint8_t speed = kSlowest; speed <= kFastest; ++speed)
      for (uint32_t psn : DataZone(disc)) {
        const SimTefeReading r = MeasureTefe(disc, psn, speed, 7);
        ASSERT_EQ(r.status, kTefeStatusValid) << disc.name << " psn " << psn;
        ASSERT_LE(r.te, kTeLimit - 40) << disc.name << " psn " << psn << " speed " << int(speed);
        ASSERT_LE(r.fe, kFeLimit - 40) << disc.name << " psn " << psn << " speed " << int(speed);
      }
  }
}

TEST(TefeQuality, MarginalFailsOnlyAtHighSpeedNearTheRim) {
  for (const char* name : {"dvd+r-orbtek", "dvd+r-dl-orbtek"}) {
    const SimDisc& disc = Disc(name);
    for (uint8_t speed = kSlowest; speed <= kFastest; ++speed) {
      int rimFailures = 0, rimSamples = 0;
      for (uint32_t psn : DataZone(disc)) {
        const double radial = LocatePsn(disc, psn).radial;
        const bool fails = Fails(MeasureTefe(disc, psn, speed, 3));
        if (speed <= k10X || radial < 0.84) {
          ASSERT_FALSE(fails) << name << " psn " << psn << " speed " << int(speed);
        } else if (radial >= 0.88) {
          ++rimSamples;
          rimFailures += fails;
        }
      }
      if (speed > k10X) {
        EXPECT_GT(rimSamples, 0) << name;
        EXPECT_EQ(rimFailures, rimSamples) << name << " speed " << int(speed);
      }
    }
    // The outer-track point Smart Scan uses.
    const uint32_t outer = disc.layers > 1 ? 0xDF0000 : 0x260000;
    EXPECT_FALSE(Fails(MeasureTefe(disc, outer, k10X, 1))) << name;
    EXPECT_TRUE(Fails(MeasureTefe(disc, outer, k10X + 1, 1))) << name;
    EXPECT_TRUE(Fails(MeasureTefe(disc, outer, kFastest, 1))) << name;
  }
}

TEST(TefeQuality, BadMediaFailBroadlyAtEverySpeed) {
  const SimDisc& disc = Disc("dvd+r-kairo");
  for (uint8_t speed = kSlowest; speed <= kFastest; ++speed) {
    int failures = 0;
    const std::vector<uint32_t> psns = DataZone(disc);
    for (uint32_t psn : psns) failures += Fails(MeasureTefe(disc, psn, speed, 5));
    EXPECT_GT(failures * 10, static_cast<int>(psns.size()) * 8) << int(speed);
  }
}

TEST(TefeQuality, ReadingsStayPlausibleAndGrowOutwardAndWithSpeed) {
  for (const SimDisc& disc : SimDiscCatalogue()) {
    if (!disc.measurable || disc.lastLba == 0) continue;
    const std::vector<uint32_t> psns = DataZone(disc);
    double inner = 0, outer = 0, slow = 0, fast = 0;
    int innerCount = 0, outerCount = 0;
    for (uint32_t psn : psns) {
      const double radial = LocatePsn(disc, psn).radial;
      for (uint8_t speed : {kSlowest, kFastest}) {
        const SimTefeReading r = MeasureTefe(disc, psn, speed, 11);
        if (r.status != kTefeStatusValid) continue;  // the scratch
        ASSERT_GE(r.te, 100) << disc.name;
        ASSERT_LE(r.te, 1200) << disc.name;
        ASSERT_GE(r.fe, 100) << disc.name;
        ASSERT_LE(r.fe, 1200) << disc.name;
        (speed == kSlowest ? slow : fast) += r.te;
        if (radial < 0.3) inner += r.te, ++innerCount;
        if (radial > 0.7) outer += r.te, ++outerCount;
      }
    }
    EXPECT_GT(outer / outerCount, inner / innerCount) << disc.name;
    EXPECT_GT(fast, slow) << disc.name;
  }
}

TEST(TefeNoise, DeterministicPerSeedPsnAndSpeed) {
  const SimDisc& disc = Disc("dvd+r-novadisc");
  const SimTefeReading first = MeasureTefe(disc, 0x123456, 16, 42);
  MeasureTefe(disc, 0x100000, 13, 42);  // other samples in between change nothing
  const SimTefeReading again = MeasureTefe(disc, 0x123456, 16, 42);
  EXPECT_EQ(first.te, again.te);
  EXPECT_EQ(first.fe, again.fe);

  int seedDiffers = 0, neighbourDiffers = 0;
  for (uint32_t psn = 0x100000; psn < 0x100000 + 64; ++psn) {
    const SimTefeReading a = MeasureTefe(disc, psn, 16, 42);
    seedDiffers += a.te != MeasureTefe(disc, psn, 16, 43).te;
    neighbourDiffers += a.te != MeasureTefe(disc, psn + 1, 16, 42).te;
  }
  EXPECT_GT(seedDiffers, 32);
  EXPECT_GT(neighbourDiffers, 32);
}

TEST(TefeStatus, UnmeasurableOutsideAndScratched) {
  EXPECT_EQ(MeasureTefe(Disc("cd-r"), 0x40000, 13, 1).status, kTefeStatusNotMeasurable);
  EXPECT_EQ(MeasureTefe(Disc("dvd+r-novadisc"), 0x10, 13, 1).status, kTefeStatusOutsideDataZone);
  const SimDisc& scratched = Disc("dvd+r-scratched");
  int hit = 0;
  for (uint32_t psn : DataZone(scratched)) {
    const TefePosition where = LocatePsn(scratched, psn);
    const bool inBand =
        std::abs(where.radiusMm - scratched.scratchRadiusMm) <= scratched.scratchWidthMm / 2;
    const SimTefeReading r = MeasureTefe(scratched, psn, 13, 1);
    EXPECT_EQ(r.status != kTefeStatusValid, inBand) << psn;
    hit += inBand;
  }
  EXPECT_GT(hit, 0);
}

}  // namespace
