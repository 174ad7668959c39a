// What velmo-cli's scan draws into: the window's chart model without a
// window, or nothing when no picture was asked for. After the run the model's
// two layers, composed, go to a BMP through the same writer as Save.
#pragma once

#include <memory>
#include <string>

#include "chart/graph_model.h"
#include "console/scan_run.h"
#include "session/output_file.h"

// The chart's size in pixels: the window's chart at two pixels a dialog unit.
inline constexpr int kCliChartWidth = 452;
inline constexpr int kCliChartHeight = 228;

class CRunChart : public ScanChart {
 public:
  // drawing: false for a run that keeps no picture.
  explicit CRunChart(bool drawing);

  // The range of the disc about to be scanned (x: 0 .. lastLba); y fitted
  // to the readings or the fixed 0 .. 600.
  void SetRange(int32_t lastLba, bool fitted = false);
  // Writes the composed chart; false with *error when the file could not be
  // written (nothing is left behind then).
  bool Save(const std::string& path, std::string* error) const;
  // Writes the composed chart into file, which the caller puts in place.
  bool WriteInto(COutputFile& file, std::string* error) const;

  void ClearData() override;
  void DrawLimitLine(ScanSeries series, double y, bool show) override;
  void AppendPoint(ScanSeries series, double y, double x) override;
  void Refresh() override;

 private:
  std::unique_ptr<CGraphModel> m_model;
};
