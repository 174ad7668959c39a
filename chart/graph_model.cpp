#include "chart/graph_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

#include "chart/label_font.h"

namespace {

constexpr int kLabelFontHeight = 14;
constexpr int kFwLight = 300;
// Pixels kept clear between two x labels' boxes, so their digits never read
// as one number.
constexpr int kXLabelGap = 6;

// GDI's device coordinates are 28-bit; keeping pixels within that also keeps
// every later sum in int.
constexpr long long kCoordLimit = 1LL << 27;

long long TruncCoord(double v) {
  if (std::isnan(v)) return 0;
  const double limit = static_cast<double>(kCoordLimit);
  return static_cast<long long>(std::trunc(std::clamp(v, -limit, limit)));
}

int ClampCoord(long long v) { return static_cast<int>(std::clamp(v, -kCoordLimit, kCoordLimit)); }

// Pixels per unit; a zero or non-finite range gives 0 instead of a division
// by zero, so that axis collapses onto its lower edge.
double ScaleOf(int pixels, double range) {
  if (range == 0.0 || !std::isfinite(range)) return 0.0;
  const double scale = pixels / range;
  return std::isfinite(scale) ? scale : 0.0;
}

// Digit count used for the width of the y labels: |trunc(log10 |v|)|.
long long LabelDigits(double v) {
  if (v == 0.0) return 0;
  return std::llabs(TruncCoord(std::log10(std::fabs(v))));
}

std::string FormatValue(double value, int decimals) {
  const int length = std::snprintf(nullptr, 0, "%.*f", decimals, value);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
  text.resize(static_cast<size_t>(length));
  return text;
}

const std::string& DefaultLabelFontFile() {
  static const std::string file = CLabelFont::LocateFile("Arial", kFwLight);
  return file;
}

}  // namespace

CGraphModel::CGraphModel(std::string labelFontFile) : m_labelFontFile(std::move(labelFontFile)) {}

CGraphModel::~CGraphModel() = default;

void CGraphModel::SetRepaintRequest(RepaintRequest request) {
  std::lock_guard lock(m_lock);
  m_repaint = std::move(request);
}

void CGraphModel::RequestRepaint() const {
  RepaintRequest request;
  {
    std::lock_guard lock(m_lock);
    if (!m_bWindow) return;
    request = m_repaint;
  }
  if (request) request();
}

int CGraphModel::Create(int clientWidth, int clientHeight) {
  OnSize(clientWidth, clientHeight);
  {
    std::lock_guard lock(m_lock);
    m_bWindow = true;
    RebuildLayersLocked();
  }
  RequestRepaint();
  return 1;
}

void CGraphModel::OnSize(int clientWidth, int clientHeight) {
  std::lock_guard lock(m_lock);
  m_rectClient = {0, 0, std::max(clientWidth, 0), std::max(clientHeight, 0)};
  m_nHeight = m_rectClient.bottom - m_rectClient.top;
  m_nWidth = m_rectClient.right - m_rectClient.left;
  m_rectPlot = {20, 10, m_rectClient.right - 10, m_rectClient.bottom - 25};
  m_nPlotHeight = m_rectPlot.bottom - m_rectPlot.top;
  m_nPlotWidth = m_rectPlot.right - m_rectPlot.left;
  UpdateScalesLocked();
}

void CGraphModel::UpdateScalesLocked() {
  m_dYScale = ScaleOf(m_nPlotHeight, m_dYRange);
  m_dXScale = ScaleOf(m_nPlotWidth, m_dXRange);
}

void CGraphModel::SetRange(double yMin, double yMax, int xMin, int xMax, int decimals) {
  {
    std::lock_guard lock(m_lock);
    ForgetDrawingLocked();
    m_dYMin = yMin;
    m_dSetYMax = yMax;
    m_dYMax = m_fit ? m_fit(m_dHighest) : yMax;
    m_dYRange = m_dYMax - yMin;
    m_nDecimals = std::clamp(decimals, 0, 20);
    m_nXMin = xMin;
    m_nXMax = xMax;
    m_dXRange = static_cast<double>(static_cast<long long>(xMax) - xMin);
    UpdateScalesLocked();
    if (!m_bWindow) return;
    RebuildLayersLocked();
  }
  RequestRepaint();
}

void CGraphModel::SetTopFit(TopFit fit) {
  {
    std::lock_guard lock(m_lock);
    m_fit = std::move(fit);
    if (!FitTopLocked() || !m_bWindow) return;
    RebuildLayersLocked();
    RedrawKeptLocked();
  }
  RequestRepaint();
}

bool CGraphModel::FitTopLocked() {
  const double top = m_fit ? m_fit(m_dHighest) : m_dSetYMax;
  if (top == m_dYMax || !std::isfinite(top)) return false;
  m_dYMax = top;
  m_dYRange = m_dYMax - m_dYMin;
  UpdateScalesLocked();
  return true;
}

void CGraphModel::ForgetDrawingLocked() {
  m_kept.clear();
  m_limits.clear();
  m_dHighest = 0.0;
}

void CGraphModel::RedrawKeptLocked() {
  for (size_t i = 0; i < m_limits.size(); ++i) {
    if (m_limits[i].second == 1) DrawLimitLineLocked(static_cast<int>(i), m_limits[i].first, 1);
  }
  const size_t curves = m_series.size() > 2 ? m_series.size() - 2 : 0;
  if (curves == 0 || !m_bLayers) return;
  CRasterDC curve(m_bmpCurve);
  curve.SetBkColor(m_crBackground);
  for (size_t at = 0; at + curves <= m_kept.size(); at += curves) {
    for (size_t i = 0; i < curves; ++i) {
      m_series[i + 2] = m_kept[at + i];
      PlotSeriesLocked(curve, m_series[i + 2]);
    }
  }
}

int CGraphModel::AddSeries(COLORREF colour) {
  {
    std::lock_guard lock(m_lock);
    ForgetDrawingLocked();
    try {
      m_series.emplace_back(colour);
    } catch (const std::bad_alloc&) {
      return 0;
    }
    if (m_bWindow) {
      try {
        RebuildLayersLocked();
      } catch (const std::bad_alloc&) {
        m_series.pop_back();
        return 0;
      }
    }
  }
  RequestRepaint();
  return 1;
}

double CGraphModel::AppendPoint(int series, double y, double x) {
  std::lock_guard lock(m_lock);
  if (series < 0 || series >= static_cast<int>(m_series.size())) return 0.0;
  CGraphSeries& s = m_series[static_cast<size_t>(series)];
  s.m_dPrevY = s.m_dY;
  s.m_dPrevX = s.m_dX;
  s.m_dY = y;
  s.m_dX = x;
  return s.m_dPrevY;
}

void CGraphModel::DrawLimitLine(int series, int value, int show) {
  {
    std::lock_guard lock(m_lock);
    if (series >= 0 && series < static_cast<int>(m_series.size())) {
      if (m_limits.size() < m_series.size()) m_limits.resize(m_series.size(), {0, 0});
      m_limits[static_cast<size_t>(series)] = {value, show};
    }
    DrawLimitLineLocked(series, value, show);
  }
  RequestRepaint();
}

void CGraphModel::Refresh() {
  PlotSegments();
  RequestRepaint();
}

void CGraphModel::ClearData() {
  {
    std::lock_guard lock(m_lock);
    for (CGraphSeries& s : m_series) s = CGraphSeries(s.m_crColor);
    ForgetDrawingLocked();
    FitTopLocked();
    if (!m_bWindow) return;
    RebuildLayersLocked();
  }
  RequestRepaint();
}

void CGraphModel::RebuildLayers() {
  {
    std::lock_guard lock(m_lock);
    if (!m_bWindow) return;
    ForgetDrawingLocked();
    RebuildLayersLocked();
  }
  RequestRepaint();
}

void CGraphModel::PlotSegments() {
  std::lock_guard lock(m_lock);
  PlotSegmentsLocked();
}

int CGraphModel::ColumnOf(double x) const {
  return ClampCoord(m_rectPlot.left + TruncCoord((x - m_nXMin) * m_dXScale));
}

int CGraphModel::RowOf(double y) const {
  return ClampCoord(m_rectPlot.bottom - TruncCoord((y - m_dYMin) * m_dYScale));
}

void CGraphModel::RebuildLayersLocked() {
  // The font is opened once per chart and kept with its glyphs: only the
  // labels' digits are ever drawn, and reopening costs more than a rebuild.
  if (!m_bFontTried) {
    m_bFontTried = true;
    const std::string& file = m_labelFontFile.empty() ? DefaultLabelFontFile() : m_labelFontFile;
    m_labelFont = CLabelFont::Open(file, kLabelFontHeight);
  }
  if (!m_bLayers) {
    m_bmpBack.Reset(m_nWidth, m_nHeight, m_crBackground);
    m_bmpCurve.Reset(m_nWidth, m_nHeight, m_crBackground);
    m_bLayers = true;
  }

  CRasterDC back(m_bmpBack);
  back.SetBkColor(m_crBackground);
  back.FillRect(m_rectClient, m_crBackground);

  // The plot's left edge leaves room for the widest y label.
  const long long digits = std::max(LabelDigits(m_dYMax), LabelDigits(m_dYMin));
  m_rectPlot.left = ClampCoord(m_rectClient.left + 6 * (digits + m_nDecimals + 3));
  m_nPlotWidth = m_rectPlot.right - m_rectPlot.left;
  m_dXScale = ScaleOf(m_nPlotWidth, m_dXRange);

  const RECT& plot = m_rectPlot;
  const CPen oldPen = back.SelectPen({PenStyle::kSolid, m_crForeground});
  back.MoveTo(plot.left, plot.top);
  back.LineTo(plot.right + 1, plot.top);
  back.LineTo(plot.right + 1, plot.bottom + 1);
  back.LineTo(plot.left, plot.bottom + 1);
  back.LineTo(plot.left, plot.top);
  back.SelectPen(oldPen);

  const int mid = (plot.top + plot.bottom) / 2;
  const int quarter = m_nPlotHeight / 4;
  for (int x = plot.left; x < plot.right; x += 4) {
    back.SetPixel(x, mid - quarter, m_crForeground);
    back.SetPixel(x, mid, m_crForeground);
    back.SetPixel(x, mid + quarter, m_crForeground);
  }

  back.SelectFont(m_labelFont.get());
  back.SetTextColor(m_crForeground);
  back.SetBkOpaque(true);  // every label stands on a background-coloured box

  const int yLabelColumn = plot.left - 4;
  auto yLabel = [&](double value, int row, unsigned align) {
    back.SetTextAlign(align);
    back.TextOut(yLabelColumn, row, FormatValue(value, m_nDecimals));
  };
  yLabel(m_dYMax, plot.top, kTaRight | kTaTop);
  yLabel(m_dYMin, plot.bottom, kTaRight | kTaBaseline);
  yLabel(m_dYMin + 0.75 * m_dYRange, mid - quarter, kTaRight | kTaBaseline);
  yLabel((m_dYMin + m_dYMax) * 0.5, mid, kTaRight | kTaBaseline);
  yLabel(m_dYMin + 0.25 * m_dYRange, mid + quarter, kTaRight | kTaBaseline);

  DrawXLabelsLocked(back);
  back.SelectFont(nullptr);

  m_bmpCurve.FillRect(m_rectClient, m_crBackground);
}

void CGraphModel::DrawXLabelsLocked(CRasterDC& back) {
  const RECT& plot = m_rectPlot;
  struct XLabel {
    std::string text;
    int column;
    unsigned align;
    int left = 0;
    int right = 0;
    bool shown = true;
  };
  std::vector<XLabel> labels;
  const long long step = (static_cast<long long>(m_nXMax) - m_nXMin) / 5;
  labels.push_back({std::to_string(m_nXMin), plot.left, kTaLeft | kTaTop});
  for (int i = 1; i <= 4; ++i) {
    labels.push_back({std::to_string(m_nXMin + i * step),
                      plot.left + i * ((plot.right - plot.left) / 5), kTaCenter | kTaTop});
  }
  labels.push_back({std::to_string(m_nXMax), plot.right, kTaRight | kTaTop});
  if (m_labelFont == nullptr) return;

  // A label whose box would come within kXLabelGap of the last one kept is
  // left out; the disc's end always stays, leaving out what it would touch.
  for (XLabel& label : labels) {
    const int width = m_labelFont->TextWidth(label.text);
    label.left = label.align == (kTaCenter | kTaTop)  ? label.column - width / 2
                 : label.align == (kTaRight | kTaTop) ? label.column - width
                                                      : label.column;
    label.right = label.left + width;
  }
  size_t kept = 0;
  for (size_t i = 1; i + 1 < labels.size(); ++i) {
    labels[i].shown = labels[i].left >= labels[kept].right + kXLabelGap;
    if (labels[i].shown) kept = i;
  }
  XLabel& end = labels.back();
  for (size_t i = labels.size() - 1; i-- > 0;) {
    if (!labels[i].shown) continue;
    if (end.left >= labels[i].right + kXLabelGap) break;
    labels[i].shown = false;
  }

  const int xLabelRow = plot.bottom + 4;
  for (const XLabel& label : labels) {
    if (!label.shown) continue;
    back.SetTextAlign(label.align);
    back.TextOut(label.column, xLabelRow, label.text);
  }
}

void CGraphModel::PlotSegmentsLocked() {
  if (!m_bLayers || m_series.size() <= 2) return;
  for (size_t i = 2; i < m_series.size(); ++i) {
    if (std::isfinite(m_series[i].m_dY)) m_dHighest = std::max(m_dHighest, m_series[i].m_dY);
  }
  if (FitTopLocked()) {
    // The new range: everything kept so far drawn again on it, then this
    // refresh's segments.
    const std::vector<CGraphSeries> now(m_series.begin() + 2, m_series.end());
    RebuildLayersLocked();
    RedrawKeptLocked();
    std::copy(now.begin(), now.end(), m_series.begin() + 2);
  }
  try {
    m_kept.insert(m_kept.end(), m_series.begin() + 2, m_series.end());
  } catch (const std::bad_alloc&) {
    // Drawn all the same; only a later change of range cannot redraw it.
  }
  CRasterDC curve(m_bmpCurve);
  curve.SetBkColor(m_crBackground);
  for (size_t i = 2; i < m_series.size(); ++i) PlotSeriesLocked(curve, m_series[i]);
}

void CGraphModel::PlotSeriesLocked(CRasterDC& curve, CGraphSeries& s) {
  const RECT& plot = m_rectPlot;
  m_pen = {PenStyle::kSolid, s.m_crColor};
  const CPen oldPen = curve.SelectPen(m_pen);
  int px = 0;
  int py = 0;
  if (s.m_bStarted == 1) {
    px = ColumnOf(s.m_dPrevX);
    py = RowOf(s.m_dPrevY);
    curve.MoveTo(px, py);
  }
  const int cx = ColumnOf(s.m_dX);
  const int cy = RowOf(s.m_dY);
  if (s.m_bStarted == 0) {
    curve.MoveTo(cx, cy);
    px = cx;
    py = cy;
  }
  curve.LineTo(cx, cy);
  s.m_bStarted = 1;
  curve.SelectPen(oldPen);

  // Cut the curve at the frame: in the segment's columns the curve layer
  // keeps nothing on or beyond the frame's top and bottom rows.
  if (py <= plot.top || cy <= plot.top) {
    curve.FillRect({px, m_rectClient.top, cx + 1, plot.top + 1}, m_crBackground);
  }
  if (py >= plot.bottom || cy >= plot.bottom) {
    curve.FillRect({px, plot.bottom + 1, cx + 1, m_rectClient.bottom + 1}, m_crBackground);
  }
}

void CGraphModel::DrawLimitLineLocked(int series, int value, int show) {
  if (!m_bLayers) return;
  if (series < 0 || series >= static_cast<int>(m_series.size())) return;
  const COLORREF colour =
      show == 1 ? m_series[static_cast<size_t>(series)].m_crColor : Rgb(0, 0, 0);
  CRasterDC curve(m_bmpCurve);
  curve.SetBkColor(m_crBackground);
  curve.SetBkOpaque(true);  // the gaps overwrite the row too
  m_pen = {PenStyle::kDot, colour};
  const CPen oldPen = curve.SelectPen(m_pen);
  const int row = RowOf(value);
  const long long span = static_cast<long long>(m_nXMax) - m_nXMin;
  curve.MoveTo(m_rectPlot.left, row);
  curve.LineTo(ClampCoord(m_rectPlot.left + TruncCoord(static_cast<double>(span) * m_dXScale)),
               row);
  curve.SelectPen(oldPen);
}

void CGraphModel::ComposeLocked(CSurface& out) const {
  if (out.Width() != m_nWidth || out.Height() != m_nHeight || m_bmpBack.Width() != m_nWidth ||
      m_bmpBack.Height() != m_nHeight) {
    out.Reset(m_nWidth, m_nHeight, m_crBackground);
  }
  if (!m_bLayers) {
    out.FillRect(m_rectClient, m_crBackground);
    return;
  }
  out.BitBlt(0, 0, m_nWidth, m_nHeight, m_bmpBack, 0, 0, RasterOp::kSrcCopy);
  out.BitBlt(0, 0, m_nWidth, m_nHeight, m_bmpCurve, 0, 0, RasterOp::kSrcPaint);
}

void CGraphModel::Compose(CSurface& out) const {
  std::lock_guard lock(m_lock);
  ComposeLocked(out);
}

CSurface CGraphModel::Compose() const {
  CSurface out;
  Compose(out);
  return out;
}

CSurface CGraphModel::BackgroundLayer() const {
  std::lock_guard lock(m_lock);
  return m_bmpBack;
}

CSurface CGraphModel::CurveLayer() const {
  std::lock_guard lock(m_lock);
  return m_bmpCurve;
}

RECT CGraphModel::PlotRect() const {
  std::lock_guard lock(m_lock);
  return m_rectPlot;
}

double CGraphModel::YMax() const {
  std::lock_guard lock(m_lock);
  return m_dYMax;
}

int CGraphModel::SeriesCount() const {
  std::lock_guard lock(m_lock);
  return static_cast<int>(m_series.size());
}

CGraphSeries CGraphModel::Series(int series) const {
  std::lock_guard lock(m_lock);
  if (series < 0 || series >= static_cast<int>(m_series.size())) {
    return CGraphSeries();
  }
  return m_series[static_cast<size_t>(series)];
}

bool CGraphModel::HasLayers() const {
  std::lock_guard lock(m_lock);
  return m_bLayers;
}

bool CGraphModel::HasLabelFont() const {
  std::lock_guard lock(m_lock);
  return m_labelFont != nullptr;
}
