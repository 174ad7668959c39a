// The TE/FE chart of one run or several, drawn once for report pages, their
// HTML and the comparison chart, on any cairo context: axes in readings, LBA
// and GB; every run's curves in its colours (Smart Scan readings as dots);
// each run's limits; where the second layer starts; and which colours are
// which. Sizes are in the context's units (points on a page).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/scan_record.h"

typedef struct _cairo cairo_t;

// PNG pages and charts are drawn at two pixels a point (144 dpi).
inline constexpr double kReportPngScale = 2.0;

struct ReportRect {
  double x = 0, y = 0, width = 0, height = 0;
};

struct ChartRun {
  std::string name;  // for the legend, valid UTF-8
  const ScanRecord* record;
};

// What the axes span: LBA 0 to lastLba across, readings 0 to top upwards.
// Readings above top are drawn at top.
struct ChartRange {
  int32_t lastLba = 0;
  double top = 600;
};

// A range that holds every run's readings, limits and samples, with a
// tenth to spare above, rounded up to a hundred.
ChartRange RangeOfReadings(const std::vector<ChartRun>& runs);

// The first LBA read on layer 1 of a DL disc; -1 when none was.
int32_t FirstLayerOneLba(const ScanRecord& record);

// Where a chart marks the start of layer 1, and its label.
struct LayerMark {
  int32_t lba = -1;
  std::string label;
  bool operator<(const LayerMark& other) const {
    return lba != other.lba ? lba < other.lba : label < other.label;
  }
};

// A DL run's mark: at the disc's own layer break where the record holds it
// ("layer 1 starts at 2,084,864"), else at the first LBA read on layer 1
// ("layer 1 starts"). lba -1 for a single-layer run or one never on layer 1.
LayerMark LayerMarkOf(const ScanRecord& record);

// Every run's mark once, in LBA order, as the chart draws them.
std::vector<LayerMark> LayerMarksOf(const std::vector<ChartRun>& runs);

// Draws the chart into rect; *plotArea gets the area the readings are in.
void DrawRunsChart(cairo_t* cr, const std::vector<ChartRun>& runs, const ChartRange& range,
                   const ReportRect& rect, ReportRect* plotArea = nullptr);

// The chart alone as PNG bytes of width x height pixels, laid out in points
// at half that size as report pages are; *plotArea in pixels. False with
// cairo's reason in *error.
bool RunsChartPng(const std::vector<ChartRun>& runs, const ChartRange& range, int width, int height,
                  std::string* png, std::string* error, ReportRect* plotArea = nullptr);
