// The statistics of a run: nearest-rank percentile, limits, worst sample,
// per layer and whole.
#include "records/record_statistics.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

std::vector<RecordSample> Samples(const std::vector<std::pair<int, int>>& readings, int layer = 0,
                                  int32_t firstLba = 0) {
  std::vector<RecordSample> samples;
  int32_t lba = firstLba;
  for (const auto& [te, fe] : readings) {
    samples.push_back(RecordSample{lba, lba + 0x30000, layer, static_cast<uint16_t>(te),
                                   static_cast<uint16_t>(fe), te <= 500 && fe <= 450});
    lba += 16384;
  }
  return samples;
}

TEST(RecordStatistics, NearestRankPercentileMaxMeanAndLimits) {
  std::vector<std::pair<int, int>> twenty;
  for (int i = 1; i <= 20; ++i) twenty.push_back({i * 10, 400});
  std::vector<std::pair<int, int>> twentyOne = twenty;
  twentyOne.push_back({600, 451});
  const struct {
    const char* name;
    std::vector<std::pair<int, int>> readings;
    ChannelStatistics te;
    ChannelStatistics fe;
  } cases[] = {
      {"one sample", {{300, 200}}, {300, 300, 300, 0, 200}, {200, 200, 200, 0, 250}},
      // 95 % of 20 is 19: the 19th smallest.
      {"twenty", twenty, {200, 105, 190, 0, 300}, {400, 400, 400, 0, 50}},
      // 95 % of 21 is 19.95: the 20th smallest.
      {"twenty-one",
       twentyOne,
       {600, (2100.0 + 600) / 21, 200, 1, -100},
       {451, (400.0 * 20 + 451) / 21, 400, 1, -1}},
      {"equal to the limit passes",
       {{500, 450}, {0, 0}},
       {500, 250, 500, 0, 0},
       {450, 225, 450, 0, 0}},
  };
  for (const auto& c : cases) {
    const RecordStatistics stats = ComputeStatistics(Samples(c.readings), 500, 450);
    EXPECT_EQ(stats.whole.samples, static_cast<int>(c.readings.size())) << c.name;
    for (const auto& [got, want, channel] :
         {std::tuple{stats.whole.te, c.te, "te"}, std::tuple{stats.whole.fe, c.fe, "fe"}}) {
      EXPECT_EQ(got.max, want.max) << c.name << " " << channel;
      EXPECT_EQ(got.p95, want.p95) << c.name << " " << channel;
      EXPECT_EQ(got.overLimit, want.overLimit) << c.name << " " << channel;
      EXPECT_EQ(got.margin, want.margin) << c.name << " " << channel;
      EXPECT_NEAR(got.mean, want.mean, 1e-9) << c.name << " " << channel;
    }
  }
}

TEST(RecordStatistics, WorstIsHighestRelativeToItsLimitWithLbaAndGigabytes) {
  // 480/500 = 0.96 against 440/450 = 0.978: the FE reading is the worse.
  auto samples = Samples({{480, 100}, {100, 440}, {200, 200}});
  const RecordStatistics stats = ComputeStatistics(samples, 500, 450);
  ASSERT_TRUE(stats.whole.worst);
  EXPECT_EQ(stats.whole.worst->lba, 16384);
  EXPECT_EQ(stats.whole.worst->fe, 440);
  EXPECT_DOUBLE_EQ(stats.whole.worst->gb, 16384.0 * 2048 / 1e9);
  // The first of equals stays the worst.
  samples = Samples({{250, 0}, {0, 225}});
  EXPECT_EQ(ComputeStatistics(samples, 500, 450).whole.worst->lba, 0);
  EXPECT_FALSE(ComputeStatistics({}, 500, 450).whole.worst);
  EXPECT_EQ(ComputeStatistics({}, 500, 450).whole.samples, 0);
}

TEST(RecordStatistics, EachLayerOnItsOwnAndTheWholeDisc) {
  auto samples = Samples({{100, 100}, {200, 200}}, 0);
  const auto second = Samples({{600, 300}, {300, 460}}, 1, 2086912);
  samples.insert(samples.end(), second.begin(), second.end());
  const RecordStatistics stats = ComputeStatistics(samples, 500, 450);
  ASSERT_EQ(stats.layers.size(), 2u);
  EXPECT_EQ(stats.layers[0].layer, 0);
  EXPECT_EQ(stats.layers[0].te.max, 200);
  EXPECT_EQ(stats.layers[0].te.overLimit, 0);
  EXPECT_EQ(stats.layers[1].layer, 1);
  EXPECT_EQ(stats.layers[1].te.overLimit, 1);
  EXPECT_EQ(stats.layers[1].fe.overLimit, 1);
  EXPECT_EQ(stats.layers[1].worst->lba, 2086912);  // 600/500 beats 460/450
  EXPECT_EQ(stats.whole.layer, -1);
  EXPECT_EQ(stats.whole.samples, 4);
  EXPECT_EQ(stats.whole.te.max, 600);
  EXPECT_EQ(stats.whole.te.margin, -100);
  EXPECT_EQ(stats.whole.worst->layer, 1);
  // A single-layer run has one layer entry.
  EXPECT_EQ(ComputeStatistics(Samples({{1, 1}}), 500, 450).layers.size(), 1u);
}

}  // namespace
