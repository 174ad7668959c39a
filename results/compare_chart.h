// The comparison chart: every run's TE and FE over one LBA axis, each run
// in its own pair of colours with a legend, the limit lines, and on DL discs
// a mark where the second layer starts. Drawn with cairo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results/scan_record.h"

inline constexpr size_t kMaxComparedRuns = 8;
inline constexpr int kCompareChartWidth = 1000;
inline constexpr int kCompareChartHeight = 520;

struct ChartRun {
  std::string name;  // for the legend
  const ScanRecord* record;
};

// The colours of run i (0-based, up to kMaxComparedRuns), 0xRRGGBB.
uint32_t CompareTeColour(size_t run);
uint32_t CompareFeColour(size_t run);

// The chart as PNG bytes; false with *error.
bool DrawCompareChartPng(const std::vector<ChartRun>& runs, std::string* png, std::string* error);
