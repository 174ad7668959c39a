#include "reports/compare_chart.h"

#include "reports/report_content.h"
#include "reports/run_colours.h"

static_assert(kRunColourCount >= kMaxComparedRuns, "every compared run has colours of its own");

namespace {

// An ID as the drive pads it ("MKM     "): without the blanks and NULs.
std::string Trimmed(const std::string& id) {
  const std::string pad(" \0", 2);
  const size_t first = id.find_first_not_of(pad);
  if (first == std::string::npos) return "";
  return id.substr(first, id.find_last_not_of(pad) - first + 1);
}

// The legend names a run by what was given for it, its disc and its speed:
// "#1 MKM 8X".
std::vector<ChartRun> LegendRuns(const std::vector<ChartRun>& runs) {
  std::vector<ChartRun> named;
  for (const ChartRun& run : runs) {
    const ScanRecord& r = *run.record;
    const std::string speed = r.kind == RecordKind::kSmart ? "smart" : r.settings.speed;
    named.push_back(
        ChartRun{ReportText(run.name + " " + Trimmed(r.disc.manufacturerId) + " " + speed), &r});
  }
  return named;
}

}  // namespace

bool DrawCompareChartPng(const std::vector<ChartRun>& runs, std::string* png, std::string* error) {
  return DrawCompareChartPng(runs, kCompareChartWidth, kCompareChartHeight, png, error);
}

bool DrawCompareChartPng(const std::vector<ChartRun>& runs, int width, int height, std::string* png,
                         std::string* error) {
  if (runs.empty() || runs.size() > kMaxComparedRuns) {
    *error = "a chart takes 1 to " + std::to_string(kMaxComparedRuns) + " runs";
    return false;
  }
  return RunsChartPng(LegendRuns(runs), RangeOfReadings(runs), width, height, png, error);
}
