#include "results/report_page.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <vector>

namespace {

constexpr char kFont[] = "Liberation Sans";
constexpr double kMargin = 40;

void SetColour(cairo_t* cr, ReportColour c) {
  cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

void Font(cairo_t* cr, double size, bool bold = false) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

double TextWidth(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return extents.x_advance;
}

// The text cut (at a UTF-8 boundary) with an ellipsis so that it fits width.
std::string Fit(cairo_t* cr, const std::string& text, double width) {
  if (TextWidth(cr, text) <= width) return text;
  std::string cut = text;
  while (!cut.empty()) {
    do {
      cut.pop_back();
    } while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80);
    if (!cut.empty()) cut.pop_back();  // the lead byte of what was removed
    if (TextWidth(cr, cut + "\u2026") <= width) return cut + "\u2026";
  }
  return "";
}

// Text with its baseline at y; align 0 left, 0.5 centre, 1 right of x.
void Text(cairo_t* cr, double x, double y, const std::string& text, double align = 0) {
  cairo_move_to(cr, x - align * TextWidth(cr, text), y);
  cairo_show_text(cr, text.c_str());
}

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

void Line(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

double FieldsBlock(cairo_t* cr, const ReportRun& run, double x, double y, double width) {
  Font(cr, 8.5);
  // The disc's column is the wider: manufacturer names run long.
  const double column = width * 0.58;
  const double labelWidth = 78;
  const size_t rows = (run.fields.size() + 1) / 2;
  for (size_t i = 0; i < run.fields.size(); ++i) {
    const double cx = x + (i < rows ? 0 : column);
    const double columnWidth = i < rows ? column : width - column;
    const double cy = y + static_cast<double>(i % rows) * 12 + 9;
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    Font(cr, 8.5, false);
    Text(cr, cx, cy, run.fields[i].label);
    cairo_set_source_rgb(cr, 0, 0, 0);
    Text(cr, cx + labelWidth, cy, Fit(cr, run.fields[i].value, columnWidth - labelWidth - 8));
  }
  return static_cast<double>(rows) * 12 + 6;
}

// One block per run of a comparison: its colours, name and outcome, then
// its disc, drive and settings on one line.
double RunsBlock(cairo_t* cr, const ReportContent& content, double x, double y, double width) {
  double at = y;
  for (size_t i = 0; i < content.runs.size(); ++i) {
    const ReportRun& run = content.runs[i];
    const RunColours colours = RunColoursOf(i);
    SetColour(cr, colours.te);
    cairo_rectangle(cr, x, at + 2, 8, 8);
    cairo_fill(cr);
    SetColour(cr, colours.fe);
    cairo_rectangle(cr, x + 10, at + 2, 8, 8);
    cairo_fill(cr);
    Font(cr, 9, true);
    cairo_set_source_rgb(cr, 0, 0, 0);
    const std::string name = Fit(cr, run.name, width * 0.55);
    Text(cr, x + 24, at + 10, name);
    SetColour(cr, run.outcomeColour);
    Text(cr, x + 24 + TextWidth(cr, name) + 8, at + 10,
         Fit(cr, run.outcome, width - 32 - TextWidth(cr, name)));
    Font(cr, 8);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    std::string detail;
    for (const ReportField& field : run.fields) {
      if (field.label == "Date" || field.label == "Write speeds" || field.label == "Program" ||
          field.label == "Limits")
        continue;
      detail += (detail.empty() ? "" : "; ") + field.value;
    }
    Text(cr, x + 24, at + 21, Fit(cr, detail, width - 24));
    at += 27;
  }
  return at - y + 2;
}

double StatisticsTable(cairo_t* cr, const ReportContent& content, double x, double y,
                       double width) {
  if (content.statistics.empty()) return 0;
  const double labelWidth = std::min(120.0, width * 0.24);
  const double cell = (width - labelWidth - 40) / 10;
  const char* heads[] = {"max", "mean", "p95", "over", "margin"};
  Font(cr, 8.5, true);
  cairo_set_source_rgb(cr, 0, 0, 0);
  Text(cr, x, y + 10, "Statistics");
  Text(cr, x + labelWidth + 40 + cell * 2.5, y + 10,
       "TE (limit " + std::to_string(content.teLimit) + ")", 0.5);
  Text(cr, x + labelWidth + 40 + cell * 7.5, y + 10,
       "FE (limit " + std::to_string(content.feLimit) + ")", 0.5);
  Font(cr, 8);
  cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
  Text(cr, x + labelWidth + 34, y + 22, "samples", 1);
  for (int i = 0; i < 10; ++i)
    Text(cr, x + labelWidth + 40 + cell * (i + 1) - 4, y + 22, heads[i % 5], 1);
  cairo_set_line_width(cr, 0.5);
  Line(cr, x, y + 25.5, x + width, y + 25.5);
  double at = y + 25;
  for (const ReportStatRow& row : content.statistics) {
    at += 11.5;
    cairo_set_source_rgb(cr, 0, 0, 0);
    Font(cr, 8.5);
    Text(cr, x, at, Fit(cr, row.label, labelWidth - 4));
    Text(cr, x + labelWidth + 34, at, std::to_string(row.samples), 1);
    int column = 0;
    for (const ChannelStatistics* channel : {&row.te, &row.fe}) {
      const std::string values[] = {
          std::to_string(channel->max), FormatMean(channel->mean), std::to_string(channel->p95),
          std::to_string(channel->overLimit), std::to_string(channel->margin)};
      for (int i = 0; i < 5; ++i, ++column) {
        const bool bad = (i == 3 && channel->overLimit > 0) || (i == 4 && channel->margin < 0);
        if (bad) {
          SetColour(cr, kReportRed);
        } else {
          cairo_set_source_rgb(cr, 0, 0, 0);
        }
        Text(cr, x + labelWidth + 40 + cell * (column + 1) - 4, at, values[i], 1);
      }
    }
  }
  at += 4;
  cairo_set_source_rgb(cr, 0, 0, 0);
  Font(cr, 8.5);
  for (size_t i = 0; i < content.runs.size(); ++i) {
    const ReportRun& run = content.runs[i];
    if (run.worst.empty()) continue;
    at += 12;
    Text(cr, x, at,
         Fit(cr, (content.runs.size() > 1 ? "Run " + std::to_string(i + 1) + ": " : "") + run.worst,
             width));
  }
  return at - y + 6;
}

double SmartTable(cairo_t* cr, const ReportContent& content, double x, double y, double width) {
  Font(cr, 8.5, true);
  cairo_set_source_rgb(cr, 0, 0, 0);
  Text(cr, x, y + 10, "Smart Scan: one sample near the rim at every write speed");
  const double columns[] = {x, x + 90, x + 160, x + 230};
  Font(cr, 8.5);
  cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
  Text(cr, columns[0], y + 24, "Speed");
  Text(cr, columns[1] + 30, y + 24, "TE", 1);
  Text(cr, columns[2] + 30, y + 24, "FE", 1);
  Text(cr, columns[3], y + 24, "Result");
  cairo_set_line_width(cr, 0.5);
  Line(cr, x, y + 27.5, x + std::min(width, 360.0), y + 27.5);
  double at = y + 27;
  for (const ReportSmartRow& row : content.smartRows) {
    at += 12;
    cairo_set_source_rgb(cr, 0, 0, 0);
    Text(cr, columns[0], at, row.speed);
    Text(cr, columns[1] + 30, at, row.te, 1);
    Text(cr, columns[2] + 30, at, row.fe, 1);
    SetColour(cr, row.fit ? kReportGreen : kReportRed);
    Text(cr, columns[3], at, row.result);
  }
  at += 16;
  Font(cr, 10, true);
  SetColour(cr, content.smartHighest.rfind("Highest", 0) == 0 ? kReportGreen : kReportRed);
  Text(cr, x, at, content.smartHighest);
  return at - y + 8;
}

cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

void AppendPng(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char*>(data), length);
}

// The picture as an 8-bit RGB PNG. Written here rather than by cairo, whose
// writer tries every row filter: on a page that is mostly white the Sub
// filter alone gives much the same size in half the time.
cairo_status_t WritePng(cairo_surface_t* surface, std::string* out) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  if (data == nullptr) return CAIRO_STATUS_NULL_POINTER;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return CAIRO_STATUS_NO_MEMORY;
  }
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  // libpng reports its errors by longjmp; nothing here needs unwinding.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return CAIRO_STATUS_WRITE_ERROR;
  }
  png_set_write_fn(png, out, AppendPng, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 6);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const auto* pixels = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      row[static_cast<size_t>(x) * 3] = static_cast<unsigned char>(pixels[x] >> 16);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<unsigned char>(pixels[x] >> 8);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<unsigned char>(pixels[x]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return CAIRO_STATUS_SUCCESS;
}

bool Failed(cairo_status_t status, const char* what, std::string* error) {
  if (status == CAIRO_STATUS_SUCCESS) return false;
  *error = std::string(what) + ": " + cairo_status_to_string(status);
  return true;
}

}  // namespace

void DrawReportChart(cairo_t* cr, const ReportContent& content, const ReportRect& rect,
                     ReportRect* plotArea) {
  cairo_save(cr);
  const bool comparison = content.runs.size() > 1;
  const double legend = comparison ? 14.0 * static_cast<double>((content.runs.size() + 1) / 2) : 0;
  ReportRect plot{rect.x + 40, rect.y + 8 + legend, rect.width - 52, rect.height - 8 - legend - 30};
  if (plotArea) *plotArea = plot;
  const double lastLba = std::max<double>(1, content.lastLba);
  auto px = [&](double lba) { return plot.x + plot.width * lba / lastLba; };
  auto py = [&](double value) {
    return plot.y + plot.height * (1 - std::clamp(value, 0.0, kReportChartTop) / kReportChartTop);
  };

  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
  cairo_fill(cr);

  // Grid, ticks and labels: readings every 100, LBA and GB below.
  cairo_set_line_width(cr, 0.4);
  Font(cr, 7.5);
  for (int value = 0; value <= kReportChartTop; value += 100) {
    cairo_set_source_rgb(cr, 0.86, 0.86, 0.86);
    Line(cr, plot.x, py(value), plot.x + plot.width, py(value));
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, plot.x - 4, py(value) + 2.5, std::to_string(value), 1);
  }
  const double lbaStep = NiceStep(lastLba, 6);
  for (double lba = 0; lba <= lastLba + 0.5; lba += lbaStep) {
    cairo_set_source_rgb(cr, 0.86, 0.86, 0.86);
    Line(cr, px(lba), plot.y, px(lba), plot.y + plot.height);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, px(lba), plot.y + plot.height + 10, Grouped(static_cast<long>(lba)), 0.5);
  }
  const double gbMax = LbaToGigabytes(static_cast<int32_t>(lastLba));
  const double gbStep = NiceStep(std::max(gbMax, 0.01), 6);
  for (double gb = 0; gb <= gbMax + 1e-9; gb += gbStep) {
    char label[16];
    std::snprintf(label, sizeof label, gbStep < 1 ? "%.1f" : "%.0f", gb);
    const double x = px(gb * 1e9 / 2048);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Line(cr, x, plot.y + plot.height + 13, x, plot.y + plot.height + 16);
    Text(cr, x, plot.y + plot.height + 24, label, 0.5);
  }
  Font(cr, 7.5, true);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  Text(cr, rect.x, plot.y + plot.height + 10, "LBA");
  Text(cr, rect.x, plot.y + plot.height + 24, "GB");
  cairo_save(cr);
  cairo_translate(cr, rect.x + 8, plot.y + plot.height / 2);
  cairo_rotate(cr, -M_PI / 2);
  Text(cr, 0, 0, "TE / FE", 0.5);
  cairo_restore(cr);
  cairo_set_line_width(cr, 0.8);
  cairo_rectangle(cr, plot.x, plot.y, plot.width, plot.height);
  cairo_stroke(cr);

  // The second layer starts here on a DL disc.
  for (const ReportRun& run : content.runs) {
    if (run.layerBreakLba < 0) continue;
    const double dash[] = {3, 2};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.8);
    Line(cr, px(run.layerBreakLba), plot.y, px(run.layerBreakLba), plot.y + plot.height);
    cairo_set_dash(cr, nullptr, 0, 0);
    Font(cr, 7.5);
    Text(cr, px(run.layerBreakLba) + 3, plot.y + 9, "layer 1");
  }

  // The curves, clipped to the plot.
  cairo_save(cr);
  cairo_rectangle(cr, plot.x, plot.y, plot.width, plot.height);
  cairo_clip(cr);
  cairo_set_line_width(cr, 1.0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  for (size_t i = 0; i < content.runs.size(); ++i) {
    const std::vector<RecordSample>& samples = content.runs[i].record->samples;
    const RunColours colours = RunColoursOf(i);
    for (int channel = 0; channel < 2; ++channel) {
      if (samples.empty()) continue;
      SetColour(cr, channel == 0 ? colours.te : colours.fe);
      for (size_t k = 0; k < samples.size(); ++k) {
        const double value = channel == 0 ? samples[k].te : samples[k].fe;
        if (k == 0) {
          cairo_move_to(cr, px(samples[k].lba), py(value));
        } else {
          cairo_line_to(cr, px(samples[k].lba), py(value));
        }
      }
      if (samples.size() == 1) cairo_rel_line_to(cr, 1, 0);
      cairo_stroke(cr);
    }
  }
  cairo_restore(cr);

  // The limit lines last, sharp, in the colours of their readings.
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1.5);
  SetColour(cr, kReportTe);
  Line(cr, plot.x, py(content.teLimit), plot.x + plot.width, py(content.teLimit));
  SetColour(cr, kReportFe);
  Line(cr, plot.x, py(content.feLimit), plot.x + plot.width, py(content.feLimit));
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  Font(cr, 7);
  SetColour(cr, kReportTe);
  Text(cr, plot.x + plot.width - 2, py(content.teLimit) - 3,
       "TE limit " + std::to_string(content.teLimit), 1);
  SetColour(cr, kReportFe);
  Text(cr, plot.x + plot.width - 2, py(content.feLimit) + 9,
       "FE limit " + std::to_string(content.feLimit), 1);

  // Which colours are which: TE and FE, and for a comparison every run.
  Font(cr, 7.5);
  if (comparison) {
    const double column = plot.width / 2;
    for (size_t i = 0; i < content.runs.size(); ++i) {
      const RunColours colours = RunColoursOf(i);
      const double lx = plot.x + column * static_cast<double>(i % 2);
      const double ly = rect.y + 2 + 14 * static_cast<double>(i / 2);
      SetColour(cr, colours.te);
      cairo_rectangle(cr, lx, ly + 2, 12, 3);
      cairo_fill(cr);
      SetColour(cr, colours.fe);
      cairo_rectangle(cr, lx, ly + 7, 12, 3);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      Text(cr, lx + 16, ly + 9, Fit(cr, content.runs[i].name + " (TE, FE)", column - 20));
    }
  } else {
    const double lx = plot.x + 6;
    const double ly = plot.y + 4;
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
  cairo_restore(cr);
}

void DrawReportPage(cairo_t* cr, const ReportContent& content, PaperPoints paper,
                    ReportRect* plotArea) {
  cairo_save(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  const double x = kMargin;
  const double width = paper.width - 2 * kMargin;
  double y = kMargin;

  Font(cr, 8, true);
  cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
  Text(cr, x, y, "Velmo TE/FE scan report");
  y += 20;
  Font(cr, 17, true);
  SetColour(cr, content.titleColour);
  Text(cr, x, y, Fit(cr, content.title, width));
  y += 6;
  if (!content.subtitle.empty()) {
    Font(cr, 9.5);
    cairo_set_source_rgb(cr, 0, 0, 0);
    y += 12;
    Text(cr, x, y, Fit(cr, content.subtitle, width));
  }
  y += 8;
  cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
  cairo_set_line_width(cr, 0.6);
  Line(cr, x, y, x + width, y);
  y += 4;

  if (content.runs.size() == 1) {
    y += FieldsBlock(cr, content.runs[0], x, y, width);
  } else {
    y += RunsBlock(cr, content, x, y, width);
  }

  if (!content.smart) {
    const double chartHeight = std::min(330.0, paper.height * 0.4);
    ReportRect plot;
    DrawReportChart(cr, content, {x, y, width, chartHeight}, &plot);
    if (plotArea) *plotArea = plot;
    y += chartHeight + 8;
  }
  if (content.smart) y += SmartTable(cr, content, x, y + 6, width) + 6;
  y += StatisticsTable(cr, content, x, y, width);

  Font(cr, 7);
  cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
  Text(cr, x, paper.height - kMargin / 2,
       "TE: tracking error, FE: focus error; limits as set for the run. LBA: 2048-byte blocks from "
       "the start of the data; GB: 10^9 bytes.");
  cairo_restore(cr);
}

bool RenderReportPng(const ReportContent& content, PaperSize paper, std::string* png,
                     std::string* error, ReportRect* plotArea) {
  const PaperPoints points = PaperSizePoints(paper);
  const int width = static_cast<int>(std::lround(points.width * kReportPngScale));
  const int height = static_cast<int>(std::lround(points.height * kReportPngScale));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, kReportPngScale, kReportPngScale);
  ReportRect plot;
  DrawReportPage(cr, content, points, &plot);
  const cairo_status_t drawn = cairo_status(cr);
  cairo_destroy(cr);
  png->clear();
  const cairo_status_t written = drawn == CAIRO_STATUS_SUCCESS ? WritePng(surface, png) : drawn;
  cairo_surface_destroy(surface);
  if (Failed(written, "report picture", error)) return false;
  if (plotArea) {
    *plotArea = {plot.x * kReportPngScale, plot.y * kReportPngScale, plot.width * kReportPngScale,
                 plot.height * kReportPngScale};
  }
  return true;
}

bool RenderReportPdf(const ReportContent& content, PaperSize paper, std::string* pdf,
                     std::string* error) {
  const PaperPoints points = PaperSizePoints(paper);
  pdf->clear();
  cairo_surface_t* surface =
      cairo_pdf_surface_create_for_stream(AppendBytes, pdf, points.width, points.height);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, content.title.c_str());
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Velmo");
  cairo_t* cr = cairo_create(surface);
  DrawReportPage(cr, content, points);
  cairo_show_page(cr);
  const cairo_status_t drawn = cairo_status(cr);
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  const cairo_status_t finished = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  return !Failed(drawn != CAIRO_STATUS_SUCCESS ? drawn : finished, "report PDF", error);
}

bool RenderChartPng(const ReportContent& content, int width, int height, std::string* png,
                    std::string* error, ReportRect* plotArea) {
  // Laid out in points at half the pixel size, drawn at two pixels a point.
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, kReportPngScale, kReportPngScale);
  ReportRect plot;
  DrawReportChart(cr, content, {0, 0, width / kReportPngScale, height / kReportPngScale}, &plot);
  const cairo_status_t drawn = cairo_status(cr);
  cairo_destroy(cr);
  png->clear();
  const cairo_status_t written = drawn == CAIRO_STATUS_SUCCESS ? WritePng(surface, png) : drawn;
  cairo_surface_destroy(surface);
  if (Failed(written, "report chart", error)) return false;
  if (plotArea) {
    *plotArea = {plot.x * kReportPngScale, plot.y * kReportPngScale, plot.width * kReportPngScale,
                 plot.height * kReportPngScale};
  }
  return true;
}
