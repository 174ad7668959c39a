#include "records/run_record.h"

#include <cstdio>

#include "records/run_identity.h"
#include "session/run_options.h"

RecordSpeed RecordSpeedOf(SpeedCode code) { return RecordSpeed{SpeedLabel(code), code}; }

namespace {

ScanRecord Begin(const RunStart& start, RecordKind kind, long durationSeconds) {
  ScanRecord record;
  record.kind = kind;
  record.program = start.program;
  record.programVersion = VelmoVersion();
  record.startTime = start.startTime;
  record.runId = start.runId;
  record.durationSeconds = durationSeconds;
  record.drive = start.drive;
  record.disc = start.disc;
  return record;
}

}  // namespace

ScanRecord ScanRunRecord(const RunStart& start, SpeedCode speed, const DensityChoice* density,
                         const std::string& logPath, const std::vector<ScanSample>& samples,
                         const RunEnd& end, long durationSeconds) {
  ScanRecord record = Begin(start, RecordKind::kScan, durationSeconds);
  record.settings.speed = SpeedLabel(speed);
  record.settings.speedCode = speed;
  if (density != nullptr) {
    record.settings.density = density->name;
    record.settings.densityStep = density->step;
  }
  record.samples.reserve(samples.size());
  for (const ScanSample& s : samples) {
    record.samples.push_back(
        RecordSample{s.lba, s.psn, LayerOfLba(s.lba, start.discType), s.te, s.fe, SamplePasses(s)});
  }
  record.outcome = end.outcome;
  record.cause = end.cause;
  if (end.outcome == RunOutcome::kOk) record.verdict = kVerdictOk;
  if (end.outcome == RunOutcome::kNotRecommended) record.verdict = kVerdictNotRecommended;
  record.log = logPath;
  return record;
}

ScanRecord SmartRunRecord(const RunStart& start, const std::vector<SpeedCode>& rows,
                          const std::vector<SmartRowEnd>& ended, const SmartEnd& end,
                          long durationSeconds) {
  ScanRecord record = Begin(start, RecordKind::kSmart, durationSeconds);
  record.settings.density = kSmartDensity;
  for (SpeedCode code : rows) record.smartSpeeds.push_back(RecordSpeedOf(code));
  for (const SmartRowEnd& row : ended) {
    SmartRow kept;
    kept.speed = SpeedLabel(row.speed);
    kept.speedCode = row.speed;
    if (row.verdict != SmartVerdict::kFail) {
      kept.te = row.sample.reading.te;
      kept.fe = row.sample.reading.fe;
    }
    kept.result = row.verdict == SmartVerdict::kOk               ? kSmartRowOk
                  : row.verdict == SmartVerdict::kNotRecommended ? kSmartRowNotRecommended
                                                                 : kSmartRowFailed;
    record.rows.push_back(std::move(kept));
  }
  record.outcome = end.end.outcome;
  record.cause = end.end.cause;
  if (end.fitSpeed) record.fitSpeed = RecordSpeedOf(*end.fitSpeed);
  return record;
}

std::string RecordSamplesCsv(const ScanRecord& record) {
  std::string csv = "lba,psn,te,fe,verdict\n";
  for (const RecordSample& s : record.samples) {
    char line[96];
    std::snprintf(line, sizeof line, "%ld,%ld,%u,%u,%s\n", static_cast<long>(s.lba),
                  static_cast<long>(s.psn), s.te, s.fe, s.ok ? "ok" : "not recommended");
    csv += line;
  }
  return csv;
}
