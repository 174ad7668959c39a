// The window's run as a record, for File, Export Report... and Print
// Report...: who and what when START was pressed, every sample the run took,
// and how it ended (verdict, firmware failure, stop, log failure).
//
// UI thread only: it is fed from the run's updates, which the worker posts.
#pragma once

#include <cstdint>
#include <string>

#include "commands/disc_type.h"
#include "results/scan_record.h"

class CRunRecorder {
 public:
  // A new run: identity holds the drive, disc and settings; the samples and
  // outcome start empty, the start time is now.
  void Start(ScanRecord identity, DiscTypeCode discType);
  void Sample(int32_t lba, uint16_t te, uint16_t fe);
  void Elapsed(long seconds) { m_record.durationSeconds = seconds; }
  // The run's end; the first one counts (a stop after a verdict changes nothing).
  void End(RunOutcome outcome, const std::string& verdict = "");

  // A run was started (it may still be going: it then reads as stopped so far).
  bool HasRun() const { return m_started; }
  const ScanRecord& Record() const { return m_record; }

 private:
  ScanRecord m_record;
  DiscTypeCode m_discType = kDiscUnknown;
  bool m_started = false;
  bool m_ended = false;
};
