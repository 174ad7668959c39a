// The report as one self-contained HTML5 file: the chart is an embedded PNG,
// the style sheet is inline, nothing is fetched and nothing runs. It reads on
// a phone (viewport, fluid width, tables that scroll sideways).
#pragma once

#include <string>
#include <string_view>

#include "reports/report_content.h"

// The chart picture embedded in the HTML, in pixels.
inline constexpr int kReportHtmlChartWidth = 1040;
inline constexpr int kReportHtmlChartHeight = 560;

bool RenderReportHtml(const ReportContent& content, std::string* html, std::string* error);

std::string HtmlEscape(std::string_view text);
std::string Base64(std::string_view bytes);
