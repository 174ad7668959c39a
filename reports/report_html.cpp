#include "reports/report_html.h"

#include <cstdio>

#include "reports/report_page.h"

namespace {

std::string Css(ReportColour c) {
  char text[24];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

std::string Coloured(ReportColour c, const std::string& text, const char* tag = "span") {
  return std::string("<") + tag + " style=\"color:" + Css(c) + "\">" + HtmlEscape(text) + "</" +
         tag + ">";
}

constexpr char kStyle[] =
    "body{font-family:\"Liberation Sans\",Arial,Helvetica,sans-serif;color:#000;background:#fff;"
    "margin:0 auto;padding:1em;max-width:62em;line-height:1.35}"
    "h1{font-size:1.5em;margin:.2em 0}"
    ".head{color:#595959;font-size:.85em;font-weight:bold;margin:0}"
    "dl{display:grid;grid-template-columns:max-content 1fr;gap:.15em 1em;margin:.8em 0}"
    "dt{color:#595959}dd{margin:0;overflow-wrap:anywhere}"
    "img{display:block;width:100%;height:auto;margin:.8em 0}"
    ".wrap{overflow-x:auto}"
    "table{border-collapse:collapse;font-size:.9em}"
    "th,td{padding:.2em .6em;text-align:right;white-space:nowrap}"
    "th:first-child,td:first-child{text-align:left}"
    "thead tr:last-child th{border-bottom:1px solid #888}"
    ".swatch{display:inline-block;width:.9em;height:.9em;vertical-align:middle;margin-right:.2em}"
    "footer{color:#737373;font-size:.8em;margin-top:1.5em}";

void Fields(const ReportRun& run, std::string* html) {
  *html += "<dl>\n";
  for (const ReportField& field : run.fields) {
    *html += "<dt>" + HtmlEscape(field.label) + "</dt><dd>" + HtmlEscape(field.value) + "</dd>\n";
  }
  *html += "</dl>\n";
}

void Statistics(const ReportContent& content, std::string* html) {
  if (content.statistics.empty()) return;
  *html +=
      "<h2>Statistics</h2>\n<div class=\"wrap\"><table>\n<thead>\n<tr><th></th><th></th>"
      "<th colspan=\"5\">TE (limit " +
      std::to_string(content.teLimit) + ")</th><th colspan=\"5\">FE (limit " +
      std::to_string(content.feLimit) +
      ")</th></tr>\n"
      "<tr><th></th><th>samples</th>";
  for (int i = 0; i < 2; ++i) {
    *html += "<th>max</th><th>mean</th><th>p95</th><th>over</th><th>margin</th>";
  }
  *html += "</tr>\n</thead>\n<tbody>\n";
  for (const ReportStatRow& row : content.statistics) {
    *html +=
        "<tr><td>" + HtmlEscape(row.label) + "</td><td>" + std::to_string(row.samples) + "</td>";
    for (const ChannelStatistics* channel : {&row.te, &row.fe}) {
      *html += "<td>" + std::to_string(channel->max) + "</td><td>" + FormatMean(channel->mean) +
               "</td><td>" + std::to_string(channel->p95) + "</td>";
      *html += "<td>" +
               (channel->overLimit > 0 ? Coloured(kReportRed, std::to_string(channel->overLimit))
                                       : std::to_string(channel->overLimit)) +
               "</td><td>" +
               (channel->margin < 0 ? Coloured(kReportRed, std::to_string(channel->margin))
                                    : std::to_string(channel->margin)) +
               "</td>";
    }
    *html += "</tr>\n";
  }
  *html += "</tbody>\n</table></div>\n";
  for (size_t i = 0; i < content.runs.size(); ++i) {
    if (content.runs[i].worst.empty()) continue;
    *html += "<p>" +
             HtmlEscape((content.runs.size() > 1 ? "Run " + std::to_string(i + 1) + ": " : "") +
                        content.runs[i].worst) +
             "</p>\n";
  }
}

void Smart(const ReportContent& content, std::string* html) {
  *html += "<h2>Smart Scan</h2>\n<p>One sample " + HtmlEscape(content.smartSample) +
           ", at every write speed; each speed's reading stands alone.</p>\n"
           "<div class=\"wrap\"><table>\n<thead><tr><th>Speed</th><th>TE</th><th>TE margin</th>"
           "<th>FE</th><th>FE margin</th><th>Result</th></tr></thead>\n<tbody>\n";
  auto margin = [](const std::string& text) {
    return text.rfind('-', 0) == 0 && text != "-" ? Coloured(kReportRed, text) : HtmlEscape(text);
  };
  for (const ReportSmartRow& row : content.smartRows) {
    *html += "<tr><td>" + HtmlEscape(row.speed) + "</td><td>" + HtmlEscape(row.te) + "</td><td>" +
             margin(row.teMargin) + "</td><td>" + HtmlEscape(row.fe) + "</td><td>" +
             margin(row.feMargin) + "</td><td>" +
             Coloured(row.fit ? kReportGreen : kReportRed, row.result) + "</td></tr>\n";
  }
  *html += "</tbody>\n</table></div>\n<p><strong>" +
           Coloured(content.smartHighest.rfind("Highest", 0) == 0 ? kReportGreen : kReportRed,
                    content.smartHighest) +
           "</strong></p>\n";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool RenderReportHtml(const ReportContent& content, std::string* html, std::string* error) {
  std::string chart;
  if (!content.smart &&
      !RenderChartPng(content, kReportHtmlChartWidth, kReportHtmlChartHeight, &chart, error)) {
    return false;
  }
  // Every text below is valid UTF-8 (ReportText) and escaped here.
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Velmo report: " +
      HtmlEscape(content.title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  out += "<p class=\"head\">Velmo TE/FE scan report</p>\n";
  out += Coloured(content.titleColour, content.title, "h1") + "\n";
  if (!content.subtitle.empty()) out += "<p>" + HtmlEscape(content.subtitle) + "</p>\n";
  if (content.runs.size() == 1) {
    Fields(content.runs[0], &out);
  } else {
    for (size_t i = 0; i < content.runs.size(); ++i) {
      const ReportRun& run = content.runs[i];
      const RunColours colours = RunColoursOf(i);
      out += "<h2><span class=\"swatch\" style=\"background:" + Css(colours.te) +
             "\"></span><span class=\"swatch\" style=\"background:" + Css(colours.fe) +
             "\"></span>" + HtmlEscape(run.name) + ": " + Coloured(run.outcomeColour, run.outcome) +
             "</h2>\n";
      Fields(run, &out);
    }
  }
  if (!chart.empty()) {
    std::string alt = "Chart of TE and FE against LBA";
    if (content.runs.size() > 1) alt += " for " + std::to_string(content.runs.size()) + " runs";
    out += "<img src=\"data:image/png;base64," + Base64(chart) + "\" alt=\"" + HtmlEscape(alt) +
           "\" width=\"" + std::to_string(kReportHtmlChartWidth) + "\" height=\"" +
           std::to_string(kReportHtmlChartHeight) + "\">\n";
  }
  if (content.smart) Smart(content, &out);
  Statistics(content, &out);
  out +=
      "<footer>TE: tracking error, FE: focus error; limits as set for the run. LBA: 2048-byte "
      "blocks from the start of the data; GB: 10<sup>9</sup> bytes.</footer>\n</body>\n</html>\n";
  *html = std::move(out);
  return true;
}
