// What a report says, worked out once for the page (PNG, PDF, print) and the
// HTML: the title in words and its colour, the identity lines, the statistics
// rows and the Smart Scan table. Texts are valid UTF-8 whatever bytes the
// record's disc IDs hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/scan_record.h"
#include "reports/run_colours.h"

// The window's colours.
inline constexpr ReportColour kReportGreen{0, 130, 0};
inline constexpr ReportColour kReportRed{255, 0, 0};
inline constexpr ReportColour kReportGrey{96, 96, 96};  // stopped: neither pass nor fail
inline constexpr ReportColour kReportBlack{0, 0, 0};

struct ReportField {
  std::string label;
  std::string value;
};

struct ReportStatRow {
  std::string label;  // "Whole disc", "Layer 0", or a run's name in a comparison
  ChannelStatistics te;
  ChannelStatistics fe;
  int samples = 0;
};

struct ReportSmartRow {
  std::string speed;
  std::string te;  // "-" for a failed sample
  std::string fe;
  std::string teMargin;  // the limit minus the reading; "-" for a failed sample
  std::string feMargin;
  std::string result;
  bool fit = false;
};

struct ReportRun {
  const ScanRecord* record = nullptr;
  RecordStatistics statistics;
  std::string name;     // "Run 1: 2026-12-08 02:10 MID 16X", for legends
  std::string outcome;  // in words
  ReportColour outcomeColour{};
  std::vector<ReportField> fields;  // disc, drive, settings, date, duration, version
  std::string worst;                // "Worst sample: ..." or empty
  int32_t layerBreakLba = -1;       // where the chart marks layer 1; -1 on single-layer
};

struct ReportContent {
  std::string title;
  ReportColour titleColour{};
  std::string subtitle;  // the verdict sentence the user saw, if any
  std::vector<ReportRun> runs;
  std::vector<ReportStatRow> statistics;  // per layer for one run; per run and layer for several
  bool smart = false;                     // a Smart Scan record (one run)
  std::vector<ReportSmartRow> smartRows;
  std::string smartHighest;  // "Highest fit speed: 16X" or that none is
  // Where the sample was: "near the rim, at LBA 2,293,760 (4.70 GB)", or
  // how its place was chosen when the disc ends before it.
  std::string smartSample;
  int teLimit = 500;
  int feLimit = 450;
  int32_t lastLba = 0;  // the chart's x range: the largest of the runs
  std::string footer;   // "Velmo 1.0.0 report, ..."
};

// runs: at least one record; several make a comparison.
ReportContent BuildReportContent(const std::vector<ScanRecord>& runs);

// The outcome of one run in words: "OK for writing at 16X", "Stopped: no verdict".
std::string OutcomeWords(const ScanRecord& record);
ReportColour OutcomeColour(RunOutcome outcome);

// No field of a page needs more; a record's strings can be longer.
inline constexpr size_t kReportTextMax = 400;

// The text with every byte sequence that is not UTF-8 read as Latin-1 and
// control characters replaced by spaces, cut after kReportTextMax bytes
// with an ellipsis.
std::string ReportText(const std::string& text);

std::string FormatMean(double mean);  // "123.4"

// Where the run took its samples, as the scan's rule: "normal: every 49,152
// sectors, 32,768 from half-way out, 16,384 near the rim".
std::string DensityRuleText(const ScanRecord& record);
