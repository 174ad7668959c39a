// The colours of a run's readings wherever runs are drawn (report pages,
// their HTML, comparison charts): the first run in the window's TE and FE
// colours, every later one in a pair of one hue, TE the darker; none grey,
// the limit lines' colour.
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

// The limit lines: neutral greys no run is drawn in (TE's solid, FE's
// dashed), so a limit is never read as a curve.
inline constexpr ReportColour kReportTeLimit{70, 70, 70};
inline constexpr ReportColour kReportFeLimit{120, 120, 120};

// TE and FE colours of the n-th run of a comparison; run 0 has the window's.
struct RunColours {
  ReportColour te;
  ReportColour fe;
};

// Distinct pairs, as many as a comparison can hold; past that they repeat.
inline constexpr size_t kRunColourCount = 8;
RunColours RunColoursOf(size_t run);
