// The comparison chart: every run's TE and FE over one LBA axis, each run
// in its own pair of colours with a legend, the limit lines, and on DL discs
// a mark where the second layer starts. The readings' range fits the runs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "reports/chart_drawing.h"

inline constexpr size_t kMaxComparedRuns = 8;
inline constexpr int kCompareChartWidth = 1000;
inline constexpr int kCompareChartHeight = 520;

// The chart as PNG bytes (kCompareChartWidth x kCompareChartHeight, or the
// size given); false with *error.
bool DrawCompareChartPng(const std::vector<ChartRun>& runs, std::string* png, std::string* error);
bool DrawCompareChartPng(const std::vector<ChartRun>& runs, int width, int height, std::string* png,
                         std::string* error);
