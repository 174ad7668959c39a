// The one builder of a run's record, for the window and velmo-cli alike:
// what was known when the run started, then what the run itself handed out
// (its samples or rows, and how it ended). Both front ends keep identical
// records, and so identical history rows, for the same run.
#pragma once

#include <string>
#include <vector>

#include "commands/disc_type.h"
#include "commands/speed_codes.h"
#include "console/scan_run.h"
#include "console/smart_scan.h"
#include "records/run_id.h"
#include "records/scan_record.h"

struct DensityChoice;

// What a front end knows when a run starts.
struct RunStart {
  std::string program;             // "velmo" or "velmo-cli"
  std::string startTime;           // ISO 8601 with offset
  std::string runId = NewRunId();  // made as the run starts
  RecordDrive drive;
  RecordDisc disc;
  DiscTypeCode discType = kDiscUnknown;
};

// A scan at one speed and density, its log at logPath.
ScanRecord ScanRunRecord(const RunStart& start, SpeedCode speed, const DensityChoice* density,
                         const std::string& logPath, const std::vector<ScanSample>& samples,
                         const RunEnd& end, long durationSeconds);

// A Smart Scan over the speeds of rows (in order), of which ended have ended.
ScanRecord SmartRunRecord(const RunStart& start, const std::vector<SpeedCode>& rows,
                          const std::vector<SmartRowEnd>& ended, const SmartEnd& end,
                          long durationSeconds);

// A speed as records carry it: its label and code.
RecordSpeed RecordSpeedOf(SpeedCode code);

// The samples of a record as CSV: a header row, then one row a sample.
std::string RecordSamplesCsv(const ScanRecord& record);
