// What the reports need of the record code until that code lands in this
// folder: built only while results/ has no CMakeLists.txt of its own.
#include <algorithm>
#include <array>
#include <cmath>

#include "results/scan_record.h"

namespace {

ChannelStatistics Channel(std::vector<int> readings, int limit) {
  ChannelStatistics s;
  if (readings.empty()) return s;
  std::sort(readings.begin(), readings.end());
  double sum = 0;
  for (int r : readings) {
    sum += r;
    if (r > limit) ++s.overLimit;
  }
  s.max = readings.back();
  s.mean = sum / static_cast<double>(readings.size());
  const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(readings.size())));
  s.p95 = readings[std::max<size_t>(rank, 1) - 1];
  s.margin = limit - s.max;
  return s;
}

LayerStatistics Layer(const std::vector<const RecordSample*>& samples, int layer, int teLimit,
                      int feLimit) {
  LayerStatistics s;
  s.layer = layer;
  s.samples = static_cast<int>(samples.size());
  std::vector<int> te, fe;
  double worstRatio = -1;
  for (const RecordSample* sample : samples) {
    te.push_back(sample->te);
    fe.push_back(sample->fe);
    const double ratio = std::max(sample->te / static_cast<double>(std::max(teLimit, 1)),
                                  sample->fe / static_cast<double>(std::max(feLimit, 1)));
    if (ratio > worstRatio) {
      worstRatio = ratio;
      s.worst = WorstSample{sample->lba, LbaToGigabytes(sample->lba), sample->layer, sample->te,
                            sample->fe};
    }
  }
  s.te = Channel(std::move(te), teLimit);
  s.fe = Channel(std::move(fe), feLimit);
  return s;
}

constexpr std::array<const char*, kRunOutcomeCount> kOutcomeNames = {
    "ok", "not recommended", "firmware failure", "timed out",
    "drive gone", "disc ejected", "log not written", "aborted"};

}  // namespace

double LbaToGigabytes(int32_t lba) { return static_cast<double>(lba) * 2048.0 / 1e9; }

RecordStatistics ComputeStatistics(const std::vector<RecordSample>& samples, int teLimit,
                                   int feLimit) {
  RecordStatistics statistics;
  std::vector<const RecordSample*> all;
  std::array<std::vector<const RecordSample*>, 2> layers;
  for (const RecordSample& sample : samples) {
    all.push_back(&sample);
    layers[sample.layer == 1 ? 1 : 0].push_back(&sample);
  }
  statistics.whole = Layer(all, -1, teLimit, feLimit);
  for (int layer = 0; layer < 2; ++layer) {
    if (!layers[layer].empty()) {
      statistics.layers.push_back(Layer(layers[layer], layer, teLimit, feLimit));
    }
  }
  return statistics;
}

RecordStatistics StatisticsOf(const ScanRecord& record) {
  if (record.kind == RecordKind::kScan) {
    return ComputeStatistics(record.samples, record.settings.teLimit, record.settings.feLimit);
  }
  std::vector<RecordSample> readings;
  for (const SmartRow& row : record.rows) {
    if (row.te && row.fe) readings.push_back({record.disc.lastLba, 0, 0, *row.te, *row.fe, true});
  }
  return ComputeStatistics(readings, record.settings.teLimit, record.settings.feLimit);
}

const char* RecordKindName(RecordKind kind) { return kind == RecordKind::kSmart ? "smart" : "scan"; }

const char* RunOutcomeName(RunOutcome outcome) {
  return kOutcomeNames[static_cast<size_t>(outcome)];
}

std::optional<RunOutcome> RunOutcomeFromName(std::string_view name) {
  for (size_t i = 0; i < kOutcomeNames.size(); ++i) {
    if (name == kOutcomeNames[i]) return static_cast<RunOutcome>(i);
  }
  return std::nullopt;
}
