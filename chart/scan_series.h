// The scan chart's four series and the one definition of their colours and
// of the reading range, for every chart of a scan run: the window's, the
// picture velmo-cli writes, and the report's (which takes the colours).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "chart/colorref.h"
#include "commands/drive_commands.h"

// In the order they are added: the limit lines first, then the curves.
enum class ScanSeries : int {
  kTeLimit = 0,
  kFeLimit = 1,
  kTeCurve = 2,
  kFeCurve = 3,
};
inline constexpr int kScanSeriesCount = 4;

inline constexpr COLORREF kTeColour = Rgb(227, 28, 187);  // 12262627
inline constexpr COLORREF kFeColour = Rgb(18, 237, 221);  // 14544146

// The y axis: readings from 0 to 600, no decimals on the labels.
inline constexpr double kScanChartYMin = 0.0;
inline constexpr double kScanChartYMax = 600.0;
inline constexpr int kScanChartDecimals = 0;

// The top of a chart fitted to its readings: a tenth to spare above the
// highest reading or limit, rounded up to a hundred. The reports' charts take
// the same top.
inline double FittedChartTop(double highest) { return std::ceil(highest * 1.1 / 100) * 100; }

// The y range of a scan chart: the fixed 0 to 600, or fitted to the readings
// and both limits as they come.
enum class ScanChartRange { kFixed, kReadings };

constexpr int SeriesIndex(ScanSeries series) { return static_cast<int>(series); }

// TE's colour for its limit and curve, FE's for theirs.
constexpr COLORREF ScanSeriesColour(ScanSeries series) {
  return series == ScanSeries::kTeLimit || series == ScanSeries::kTeCurve ? kTeColour : kFeColour;
}

// Fixed or fitted from now on; what is drawn is redrawn on the new range.
template <typename Chart>
void SetScanChartRange(Chart& chart, ScanChartRange y) {
  if (y == ScanChartRange::kFixed) {
    chart.SetTopFit(nullptr);
    return;
  }
  chart.SetTopFit([](double highest) {
    return FittedChartTop(
        std::max({highest, static_cast<double>(kTeLimit), static_cast<double>(kFeLimit)}));
  });
}

// Adds the four series in their order to a chart (CGraphModel or CGraphCtrl).
template <typename Chart>
void AddScanSeries(Chart& chart) {
  for (int i = 0; i < kScanSeriesCount; ++i) {
    chart.AddSeries(ScanSeriesColour(static_cast<ScanSeries>(i)));
  }
}

// The range of a disc whose last address is lastLba: x from 0 to lastLba.
template <typename Chart>
void SetScanRange(Chart& chart, int32_t lastLba, ScanChartRange y = ScanChartRange::kFixed) {
  chart.SetRange(kScanChartYMin, kScanChartYMax, 0, lastLba, kScanChartDecimals);
  SetScanChartRange(chart, y);
}
