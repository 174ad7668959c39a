#include "records/record_statistics.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

class CChannel {
 public:
  CChannel(int limit, size_t reserve) : m_limit(limit) { m_values.reserve(reserve); }

  void Add(uint16_t value) {
    m_values.push_back(value);
    m_sum += value;
    if (value > m_max) m_max = value;
    if (value > m_limit) ++m_over;
  }

  ChannelStatistics Result() {
    ChannelStatistics s;
    const size_t n = m_values.size();
    if (n == 0) return s;
    s.max = m_max;
    s.mean = static_cast<double>(m_sum) / static_cast<double>(n);
    // Nearest rank: the smallest reading with at least 95 % of the samples
    // at or below it is the ceil(0.95 n)-th smallest.
    const size_t rank = (n * 95 + 99) / 100;
    auto nth = m_values.begin() + static_cast<std::ptrdiff_t>(rank - 1);
    std::nth_element(m_values.begin(), nth, m_values.end());
    s.p95 = *nth;
    s.overLimit = m_over;
    s.margin = m_limit - m_max;
    return s;
  }

 private:
  int m_limit;
  std::vector<uint16_t> m_values;
  uint64_t m_sum = 0;
  int m_max = 0;
  int m_over = 0;
};

// a/b > c/d for positive b, d, without rounding.
bool Above(int a, int b, int c, int d) {
  return static_cast<int64_t>(a) * d > static_cast<int64_t>(c) * b;
}

// The larger of te/teLimit and fe/feLimit, as a fraction.
struct Relative {
  int reading;
  int limit;
};

Relative RelativeOf(const RecordSample& s, int teLimit, int feLimit) {
  if (Above(s.fe, feLimit, s.te, teLimit)) return {s.fe, feLimit};
  return {s.te, teLimit};
}

LayerStatistics Compute(const std::vector<RecordSample>& samples, int layer, int teLimit,
                        int feLimit) {
  CChannel te(teLimit, samples.size());
  CChannel fe(feLimit, samples.size());
  LayerStatistics stats;
  stats.layer = layer;
  const RecordSample* worst = nullptr;
  Relative worstRel{0, 1};
  for (const RecordSample& s : samples) {
    if (layer >= 0 && s.layer != layer) continue;
    ++stats.samples;
    te.Add(s.te);
    fe.Add(s.fe);
    const Relative rel = RelativeOf(s, teLimit, feLimit);
    if (worst == nullptr || Above(rel.reading, rel.limit, worstRel.reading, worstRel.limit)) {
      worst = &s;
      worstRel = rel;
    }
  }
  stats.te = te.Result();
  stats.fe = fe.Result();
  if (worst != nullptr) {
    stats.worst =
        WorstSample{worst->lba, LbaToGigabytes(worst->lba), worst->layer, worst->te, worst->fe};
  }
  return stats;
}

}  // namespace

double LbaToGigabytes(int32_t lba) { return static_cast<double>(lba) * 2048.0 / 1e9; }

RecordStatistics ComputeStatistics(const std::vector<RecordSample>& samples, int teLimit,
                                   int feLimit) {
  // Limits come from records too; a zero or negative one would divide nothing
  // sensibly, so it counts as 1.
  teLimit = std::max(teLimit, 1);
  feLimit = std::max(feLimit, 1);
  RecordStatistics stats;
  stats.whole = Compute(samples, -1, teLimit, feLimit);
  bool present[2] = {false, false};
  for (const RecordSample& s : samples) {
    if (s.layer == 0 || s.layer == 1) present[s.layer] = true;
  }
  for (int layer = 0; layer < 2; ++layer) {
    if (present[layer]) stats.layers.push_back(Compute(samples, layer, teLimit, feLimit));
  }
  return stats;
}
