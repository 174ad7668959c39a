// The report as pages drawn with cairo: on a PNG or PDF surface here, on
// the printer's cairo context in the window. Sizes are in points.
#pragma once

#include <string>
#include <vector>

#include "reports/cairo_drawing.h"
#include "reports/chart_drawing.h"
#include "reports/paper_size.h"
#include "reports/report_content.h"

// What the report's chart spans: every run's readings and limits up the
// side, the largest disc across.
ChartRange ReportChartRange(const ReportContent& content);

// The report laid out on pages of paper: the blocks that do not fit one
// (many runs) go on to further pages, each numbered "page N of M".
// cr: the context the pages go to, whose font metrics decide where lines
// wrap (null: a scratch surface's).
int ReportPageCount(cairo_t* cr, const ReportContent& content, PaperPoints paper);

// Draws page `page` (from 0) at the context's current transformation, in
// points. *plotArea (if given) gets the chart's plot area in those points
// when the chart is on that page.
void DrawReportPage(cairo_t* cr, const ReportContent& content, PaperPoints paper,
                    ReportRect* plotArea = nullptr, int page = 0);

// Draws the chart (axes, curves, limit lines, layer break, legend) into
// rect; *plotArea gets the area the readings are plotted in.
void DrawReportChart(cairo_t* cr, const ReportContent& content, const ReportRect& rect,
                     ReportRect* plotArea = nullptr);

// The report as PNG bytes: one page, grown taller than the paper when the
// report needs more; *plotArea in pixels of that picture, *texts (if given)
// every text drawn with its box in pixels.
bool RenderReportPng(const ReportContent& content, PaperSize paper, std::string* png,
                     std::string* error, ReportRect* plotArea = nullptr,
                     std::vector<DrawnText>* texts = nullptr);
// The report as a PDF with real text, on as many pages as it needs; *texts
// (if given) every text drawn with its page and box in points.
bool RenderReportPdf(const ReportContent& content, PaperSize paper, std::string* pdf,
                     std::string* error, std::vector<DrawnText>* texts = nullptr);
// The chart alone as PNG bytes of width x height pixels.
bool RenderChartPng(const ReportContent& content, int width, int height, std::string* png,
                    std::string* error, ReportRect* plotArea = nullptr);
