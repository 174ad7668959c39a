// A run as a store keeps it: the summary row every listing reads, and the
// record packed. Made once, by KeptRunOf (history.cpp), before any store is
// touched: the stores never work out statistics or write JSON themselves,
// and a run pushed from a station's history to a lab's goes as it was kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "records/scan_record.h"

struct KeptRun {
  int64_t localId = 0;     // the row's id in the history it was read from (0: none yet)
  std::string runId;       // UUID
  bool derivedId = false;  // the record had none: runId is DerivedRunId's
  int64_t started = 0;     // Unix time of startTime
  std::string startTime;
  std::string kind;  // RecordKindName
  std::string drive;
  std::string node;
  std::string discType;
  std::string manufacturerId;
  std::optional<std::string> manufacturerName;
  std::string speed;  // a Smart Scan's: the speed that fits ("" for none)
  std::string density;
  std::string outcome;  // RunOutcomeName
  std::optional<int> maxTe;
  std::optional<int> maxFe;
  std::string host;    // the station the run was made on
  std::string packed;  // PackRecord of the record's JSON text
};

// The run as kept on host: a record without a runId gets the one derived
// from its start, drive and disc (DerivedRunId).
KeptRun KeptRunOf(const ScanRecord& record, const std::string& host);
