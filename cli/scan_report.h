// What a scan leaves for other programs: the run as a scan record (JSON),
// and the samples alone as CSV.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/disc_preparation.h"
#include "commands/disc_type.h"
#include "commands/speed_codes.h"
#include "results/scan_record.h"

struct DensityChoice;

struct ScanSample {
  int32_t lba = 0;
  int32_t psn = 0;  // as the sample command carried it
  uint16_t te = 0;
  uint16_t fe = 0;
};

bool SamplePasses(const ScanSample& sample);  // TE and FE within their limits

// How a run ended: the record's outcomes.
using ScanOutcome = RunOutcome;

const char* ScanOutcomeName(ScanOutcome outcome);  // "ok", "not recommended", ...

// What a failed sample command means, from the transport error it left:
// a time-out, a drive that went away, or the firmware's refusal.
ScanOutcome FailureOutcome(uint32_t transportError);

struct ScanReport {
  std::string driveName;
  std::string drivePath;
  RecordDrive drive;      // the drive's identity for the record
  std::string startTime;  // ISO 8601, when the run started
  DiscTypeCode discTypeCode = kDiscUnknown;
  DiscFields disc;
  int32_t lastLba = 0;
  SpeedCode speed = 0;
  const DensityChoice* density = nullptr;
  std::string logFile;
  std::vector<ScanSample> samples;
  ScanOutcome outcome = ScanOutcome::kAborted;
  std::string verdict;  // the window's verdict text; empty without one
  long elapsedSeconds = 0;
};

// A JSON string literal, quotes included. Bytes from 0x80 up are read as
// Latin-1: disc IDs are raw bytes, not UTF-8, and the file must stay valid.
std::string JsonString(const std::string& text);

// The run as a scan record, statistics and all.
ScanRecord ScanRecordOf(const ScanReport& report);
std::string ScanReportCsv(const ScanReport& report);  // header row, then one row a sample
