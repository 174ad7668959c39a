#include "reports/report_page.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <functional>
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

// A run's block in a comparison: its colours, name and outcome, then its
// disc, drive and settings, wrapped to the page.
double RunBlock(cairo_t* cr, const ReportContent& content, size_t i, double x, double y,
                double width) {
  double at = y;
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
  return at - y + (i + 1 == content.runs.size() ? 2 : 0);
}

// The statistics table's title and column heads; drawn again at the top of
// a page its rows go on to.
double StatisticsHead(cairo_t* cr, const ReportContent& content, double x, double y, double width) {
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
  return 26;
}

double StatisticsRow(cairo_t* cr, const ReportStatRow& row, double x, double y, double width) {
  const double labelWidth = std::min(120.0, width * 0.24);
  const double cell = (width - labelWidth - 40) / 10;
  const double at = y + 10.5;
  cairo_set_source_rgb(cr, 0, 0, 0);
  Font(cr, 8.5);
  Text(cr, x, at, Fit(cr, row.label, labelWidth - 4));
  Text(cr, x + labelWidth + 34, at, std::to_string(row.samples), 1);
  int column = 0;
  for (const ChannelStatistics* channel : {&row.te, &row.fe}) {
    const std::string values[] = {std::to_string(channel->max), FormatMean(channel->mean),
                                  std::to_string(channel->p95), std::to_string(channel->overLimit),
                                  std::to_string(channel->margin)};
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
  return 11.5;
}

// A run's worst sample, under the table.
double WorstLine(cairo_t* cr, const ReportContent& content, size_t i, double x, double y,
                 double width) {
  cairo_set_source_rgb(cr, 0, 0, 0);
  Font(cr, 8.5);
  return Paragraph(cr, x, y + 14,
                   (content.runs.size() > 1 ? "Run " + std::to_string(i + 1) + ": " : "") +
                       content.runs[i].worst,
                   width, 12) +
         2;
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

// One piece of the report that stays whole on a page.
struct ReportBlock {
  // Draws the block with its top at y; the height it took.
  std::function<double(cairo_t*, double)> draw;
  bool chart = false;         // the chart: its height is the layout's choice
  bool keepWithNext = false;  // a heading goes on with what follows it
  int head = -1;              // the block drawn again above this one atop a new page
};

struct PlacedBlock {
  size_t block = 0;
  int page = 0;
  double y = 0;
  double height = 0;
};

// The report in blocks and where each goes. Pages run from kMargin down to
// the footer's space; an unbounded layout (the PNG) is one page as tall as
// it needs.
struct ReportLayout {
  std::vector<ReportBlock> blocks;
  std::vector<PlacedBlock> placed;
  int pages = 1;
  double height = 0;  // the page's height: the paper's, or the PNG's grown one
};

// Smaller, and the chart's y labels would crowd; a page too full for this
// sends what follows it on to the next page.
constexpr double kChartMinHeight = 200;
// The chart of a PNG that grows taller than its paper.
constexpr double kChartTallHeight = 300;

std::vector<ReportBlock> ReportBlocks(const ReportContent& content, double x, double width) {
  std::vector<ReportBlock> blocks;
  const ReportContent* c = &content;
  blocks.push_back({[c, x, width](cairo_t* cr, double top) {
    double y = top;
    Font(cr, 8, true);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    Text(cr, x, y, "Velmo TE/FE scan report");
    y += 20;
    Font(cr, 17, true);
    SetColour(cr, c->titleColour);
    y += Paragraph(cr, x, y, c->title, width, 20) - 20 + 6;
    if (!c->subtitle.empty()) {
      Font(cr, 9.5);
      cairo_set_source_rgb(cr, 0, 0, 0);
      y += 12;
      y += Paragraph(cr, x, y, c->subtitle, width, 12) - 12;
    }
    y += 8;
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_set_line_width(cr, 0.6);
    Line(cr, x, y, x + width, y);
    return y + 4 - top;
  }});
  if (content.runs.size() == 1) {
    blocks.push_back({[c, x, width](cairo_t* cr, double y) {
      return FieldsBlock(cr, c->runs[0], x, y, width);
    }});
  } else {
    for (size_t i = 0; i < content.runs.size(); ++i) {
      blocks.push_back(
          {[c, i, x, width](cairo_t* cr, double y) { return RunBlock(cr, *c, i, x, y, width); }});
    }
  }
  if (content.smart) {
    blocks.push_back(
        {[c, x, width](cairo_t* cr, double y) { return SmartTable(cr, *c, x, y + 6, width) + 6; }});
  } else {
    ReportBlock chart;
    chart.chart = true;
    blocks.push_back(chart);
  }
  if (!content.statistics.empty()) {
    const int head = static_cast<int>(blocks.size());
    ReportBlock heading{
        [c, x, width](cairo_t* cr, double y) { return StatisticsHead(cr, *c, x, y, width); }};
    heading.keepWithNext = true;
    blocks.push_back(heading);
    for (size_t i = 0; i < content.statistics.size(); ++i) {
      const ReportStatRow& row = content.statistics[i];
      ReportBlock line{
          [&row, x, width](cairo_t* cr, double y) { return StatisticsRow(cr, row, x, y, width); }};
      line.head = head;
      // A run's layers stay on the page of its whole-disc row.
      line.keepWithNext = i + 1 < content.statistics.size() &&
                          content.statistics[i + 1].label.find("layer ") != std::string::npos;
      blocks.push_back(line);
    }
  }
  for (size_t i = 0; i < content.runs.size(); ++i) {
    if (content.runs[i].worst.empty()) continue;
    blocks.push_back(
        {[c, i, x, width](cairo_t* cr, double y) { return WorstLine(cr, *c, i, x, y, width); }});
  }
  return blocks;
}

// Each block's height, drawn once where nobody sees: in a group of the
// context the page goes to (its font metrics decide where lines wrap), or
// on a scratch surface without one.
std::vector<double> BlockHeights(cairo_t* like, const std::vector<ReportBlock>& blocks) {
  cairo_surface_t* scratch = nullptr;
  cairo_t* cr = like;
  if (cr == nullptr) {
    scratch = cairo_recording_surface_create(CAIRO_CONTENT_COLOR, nullptr);
    cr = cairo_create(scratch);
  }
  cairo_save(cr);
  cairo_push_group(cr);
  std::vector<DrawnText>* notes = DrawnTextNotes();
  DrawnTextNotes() = nullptr;
  std::vector<double> heights;
  for (const ReportBlock& block : blocks) heights.push_back(block.chart ? 0 : block.draw(cr, 0));
  DrawnTextNotes() = notes;
  cairo_pattern_destroy(cairo_pop_group(cr));
  cairo_restore(cr);
  if (scratch != nullptr) {
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
  }
  return heights;
}

// The blocks placed from the top of the first page on, each page ending at
// bottom; a block that does not fit goes to the next page, a heading with it.
void PlaceBlocks(ReportLayout& layout, const std::vector<double>& heights, double top,
                 double bottom) {
  layout.placed.clear();
  layout.pages = 1;
  double y = top;
  bool pageEmpty = true;
  for (size_t i = 0; i < layout.blocks.size(); ++i) {
    const ReportBlock& block = layout.blocks[i];
    double need = heights[i];
    for (size_t next = i; layout.blocks[next].keepWithNext && next + 1 < layout.blocks.size();)
      need += heights[++next];
    if (!pageEmpty && y + need > bottom) {
      ++layout.pages;
      y = top;
      if (block.head >= 0) {
        const auto head = static_cast<size_t>(block.head);
        layout.placed.push_back({head, layout.pages - 1, y, heights[head]});
        y += heights[head];
      }
    }
    layout.placed.push_back({i, layout.pages - 1, y, heights[i]});
    y += heights[i];
    pageEmpty = false;
  }
  layout.height = y;
}

ReportLayout LayOutReport(cairo_t* like, const ReportContent& content, PaperPoints paper,
                          bool unbounded) {
  ReportLayout layout;
  const double x = kMargin;
  const double width = paper.width - 2 * kMargin;
  layout.blocks = ReportBlocks(content, x, width);
  std::vector<double> heights = BlockHeights(like, layout.blocks);
  const double top = kMargin;
  const double bottom = paper.height - kMargin;
  size_t chart = layout.blocks.size();
  for (size_t i = 0; i < layout.blocks.size(); ++i) {
    if (layout.blocks[i].chart) chart = i;
  }
  if (chart < layout.blocks.size()) heights[chart] = kChartMinHeight + 8;
  PlaceBlocks(layout, heights, top, unbounded ? 1e9 : bottom);
  if (chart < layout.blocks.size()) {
    if (layout.pages == 1 && layout.height <= bottom) {
      // Everything fits one page: the chart takes what the rest leaves.
      heights[chart] += bottom - layout.height;
    } else if (unbounded) {
      heights[chart] = kChartTallHeight + 8;
    } else {
      // The chart ends its page: it takes the room left below it.
      for (size_t i = 0; i + 1 < layout.placed.size(); ++i) {
        const PlacedBlock& at = layout.placed[i];
        if (at.block == chart && layout.placed[i + 1].page > at.page)
          heights[chart] += bottom - (at.y + at.height);
      }
    }
    PlaceBlocks(layout, heights, top, unbounded ? 1e9 : bottom);
  }
  layout.height = unbounded ? std::max(paper.height, layout.height + kMargin) : paper.height;
  return layout;
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

namespace {

void DrawLaidOutPage(cairo_t* cr, const ReportContent& content, PaperPoints paper,
                     const ReportLayout& layout, int page, ReportRect* plotArea) {
  cairo_save(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  DrawnTextPage() = page;
  const double x = kMargin;
  const double width = paper.width - 2 * kMargin;
  for (const PlacedBlock& at : layout.placed) {
    if (at.page != page) continue;
    const ReportBlock& block = layout.blocks[at.block];
    if (block.chart) {
      ReportRect plot;
      DrawReportChart(cr, content, {x, at.y, width, at.height - 8}, &plot);
      if (plotArea) *plotArea = plot;
    } else {
      block.draw(cr, at.y);
    }
  }
  Font(cr, 7);
  cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
  const double footer = layout.height - kMargin / 2;
  Text(cr, x, footer,
       "TE: tracking error, FE: focus error; limits as set for the run. LBA: 2048-byte blocks from "
       "the start of the data; GB: 10^9 bytes.");
  if (layout.pages > 1) {
    Text(cr, x + width, footer,
         "page " + std::to_string(page + 1) + " of " + std::to_string(layout.pages), 1);
  }
  cairo_restore(cr);
}

}  // namespace

int ReportPageCount(cairo_t* cr, const ReportContent& content, PaperPoints paper) {
  return LayOutReport(cr, content, paper, false).pages;
}

void DrawReportPage(cairo_t* cr, const ReportContent& content, PaperPoints paper,
                    ReportRect* plotArea, int page) {
  DrawLaidOutPage(cr, content, paper, LayOutReport(cr, content, paper, false), page, plotArea);
}

bool RenderReportPng(const ReportContent& content, PaperSize paper, std::string* png,
                     std::string* error, ReportRect* plotArea, std::vector<DrawnText>* texts) {
  const PaperPoints points = PaperSizePoints(paper);
  // Laid out on a picture like the one it goes to, whose height it decides.
  cairo_surface_t* like = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* measure = cairo_create(like);
  cairo_scale(measure, kReportPngScale, kReportPngScale);
  const ReportLayout layout = LayOutReport(measure, content, points, true);
  cairo_destroy(measure);
  cairo_surface_destroy(like);
  const int width = static_cast<int>(std::lround(points.width * kReportPngScale));
  const int height = static_cast<int>(std::lround(layout.height * kReportPngScale));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, kReportPngScale, kReportPngScale);
  ReportRect plot;
  DrawnTextNotes() = texts;
  DrawLaidOutPage(cr, content, points, layout, 0, &plot);
  DrawnTextNotes() = nullptr;
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
                     std::string* error, std::vector<DrawnText>* texts) {
  const PaperPoints points = PaperSizePoints(paper);
  pdf->clear();
  cairo_surface_t* surface =
      cairo_pdf_surface_create_for_stream(AppendBytes, pdf, points.width, points.height);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, content.title.c_str());
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Velmo");
  cairo_t* cr = cairo_create(surface);
  const ReportLayout layout = LayOutReport(cr, content, points, false);
  DrawnTextNotes() = texts;
  for (int page = 0; page < layout.pages; ++page) {
    DrawLaidOutPage(cr, content, points, layout, page, nullptr);
    cairo_show_page(cr);
  }
  DrawnTextNotes() = nullptr;
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
