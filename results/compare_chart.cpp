#include "results/compare_chart.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "console/scan_run.h"

namespace {

// Pairs of one hue: TE the darker, FE the lighter, so that a run's two
// curves read as one run and the runs apart.
constexpr uint32_t kTeColours[kMaxComparedRuns] = {0x1f4e9c, 0xb03a0c, 0x1d7a2e, 0x7b2c9e,
                                                   0x8a6d00, 0x0b7d86, 0xa3135a, 0x4a4a4a};
constexpr uint32_t kFeColours[kMaxComparedRuns] = {0x6fa1f0, 0xf0915c, 0x6ccf7d, 0xc08ae6,
                                                   0xe0c040, 0x5cd1da, 0xf06aa9, 0xa0a0a0};

constexpr double kLeft = 64, kRight = 230, kTop = 30, kBottom = 50;

void SetColour(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

}  // namespace

uint32_t CompareTeColour(size_t run) { return kTeColours[run % kMaxComparedRuns]; }
uint32_t CompareFeColour(size_t run) { return kFeColours[run % kMaxComparedRuns]; }

bool DrawCompareChartPng(const std::vector<ChartRun>& runs, std::string* png, std::string* error) {
  if (runs.empty() || runs.size() > kMaxComparedRuns) {
    *error = "a chart takes 1 to " + std::to_string(kMaxComparedRuns) + " runs";
    return false;
  }
  double maxLba = 1, maxY = 1;
  bool dualLayer = false;
  for (const ChartRun& run : runs) {
    const ScanRecord& r = *run.record;
    maxLba = std::max(maxLba, static_cast<double>(r.disc.lastLba));
    const RecordStatistics s = StatisticsOf(r);
    maxY = std::max({maxY, static_cast<double>(s.whole.te.max), static_cast<double>(s.whole.fe.max),
                     static_cast<double>(r.settings.teLimit),
                     static_cast<double>(r.settings.feLimit)});
    for (const RecordSample& sample : r.samples) maxLba = std::max(maxLba, double(sample.lba));
    dualLayer |= r.disc.type == "DVD+R DL";
  }
  maxY = std::ceil(maxY * 1.1 / 100) * 100;

  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, kCompareChartWidth, kCompareChartHeight));
  std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface.get()));
  cairo_t* cr = context.get();
  const double plotW = kCompareChartWidth - kLeft - kRight;
  const double plotH = kCompareChartHeight - kTop - kBottom;
  auto X = [&](double lba) { return kLeft + lba / maxLba * plotW; };
  auto Y = [&](double v) { return kTop + plotH - v / maxY * plotH; };

  SetColour(cr, 0xFFFFFF);
  cairo_paint(cr);
  cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 11);

  // Grid and axes: readings every 100, LBAs in GB from the start of the data.
  cairo_set_line_width(cr, 1);
  for (double v = 0; v <= maxY; v += 100) {
    SetColour(cr, 0xE4E4E4);
    cairo_move_to(cr, kLeft, std::round(Y(v)) + 0.5);
    cairo_line_to(cr, kLeft + plotW, std::round(Y(v)) + 0.5);
    cairo_stroke(cr);
    SetColour(cr, 0x303030);
    const std::string label = std::to_string(static_cast<int>(v));
    cairo_move_to(cr, kLeft - 8 - 6.5 * label.size(), Y(v) + 4);
    cairo_show_text(cr, label.c_str());
  }
  const double maxGb = LbaToGigabytes(static_cast<int32_t>(maxLba));
  for (double gb = 0; gb <= maxGb; gb += maxGb > 5 ? 1.0 : 0.5) {
    const double x = X(gb * 1e9 / 2048);
    SetColour(cr, 0x303030);
    char label[16];
    std::snprintf(label, sizeof label, "%.1f", gb);
    cairo_move_to(cr, x - 9, kTop + plotH + 16);
    cairo_show_text(cr, label);
  }
  cairo_move_to(cr, kLeft + plotW / 2 - 80, kTop + plotH + 36);
  cairo_show_text(cr, "position (GB from the start of the data)");
  cairo_move_to(cr, 8, kTop - 10);
  cairo_show_text(cr, "TE / FE");
  SetColour(cr, 0x303030);
  cairo_rectangle(cr, kLeft + 0.5, kTop + 0.5, plotW, plotH);
  cairo_stroke(cr);

  // Limits, dashed: TE red, FE orange (each distinct limit once).
  const double dash[] = {6, 4};
  cairo_set_dash(cr, dash, 2, 0);
  cairo_set_line_width(cr, 1.5);
  std::vector<std::pair<int, uint32_t>> limits;
  for (const ChartRun& run : runs) {
    limits.push_back({run.record->settings.teLimit, 0xD00000});
    limits.push_back({run.record->settings.feLimit, 0xF08000});
  }
  std::sort(limits.begin(), limits.end());
  limits.erase(std::unique(limits.begin(), limits.end()), limits.end());
  for (const auto& [limit, colour] : limits) {
    SetColour(cr, colour);
    cairo_move_to(cr, kLeft, Y(limit));
    cairo_line_to(cr, kLeft + plotW, Y(limit));
    cairo_stroke(cr);
  }
  // Where the second layer of a DL disc starts.
  if (dualLayer) {
    const double x = std::round(X(SecondLayerStartLba())) + 0.5;
    SetColour(cr, 0x505050);
    cairo_move_to(cr, x, kTop);
    cairo_line_to(cr, x, kTop + plotH);
    cairo_stroke(cr);
    cairo_move_to(cr, x + 4, kTop + 12);
    cairo_show_text(cr, "layer 1");
  }
  cairo_set_dash(cr, nullptr, 0, 0);

  // The curves, each run's TE then FE; Smart Scan readings as dots.
  cairo_save(cr);
  cairo_rectangle(cr, kLeft, kTop, plotW, plotH);
  cairo_clip(cr);
  for (size_t i = 0; i < runs.size(); ++i) {
    const ScanRecord& r = *runs[i].record;
    for (const bool te : {true, false}) {
      SetColour(cr, te ? CompareTeColour(i) : CompareFeColour(i));
      if (r.kind == RecordKind::kScan) {
        cairo_set_line_width(cr, 1.6);
        bool started = false;
        for (const RecordSample& s : r.samples) {
          const double y = Y(te ? s.te : s.fe);
          if (started) {
            cairo_line_to(cr, X(s.lba), y);
          } else {
            cairo_move_to(cr, X(s.lba), y);
            started = true;
          }
        }
        cairo_stroke(cr);
      } else {
        const RecordStatistics s = StatisticsOf(r);
        const double x = s.whole.worst ? X(s.whole.worst->lba) : X(0);
        for (const SmartRow& row : r.rows) {
          const auto value = te ? row.te : row.fe;
          if (!value) continue;
          cairo_arc(cr, x, Y(*value), 3.5, 0, 2 * M_PI);
          cairo_fill(cr);
        }
      }
    }
  }
  cairo_restore(cr);

  // Legend: one line a run, its two colours and its name.
  double y = kTop + 6;
  const double lx = kLeft + plotW + 14;
  for (size_t i = 0; i < runs.size(); ++i) {
    const ScanRecord& r = *runs[i].record;
    for (const bool te : {true, false}) {
      SetColour(cr, te ? CompareTeColour(i) : CompareFeColour(i));
      cairo_rectangle(cr, lx, y + (te ? 0 : 14), 18, 6);
      cairo_fill(cr);
      SetColour(cr, 0x202020);
      std::string label = (te ? "TE  " : "FE  ") + runs[i].name;
      if (te)
        label += " " + r.disc.manufacturerId;
      else
        label += " " + (r.kind == RecordKind::kSmart ? std::string("smart") : r.settings.speed);
      if (label.size() > 30) label = label.substr(0, 30);
      cairo_move_to(cr, lx + 24, y + (te ? 7 : 21));
      cairo_show_text(cr, label.c_str());
    }
    y += 40;
  }
  SetColour(cr, 0xD00000);
  cairo_move_to(cr, lx, y + 8);
  cairo_show_text(cr, "- - TE limit");
  SetColour(cr, 0xF08000);
  cairo_move_to(cr, lx, y + 24);
  cairo_show_text(cr, "- - FE limit");

  cairo_surface_flush(surface.get());
  png->clear();
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface.get(), Append, png);
  if (status != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(status);
    return false;
  }
  return true;
}
