// The colours of a run's readings wherever runs are drawn (report pages,
// their HTML, comparison charts): the first run in the window's TE and FE
// colours, every later one in a pair of one hue, TE the darker.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chart/scan_series.h"

struct ReportColour {
  uint8_t r, g, b;
  bool operator==(const ReportColour&) const = default;
};

inline constexpr ReportColour kReportTe{RedOf(kTeColour), GreenOf(kTeColour), BlueOf(kTeColour)};
inline constexpr ReportColour kReportFe{RedOf(kFeColour), GreenOf(kFeColour), BlueOf(kFeColour)};

// TE and FE colours of the n-th run of a comparison; run 0 has the window's.
struct RunColours {
  ReportColour te;
  ReportColour fe;
};

// Distinct pairs, as many as a comparison can hold; past that they repeat.
inline constexpr size_t kRunColourCount = 8;
RunColours RunColoursOf(size_t run);
