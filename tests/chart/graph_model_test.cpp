#include "chart/graph_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "chart/label_font.h"
#include "chart/scan_series.h"

namespace {

constexpr COLORREF kTe = 12262627;  // RGB(227, 28, 187)
constexpr COLORREF kFe = 14544146;  // RGB(18, 237, 221)
constexpr COLORREF kBlack = Rgb(0, 0, 0);
constexpr COLORREF kWhite = Rgb(255, 255, 255);

// The main dialog's chart: placeholder 452 x 228 less its sunken edges.
constexpr int kClientW = 446;
constexpr int kClientH = 222;
constexpr int kTop = 10;
constexpr int kBottom = kClientH - 25;
constexpr int kRight = kClientW - 10;
constexpr int kMid = (kTop + kBottom) / 2;
constexpr int kQuarter = (kBottom - kTop) / 4;

struct Label {
  std::string text;
  int x;
  int y;
  unsigned align;
};

// The background as the chart must draw it, built pixel by pixel here.
CSurface ExpectedBackground(int left, const std::vector<Label>& labels) {
  CSurface s(kClientW, kClientH, kBlack);
  for (int x = left; x <= kRight + 1; ++x) {
    s.SetPixel(x, kTop, kWhite);
    s.SetPixel(x, kBottom + 1, kWhite);
  }
  for (int y = kTop; y <= kBottom + 1; ++y) {
    s.SetPixel(left, y, kWhite);
    s.SetPixel(kRight + 1, y, kWhite);
  }
  for (int x = left; x < kRight; x += 4) {
    for (int row : {kMid - kQuarter, kMid, kMid + kQuarter}) {
      s.SetPixel(x, row, kWhite);
    }
  }
  auto font = CLabelFont::Open(CLabelFont::LocateFile("Arial", 300), 14);
  if (font == nullptr) return s;
  for (const Label& label : labels) {
    const int width = font->TextWidth(label.text);
    int pen = label.x;
    if ((label.align & 6) == 6) {
      pen -= width / 2;
    } else if (label.align & 2) {
      pen -= width;
    }
    const int top = (label.align & 24) == 24 ? label.y - font->Ascent() : label.y;
    s.FillRect({pen, top, pen + width, top + font->Height()}, kBlack);
    font->DrawGlyphs(s, pen, top + font->Ascent(), label.text, kWhite);
  }
  return s;
}

std::vector<Label> LabelsFor(int left, const std::vector<std::string>& y, int xMin, int xMax) {
  std::vector<Label> labels = {
      {y[0], left - 4, kTop, 2},
      {y[1], left - 4, kBottom, 26},
      {y[2], left - 4, kMid - kQuarter, 26},
      {y[3], left - 4, kMid, 26},
      {y[4], left - 4, kMid + kQuarter, 26},
      {std::to_string(xMin), left, kBottom + 4, 0},
  };
  for (int i = 1; i <= 4; ++i) {
    labels.push_back({std::to_string(xMin + i * ((xMax - xMin) / 5)),
                      left + i * ((kRight - left) / 5), kBottom + 4, 6});
  }
  labels.push_back({std::to_string(xMax), kRight, kBottom + 4, 2});
  return labels;
}

// First differing pixel, for readable failures.
std::string FirstDifference(const CSurface& a, const CSurface& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return "sizes differ";
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      if (a.GetPixel(x, y) != b.GetPixel(x, y)) {
        return "at " + std::to_string(x) + "," + std::to_string(y);
      }
    }
  }
  return "";
}

int CountColour(const CSurface& s, COLORREF colour) {
  int n = 0;
  for (COLORREF c : s.Pixels()) n += c == colour;
  return n;
}

bool AllBlack(const CSurface& s) { return CountColour(s, kBlack) == s.Width() * s.Height(); }

// The chart as the main dialog sets it up, optionally with a disc's range.
class GraphModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_chart.SetRepaintRequest([this] { ++m_repaints; });
    ASSERT_EQ(m_chart.Create(kClientW, kClientH), 1);
    AddScanSeries(m_chart);
    ASSERT_EQ(m_chart.SeriesCount(), kScanSeriesCount);
  }

  void Disc() { SetScanRange(m_chart, 2086912); }

  int Column(double x) const {
    const RECT plot = m_chart.PlotRect();
    return plot.left + static_cast<int>((x - 0) * ((plot.right - plot.left) / 2086912.0));
  }
  int Row(double y) const { return kBottom - static_cast<int>(y * ((kBottom - kTop) / 600.0)); }

  CGraphModel m_chart;
  std::atomic<int> m_repaints{0};
};

struct RangeCase {
  const char* name;
  bool setRange;
  double yMax;
  int xMax;
  int decimals;
  int left;
  std::vector<std::string> yLabels;
};

class BackgroundTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(BackgroundTest, FrameGridAndLabelsArePlacedExactly) {
  const RangeCase& c = GetParam();
  CGraphModel chart;
  chart.Create(kClientW, kClientH);
  if (c.setRange) chart.SetRange(0.0, c.yMax, 0, c.xMax, c.decimals);
  ASSERT_TRUE(chart.HasLabelFont());
  EXPECT_EQ(chart.PlotRect().left, c.left);
  const CSurface expected = ExpectedBackground(c.left, LabelsFor(c.left, c.yLabels, 0, c.xMax));
  const CSurface actual = chart.BackgroundLayer();
  EXPECT_EQ(actual, expected) << FirstDifference(actual, expected);
  EXPECT_TRUE(AllBlack(chart.CurveLayer()));
  EXPECT_EQ(chart.Compose(), actual);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, BackgroundTest,
    ::testing::Values(
        RangeCase{"NeverSet", false, 0, 2295103, 0, 36, {"1000", "0", "750", "500", "250"}},
        RangeCase{"SingleLayer", true, 600, 2086912, 0, 30, {"600", "0", "450", "300", "150"}},
        RangeCase{"DualLayer", true, 600, 4173824, 0, 30, {"600", "0", "450", "300", "150"}},
        RangeCase{"TwoDecimals",
                  true,
                  600,
                  2086912,
                  2,
                  42,
                  {"600.00", "0.00", "450.00", "300.00", "150.00"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Columns of a surface's rows [top, bottom) holding any white pixel.
std::vector<bool> InkColumns(const CSurface& s, int top, int bottom, int left, int right) {
  std::vector<bool> ink(static_cast<size_t>(s.Width()), false);
  for (int y = top; y < bottom; ++y) {
    for (int x = std::max(left, 0); x < std::min(right, s.Width()); ++x) {
      if (s.GetPixel(x, y) == kWhite) ink[static_cast<size_t>(x)] = true;
    }
  }
  return ink;
}

// Runs of ink columns [first, last] parted by more than `gap` empty columns.
std::vector<std::pair<int, int>> InkWords(const std::vector<bool>& ink, int gap) {
  std::vector<std::pair<int, int>> words;
  for (int x = 0; x < static_cast<int>(ink.size()); ++x) {
    if (!ink[static_cast<size_t>(x)]) continue;
    if (!words.empty() && x - words.back().second - 1 <= gap) {
      words.back().second = x;
    } else {
      words.push_back({x, x});
    }
  }
  return words;
}

// The x labels' ink never runs together, whatever the disc's range and the
// chart's width: the widest gap inside one label parts its digits, and any
// run of ink wider than the widest label would be two labels touching. The
// disc's end is always the last label.
TEST(GraphModelLabelTest, XLabelsNeverTouchAndTheDiscsEndStays) {
  auto font = CLabelFont::Open(CLabelFont::LocateFile("Arial", 300), 14);
  ASSERT_NE(font, nullptr);
  auto inkOf = [&](const std::string& text) {
    const int width = font->TextWidth(text) + 4;
    CSurface alone(width, font->Height(), kBlack);
    font->DrawGlyphs(alone, 2, font->Ascent(), text, kWhite);
    const std::vector<std::pair<int, int>> runs =
        InkWords(InkColumns(alone, 0, alone.Height(), 0, width), 0);
    int gap = 0;
    for (size_t i = 1; i < runs.size(); ++i)
      gap = std::max(gap, runs[i].first - runs[i - 1].second - 1);
    return std::pair{runs.back().second - runs.front().first + 1, gap};
  };
  const struct {
    const char* name;
    int xMax;
  } ranges[] = {{"default", 2295103}, {"single layer", 2086912}, {"dual layer", 4173824}};
  for (const auto& range : ranges) {
    int widest = 0, innerGap = 0;
    for (int i = 0; i <= 5; ++i) {
      const auto [width, gap] = inkOf(std::to_string(i == 5 ? range.xMax : i * (range.xMax / 5)));
      widest = std::max(widest, width);
      innerGap = std::max(innerGap, gap);
    }
    const int endWidth = inkOf(std::to_string(range.xMax)).first;
    for (int clientW = 300; clientW <= 460; clientW += 2) {
      CGraphModel chart;
      chart.Create(clientW, kClientH);
      chart.SetRange(0.0, 600, 0, range.xMax, 0);
      const RECT plot = chart.PlotRect();
      const std::vector<std::pair<int, int>> words = InkWords(
          InkColumns(chart.BackgroundLayer(), plot.bottom + 2, kClientH, 0, clientW), innerGap);
      const std::string where = std::string(range.name) + " at " + std::to_string(clientW);
      ASSERT_GE(words.size(), 2u) << where;
      for (const auto& [first, last] : words) {
        EXPECT_LE(last - first + 1, widest) << where << ": ink from " << first << " to " << last;
      }
      EXPECT_EQ(words.back().second - words.back().first + 1, endWidth) << where;
      EXPECT_GE(words.back().second, plot.right - 3) << where;
    }
  }
}

TEST_F(GraphModelTest, FirstPointLeavesNoPixelAndSecondDrawsFromIt) {
  Disc();
  m_chart.AppendPoint(2, 100.0, 200000.0);
  m_chart.Refresh();
  EXPECT_TRUE(AllBlack(m_chart.CurveLayer()));
  EXPECT_EQ(m_chart.Series(2).m_bStarted, 1);

  m_chart.AppendPoint(2, 400.0, 300000.0);
  m_chart.Refresh();
  const CSurface curve = m_chart.CurveLayer();
  const int x0 = Column(200000), y0 = Row(100), x1 = Column(300000), y1 = Row(400);
  EXPECT_EQ(curve.GetPixel(x0, y0), kTe);
  EXPECT_EQ(curve.GetPixel(x1, y1), kBlack);  // end pixel omitted
  EXPECT_EQ(CountColour(curve, kTe), std::max(std::abs(x1 - x0), std::abs(y1 - y0)));
  EXPECT_EQ(CountColour(curve, kTe) + CountColour(curve, kBlack), kClientW * kClientH);
}

TEST(GraphModelSeriesTest, SeriesZeroAndOneNeverGetCurves) {
  constexpr COLORREF kRed = Rgb(255, 0, 0), kGreen = Rgb(0, 255, 0);
  CGraphModel chart;
  chart.Create(kClientW, kClientH);
  chart.AddSeries(kRed);
  chart.AddSeries(kGreen);
  for (int i = 0; i < 5; ++i) {
    chart.AppendPoint(0, 100.0 * i, 300000.0 * i);
    chart.AppendPoint(1, 900.0 - 100.0 * i, 300000.0 * i);
    chart.Refresh();
  }
  EXPECT_TRUE(AllBlack(chart.CurveLayer()));

  chart.AddSeries(kTe);
  for (int i = 0; i < 5; ++i) {
    for (int s = 0; s < 3; ++s) chart.AppendPoint(s, 100.0 * i + s, 300000.0 * i);
    chart.Refresh();
  }
  const CSurface curve = chart.CurveLayer();
  EXPECT_GT(CountColour(curve, kTe), 0);
  EXPECT_EQ(CountColour(curve, kTe) + CountColour(curve, kBlack), kClientW * kClientH);
}

TEST_F(GraphModelTest, SegmentAboveTheRangeIsCutAtTheFrame) {
  Disc();
  const double xs[] = {100000, 300000, 500000};
  const double ys[] = {300, 900, 350};
  for (int i = 0; i < 3; ++i) {
    m_chart.AppendPoint(2, ys[i], xs[i]);
    m_chart.Refresh();
  }
  const CSurface curve = m_chart.CurveLayer();
  for (int y = 0; y <= kTop; ++y) {
    for (int x = 0; x < kClientW; ++x) {
      ASSERT_EQ(curve.GetPixel(x, y), kBlack) << x << "," << y;
    }
  }
  // The curve does reach the row just inside the frame.
  int justInside = 0;
  for (int x = 0; x < kClientW; ++x) justInside += curve.GetPixel(x, kTop + 1) == kTe;
  EXPECT_GT(justInside, 0);

  const CSurface back = m_chart.BackgroundLayer();
  const CSurface shown = m_chart.Compose();
  for (int y = 0; y <= kTop; ++y) {
    for (int x = 0; x < kClientW; ++x) {
      ASSERT_EQ(shown.GetPixel(x, y), back.GetPixel(x, y)) << x << "," << y;
    }
  }
  // The top label "600" left of the frame is untouched too.
  for (int y = kTop; y < kTop + 14; ++y) {
    for (int x = 0; x < m_chart.PlotRect().left; ++x) {
      ASSERT_EQ(shown.GetPixel(x, y), back.GetPixel(x, y)) << x << "," << y;
    }
  }
}

// The scan chart's series and range as the window, velmo-cli and the report
// take them: TE then FE, limits then curves, 0 to 600 with whole labels.
TEST_F(GraphModelTest, ScanSeriesHaveTheirColoursOrderAndRange) {
  const struct {
    ScanSeries series;
    int index;
    COLORREF colour;
  } cases[] = {{ScanSeries::kTeLimit, 0, kTe},
               {ScanSeries::kFeLimit, 1, kFe},
               {ScanSeries::kTeCurve, 2, kTe},
               {ScanSeries::kFeCurve, 3, kFe}};
  for (const auto& c : cases) {
    EXPECT_EQ(SeriesIndex(c.series), c.index);
    EXPECT_EQ(ScanSeriesColour(c.series), c.colour) << c.index;
    EXPECT_EQ(m_chart.Series(c.index).m_crColor, c.colour) << c.index;
  }
  EXPECT_EQ(kScanChartYMin, 0.0);
  EXPECT_EQ(kScanChartYMax, 600.0);
  // Readings land on the rows of a 0..600 axis.
  Disc();
  for (double x : {0.0, 2086912.0}) {
    m_chart.AppendPoint(SeriesIndex(ScanSeries::kTeCurve), 300, x);
    m_chart.AppendPoint(SeriesIndex(ScanSeries::kFeCurve), 150, x);
    m_chart.Refresh();
  }
  EXPECT_EQ(m_chart.CurveLayer().GetPixel(Column(1000000), Row(300)), kTe);
  EXPECT_EQ(m_chart.CurveLayer().GetPixel(Column(1000000), Row(150)), kFe);
}

TEST_F(GraphModelTest, FeLimitLineLiesOnTheUpperGridRowAndBlankingRestoresIt) {
  Disc();
  const int row = Row(450);
  ASSERT_EQ(row, kMid - kQuarter);
  const int left = m_chart.PlotRect().left;
  const int end = Column(2086912);

  m_chart.DrawLimitLine(1, 450, 1);
  const CSurface curve = m_chart.CurveLayer();
  for (int x = 0; x < kClientW; ++x) {
    const bool inRun = x >= left && x < end;
    const COLORREF want = inRun && (x - left) % 6 < 3 ? kFe : kBlack;
    ASSERT_EQ(curve.GetPixel(x, row), want) << "column " << x;
  }
  EXPECT_EQ(CountColour(curve, kBlack), kClientW * kClientH - CountColour(curve, kFe));
  // A grid dot under an inked pixel still shows white through the OR.
  EXPECT_EQ(m_chart.Compose().GetPixel(left, row), kWhite);
  EXPECT_EQ(m_chart.Compose().GetPixel(left + 1, row), kFe);

  m_chart.DrawLimitLine(1, 450, 0);
  EXPECT_TRUE(AllBlack(m_chart.CurveLayer()));
  EXPECT_EQ(m_chart.Compose(), m_chart.BackgroundLayer());
}

TEST_F(GraphModelTest, BlankingALimitLineAlsoBlanksCurvePixelsOnItsRow) {
  Disc();
  m_chart.AppendPoint(2, 0, 100000);
  m_chart.Refresh();
  m_chart.AppendPoint(2, 600, 110000);
  m_chart.Refresh();
  const int row = Row(450);
  int before = 0;
  for (int x = 0; x < kClientW; ++x) before += m_chart.CurveLayer().GetPixel(x, row) == kTe;
  ASSERT_GT(before, 0);
  m_chart.DrawLimitLine(1, 450, 0);
  const CSurface curve = m_chart.CurveLayer();
  for (int x = 0; x < kClientW; ++x) EXPECT_EQ(curve.GetPixel(x, row), kBlack);
  EXPECT_GT(CountColour(curve, kTe), 0);  // the rest of the segment stays
}

TEST_F(GraphModelTest, ClearDataKeepsColouredSeriesAndRemovesDrawing) {
  Disc();
  m_chart.DrawLimitLine(0, 500, 1);
  m_chart.DrawLimitLine(1, 450, 1);
  for (int i = 0; i < 4; ++i) {
    m_chart.AppendPoint(2, 100.0 + 50 * i, 100000.0 * i);
    m_chart.AppendPoint(3, 300.0 - 20 * i, 100000.0 * i);
    m_chart.Refresh();
  }
  ASSERT_FALSE(AllBlack(m_chart.CurveLayer()));
  m_chart.ClearData();

  ASSERT_EQ(m_chart.SeriesCount(), 4);
  const COLORREF colours[] = {kTe, kFe, kTe, kFe};
  for (int i = 0; i < 4; ++i) {
    const CGraphSeries s = m_chart.Series(i);
    EXPECT_EQ(s.m_crColor, colours[i]);
    EXPECT_EQ(s.m_dX, 0.0);
    EXPECT_EQ(s.m_dY, 0.0);
    EXPECT_EQ(s.m_dPrevX, 0.0);
    EXPECT_EQ(s.m_dPrevY, 0.0);
    EXPECT_EQ(s.m_bStarted, 0);
  }
  EXPECT_TRUE(AllBlack(m_chart.CurveLayer()));
  EXPECT_EQ(m_chart.Compose(), m_chart.BackgroundLayer());

  // Cleared series start over: their first point draws nothing again.
  m_chart.AppendPoint(2, 300, 900000);
  m_chart.Refresh();
  EXPECT_TRUE(AllBlack(m_chart.CurveLayer()));
}

TEST_F(GraphModelTest, SetRangeAndAddSeriesEraseCurves) {
  auto drawSomething = [this] {
    m_chart.AppendPoint(2, 100, 100000);
    m_chart.Refresh();
    m_chart.AppendPoint(2, 300, 900000);
    m_chart.Refresh();
    m_chart.DrawLimitLine(0, 500, 1);
    ASSERT_FALSE(AllBlack(m_chart.CurveLayer()));
  };
  Disc();
  drawSomething();
  Disc();
  EXPECT_TRUE(AllBlack(m_chart.CurveLayer()));
  drawSomething();
  m_chart.AddSeries(Rgb(1, 2, 3));
  EXPECT_TRUE(AllBlack(m_chart.CurveLayer()));
  EXPECT_EQ(m_chart.SeriesCount(), 5);
}

TEST_F(GraphModelTest, OperationsRequestRepaintsWithoutHoldingTheLock) {
  // A request handler that paints at once must not deadlock.
  CSurface painted;
  m_chart.SetRepaintRequest([&] {
    ++m_repaints;
    m_chart.Compose(painted);
  });
  m_repaints = 0;
  m_chart.Refresh();
  m_chart.DrawLimitLine(1, 450, 1);
  m_chart.ClearData();
  m_chart.SetRange(0, 600, 0, 2086912, 0);
  m_chart.AppendPoint(2, 1, 1);  // draws nothing, asks for nothing
  EXPECT_EQ(m_repaints, 4);
  EXPECT_EQ(painted, m_chart.Compose());
}

TEST(GraphModelWindowlessTest, BeforeCreateNothingIsDrawnOrRequested) {
  CGraphModel chart;
  int repaints = 0;
  chart.SetRepaintRequest([&] { ++repaints; });
  chart.AddSeries(kTe);
  chart.AddSeries(kFe);
  chart.AddSeries(kTe);
  chart.SetRange(0, 600, 0, 2086912, 2);
  chart.DrawLimitLine(0, 500, 1);
  chart.AppendPoint(2, 10, 10);
  chart.Refresh();
  chart.ClearData();
  EXPECT_FALSE(chart.HasLayers());
  EXPECT_EQ(repaints, 0);
  EXPECT_EQ(chart.Series(2).m_bStarted, 0);

  chart.Create(kClientW, kClientH);
  EXPECT_TRUE(chart.HasLayers());
  EXPECT_EQ(chart.PlotRect().left, 42);  // the range set before Create
  EXPECT_EQ(repaints, 1);
}

TEST_F(GraphModelTest, BadInputDrawsNothingOutsideAndKeepsTheFrame) {
  Disc();
  const CSurface back = m_chart.BackgroundLayer();
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double y : {1e300, -1e300, 300.0, inf, nan, -inf, 1e15}) {
    m_chart.AppendPoint(2, y, 1000000);
    m_chart.AppendPoint(3, 300, y);
    m_chart.Refresh();
  }
  m_chart.DrawLimitLine(1, std::numeric_limits<int>::max(), 1);
  m_chart.DrawLimitLine(1, std::numeric_limits<int>::min(), 1);
  m_chart.DrawLimitLine(7, 450, 1);
  m_chart.DrawLimitLine(-1, 450, 1);
  const CGraphSeries te = m_chart.Series(2);
  EXPECT_EQ(m_chart.AppendPoint(4, 1.0, 2.0), 0.0);
  EXPECT_EQ(m_chart.AppendPoint(-1, 1.0, 2.0), 0.0);
  EXPECT_EQ(m_chart.Series(2).m_dY, te.m_dY);
  EXPECT_EQ(m_chart.AppendPoint(2, 5.0, 6.0), te.m_dY);  // the previous y
  const CSurface curve = m_chart.CurveLayer();
  EXPECT_EQ(curve.Width(), kClientW);
  EXPECT_EQ(curve.Height(), kClientH);
  const CSurface shown = m_chart.Compose();
  for (int x = m_chart.PlotRect().left; x <= kRight + 1; ++x) {
    EXPECT_EQ(shown.GetPixel(x, kTop), kWhite) << x;
  }
  EXPECT_EQ(m_chart.BackgroundLayer(), back);
}

TEST_F(GraphModelTest, EqualRangeEndsCollapseOntoTheLowerEdges) {
  m_chart.SetRange(5.0, 5.0, 7, 7, 0);
  const RECT plot = m_chart.PlotRect();
  m_chart.AppendPoint(2, 1000, 10);
  m_chart.Refresh();
  m_chart.AppendPoint(2, -1000, 99999);
  m_chart.Refresh();
  m_chart.DrawLimitLine(0, 500, 1);
  // Every point maps onto (left, bottom): a segment to itself leaves nothing,
  // and the limit line has no length.
  EXPECT_TRUE(AllBlack(m_chart.CurveLayer()));
  EXPECT_EQ(plot.left, 6 * (0 + 0 + 3));
}

TEST(GraphModelGeometryTest, DecimalsAreBoundedAndTinyWindowsWork) {
  CGraphModel chart;
  chart.Create(kClientW, kClientH);
  chart.SetRange(0, 600, 0, 2086912, 1000);
  EXPECT_EQ(chart.PlotRect().left, 6 * (2 + 20 + 3));
  chart.SetRange(0, 600, 0, 2086912, -5);
  EXPECT_EQ(chart.PlotRect().left, 30);

  for (int size : {0, 1, 5, 30}) {
    CGraphModel tiny;
    tiny.Create(size, size);
    for (COLORREF c : {kTe, kFe, kTe, kFe}) tiny.AddSeries(c);
    tiny.DrawLimitLine(1, 450, 1);
    tiny.AppendPoint(2, 100, 5);
    tiny.Refresh();
    tiny.AppendPoint(2, 900, 2000000);
    tiny.Refresh();
    const CSurface shown = tiny.Compose();
    EXPECT_EQ(shown.Width(), size);
    EXPECT_EQ(shown.Height(), size);
  }
}

TEST(GraphModelThreadTest, WorkerDrawsWhileAnotherThreadComposes) {
  auto feed = [](CGraphModel& chart, int samples) {
    chart.ClearData();
    chart.DrawLimitLine(1, 450, 1);
    for (int i = 0; i < samples; ++i) {
      chart.AppendPoint(2, 300 + 250 * std::sin(i / 30.0), i * 1000.0);
      chart.AppendPoint(3, 200 + 300 * std::cos(i / 20.0), i * 1000.0);
      chart.Refresh();
    }
  };
  auto setUp = [](CGraphModel& chart) {
    chart.Create(kClientW, kClientH);
    AddScanSeries(chart);
    SetScanRange(chart, 2086912);
  };
  CGraphModel reference;
  setUp(reference);
  feed(reference, 2000);

  CGraphModel chart;
  std::atomic<int> requests{0};
  chart.SetRepaintRequest([&] { ++requests; });
  setUp(chart);
  std::atomic<bool> composing{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!composing) std::this_thread::yield();  // make the two overlap
    feed(chart, 2000);
    done = true;
  });
  CSurface shown;
  do {
    chart.Compose(shown);
    composing = true;
    std::this_thread::yield();
  } while (!done);
  worker.join();
  EXPECT_GE(requests, 2000);
  EXPECT_EQ(chart.Compose(), reference.Compose());
}

}  // namespace
