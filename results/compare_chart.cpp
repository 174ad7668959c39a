#include "results/compare_chart.h"

#include <cairo.h>

#include <memory>

#include "results/report_content.h"
#include "results/run_colours.h"
#include "results/surface_png.h"

static_assert(kRunColourCount >= kMaxComparedRuns, "every compared run has colours of its own");

namespace {

// Drawn as a report's chart is, at two pixels a point.
constexpr double kPixelsPerPoint = 2.0;

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

// The legend names a run by what was given for it, its disc and its speed.
std::vector<ChartRun> LegendRuns(const std::vector<ChartRun>& runs) {
  std::vector<ChartRun> named;
  for (const ChartRun& run : runs) {
    const ScanRecord& r = *run.record;
    const std::string speed = r.kind == RecordKind::kSmart ? "smart" : r.settings.speed;
    named.push_back(ChartRun{ReportText(run.name + " " + r.disc.manufacturerId + " " + speed), &r});
  }
  return named;
}

bool Draw(cairo_surface_t* surface, const std::vector<ChartRun>& runs, std::string* error) {
  std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface));
  cairo_t* cr = context.get();
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, kPixelsPerPoint, kPixelsPerPoint);
  const ReportRect rect{0, 0, kCompareChartWidth / kPixelsPerPoint,
                        kCompareChartHeight / kPixelsPerPoint};
  DrawRunsChart(cr, LegendRuns(runs), RangeOfReadings(runs), rect);
  const cairo_status_t status = cairo_status(cr);
  if (status == CAIRO_STATUS_SUCCESS) return true;
  *error = cairo_status_to_string(status);
  return false;
}

}  // namespace

bool DrawCompareChartPng(const std::vector<ChartRun>& runs, std::string* png, std::string* error) {
  if (runs.empty() || runs.size() > kMaxComparedRuns) {
    *error = "a chart takes 1 to " + std::to_string(kMaxComparedRuns) + " runs";
    return false;
  }
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, kCompareChartWidth, kCompareChartHeight));
  if (!Draw(surface.get(), runs, error)) return false;
  png->clear();
  const cairo_status_t status = SurfacePng(surface.get(), png);
  if (status != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(status);
    return false;
  }
  return true;
}
