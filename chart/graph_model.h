// The chart without its window: model, geometry and the two layers.
//
// The background layer holds the frame, the dotted grid rows and the labels;
// the curve layer holds curve segments and limit lines on black, so a paint
// is "background copy, curve OR". CGraphCtrl (graph_ctrl.h) is the wx window
// that shows it; velmo-cli uses this class alone and writes Compose() out.
//
// "The window" here is whatever was given to Create: until then operations
// only update the model and draw nothing, as for a chart whose window does
// not exist yet.
//
// Threads: every operation may be called from any thread. One mutex guards
// the series, the geometry and both layers, so a worker can draw while the
// UI thread composes. The repaint request is called after the lock is
// released, on the calling thread; the window side must hand it to its UI
// thread and return.
//
// Bad input (no caller makes these calls; the chart stays drawable):
//   - SetRange with equal ends: that axis gets scale 0, so every value maps
//     onto its lower edge (bottom or left); the labels show the ends given.
//   - decimals are kept within 0..20 so the labels stay printable;
//   - a series number outside 0..count-1: AppendPoint returns 0.0 and changes
//     nothing; DrawLimitLine draws nothing and still invalidates;
//   - values far outside the ranges map to pixels far outside the frame and
//     are clipped to the layers; pixel coordinates are kept within +-2^27
//     (GDI's own coordinate space) and a NaN maps onto the range's lower end.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "chart/colorref.h"
#include "chart/graph_series.h"
#include "chart/raster_dc.h"
#include "chart/surface.h"

class CLabelFont;

class CGraphModel {
 public:
  using RepaintRequest = std::function<void()>;
  // The y range's top for the highest curve reading drawn so far.
  using TopFit = std::function<double(double highest)>;

  // labelFontFile: the label font to use; empty asks fontconfig for "Arial".
  // Without any usable font the chart draws no labels.
  explicit CGraphModel(std::string labelFontFile = {});
  ~CGraphModel();
  CGraphModel(const CGraphModel&) = delete;
  CGraphModel& operator=(const CGraphModel&) = delete;

  // Invalidation of the window; set before Create, called with no lock held.
  void SetRepaintRequest(RepaintRequest request);

  // The window now exists with this client size: OnSize, then RebuildLayers.
  // Returns 1.
  int Create(int clientWidth, int clientHeight);

  // Size notification: geometry and scales only; the layers keep their size.
  void OnSize(int clientWidth, int clientHeight);

  void SetRange(double yMin, double yMax, int xMin, int xMax, int decimals);
  // With a fit, the top follows the readings: when a refresh brings a reading
  // that changes fit(highest), the chart is redrawn on the new range from the
  // points kept since the last clear. Without one (the default) the top is
  // SetRange's. Changing it redraws the chart at once.
  void SetTopFit(TopFit fit);
  // 1 added, 0 out of memory (the chart is then as before).
  int AddSeries(COLORREF colour);
  // The series' previous y; nothing is drawn until Refresh.
  double AppendPoint(int series, double y, double x);
  // show == 1 draws in the series' colour, anything else blanks the row.
  void DrawLimitLine(int series, int value, int show);
  // PlotSegments, then invalidate.
  void Refresh();
  // Forgets every series' points (colours and count stay), then rebuilds.
  void ClearData();
  // Redraws the background, blanks the curve layer, invalidates. Creates the
  // layers at the current client size the first time.
  void RebuildLayers();
  // One segment per curve series (2 and up) from its previous point to its
  // newest, cut at the frame.
  void PlotSegments();

  // The picture a paint shows: client-sized, background layer copied, curve
  // layer ORed on. Outside the layers (a window grown after creation) shows
  // the background colour. `out` is reused to avoid an allocation per paint.
  void Compose(CSurface& out) const;
  CSurface Compose() const;

  // Read-only views, copied under the lock.
  CSurface BackgroundLayer() const;
  CSurface CurveLayer() const;
  RECT PlotRect() const;
  double YMax() const;  // the top of the y range now (a fit's, or SetRange's)
  int SeriesCount() const;
  CGraphSeries Series(int series) const;  // default series if out of range
  bool HasLayers() const;
  bool HasLabelFont() const;

 private:
  void RebuildLayersLocked();
  void PlotSegmentsLocked();
  void DrawLimitLineLocked(int series, int value, int show);
  void PlotSeriesLocked(CRasterDC& curve, CGraphSeries& s);
  void ForgetDrawingLocked();
  bool FitTopLocked();
  void DrawXLabelsLocked(CRasterDC& back);
  void RedrawKeptLocked();
  void ComposeLocked(CSurface& out) const;
  void UpdateScalesLocked();
  int ColumnOf(double x) const;
  int RowOf(double y) const;
  void RequestRepaint() const;

  mutable std::mutex m_lock;
  RepaintRequest m_repaint;
  bool m_bWindow = false;
  std::string m_labelFontFile;
  std::unique_ptr<CLabelFont> m_labelFont;
  bool m_bFontTried = false;

  int m_nDecimals = 0;
  COLORREF m_crBackground = Rgb(0, 0, 0);
  COLORREF m_crForeground = Rgb(255, 255, 255);
  int m_nHeight = 0;
  int m_nWidth = 0;
  int m_nPlotHeight = 0;
  int m_nPlotWidth = 0;
  double m_dYMin = 0.0;
  double m_dYMax = 1000.0;
  double m_dYRange = 1000.0;
  double m_dYScale = 0.0;
  int m_nXMin = 0;
  int m_nXMax = 2295103;
  double m_dXRange = 2295103.0;
  double m_dXScale = 0.0;
  RECT m_rectClient;
  RECT m_rectPlot;
  CPen m_pen{PenStyle::kSolid, Rgb(255, 255, 255)};
  bool m_bLayers = false;
  CSurface m_bmpBack;
  CSurface m_bmpCurve;
  std::vector<CGraphSeries> m_series;

  // What the curve layer holds since it was last blanked, to redraw it on a
  // fitted range: the curve series (2 and up) as each refresh found them, and
  // every series' last limit line (value, show).
  TopFit m_fit;
  double m_dSetYMax = 1000.0;
  double m_dHighest = 0.0;
  std::vector<CGraphSeries> m_kept;  // curve-series count entries a refresh
  std::vector<std::pair<int, int>> m_limits;
};
