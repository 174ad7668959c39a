#include "reports/report_page.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "reports/cairo_drawing.h"
#include "reports/surface_png.h"

namespace {

constexpr double kMargin = 40;

// Text wrapped to width from the baseline y on; the height it took.
double Paragraph(cairo_t* cr, double x, double y, const std::string& text, double width,
                 double lineHeight) {
  const std::vector<std::string> lines = Wrap(cr, text, width);
  for (size_t i = 0; i < lines.size(); ++i)
    Text(cr, x, y + lineHeight * static_cast<double>(i), lines[i]);
  return lineHeight * static_cast<double>(lines.size());
}

double FieldsBlock(cairo_t* cr, const ReportRun& run, double x, double y, double width) {
  // The disc's column is the wider: manufacturer names run long.
  const double column = width * 0.58;
  const double labelWidth = 78;
  const size_t rows = (run.fields.size() + 1) / 2;
  double bottom[2] = {y, y};
  for (size_t i = 0; i < run.fields.size(); ++i) {
    const int side = i < rows ? 0 : 1;
    const double cx = x + (side == 0 ? 0 : column);
    const double columnWidth = side == 0 ? column : width - column;
    const double cy = bottom[side] + 9;
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    Font(cr, 8.5, false);
    Text(cr, cx, cy, run.fields[i].label);
    cairo_set_source_rgb(cr, 0, 0, 0);
    bottom[side] += Paragraph(cr, cx + labelWidth, cy, run.fields[i].value,
                              columnWidth - labelWidth - 8, 10.5) +
                    1.5;
  }
  return std::max(bottom[0], bottom[1]) - y + 6;
}

// One block per run of a comparison: its colours, name and outcome, then
// its disc, drive and settings, wrapped to the page.
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
    const double textWidth = width - 24;
    const double nameWidth = TextWidth(cr, run.name);
    if (nameWidth + 8 + TextWidth(cr, run.outcome) <= textWidth) {
      Text(cr, x + 24, at + 10, run.name);
      SetColour(cr, run.outcomeColour);
      Text(cr, x + 24 + nameWidth + 8, at + 10, run.outcome);
      at += 11;
    } else {
      at += Paragraph(cr, x + 24, at + 10, run.name, textWidth, 11);
      SetColour(cr, run.outcomeColour);
      at += Paragraph(cr, x + 24, at + 10, run.outcome, textWidth, 11);
    }
    Font(cr, 8);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    std::string detail;
    for (const ReportField& field : run.fields) {
      if (field.label == "Date" || field.label == "Program") continue;
      detail += (detail.empty() ? "" : "; ") + field.label + ": " + field.value;
    }
    at += Paragraph(cr, x + 24, at + 10, detail, textWidth, 10) + 5;
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
    at += Paragraph(
              cr, x, at,
              (content.runs.size() > 1 ? "Run " + std::to_string(i + 1) + ": " : "") + run.worst,
              width, 12) -
          12;
  }
  return at - y + 6;
}

double SmartTable(cairo_t* cr, const ReportContent& content, double x, double y, double width) {
  Font(cr, 8.5, true);
  cairo_set_source_rgb(cr, 0, 0, 0);
  double at = y + 10;
  at += Paragraph(cr, x, at,
                  "Smart Scan: one sample " + content.smartSample +
                      ", at every write speed; each speed's reading stands alone",
                  width, 11) -
        11;
  const double columns[] = {x, x + 60, x + 110, x + 175, x + 225, x + 300};
  Font(cr, 8.5);
  cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
  at += 14;
  Text(cr, columns[0], at, "Speed");
  Text(cr, columns[1] + 30, at, "TE", 1);
  Text(cr, columns[2] + 50, at, "TE margin", 1);
  Text(cr, columns[3] + 30, at, "FE", 1);
  Text(cr, columns[4] + 50, at, "FE margin", 1);
  Text(cr, columns[5], at, "Result");
  cairo_set_line_width(cr, 0.5);
  Line(cr, x, at + 3.5, x + std::min(width, 420.0), at + 3.5);
  at += 3;
  for (const ReportSmartRow& row : content.smartRows) {
    at += 12;
    cairo_set_source_rgb(cr, 0, 0, 0);
    Text(cr, columns[0], at, row.speed);
    Text(cr, columns[1] + 30, at, row.te, 1);
    Text(cr, columns[3] + 30, at, row.fe, 1);
    for (const auto& [column, margin] :
         {std::pair{columns[2], &row.teMargin}, std::pair{columns[4], &row.feMargin}}) {
      if (margin->rfind('-', 0) == 0 && *margin != "-") {
        SetColour(cr, kReportRed);
      } else {
        cairo_set_source_rgb(cr, 0, 0, 0);
      }
      Text(cr, column + 50, at, *margin, 1);
    }
    SetColour(cr, row.fit ? kReportGreen : kReportRed);
    Text(cr, columns[5], at, row.result);
  }
  at += 16;
  Font(cr, 10, true);
  SetColour(cr, content.smartHighest.rfind("Highest", 0) == 0 ? kReportGreen : kReportRed);
  Text(cr, x, at, content.smartHighest);
  return at - y + 8;
}

// The height of the tables under the chart, drawn once where nobody sees.
double TablesHeight(const ReportContent& content, double width) {
  cairo_surface_t* scratch = cairo_recording_surface_create(CAIRO_CONTENT_COLOR, nullptr);
  cairo_t* cr = cairo_create(scratch);
  double height = 0;
  if (content.smart) height += SmartTable(cr, content, 0, 6, width) + 6;
  height += StatisticsTable(cr, content, 0, height, width);
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
  return height;
}

std::vector<ChartRun> ChartRunsOf(const ReportContent& content) {
  std::vector<ChartRun> runs;
  for (const ReportRun& run : content.runs) runs.push_back(ChartRun{run.name, run.record});
  return runs;
}

cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

bool Failed(cairo_status_t status, const char* what, std::string* error) {
  if (status == CAIRO_STATUS_SUCCESS) return false;
  *error = std::string(what) + ": " + cairo_status_to_string(status);
  return true;
}

}  // namespace

ChartRange ReportChartRange(const ReportContent& content) {
  ChartRange range = RangeOfReadings(ChartRunsOf(content));
  range.lastLba = std::max(range.lastLba, content.lastLba);
  return range;
}

void DrawReportChart(cairo_t* cr, const ReportContent& content, const ReportRect& rect,
                     ReportRect* plotArea) {
  DrawRunsChart(cr, ChartRunsOf(content), ReportChartRange(content), rect, plotArea);
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
  y += Paragraph(cr, x, y, content.title, width, 20) - 20 + 6;
  if (!content.subtitle.empty()) {
    Font(cr, 9.5);
    cairo_set_source_rgb(cr, 0, 0, 0);
    y += 12;
    y += Paragraph(cr, x, y, content.subtitle, width, 12) - 12;
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
    // The chart takes what the tables below leave of the page.
    const double below = TablesHeight(content, width);
    const double chartHeight = std::max(160.0, paper.height - kMargin - 8 - y - below - 8);
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
  const cairo_status_t written = drawn == CAIRO_STATUS_SUCCESS ? SurfacePng(surface, png) : drawn;
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
  if (RunsChartPng(ChartRunsOf(content), ReportChartRange(content), width, height, png, error,
                   plotArea))
    return true;
  *error = "report chart: " + *error;
  return false;
}
