// What a line of a table of runs shows of a run's record (watch's lines,
// the --drive all table): its speed (a Smart Scan's, the fastest that
// fits), its outcome, and a scan's highest TE and FE. "-" where there is
// none: a Smart Scan's readings are at different speeds and have no one
// maximum. The texts are safe to print on a terminal.
#pragma once

#include <string>

#include "records/scan_record.h"

struct RunRowFigures {
  std::string speed = "-";
  std::string outcome;
  std::string maxTe = "-";
  std::string maxFe = "-";
};

RunRowFigures RunRowFiguresOf(const ScanRecord& record);
