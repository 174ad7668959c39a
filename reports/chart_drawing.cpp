#include "reports/chart_drawing.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "chart/scan_series.h"
#include "records/number_text.h"
#include "records/record_statistics.h"
#include "reports/cairo_drawing.h"
#include "reports/run_colours.h"
#include "reports/surface_png.h"

namespace {

// A tick spacing of 1, 2 or 5 times a power of ten giving about n ticks.
double NiceStep(double range, int n) {
  const double raw = range / n;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

// The legend is a band of its own above the plot, on an opaque ground, so
// no curve runs through it: one entry a run (its TE and FE colours side by
// side, then its name; "TE" and "FE" alone for a single run), then the two
// limit lines. Entries flow in rows as wide as the plot.
constexpr double kLegendFont = 7.5;
constexpr double kLegendRow = 13;
constexpr double kSwatch = 10;
constexpr double kLegendGap = 12;
constexpr double kLegendPad = 4;

struct LegendEntry {
  std::string text;
  ReportColour te{}, fe{};
  int limit = 0;  // 0: a run's colours; 1: the TE limit line; 2: FE's
  double x = 0;   // from the band's left
  size_t row = 0;
};

struct LegendLayout {
  std::vector<LegendEntry> entries;
  size_t rows = 0;
  double Height() const { return kLegendRow * static_cast<double>(rows) + 2 * kLegendPad; }
};

double SwatchWidth(const LegendEntry& e) { return e.limit ? 16 : 2 * kSwatch + 1; }

LegendLayout LegendOf(cairo_t* cr, double width, const std::vector<ChartRun>& runs) {
  LegendLayout layout;
  if (runs.size() == 1) {
    layout.entries.push_back({"TE", kReportTe, kReportTe});
    layout.entries.push_back({"FE", kReportFe, kReportFe});
    // One swatch each: both halves in the one colour.
  } else {
    for (size_t i = 0; i < runs.size(); ++i) {
      const RunColours colours = RunColoursOf(i);
      layout.entries.push_back({runs[i].name, colours.te, colours.fe});
    }
  }
  layout.entries.push_back({"TE limit", kReportTeLimit, kReportTeLimit, 1});
  layout.entries.push_back({"FE limit", kReportFeLimit, kReportFeLimit, 2});
  Font(cr, kLegendFont);
  double x = kLegendPad;
  size_t row = 0;
  for (LegendEntry& e : layout.entries) {
    const double limit = width - 2 * kLegendPad - SwatchWidth(e) - 4;
    if (TextWidth(cr, e.text) > limit) e.text = Fit(cr, e.text, limit);
    const double w = SwatchWidth(e) + 4 + TextWidth(cr, e.text);
    if (x > kLegendPad && x + w > width - kLegendPad) {
      x = kLegendPad;
      ++row;
    }
    e.x = x;
    e.row = row;
    x += w + kLegendGap;
  }
  layout.rows = row + 1;
  return layout;
}

// The plot inside the chart's rectangle and the mapping of LBAs and readings
// onto it.
struct Frame {
  ReportRect rect;
  ReportRect plot;
  double lastLba;
  double top;
  LegendLayout legend;

  double X(double lba) const { return plot.x + plot.width * lba / lastLba; }
  double Y(double value) const {
    return plot.y + plot.height * (1 - std::clamp(value, 0.0, top) / top);
  }
};

Frame FrameOf(cairo_t* cr, const ReportRect& rect, const ChartRange& range,
              const std::vector<ChartRun>& runs) {
  const double plotWidth = rect.width - 52;
  LegendLayout legend = LegendOf(cr, plotWidth, runs);
  const double above = legend.Height() + 6;
  const ReportRect plot{rect.x + 40, rect.y + 2 + above, plotWidth, rect.height - 2 - above - 30};
  return Frame{rect, plot, std::max<double>(1, range.lastLba), range.top > 0 ? range.top : 1,
               std::move(legend)};
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
  // The top is the range's, not always a tick: it is named too.
  if (std::fmod(f.top, valueStep) > valueStep * 0.3) {
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, plot.x - 4, f.Y(f.top) + 2.5, std::to_string(std::lround(f.top)), 1);
  }
  const double lbaStep = NiceStep(f.lastLba, 6);
  for (double lba = 0; lba <= f.lastLba + 0.5; lba += lbaStep) {
    cairo_set_source_rgb(cr, 0.86, 0.86, 0.86);
    Line(cr, f.X(lba), plot.y, f.X(lba), plot.y + plot.height);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, f.X(lba), plot.y + plot.height + 10, GroupedDigits(static_cast<long>(lba)), 0.5);
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

// One dashed mark for every place where some run's second layer starts.
// Labels that would run into the one before go a line higher.
void DrawLayerMarks(cairo_t* cr, const Frame& f, const std::vector<ChartRun>& runs) {
  const double dash[] = {1, 2};
  Font(cr, 7.5);
  double previousEnd = -1e9;
  int raised = 0;
  for (const LayerMark& mark : LayerMarksOf(runs)) {
    const double x = f.X(mark.lba);
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 1.0);
    Line(cr, x, f.plot.y, x, f.plot.y + f.plot.height);
    cairo_set_dash(cr, nullptr, 0, 0);
    raised = x + 3 < previousEnd ? raised + 1 : 0;
    Text(cr, x + 3, f.plot.y + f.plot.height - 4 - 9 * raised, mark.label);
    previousEnd = std::max(previousEnd, x + 3 + TextWidth(cr, mark.label) + 4);
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

// Where a Smart Scan's dots stand: at the rim sample's LBA, or at the disc's
// end when the fixed address lies past it.
int32_t SmartDotsLba(const ScanRecord& record) {
  return SmartSampleLba(record).value_or(record.disc.lastLba);
}

// A Smart Scan has a reading per speed, not a curve: a dot each at the
// rim sample's LBA, named there.
void DrawSmartDots(cairo_t* cr, const Frame& f, const ScanRecord& record, bool te) {
  for (const SpeedStatistics& speed : StatisticsOf(record).speeds) {
    if (!speed.reading.worst) continue;
    const WorstSample& w = *speed.reading.worst;
    cairo_arc(cr, f.X(SmartDotsLba(record)), f.Y(te ? w.te : w.fe), 1.75, 0, 2 * M_PI);
    cairo_fill(cr);
  }
}

void DrawRimSampleLabel(cairo_t* cr, const Frame& f, const std::vector<ChartRun>& runs) {
  std::set<int32_t> drawn;
  for (const ChartRun& run : runs) {
    if (run.record->kind != RecordKind::kSmart) continue;
    const RecordStatistics statistics = StatisticsOf(*run.record);
    if (statistics.speeds.empty() || !statistics.speeds[0].reading.worst) continue;
    const int32_t lba = SmartDotsLba(*run.record);
    if (!drawn.insert(lba).second) continue;
    const double x = f.X(lba);
    const double dash[] = {1, 2};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.6);
    Line(cr, x, f.plot.y, x, f.plot.y + f.plot.height);
    cairo_set_dash(cr, nullptr, 0, 0);
    Font(cr, 7.5);
    const std::string label = SmartSampleLba(*run.record)
                                  ? "rim sample, LBA " + GroupedDigits(lba)
                                  : std::string("rim sample, fixed address");
    Text(cr, x - 3, f.plot.y + f.plot.height - 4, label, 1);
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

// The limit lines last, sharp, in the limits' greys (TE's solid, FE's
// dashed): each distinct limit of the runs once, labelled with its value.
void DrawLimits(cairo_t* cr, const Frame& f, const std::vector<ChartRun>& runs) {
  std::set<int> teLimits, feLimits;
  for (const ChartRun& run : runs) {
    teLimits.insert(run.record->settings.teLimit);
    feLimits.insert(run.record->settings.feLimit);
  }
  const double left = f.plot.x, right = f.plot.x + f.plot.width;
  const double dash[] = {5, 3};
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1.5);
  for (const bool te : {true, false}) {
    SetColour(cr, te ? kReportTeLimit : kReportFeLimit);
    if (!te) cairo_set_dash(cr, dash, 2, 0);
    for (const int limit : te ? teLimits : feLimits) Line(cr, left, f.Y(limit), right, f.Y(limit));
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  Font(cr, 7, true);
  for (const bool te : {true, false}) {
    for (const int limit : te ? teLimits : feLimits) {
      const std::string label = (te ? "TE limit " : "FE limit ") + std::to_string(limit);
      const double y = f.Y(limit) + (te ? -3 : 9);
      // On a white ground so a curve beneath does not hide it.
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_rectangle(cr, right - 4 - TextWidth(cr, label), y - 7, TextWidth(cr, label) + 4, 9);
      cairo_fill(cr);
      SetColour(cr, te ? kReportTeLimit : kReportFeLimit);
      Text(cr, right - 2, y, label, 1);
    }
  }
}

// The legend's band above the plot.
void DrawLegend(cairo_t* cr, const Frame& f) {
  const double bandX = f.plot.x, bandY = f.rect.y + 2;
  cairo_set_source_rgb(cr, 0.96, 0.96, 0.96);
  cairo_rectangle(cr, bandX, bandY, f.plot.width, f.legend.Height());
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
  cairo_set_line_width(cr, 0.5);
  cairo_stroke(cr);
  Font(cr, kLegendFont);
  for (const LegendEntry& e : f.legend.entries) {
    const double lx = bandX + e.x;
    const double ly = bandY + kLegendPad + kLegendRow * static_cast<double>(e.row);
    if (e.limit) {
      const double dash[] = {3, 2};
      SetColour(cr, e.te);
      cairo_set_line_width(cr, 1.5);
      if (e.limit == 2) cairo_set_dash(cr, dash, 2, 0);
      Line(cr, lx, ly + 6, lx + SwatchWidth(e), ly + 6);
      cairo_set_dash(cr, nullptr, 0, 0);
    } else {
      SetColour(cr, e.te);
      cairo_rectangle(cr, lx, ly + 4, kSwatch, 4);
      cairo_fill(cr);
      SetColour(cr, e.fe);
      cairo_rectangle(cr, lx + kSwatch + 1, ly + 4, kSwatch, 4);
      cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    Text(cr, lx + SwatchWidth(e) + 4, ly + 9, e.text);
  }
}

}  // namespace

ChartRange RangeOfReadings(const std::vector<ChartRun>& runs) {
  double lastLba = 1, top = 1;
  for (const ChartRun& run : runs) {
    const ScanRecord& r = *run.record;
    const RecordStatistics s = StatisticsOf(r);
    lastLba = std::max(lastLba, static_cast<double>(r.disc.lastLba));
    for (const RecordSample& sample : r.samples) lastLba = std::max<double>(lastLba, sample.lba);
    for (const SpeedStatistics& speed : s.speeds) {
      if (!speed.reading.worst) continue;
      lastLba = std::max<double>(lastLba, SmartDotsLba(r));
      top = std::max({top, static_cast<double>(speed.reading.te.max),
                      static_cast<double>(speed.reading.fe.max)});
    }
    top = std::max({top, static_cast<double>(s.whole.te.max), static_cast<double>(s.whole.fe.max),
                    static_cast<double>(r.settings.teLimit),
                    static_cast<double>(r.settings.feLimit)});
  }
  return ChartRange{static_cast<int32_t>(lastLba), FittedChartTop(top)};
}

int32_t FirstLayerOneLba(const ScanRecord& record) {
  for (const RecordSample& sample : record.samples) {
    if (sample.layer == 1) return sample.lba;
  }
  return -1;
}

LayerMark LayerMarkOf(const ScanRecord& record) {
  const int32_t firstRead = FirstLayerOneLba(record);
  const bool dualLayer = record.disc.type == "DVD+R DL" || firstRead >= 0;
  const std::optional<int32_t>& own = record.disc.layer0Sectors;
  if (dualLayer && own && *own > 0 && *own <= record.disc.lastLba) {
    return {*own, "layer 1 starts at " + GroupedDigits(*own)};
  }
  if (firstRead >= 0) return {firstRead, "layer 1 starts"};
  return {};
}

std::vector<LayerMark> LayerMarksOf(const std::vector<ChartRun>& runs) {
  std::set<LayerMark> marks;
  for (const ChartRun& run : runs) {
    LayerMark mark = LayerMarkOf(*run.record);
    if (mark.lba >= 0) marks.insert(std::move(mark));
  }
  return {marks.begin(), marks.end()};
}

void DrawRunsChart(cairo_t* cr, const std::vector<ChartRun>& runs, const ChartRange& range,
                   const ReportRect& rect, ReportRect* plotArea) {
  const Frame frame = FrameOf(cr, rect, range, runs);
  if (plotArea) *plotArea = frame.plot;
  cairo_save(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
  cairo_fill(cr);
  DrawAxes(cr, frame);
  DrawLayerMarks(cr, frame, runs);
  DrawCurves(cr, frame, runs);
  DrawRimSampleLabel(cr, frame, runs);
  DrawLimits(cr, frame, runs);
  DrawLegend(cr, frame);
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
