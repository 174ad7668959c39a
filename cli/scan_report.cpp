#include "cli/scan_report.h"

#include <cstdio>

#include "cli/cli_options.h"
#include "commands/drive_commands.h"
#include "console/scan_run.h"
#include "console/smart_scan.h"
#include "device/host.h"
#include "results/run_identity.h"

namespace {

const char* SampleVerdictName(const ScanSample& sample) {
  return SamplePasses(sample) ? "ok" : "not recommended";
}

}  // namespace

bool SamplePasses(const ScanSample& sample) {
  return sample.te <= kTeLimit && sample.fe <= kFeLimit;
}

const char* ScanOutcomeName(ScanOutcome outcome) { return RunOutcomeName(outcome); }

ScanOutcome FailureOutcome(uint32_t transportError) {
  if (transportError == kErrorSemTimeout) return ScanOutcome::kTimedOut;
  if (transportError == kErrorDevNotExist) return ScanOutcome::kDriveGone;
  return ScanOutcome::kFirmwareFailure;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '"': json += "\\\""; break;
      case '\\': json += "\\\\"; break;
      case '\n': json += "\\n"; break;
      case '\r': json += "\\r"; break;
      case '\t': json += "\\t"; break;
      default:
        if (byte < 0x20 || byte >= 0x80) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          json += escape;
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}

ScanRecord ScanRecordOf(const ScanReport& r) {
  ScanRecord record;
  record.kind = RecordKind::kScan;
  record.program = "velmo-cli";
  record.programVersion = VelmoVersion();
  record.startTime = r.startTime;
  record.durationSeconds = r.elapsedSeconds;
  record.drive = r.drive;
  record.disc = RecordDiscOf(r.disc.discType, r.disc.manufacturerId, r.disc.mediaTypeId,
                             r.disc.capacity, r.lastLba, r.disc.speedEntries);
  record.settings.speed = SpeedLabel(r.speed);
  record.settings.speedCode = r.speed;
  record.settings.density = r.density != nullptr ? r.density->name : "";
  record.settings.densityStep = r.density != nullptr ? r.density->step : 0;
  record.samples.reserve(r.samples.size());
  for (const ScanSample& s : r.samples) {
    record.samples.push_back(
        RecordSample{s.lba, s.psn, LayerOfLba(s.lba, r.discTypeCode), s.te, s.fe, SamplePasses(s)});
  }
  record.outcome = r.outcome;
  record.verdict = r.verdict;
  record.log = r.logFile;
  return record;
}

std::string ScanReportCsv(const ScanReport& report) {
  std::string csv = "lba,psn,te,fe,verdict\n";
  for (const ScanSample& s : report.samples) {
    char line[96];
    std::snprintf(line, sizeof line, "%ld,%ld,%u,%u,%s\n", static_cast<long>(s.lba),
                  static_cast<long>(s.psn), s.te, s.fe, SampleVerdictName(s));
    csv += line;
  }
  return csv;
}
