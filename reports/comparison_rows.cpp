#include "reports/comparison_rows.h"

#include <cstdio>
#include <functional>

namespace {

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string MaxMeanP95(const ChannelStatistics& c) {
  return std::to_string(c.max) + " / " + Fixed(c.mean, 1) + " / " + std::to_string(c.p95);
}

std::string OverMargin(const ChannelStatistics& c) {
  return std::to_string(c.overLimit) + " / " + std::to_string(c.margin);
}

// As velmo-cli show gives a worst sample: the LBA and GB to two decimals.
std::string WorstLba(const LayerStatistics& whole) {
  if (!whole.worst) return "-";
  return std::to_string(whole.worst->lba) + " (" + Fixed(whole.worst->gb, 2) + " GB)";
}

ChannelDifference Difference(const ChannelStatistics& earlier, const ChannelStatistics& later) {
  return {later.max - earlier.max, later.mean - earlier.mean, later.overLimit - earlier.overLimit};
}

}  // namespace

std::string MixedKindsError(const std::vector<const ScanRecord*>& runs,
                            const std::vector<std::string>& names) {
  for (size_t i = 1; i < runs.size(); ++i) {
    if (runs[i]->kind == runs[0]->kind) continue;
    auto what = [&](size_t k) {
      return names[k] + (runs[k]->kind == RecordKind::kSmart ? " is a Smart Scan" : " is a scan");
    };
    return what(0) + " and " + what(i) +
           ": runs of one kind only are compared (scans with scans, Smart Scans with Smart Scans)";
  }
  return "";
}

std::vector<ComparisonRow> ComparisonRowsOf(const std::vector<const ScanRecord*>& runs) {
  std::vector<LayerStatistics> whole;
  for (const ScanRecord* run : runs) whole.push_back(StatisticsOf(*run).whole);
  std::vector<ComparisonRow> rows;
  auto row = [&](const char* label, const std::function<std::string(size_t)>& value) {
    ComparisonRow added{label, {}};
    for (size_t i = 0; i < runs.size(); ++i) added.values.push_back(value(i));
    rows.push_back(std::move(added));
  };
  row("Started", [&](size_t i) { return runs[i]->startTime; });
  row("Drive", [&](size_t i) { return runs[i]->drive.name; });
  row("Disc Type", [&](size_t i) { return runs[i]->disc.type; });
  row("Manufacture ID", [&](size_t i) { return runs[i]->disc.manufacturerId; });
  row("Manufacturer", [&](size_t i) { return runs[i]->disc.manufacturerName.value_or("unknown"); });
  row("Media Type ID", [&](size_t i) { return runs[i]->disc.mediaTypeId; });
  row("Speed", [&](size_t i) {
    return runs[i]->kind == RecordKind::kSmart ? std::string("smart") : runs[i]->settings.speed;
  });
  row("Density", [&](size_t i) { return runs[i]->settings.density; });
  row("Samples", [&](size_t i) { return std::to_string(whole[i].samples); });
  row("TE max / mean / p95", [&](size_t i) { return MaxMeanP95(whole[i].te); });
  row("TE over / margin", [&](size_t i) { return OverMargin(whole[i].te); });
  row("FE max / mean / p95", [&](size_t i) { return MaxMeanP95(whole[i].fe); });
  row("FE over / margin", [&](size_t i) { return OverMargin(whole[i].fe); });
  row("Worst LBA", [&](size_t i) { return WorstLba(whole[i]); });
  row("Outcome", [&](size_t i) { return std::string(RunOutcomeName(runs[i]->outcome)); });
  return rows;
}

RunDifferences DifferencesOf(const ScanRecord& earlier, const ScanRecord& later) {
  const LayerStatistics a = StatisticsOf(earlier).whole;
  const LayerStatistics b = StatisticsOf(later).whole;
  return {Difference(a.te, b.te), Difference(a.fe, b.fe)};
}

std::string DifferenceText(const ChannelDifference& difference) {
  char text[96];
  std::snprintf(text, sizeof text, "max %+d, mean %+.1f, over limit %+d", difference.max,
                difference.mean, difference.overLimit);
  return text;
}
