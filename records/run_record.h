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

// A disc of an unattended spindle that was not tested: the disc as it was
// identified, why it was skipped, and nothing run on it.
ScanRecord SkippedDiscRecord(const RunStart& start, const std::string& why);

// A part of the disc (ScanPart) as the record says it: its range, and the
// run it went on from (earlierRunId; empty for none).
void SetRecordPart(ScanRecord* record, const ScanPart& part, const std::string& earlierRunId);

// Runs that ended by a fault or a stop can go on: every ending without a
// verdict but a refused command, an unwritable log and a replay's gap.
bool CanResumeRun(RunOutcome outcome);
// What a run going on from record takes over: its range and readings.
ScanPart ResumePartOf(const ScanRecord& record);
// Why the disc now in the drive is not the record's (type, manufacturer ID,
// media type ID, capacity); empty when it is.
std::string OtherDiscThan(const RecordDisc& kept, const RecordDisc& now);

// A speed as records carry it: its label and code.
RecordSpeed RecordSpeedOf(SpeedCode code);

// The samples of a record as CSV: a header row, then one row a sample.
std::string RecordSamplesCsv(const ScanRecord& record);
