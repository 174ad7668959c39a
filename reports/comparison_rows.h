// The table of runs side by side that the window's Compare view and
// velmo-cli compare both show: the same rows with the same texts, a value
// for every run; and for two runs, the second's statistics minus the first's.
#pragma once

#include <string>
#include <vector>

#include "records/scan_record.h"

struct ComparisonRow {
  std::string label;                // "TE max / mean / p95"
  std::vector<std::string> values;  // one per run, in the order given
};

// Why these runs cannot be compared or reported together, or empty: a
// Smart Scan's readings (one point, every speed) and a scan's (the whole
// disc, one speed) have nothing to set side by side. names: the runs as
// the user gave them, one per run.
std::string MixedKindsError(const std::vector<const ScanRecord*>& runs,
                            const std::vector<std::string>& names);

std::vector<ComparisonRow> ComparisonRowsOf(const std::vector<const ScanRecord*>& runs);

struct ChannelDifference {
  int max = 0;
  double mean = 0;
  int overLimit = 0;
};

struct RunDifferences {
  ChannelDifference te;
  ChannelDifference fe;
};

// later's whole-disc statistics minus earlier's.
RunDifferences DifferencesOf(const ScanRecord& earlier, const ScanRecord& later);

// One channel's difference as velmo-cli compare prints it and the window
// shows it: "max +20, mean +5.0, over limit +85".
std::string DifferenceText(const ChannelDifference& difference);
