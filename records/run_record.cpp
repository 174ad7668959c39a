#include "records/run_record.h"

#include <algorithm>
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

ScanRecord SkippedDiscRecord(const RunStart& start, const std::string& why) {
  ScanRecord record = Begin(start, RecordKind::kScan, 0);
  // Its type in plain words: the window's field says only that the test does
  // not take it.
  record.disc.type = DiscTypeName(start.discType);
  // Without a capacity the disc gave no end: none is kept, whatever the
  // disc before it left behind.
  if (record.disc.capacity == "N/A") record.disc.lastLba = 0;
  record.outcome = RunOutcome::kSkipped;
  record.skippedBecause = why;
  return record;
}

void SetRecordPart(ScanRecord* record, const ScanPart& part, const std::string& earlierRunId) {
  if (part.from != 0 || part.to != INT32_MAX) {
    const int32_t discEnd = record->disc.lastLba + 1;
    record->range = RecordRange{part.from, std::min(part.to, discEnd)};
  }
  if (earlierRunId.empty()) return;
  RecordResume resumed;
  resumed.runId = earlierRunId;
  resumed.earlierSamples = part.taken.size();
  // The first sample this run took: the one after the earlier run's last
  // (none taken: where it would have gone on).
  resumed.firstLba = record->cause.lba.value_or(part.from);
  if (record->samples.size() > part.taken.size())
    resumed.firstLba = record->samples[part.taken.size()].lba;
  record->resumed = resumed;
}

bool CanResumeRun(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kTimedOut:
    case RunOutcome::kDriveGone:
    case RunOutcome::kDiscEjected:
    case RunOutcome::kDriveBusy:
    case RunOutcome::kDriveError:
    case RunOutcome::kNoReading:
    case RunOutcome::kAborted: return true;
    default: return false;
  }
}

ScanPart ResumePartOf(const ScanRecord& record) {
  ScanPart part;
  if (record.range) {
    part.from = record.range->from;
    part.to = record.range->to;
  }
  part.taken.reserve(record.samples.size());
  for (const RecordSample& s : record.samples)
    part.taken.push_back(ScanSample{s.lba, s.psn, s.te, s.fe});
  return part;
}

std::string OtherDiscThan(const RecordDisc& kept, const RecordDisc& now) {
  auto differs = [](const char* what, const std::string& was, const std::string& is) {
    return std::string(what) + " is " + is + ", the run's was " + was;
  };
  if (kept.type != now.type) return differs("the disc type", kept.type, now.type);
  if (kept.manufacturerId != now.manufacturerId)
    return differs("the manufacturer ID", kept.manufacturerId, now.manufacturerId);
  if (kept.mediaTypeId != now.mediaTypeId)
    return differs("the media type ID", kept.mediaTypeId, now.mediaTypeId);
  if (kept.lastLba != now.lastLba) {
    return differs("the capacity", std::to_string(kept.lastLba + 1) + " sectors",
                   std::to_string(now.lastLba + 1) + " sectors");
  }
  return "";
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
