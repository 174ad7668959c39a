// The report as one page drawn with cairo: on a PNG or PDF surface here, on
// the printer's cairo context in the window. Sizes are in points.
#pragma once

#include <string>

#include "reports/chart_drawing.h"
#include "reports/paper_size.h"
#include "reports/report_content.h"

// What the report's chart spans: every run's readings and limits up the
// side, the largest disc across.
ChartRange ReportChartRange(const ReportContent& content);

// Draws the page at the context's current transformation, in points.
// *plotArea (if given) gets the chart's plot area in those points.
void DrawReportPage(cairo_t* cr, const ReportContent& content, PaperPoints paper,
                    ReportRect* plotArea = nullptr);

// Draws the chart (axes, curves, limit lines, layer break, legend) into
// rect; *plotArea gets the area the readings are plotted in.
void DrawReportChart(cairo_t* cr, const ReportContent& content, const ReportRect& rect,
                     ReportRect* plotArea = nullptr);

// The whole page as PNG bytes; *plotArea in pixels of that picture.
bool RenderReportPng(const ReportContent& content, PaperSize paper, std::string* png,
                     std::string* error, ReportRect* plotArea = nullptr);
// The whole page as a one-page PDF with real text.
bool RenderReportPdf(const ReportContent& content, PaperSize paper, std::string* pdf,
                     std::string* error);
// The chart alone as PNG bytes of width x height pixels.
bool RenderChartPng(const ReportContent& content, int width, int height, std::string* png,
                    std::string* error, ReportRect* plotArea = nullptr);
