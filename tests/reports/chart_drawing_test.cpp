#include "reports/chart_drawing.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "reports/compare_chart.h"
#include "reports/run_colours.h"
#include "tests/reports/report_fixtures.h"

namespace {

using namespace report_fixtures;

// A record with flat readings: TE and FE sit on known rows of the plot.
ScanRecord Flat(int te, int fe) {
  ScanRecord r = BaseRecord("FLAT", 2295104);
  AddSamples(
      &r, 40, 1, [te](double) { return te; }, [fe](double) { return fe; });
  return r;
}

constexpr int kWidth = 800, kHeight = 400;

// The chart drawn into an image surface of its own at two pixels a point,
// as report pictures are; the plot, rows and columns in pixels.
class ChartImage {
 public:
  ChartImage(const std::vector<ChartRun>& runs, const ChartRange& range)
      : m_surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight)) {
    cairo_t* cr = cairo_create(m_surface);
    cairo_scale(cr, 2, 2);
    ReportRect plot;
    DrawRunsChart(cr, runs, range, {0, 0, kWidth / 2.0, kHeight / 2.0}, &plot);
    m_plot = {plot.x * 2, plot.y * 2, plot.width * 2, plot.height * 2};
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cr);
    cairo_surface_flush(m_surface);
  }
  ~ChartImage() { cairo_surface_destroy(m_surface); }

  const ReportRect& Plot() const { return m_plot; }
  int Row(double value, double top) const {
    return static_cast<int>(std::lround(m_plot.y + m_plot.height * (1 - value / top)));
  }
  int Column(double share) const { return static_cast<int>(m_plot.x + m_plot.width * share); }

  // Whether a pixel of colour c lies within one pixel of (x, y).
  bool Near(int x, int y, ReportColour c) const {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        if (At(x + dx, y + dy) == c) return true;
      }
    }
    return false;
  }

  // Where pixels of exactly colour c lie above the plot: the legend's.
  struct Box {
    int left = kWidth, top = kHeight, right = -1, bottom = -1;
  };
  Box AbovePlot(ReportColour c) const {
    Box box;
    for (int y = 0; y < static_cast<int>(m_plot.y); ++y) {
      for (int x = 0; x < kWidth; ++x) {
        if (!(At(x, y) == c)) continue;
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
               std::max(box.bottom, y)};
      }
    }
    return box;
  }

  int Count(ReportColour c) const {
    int count = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) count += At(x, y) == c ? 1 : 0;
    }
    return count;
  }

 private:
  ReportColour At(int x, int y) const {
    const unsigned char* data = cairo_image_surface_get_data(m_surface);
    uint32_t pixel;
    std::memcpy(&pixel, data + y * cairo_image_surface_get_stride(m_surface) + x * 4, 4);
    return {static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 8),
            static_cast<uint8_t>(pixel)};
  }

  cairo_surface_t* m_surface;
  ReportRect m_plot;
};

TEST(ChartDrawing, CurvesAndLimitsLieOnTheirReadings) {
  const ScanRecord flat = Flat(300, 120);
  const ChartImage chart({{"flat", &flat}}, ChartRange{flat.disc.lastLba, 600});
  for (const double share : {0.2, 0.5, 0.8}) {
    const int x = chart.Column(share);
    EXPECT_TRUE(chart.Near(x, chart.Row(300, 600), kReportTe)) << share;
    EXPECT_TRUE(chart.Near(x, chart.Row(120, 600), kReportFe)) << share;
    EXPECT_FALSE(chart.Near(x, chart.Row(200, 600), kReportTe)) << share;
    // The limits are straight lines across, TE's at 500 and FE's at 450,
    // in greys no curve has.
    EXPECT_TRUE(chart.Near(x, chart.Row(500, 600), kReportTeLimit)) << share;
    EXPECT_FALSE(chart.Near(x, chart.Row(500, 600), kReportTe)) << share;
  }
  // FE's is dashed: most of its row, not all.
  int dashed = 0;
  for (int i = 0; i < 100; ++i)
    dashed += chart.Near(chart.Column(i / 100.0), chart.Row(450, 600), kReportFeLimit) ? 1 : 0;
  EXPECT_GT(dashed, 40);
  EXPECT_LT(dashed, 100);
}

// No run is drawn in a limit's colour, nor in another run's.
TEST(ChartDrawing, RunColoursAreNeverTheLimitsOrEachOthers) {
  std::vector<ReportColour> seen{kReportTeLimit, kReportFeLimit};
  for (size_t i = 0; i < kRunColourCount; ++i) {
    for (const ReportColour c : {RunColoursOf(i).te, RunColoursOf(i).fe}) {
      for (const ReportColour& other : seen) {
        const int distance =
            std::abs(c.r - other.r) + std::abs(c.g - other.g) + std::abs(c.b - other.b);
        EXPECT_GT(distance, 60) << "run " << i;
      }
      seen.push_back(c);
    }
  }
}

// The legend is a band of its own: a curve along the very top of the plot
// adds no pixel to it, and the readings of a bad disc (TE 808) stay clear
// of the top frame on the range that holds them.
TEST(ChartDrawing, LegendAndFrameAreFreeOfCurves) {
  ScanRecord none = Flat(0, 0);
  none.samples.clear();
  const ScanRecord top = Flat(600, 590);
  const ChartImage bare({{"bare", &none}}, ChartRange{top.disc.lastLba, 600});
  const ChartImage full({{"top", &top}}, ChartRange{top.disc.lastLba, 600});
  ASSERT_GT(full.Count(kReportTe), bare.Count(kReportTe) + 100);
  const auto bareBox = bare.AbovePlot(kReportTe);
  const auto fullBox = full.AbovePlot(kReportTe);
  EXPECT_EQ(fullBox.top, bareBox.top);
  EXPECT_EQ(fullBox.bottom, bareBox.bottom);
  EXPECT_LT(fullBox.bottom, static_cast<int>(full.Plot().y) - 4);

  const ScanRecord bad = Bad();
  const ChartRange range = RangeOfReadings({{"bad", &bad}});
  EXPECT_EQ(range.top, 900);
  const ChartImage scaled({{"bad", &bad}}, range);
  const int frame = static_cast<int>(std::lround(scaled.Plot().y));
  for (int x = static_cast<int>(scaled.Plot().x); x < scaled.Plot().x + scaled.Plot().width; ++x)
    ASSERT_FALSE(scaled.Near(x, frame + 1, kReportTe)) << x;
  // The worst sample is on the chart where its reading is.
  EXPECT_TRUE(scaled.Near(scaled.Column(0.99), scaled.Row(808, 900), kReportTe));
}

TEST(ChartDrawing, TheRangeIsAParameter) {
  const ScanRecord flat = Flat(300, 120);
  const ChartImage chart({{"flat", &flat}}, ChartRange{flat.disc.lastLba, 1200});
  EXPECT_TRUE(chart.Near(chart.Column(0.5), chart.Row(300, 1200), kReportTe));
  EXPECT_FALSE(chart.Near(chart.Column(0.5), chart.Row(300, 600), kReportTe));
  // Readings above the top run along it rather than off the chart.
  const ScanRecord high = Flat(900, 120);
  const ChartImage clamped({{"high", &high}}, ChartRange{high.disc.lastLba, 600});
  EXPECT_TRUE(clamped.Near(clamped.Column(0.5), clamped.Row(600, 600), kReportTe));
}

TEST(ChartDrawing, EveryRunInItsColoursAndSmartReadingsAsDots) {
  const ScanRecord first = Flat(300, 120);
  const ScanRecord second = Flat(400, 200);
  const ScanRecord smart = Smart();
  const ChartImage chart({{"one", &first}, {"two", &second}, {"smart", &smart}},
                         ChartRange{first.disc.lastLba, 600});
  const int x = chart.Column(0.5);
  EXPECT_TRUE(chart.Near(x, chart.Row(300, 600), RunColoursOf(0).te));
  EXPECT_TRUE(chart.Near(x, chart.Row(400, 600), RunColoursOf(1).te));
  EXPECT_TRUE(chart.Near(x, chart.Row(200, 600), RunColoursOf(1).fe));
  // The Smart Scan's 8X reading (TE 330) is a dot at the rim sample's LBA.
  const RecordStatistics statistics = StatisticsOf(smart);
  const double rim = statistics.speeds[0].reading.worst->lba;
  const int at = chart.Column(rim / first.disc.lastLba);
  EXPECT_TRUE(chart.Near(at, chart.Row(330, 600), RunColoursOf(2).te)) << rim;
  EXPECT_FALSE(chart.Near(x, chart.Row(330, 600), RunColoursOf(2).te));
  EXPECT_EQ(chart.Count(RunColoursOf(3).te), 0);
}

// Several runs: an entry each above the plot, the run's TE and FE colours
// side by side on one line (not one above the other, read as two entries).
TEST(ChartDrawing, OneLegendEntryARunWithItsColoursSideBySide) {
  const ScanRecord flat = Flat(300, 120);
  for (const size_t count : {2u, 8u}) {
    std::vector<std::string> names;
    std::vector<ChartRun> runs;
    for (size_t i = 0; i < count; ++i) names.push_back("#" + std::to_string(i + 1) + " MKM 8X");
    for (const std::string& name : names) runs.push_back({name, &flat});
    const ChartImage chart(runs, ChartRange{flat.disc.lastLba, 600});
    for (size_t i = 0; i < count; ++i) {
      const auto te = chart.AbovePlot(RunColoursOf(i).te);
      const auto fe = chart.AbovePlot(RunColoursOf(i).fe);
      ASSERT_GE(te.right, te.left) << count << " runs, run " << i;
      ASSERT_GE(fe.right, fe.left) << count << " runs, run " << i;
      EXPECT_EQ(te.top, fe.top) << count << " runs, run " << i;
      EXPECT_EQ(te.bottom, fe.bottom) << count << " runs, run " << i;
      EXPECT_LT(te.right, fe.left) << count << " runs, run " << i;
    }
  }
}

TEST(ChartDrawing, RangeOfReadingsHoldsReadingsAndLimits) {
  const ScanRecord low = Flat(100, 80);
  const ScanRecord high = Flat(900, 80);
  EXPECT_EQ(RangeOfReadings({{"low", &low}}).top, 600);  // the TE limit 500, a tenth above
  EXPECT_EQ(RangeOfReadings({{"low", &low}, {"high", &high}}).top, 1000);
  EXPECT_EQ(RangeOfReadings({{"low", &low}}).lastLba, low.disc.lastLba);
  // A Smart Scan's dots stand at its rim sample, and never past the disc's
  // end: a disc that ends before the fixed address has them at its end.
  ScanRecord smart = Smart();
  EXPECT_EQ(RangeOfReadings({{"smart", &smart}}).lastLba, smart.disc.lastLba);
  smart.disc.lastLba = 2086912;
  EXPECT_EQ(RangeOfReadings({{"smart", &smart}}).lastLba, 2086912);
  const ScanRecord dual = DualLayer();
  EXPECT_EQ(FirstLayerOneLba(low), -1);
  EXPECT_GT(FirstLayerOneLba(dual), dual.disc.lastLba / 2 - 20000);
  EXPECT_LE(FirstLayerOneLba(dual), dual.disc.lastLba / 2 + 20000);
}

TEST(CompareChart, APictureOfOneToEightRuns) {
  const ScanRecord good = Good();
  std::string png, error;
  EXPECT_FALSE(DrawCompareChartPng({}, &png, &error));
  EXPECT_FALSE(DrawCompareChartPng(std::vector<ChartRun>(9, ChartRun{"#1", &good}), &png, &error));
  EXPECT_NE(error.find("1 to 8"), std::string::npos) << error;
  // A name that is not UTF-8 still gives a picture.
  ASSERT_TRUE(DrawCompareChartPng({{"#1 \xff", &good}, {"#2", &good}}, &png, &error)) << error;
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
}

}  // namespace
