#include "results/chart_drawing.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "results/cairo_drawing.h"
#include "results/record_statistics.h"
#include "results/run_colours.h"
#include "results/surface_png.h"

namespace {

std::string Grouped(long value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
  return (value < 0 ? "-" : "") + digits;
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about n ticks.
double NiceStep(double range, int n) {
  const double raw = range / n;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

// The plot inside the chart's rectangle and the mapping of LBAs and readings
// onto it.
struct Frame {
  ReportRect rect;
  ReportRect plot;
  double lastLba;
  double top;

  double X(double lba) const { return plot.x + plot.width * lba / lastLba; }
  double Y(double value) const {
    return plot.y + plot.height * (1 - std::clamp(value, 0.0, top) / top);
  }
};

// A comparison's legend takes a row for every two runs above the plot.
Frame FrameOf(const ReportRect& rect, const ChartRange& range, size_t runs) {
  const double legend = runs > 1 ? 14.0 * static_cast<double>((runs + 1) / 2) : 0;
  const ReportRect plot{rect.x + 40, rect.y + 8 + legend, rect.width - 52,
                        rect.height - 8 - legend - 30};
  return Frame{rect, plot, std::max<double>(1, range.lastLba), range.top > 0 ? range.top : 1};
}

// Grid, ticks and labels: readings up the side, LBA and GB below.
void DrawAxes(cairo_t* cr, const Frame& f) {
  const ReportRect& plot = f.plot;
  cairo_set_line_width(cr, 0.4);
  Font(cr, 7.5);
  const double valueStep = NiceStep(f.top, 6);
  for (double value = 0; value <= f.top + 1e-9; value += valueStep) {
    cairo_set_source_rgb(cr, 0.86, 0.86, 0.86);
    Line(cr, plot.x, f.Y(value), plot.x + plot.width, f.Y(value));
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, plot.x - 4, f.Y(value) + 2.5, std::to_string(std::lround(value)), 1);
  }
  const double lbaStep = NiceStep(f.lastLba, 6);
  for (double lba = 0; lba <= f.lastLba + 0.5; lba += lbaStep) {
    cairo_set_source_rgb(cr, 0.86, 0.86, 0.86);
    Line(cr, f.X(lba), plot.y, f.X(lba), plot.y + plot.height);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, f.X(lba), plot.y + plot.height + 10, Grouped(static_cast<long>(lba)), 0.5);
  }
  const double gbMax = LbaToGigabytes(static_cast<int32_t>(f.lastLba));
  const double gbStep = NiceStep(std::max(gbMax, 0.01), 6);
  for (double gb = 0; gb <= gbMax + 1e-9; gb += gbStep) {
    char label[16];
    std::snprintf(label, sizeof label, gbStep < 1 ? "%.1f" : "%.0f", gb);
    const double x = f.X(gb * 1e9 / 2048);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Line(cr, x, plot.y + plot.height + 13, x, plot.y + plot.height + 16);
    Text(cr, x, plot.y + plot.height + 24, label, 0.5);
  }
  Font(cr, 7.5, true);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  Text(cr, f.rect.x, plot.y + plot.height + 10, "LBA");
  Text(cr, f.rect.x, plot.y + plot.height + 24, "GB");
  cairo_save(cr);
  cairo_translate(cr, f.rect.x + 8, plot.y + plot.height / 2);
  cairo_rotate(cr, -M_PI / 2);
  Text(cr, 0, 0, "TE / FE", 0.5);
  cairo_restore(cr);
  cairo_set_line_width(cr, 0.8);
  cairo_rectangle(cr, plot.x, plot.y, plot.width, plot.height);
  cairo_stroke(cr);
}

// One dashed mark for every LBA where some run's second layer starts.
void DrawLayerMarks(cairo_t* cr, const Frame& f, const std::vector<ChartRun>& runs) {
  std::set<int32_t> starts;
  for (const ChartRun& run : runs) {
    const int32_t lba = FirstLayerOneLba(*run.record);
    if (lba >= 0) starts.insert(lba);
  }
  const double dash[] = {3, 2};
  for (const int32_t lba : starts) {
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.8);
    Line(cr, f.X(lba), f.plot.y, f.X(lba), f.plot.y + f.plot.height);
    cairo_set_dash(cr, nullptr, 0, 0);
    Font(cr, 7.5);
    Text(cr, f.X(lba) + 3, f.plot.y + 9, "layer 1");
  }
}

void DrawSampleCurve(cairo_t* cr, const Frame& f, const std::vector<RecordSample>& samples,
                     bool te) {
  if (samples.empty()) return;
  for (size_t k = 0; k < samples.size(); ++k) {
    const double value = te ? samples[k].te : samples[k].fe;
    if (k == 0) {
      cairo_move_to(cr, f.X(samples[k].lba), f.Y(value));
    } else {
      cairo_line_to(cr, f.X(samples[k].lba), f.Y(value));
    }
  }
  if (samples.size() == 1) cairo_rel_line_to(cr, 1, 0);
  cairo_stroke(cr);
}

// A Smart Scan has a reading per speed, not a curve: a dot each, at its
// worst sample's LBA (the left edge when it has none).
void DrawSmartDots(cairo_t* cr, const Frame& f, const ScanRecord& record, bool te) {
  const RecordStatistics statistics = StatisticsOf(record);
  const double x = f.X(statistics.whole.worst ? statistics.whole.worst->lba : 0);
  for (const SmartRow& row : record.rows) {
    const auto value = te ? row.te : row.fe;
    if (!value) continue;
    cairo_arc(cr, x, f.Y(*value), 1.75, 0, 2 * M_PI);
    cairo_fill(cr);
  }
}

// Every run's TE then FE, clipped to the plot.
void DrawCurves(cairo_t* cr, const Frame& f, const std::vector<ChartRun>& runs) {
  cairo_save(cr);
  cairo_rectangle(cr, f.plot.x, f.plot.y, f.plot.width, f.plot.height);
  cairo_clip(cr);
  cairo_set_line_width(cr, 1.0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  for (size_t i = 0; i < runs.size(); ++i) {
    const ScanRecord& record = *runs[i].record;
    const RunColours colours = RunColoursOf(i);
    for (const bool te : {true, false}) {
      SetColour(cr, te ? colours.te : colours.fe);
      if (record.kind == RecordKind::kSmart) {
        DrawSmartDots(cr, f, record, te);
      } else {
        DrawSampleCurve(cr, f, record.samples, te);
      }
    }
  }
  cairo_restore(cr);
}

// The limit lines last, sharp, in the colours of their readings: each
// distinct limit of the runs once, TE's before FE's.
void DrawLimits(cairo_t* cr, const Frame& f, const std::vector<ChartRun>& runs) {
  std::set<int> teLimits, feLimits;
  for (const ChartRun& run : runs) {
    teLimits.insert(run.record->settings.teLimit);
    feLimits.insert(run.record->settings.feLimit);
  }
  const double left = f.plot.x, right = f.plot.x + f.plot.width;
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1.5);
  for (const bool te : {true, false}) {
    SetColour(cr, te ? kReportTe : kReportFe);
    for (const int limit : te ? teLimits : feLimits) Line(cr, left, f.Y(limit), right, f.Y(limit));
  }
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  Font(cr, 7);
  for (const bool te : {true, false}) {
    SetColour(cr, te ? kReportTe : kReportFe);
    for (const int limit : te ? teLimits : feLimits) {
      Text(cr, right - 2, f.Y(limit) + (te ? -3 : 9),
           (te ? "TE limit " : "FE limit ") + std::to_string(limit), 1);
    }
  }
}

// Which colours are which: TE and FE inside the plot for one run, above it
// every run's pair and name for several.
void DrawLegend(cairo_t* cr, const Frame& f, const std::vector<ChartRun>& runs) {
  Font(cr, 7.5);
  if (runs.size() > 1) {
    const double column = f.plot.width / 2;
    for (size_t i = 0; i < runs.size(); ++i) {
      const RunColours colours = RunColoursOf(i);
      const double lx = f.plot.x + column * static_cast<double>(i % 2);
      const double ly = f.rect.y + 2 + 14 * static_cast<double>(i / 2);
      SetColour(cr, colours.te);
      cairo_rectangle(cr, lx, ly + 2, 12, 3);
      cairo_fill(cr);
      SetColour(cr, colours.fe);
      cairo_rectangle(cr, lx, ly + 7, 12, 3);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      Text(cr, lx + 16, ly + 9, Fit(cr, runs[i].name + " (TE, FE)", column - 20));
    }
    return;
  }
  const double lx = f.plot.x + 6;
  const double ly = f.plot.y + 4;
  SetColour(cr, kReportTe);
  cairo_rectangle(cr, lx, ly + 3, 12, 2);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  Text(cr, lx + 16, ly + 7, "TE");
  SetColour(cr, kReportFe);
  cairo_rectangle(cr, lx + 34, ly + 3, 12, 2);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  Text(cr, lx + 50, ly + 7, "FE");
}

}  // namespace

ChartRange RangeOfReadings(const std::vector<ChartRun>& runs) {
  double lastLba = 1, top = 1;
  for (const ChartRun& run : runs) {
    const ScanRecord& r = *run.record;
    const RecordStatistics s = StatisticsOf(r);
    lastLba = std::max(lastLba, static_cast<double>(r.disc.lastLba));
    for (const RecordSample& sample : r.samples) lastLba = std::max<double>(lastLba, sample.lba);
    top = std::max({top, static_cast<double>(s.whole.te.max), static_cast<double>(s.whole.fe.max),
                    static_cast<double>(r.settings.teLimit),
                    static_cast<double>(r.settings.feLimit)});
  }
  return ChartRange{static_cast<int32_t>(lastLba), std::ceil(top * 1.1 / 100) * 100};
}

int32_t FirstLayerOneLba(const ScanRecord& record) {
  for (const RecordSample& sample : record.samples) {
    if (sample.layer == 1) return sample.lba;
  }
  return -1;
}

void DrawRunsChart(cairo_t* cr, const std::vector<ChartRun>& runs, const ChartRange& range,
                   const ReportRect& rect, ReportRect* plotArea) {
  const Frame frame = FrameOf(rect, range, runs.size());
  if (plotArea) *plotArea = frame.plot;
  cairo_save(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
  cairo_fill(cr);
  DrawAxes(cr, frame);
  DrawLayerMarks(cr, frame, runs);
  DrawCurves(cr, frame, runs);
  DrawLimits(cr, frame, runs);
  DrawLegend(cr, frame, runs);
  cairo_restore(cr);
}

bool RunsChartPng(const std::vector<ChartRun>& runs, const ChartRange& range, int width, int height,
                  std::string* png, std::string* error, ReportRect* plotArea) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, kReportPngScale, kReportPngScale);
  ReportRect plot;
  DrawRunsChart(cr, runs, range, {0, 0, width / kReportPngScale, height / kReportPngScale}, &plot);
  const cairo_status_t drawn = cairo_status(cr);
  cairo_destroy(cr);
  png->clear();
  const cairo_status_t written = drawn == CAIRO_STATUS_SUCCESS ? SurfacePng(surface, png) : drawn;
  cairo_surface_destroy(surface);
  if (written != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(written);
    return false;
  }
  if (plotArea) {
    *plotArea = {plot.x * kReportPngScale, plot.y * kReportPngScale, plot.width * kReportPngScale,
                 plot.height * kReportPngScale};
  }
  return true;
}
