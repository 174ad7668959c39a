#include "reports/record_chart.h"

#include "commands/drive_commands.h"

void DrawRecordedRun(const ScanRecord& record, bool showTeLimit, bool showFeLimit,
                     ScanChart& chart) {
  chart.ClearData();
  // In the order a live run draws them: the picture is the same.
  if (showFeLimit) chart.DrawLimitLine(ScanSeries::kFeLimit, kFeLimit, true);
  if (showTeLimit) chart.DrawLimitLine(ScanSeries::kTeLimit, kTeLimit, true);
  for (const RecordSample& sample : record.samples) {
    chart.AppendPoint(ScanSeries::kTeCurve, sample.te, sample.lba);
    chart.AppendPoint(ScanSeries::kFeCurve, sample.fe, sample.lba);
    chart.Refresh();
  }
}
