// A scan run's chart calls on a chart window. A live run draws through it
// from its worker, and a recorded run is drawn through it the same way, so
// both pictures come out alike.
#pragma once

#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "console/scan_run.h"

class CGraphScanChart : public ScanChart {
 public:
  explicit CGraphScanChart(CGraphCtrl& graph) : m_graph(graph) {}
  void ClearData() override { m_graph.ClearData(); }
  void DrawLimitLine(ScanSeries series, double y, bool show) override {
    m_graph.DrawLimitLine(SeriesIndex(series), static_cast<int>(y), show ? 1 : 0);
  }
  void AppendPoint(ScanSeries series, double y, double x) override {
    m_graph.AppendPoint(SeriesIndex(series), y, x);
  }
  void Refresh() override { m_graph.Refresh(); }

 private:
  CGraphCtrl& m_graph;
};
