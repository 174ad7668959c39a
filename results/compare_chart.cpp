#include "results/compare_chart.h"

#include "results/report_content.h"
#include "results/run_colours.h"

static_assert(kRunColourCount >= kMaxComparedRuns, "every compared run has colours of its own");

namespace {

// The legend names a run by what was given for it, its disc and its speed.
std::vector<ChartRun> LegendRuns(const std::vector<ChartRun>& runs) {
  std::vector<ChartRun> named;
  for (const ChartRun& run : runs) {
    const ScanRecord& r = *run.record;
    const std::string speed = r.kind == RecordKind::kSmart ? "smart" : r.settings.speed;
    named.push_back(ChartRun{ReportText(run.name + " " + r.disc.manufacturerId + " " + speed), &r});
  }
  return named;
}

}  // namespace

bool DrawCompareChartPng(const std::vector<ChartRun>& runs, std::string* png, std::string* error) {
  if (runs.empty() || runs.size() > kMaxComparedRuns) {
    *error = "a chart takes 1 to " + std::to_string(kMaxComparedRuns) + " runs";
    return false;
  }
  return RunsChartPng(LegendRuns(runs), RangeOfReadings(runs), kCompareChartWidth,
                      kCompareChartHeight, png, error);
}
