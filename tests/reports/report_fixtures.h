// Records of the runs a report must show: shaped like the simulator's discs
// (capacity, sample spacing, readings), built here so that each outcome has
// one fixed, known record.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "records/scan_record.h"

namespace report_fixtures {

// Write speeds as the speed list names them.
inline std::vector<RecordWriteSpeed> Speeds(const std::vector<std::string>& labels) {
  std::vector<RecordWriteSpeed> speeds;
  for (const std::string& label : labels) speeds.push_back(WriteSpeedOfEntry(label));
  return speeds;
}

inline ScanRecord BaseRecord(const std::string& mid, int32_t lastLba) {
  ScanRecord record;
  record.program = "velmo-cli";
  record.programVersion = "1.0.0";
  record.startTime = "2026-12-08T02:10:00+01:00";
  record.durationSeconds = 263;
  record.drive = {"VELMO   DVDRW SIM-1 1.00", "VELMO", "DVDRW SIM-1", "1.00", "sim:d:"};
  record.disc.type = "DVD+R";
  record.disc.manufacturerId = mid;
  record.disc.manufacturerName = "Example Media Co.";
  record.disc.mediaTypeId = "002";
  record.disc.capacity = "4482.6 MB";
  record.disc.lastLba = lastLba;
  record.disc.writeSpeeds = Speeds({"2.4X", "4X", "8X", "16X"});
  record.settings = {"16X", 16, "normal", 49152, 500, 450};
  record.log = "TEFE.txt";
  return record;
}

// count samples evenly over the disc; te/fe give the reading at a fraction.
template <typename Te, typename Fe>
void AddSamples(ScanRecord* record, int count, int layers, Te te, Fe fe, int upTo = -1) {
  for (int i = 0; i < (upTo < 0 ? count : upTo); ++i) {
    const double at = count > 1 ? static_cast<double>(i) / (count - 1) : 0;
    RecordSample sample;
    sample.lba = static_cast<int32_t>(at * record->disc.lastLba);
    sample.psn = sample.lba + 0x30000;
    sample.layer = layers == 2 && at >= 0.5 ? 1 : 0;
    sample.te = static_cast<uint16_t>(te(at));
    sample.fe = static_cast<uint16_t>(fe(at));
    sample.ok = sample.te <= record->settings.teLimit && sample.fe <= record->settings.feLimit;
    record->samples.push_back(sample);
  }
}

inline double Wave(double at, double base, double swing) {
  return base + swing * std::sin(at * 9.0) + swing * 0.4 * std::sin(at * 31.0);
}

inline ScanRecord Good() {
  ScanRecord r = BaseRecord("RICOHJPNR03", 2295104);
  AddSamples(
      &r, 58, 1, [](double a) { return Wave(a, 240, 30) + 60 * a; },
      [](double a) { return Wave(a, 150, 20) + 40 * a; });
  r.outcome = RunOutcome::kOk;
  r.verdict = "This disc is ok for writing under this speed setting.";
  return r;
}

inline ScanRecord Marginal() {
  ScanRecord r = BaseRecord("CMC MAG-M01", 2295104);
  r.disc.manufacturerName.reset();
  AddSamples(
      &r, 58, 1, [](double a) { return Wave(a, 380, 40) + (a > 0.85 ? 130 * (a - 0.8) * 10 : 0); },
      [](double a) { return Wave(a, 300, 30) + 70 * a; });
  r.outcome = RunOutcome::kNotRecommended;
  r.verdict = "This disc is not recommended for writing under this speed setting.";
  return r;
}

// A disc far over its limits: TE peaks at 808 near the rim.
inline ScanRecord Bad() {
  ScanRecord r = BaseRecord("BADDISC-01", 2295104);
  r.disc.manufacturerName.reset();
  AddSamples(
      &r, 58, 1, [](double a) { return a >= 0.95 ? 808 : Wave(a, 420, 40) + 300 * a; },
      [](double a) { return Wave(a, 330, 30) + 90 * a; });
  r.outcome = RunOutcome::kNotRecommended;
  r.verdict = "This disc is not recommended for writing under this speed setting.";
  return r;
}

inline ScanRecord FirmwareFailure() {
  ScanRecord r = BaseRecord("MCC 004", 2295104);
  r.disc.manufacturerName = "Mitsubishi Kagaku Media";
  AddSamples(
      &r, 58, 1, [](double a) { return Wave(a, 260, 25); },
      [](double a) { return Wave(a, 170, 15); }, 23);
  r.outcome = RunOutcome::kFirmwareFailure;
  r.durationSeconds = 91;
  return r;
}

inline ScanRecord Stopped() {
  ScanRecord r = BaseRecord("RICOHJPNR03", 2295104);
  AddSamples(
      &r, 58, 1, [](double a) { return Wave(a, 230, 25); },
      [](double a) { return Wave(a, 160, 15); }, 35);
  r.outcome = RunOutcome::kAborted;
  r.durationSeconds = 140;
  return r;
}

inline ScanRecord DualLayer() {
  ScanRecord r = BaseRecord("MKM-001", 4173824);
  r.disc.type = "DVD+R DL";
  r.disc.manufacturerName = "Mitsubishi Kagaku Media";
  r.disc.capacity = "8152.0 MB";
  r.disc.writeSpeeds = Speeds({"2.4X", "4X", "8X"});
  r.settings = {"8X", 8, "full", 16384, 500, 450};
  AddSamples(
      &r, 254, 2, [](double a) { return Wave(a, 280, 35) + (a >= 0.5 ? 60 : 0); },
      [](double a) { return Wave(a, 190, 25) + (a >= 0.5 ? 40 : 0); });
  r.outcome = RunOutcome::kOk;
  r.verdict = "This disc is ok for writing under this speed setting.";
  r.durationSeconds = 1104;
  return r;
}

inline ScanRecord Smart() {
  ScanRecord r = BaseRecord("RICOHJPNR03", 2295104);
  r.kind = RecordKind::kSmart;
  r.settings = {"", 0, kSmartDensity, 0, 500, 450};
  r.disc.writeSpeeds = Speeds({"2.4X", "4X", "8X", "12X", "16X"});
  r.rows = {{"2.4X", 2, 210, 140, kSmartRowOk},
            {"4X", 4, 240, 160, kSmartRowOk},
            {"8X", 8, 330, 240, kSmartRowOk},
            {"12X", 12, 520, 300, kSmartRowNotRecommended},
            {"16X", 16, std::nullopt, std::nullopt, kSmartRowFailed}};
  r.outcome = RunOutcome::kOk;
  r.log.clear();
  r.durationSeconds = 48;
  return r;
}

}  // namespace report_fixtures
