#include "cli/run_row.h"

#include "session/terminal_text.h"

RunRowFigures RunRowFiguresOf(const ScanRecord& record) {
  RunRowFigures figures;
  figures.outcome = RunOutcomeName(record.outcome);
  if (record.kind == RecordKind::kSmart) {
    if (record.fitSpeed) figures.speed = TerminalText(record.fitSpeed->speed);
    return figures;
  }
  figures.speed = TerminalText(record.settings.speed);
  if (!record.samples.empty()) {
    const RecordStatistics stats = StatisticsOf(record);
    figures.maxTe = std::to_string(stats.whole.te.max);
    figures.maxFe = std::to_string(stats.whole.fe.max);
  }
  return figures;
}
