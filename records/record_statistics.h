// The statistics of a run, computed by one function for a run in progress
// and a run loaded from a record alike: per layer and for the whole disc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RecordSample {
  int32_t lba = 0;
  int32_t psn = 0;  // as the sample command carried it
  int layer = 0;    // 1 on the second layer of a DL disc
  uint16_t te = 0;
  uint16_t fe = 0;
  bool ok = true;  // TE and FE within their limits
  bool operator==(const RecordSample&) const = default;
};

struct ChannelStatistics {
  int max = 0;
  double mean = 0;
  int p95 = 0;        // nearest rank: the smallest reading with >= 95 % at or below it
  int overLimit = 0;  // readings above the limit
  int margin = 0;     // limit - max; negative when over
  bool operator==(const ChannelStatistics&) const = default;
};

// The sample with the highest reading relative to its limit.
struct WorstSample {
  int32_t lba = 0;
  double gb = 0;  // lba * 2048 / 1e9
  int layer = 0;
  int te = 0;
  int fe = 0;
  bool operator==(const WorstSample&) const = default;
};

struct LayerStatistics {
  int layer = -1;  // -1: the whole disc
  int samples = 0;
  ChannelStatistics te;
  ChannelStatistics fe;
  std::optional<WorstSample> worst;  // none without samples
  bool operator==(const LayerStatistics&) const = default;
};

// A Smart Scan's reading at one speed: readings taken at different speeds
// are never pooled.
struct SpeedStatistics {
  std::string speed;  // "16X"
  int speedCode = 0;
  LayerStatistics reading;
  bool operator==(const SpeedStatistics&) const = default;
};

struct RecordStatistics {
  LayerStatistics whole;                // a scan's; empty for a Smart Scan
  std::vector<LayerStatistics> layers;  // one per layer that has samples, in layer order
  std::vector<SpeedStatistics> speeds;  // a Smart Scan's, one per row with a reading
  bool operator==(const RecordStatistics&) const = default;
};

RecordStatistics ComputeStatistics(const std::vector<RecordSample>& samples, int teLimit,
                                   int feLimit);

// Bytes from the start of the data to an LBA, in GB (10^9 bytes).
double LbaToGigabytes(int32_t lba);
