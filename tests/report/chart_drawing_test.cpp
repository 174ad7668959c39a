#include "results/chart_drawing.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "results/compare_chart.h"
#include "results/run_colours.h"
#include "tests/report/report_fixtures.h"

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
    // The limits are straight lines across, TE's at 500 and FE's at 450.
    EXPECT_TRUE(chart.Near(x, chart.Row(500, 600), kReportTe)) << share;
    EXPECT_TRUE(chart.Near(x, chart.Row(450, 600), kReportFe)) << share;
  }
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
  // The Smart Scan's 8X reading (TE 330) is a dot at the plot's left edge.
  const int left = static_cast<int>(std::lround(chart.Plot().x)) + 1;
  EXPECT_TRUE(chart.Near(left, chart.Row(330, 600), RunColoursOf(2).te));
  EXPECT_FALSE(chart.Near(x, chart.Row(330, 600), RunColoursOf(2).te));
  EXPECT_EQ(chart.Count(RunColoursOf(3).te), 0);
}

TEST(ChartDrawing, RangeOfReadingsHoldsReadingsAndLimits) {
  const ScanRecord low = Flat(100, 80);
  const ScanRecord high = Flat(900, 80);
  EXPECT_EQ(RangeOfReadings({{"low", &low}}).top, 600);  // the TE limit 500, a tenth above
  EXPECT_EQ(RangeOfReadings({{"low", &low}, {"high", &high}}).top, 1000);
  EXPECT_EQ(RangeOfReadings({{"low", &low}}).lastLba, low.disc.lastLba);
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
