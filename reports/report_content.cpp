#include "reports/report_content.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "console/disc_identification.h"
#include "records/drive_facts_text.h"
#include "records/number_text.h"
#include "records/run_end_text.h"
#include "reports/chart_drawing.h"

namespace {

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += separator;
    joined += part;
  }
  return joined;
}

std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  // "( 8310" -> "(8310": the speed list pads its numbers.
  for (size_t at = out.find("( "); at != std::string::npos; at = out.find("( ", at)) {
    out.erase(at + 1, 1);
  }
  for (size_t at = out.find(" ,"); at != std::string::npos; at = out.find(" ,", at)) {
    out.erase(at, 1);
  }
  return out;
}

std::string Duration(long seconds) {
  if (seconds < 0) seconds = 0;
  char text[48];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%ld h %02ld min %02ld s", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  } else if (seconds >= 60) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", seconds / 60, seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld s", seconds);
  }
  return text;
}

// "2026-12-08T02:10:00+01:00" -> "2026-12-08 02:10:00 +01:00".
std::string DateText(const std::string& iso) {
  std::string text = ReportText(iso);
  if (text.size() >= 19 && text[10] == 'T') {
    text[10] = ' ';
    if (text.size() > 19) text.insert(19, " ");
  }
  return text;
}

std::string ShortDate(const std::string& iso) {
  const std::string text = DateText(iso);
  return text.substr(0, std::min<size_t>(16, text.size()));
}

std::string ManufacturerText(const RecordDisc& disc) {
  std::string text = disc.manufacturerId.empty() ? "-" : ReportText(disc.manufacturerId);
  text += disc.manufacturerName ? " (" + ReportText(*disc.manufacturerName) + ")"
                                : " (unknown manufacturer)";
  return text;
}

// The drive's facts in one line: firmware and its date, serial number,
// buffer and loader; what the drive did not give is unknown.
std::string DriveFactsLine(const DriveFacts& facts) {
  // Firmware, its date, serial, loader, buffer: as `drives --long` words them.
  const std::vector<DriveFactLine> lines = DriveFactLines(facts);
  const std::string date = facts.firmwareDate ? " of " + lines[1].value : "";
  return "firmware " + lines[0].value + date + ", serial " + lines[2].value + ", buffer " +
         lines[4].value + ", loader " + lines[3].value;
}

std::string SettingsText(const ScanRecord& record) {
  const RecordSettings& s = record.settings;
  if (record.kind == RecordKind::kSmart) return "every write speed; " + DensityRuleText(record);
  std::string text = ReportText(s.speed) + "; " + DensityRuleText(record);
  if (record.range) {
    text += "; part of the disc: LBA " + GroupedDigits(record.range->from) + " up to " +
            GroupedDigits(record.range->to);
  }
  if (record.resumed) {
    text += "; resumed at LBA " + GroupedDigits(record.resumed->firstLba) + " after " +
            std::to_string(record.resumed->earlierSamples) + " samples of run " +
            ReportText(record.resumed->runId);
  }
  return text;
}

std::string WriteSpeedsText(const std::vector<RecordWriteSpeed>& speeds) {
  std::vector<std::string> texts;
  for (const RecordWriteSpeed& speed : speeds) texts.push_back(ReportText(WriteSpeedText(speed)));
  // A record may hold more than a disc offers; the page has room for so much.
  return texts.empty() ? "-" : ReportText(Join(texts, ", "));
}

std::string CapacityText(const RecordDisc& disc) {
  const long sectors = static_cast<long>(disc.lastLba) + 1;
  return ReportText(disc.capacity) + " (" + GroupedDigits(sectors) + " sectors, last LBA " +
         GroupedDigits(disc.lastLba) + ")";
}

// "sector 2,084,864 (2,048 sectors before sector 2,086,912, where the sample
// positions place it)", in the report's grouped digits.
std::string OwnLayerBreakText(int32_t layer0Sectors) {
  const long difference = static_cast<long>(layer0Sectors) - kAssumedLayer0Sectors;
  const long apart = difference < 0 ? -difference : difference;
  return "sector " + GroupedDigits(layer0Sectors) + " (" + GroupedDigits(apart) +
         (apart == 1 ? " sector " : " sectors ") + (difference < 0 ? "before" : "after") +
         " sector " + GroupedDigits(kAssumedLayer0Sectors) +
         ", where the sample positions place it)";
}

std::string LimitsText(const RecordSettings& s) {
  return "TE " + std::to_string(s.teLimit) + ", FE " + std::to_string(s.feLimit);
}

std::string HighestFitSpeed(const ScanRecord& record) {
  if (record.fitSpeed) return ReportText(record.fitSpeed->speed);
  std::string highest;
  int highestCode = -1;
  for (const SmartRow& row : record.rows) {
    if (row.result == kSmartRowOk && row.speedCode > highestCode) {
      highestCode = row.speedCode;
      highest = ReportText(row.speed);
    }
  }
  return highest;
}

std::string WorstText(const LayerStatistics& whole, bool dualLayer) {
  if (!whole.worst) return "";
  const WorstSample& w = *whole.worst;
  char text[160];
  std::snprintf(text, sizeof text, "Worst sample: LBA %s (%.2f GB)%s%s: TE %d, FE %d",
                GroupedDigits(w.lba).c_str(), w.gb, dualLayer ? ", layer " : "",
                dualLayer ? std::to_string(w.layer).c_str() : "", w.te, w.fe);
  return text;
}

void AddStatRows(const std::string& prefix, const RecordStatistics& statistics,
                 std::vector<ReportStatRow>* rows) {
  if (!statistics.speeds.empty()) {
    // A Smart Scan: one reading a speed, each on its own row.
    for (const SpeedStatistics& speed : statistics.speeds) {
      rows->push_back({(prefix.empty() ? "" : prefix + ", ") + ReportText(speed.speed),
                       speed.reading.te, speed.reading.fe, speed.reading.samples});
    }
    return;
  }
  rows->push_back({prefix.empty() ? "Whole disc" : prefix, statistics.whole.te, statistics.whole.fe,
                   statistics.whole.samples});
  if (statistics.layers.size() < 2) return;
  for (const LayerStatistics& layer : statistics.layers) {
    rows->push_back({(prefix.empty() ? "" : prefix + ", ") + "layer " + std::to_string(layer.layer),
                     layer.te, layer.fe, layer.samples});
  }
}

}  // namespace

std::string ReportText(const std::string& text) {
  std::string out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    if (out.size() >= kReportTextMax) {
      out += "\u2026";
      break;
    }
    const unsigned char c = bytes[i];
    if (c < 0x20 || c == 0x7F) {
      out += ' ';
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence (no overlong forms, no surrogates) is kept.
    size_t length = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07;
    }
    bool valid = length != 0 && i + length <= size;
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (bytes[i + k] & 0xC0) == 0x80;
      code = (code << 6) | (bytes[i + k] & 0x3F);
    }
    if (valid) {
      valid = !(length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) &&
              !(length == 4 && (code < 0x10000 || code > 0x10FFFF));
    }
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      // Latin-1: U+0080..U+00FF; C1 controls become spaces.
      if (c < 0xA0) {
        out += ' ';
      } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
      ++i;
    }
  }
  return out;
}

std::string DensityRuleText(const ScanRecord& record) {
  if (record.kind == RecordKind::kSmart) return "one sample near the rim at each speed";
  const RecordSettings& s = record.settings;
  const std::string density = ReportText(s.density);
  // As the scan steps: its step on the inner half of each layer, half-way
  // to 16,384 on the next four tenths, 16,384 on the outer tenth.
  const long step = s.densityStep > 0 ? s.densityStep : 0;
  const long tail = 16384;
  if (step == 0) return density + " density";
  if (step <= tail) return density + ": every " + GroupedDigits(step) + " sectors";
  if (s.density == "quick") {
    return "quick: only the outer tenth of each layer, every " + GroupedDigits(tail) + " to " +
           GroupedDigits((step + tail) / 2) + " sectors";
  }
  return density + ": every " + GroupedDigits(step) + " sectors on the inner half, " +
         GroupedDigits((step + tail) / 2) + " further out, " + GroupedDigits(tail) +
         " on the outer tenth";
}

std::string FormatMean(double mean) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", mean);
  return text;
}

ReportColour OutcomeColour(RunOutcome outcome) {
  if (outcome == RunOutcome::kOk) return kReportGreen;
  if (outcome == RunOutcome::kAborted) return kReportGrey;
  return kReportRed;
}

std::string OutcomeWords(const ScanRecord& record) {
  const std::string speed = ReportText(record.settings.speed);
  // A Smart Scan that ran to its end is told by its fastest fit speed: some
  // speeds not recommended is its normal result, not a failure.
  if (record.kind == RecordKind::kSmart &&
      (record.outcome == RunOutcome::kOk || record.outcome == RunOutcome::kNotRecommended)) {
    const std::string highest = HighestFitSpeed(record);
    return highest.empty() ? "No write speed is fit" : "Fit for writing up to " + highest;
  }
  switch (record.outcome) {
    case RunOutcome::kOk: return "OK for writing at " + speed;
    case RunOutcome::kNotRecommended: return "Not recommended for writing at " + speed;
    case RunOutcome::kFirmwareFailure: return "Firmware failure: no verdict";
    case RunOutcome::kTimedOut: return "Drive timed out: no verdict";
    case RunOutcome::kDriveGone: return "Drive gone during the run: no verdict";
    case RunOutcome::kDiscEjected: return "Disc ejected during the run: no verdict";
    case RunOutcome::kLogNotWritten: return "Log not written: no verdict";
    case RunOutcome::kAborted: return "Stopped: no verdict";
    case RunOutcome::kSkipped: return "Skipped: not tested";
    case RunOutcome::kNoReading:
    case RunOutcome::kDriveBusy:
    case RunOutcome::kDriveError:
    case RunOutcome::kNotRecorded: {
      std::string status = RunEndStatus(record.outcome, record.cause);
      status.pop_back();  // its full stop
      return status + ": no verdict";
    }
  }
  return "Unknown outcome";
}

ReportContent BuildReportContent(const std::vector<ScanRecord>& records) {
  ReportContent content;
  const bool comparison = records.size() > 1;
  for (size_t i = 0; i < records.size(); ++i) {
    const ScanRecord& record = records[i];
    ReportRun run;
    run.record = &record;
    run.statistics = StatisticsOf(record);
    run.outcome = OutcomeWords(record);
    run.outcomeColour = OutcomeColour(record.outcome);
    if (record.kind == RecordKind::kSmart &&
        (record.outcome == RunOutcome::kOk || record.outcome == RunOutcome::kNotRecommended)) {
      run.outcomeColour = HighestFitSpeed(record).empty() ? kReportRed : kReportGreen;
    }
    run.name =
        (comparison ? "Run " + std::to_string(i + 1) + ": " : std::string()) +
        ShortDate(record.startTime) + ", " + Squeezed(ReportText(record.disc.manufacturerId)) +
        ", " +
        (record.kind == RecordKind::kSmart ? "Smart Scan" : ReportText(record.settings.speed));
    run.fields = {
        {"Disc", ReportText(record.disc.type)},
        {"Manufacturer ID", ManufacturerText(record.disc)},
        {"Media type ID",
         record.disc.mediaTypeId.empty() ? "-" : ReportText(record.disc.mediaTypeId)},
        {"Capacity", CapacityText(record.disc)},
        {"Write speeds", WriteSpeedsText(record.disc.writeSpeeds)},
        {"Drive", ReportText(record.drive.name) +
                      (record.drive.node.empty() ? "" : " at " + ReportText(record.drive.node))},
        {"Settings", SettingsText(record)},
        {"Limits", LimitsText(record.settings)},
        {"Date", DateText(record.startTime)},
        {"Duration", Duration(record.durationSeconds)},
        {"Program", ReportText(record.program + " " + record.programVersion)},
    };
    // Records made before drives were asked have no facts to show.
    if (record.drive.facts) {
      const auto drive = std::find_if(run.fields.begin(), run.fields.end(),
                                      [](const ReportField& f) { return f.label == "Drive"; });
      run.fields.insert(drive + 1,
                        {"Drive facts", ReportText(DriveFactsLine(*record.drive.facts))});
    }
    // IDs and drive names come padded with blanks; one space reads better.
    for (ReportField& field : run.fields) field.value = Squeezed(field.value);
    run.layerBreakLba = LayerMarkOf(record).lba;
    // A disc whose layer 1 starts elsewhere than the sample positions assume
    // says so under its capacity.
    if (record.disc.layer0Sectors && run.layerBreakLba == *record.disc.layer0Sectors &&
        run.layerBreakLba != kAssumedLayer0Sectors) {
      const auto capacity =
          std::find_if(run.fields.begin(), run.fields.end(),
                       [](const ReportField& field) { return field.label == "Capacity"; });
      run.fields.insert(capacity == run.fields.end() ? capacity : capacity + 1,
                        {"Layer 1 starts", OwnLayerBreakText(*record.disc.layer0Sectors)});
    }
    // A Smart Scan's readings all come from one point near the rim.
    if (record.kind == RecordKind::kScan) {
      run.worst = WorstText(run.statistics.whole, run.layerBreakLba >= 0);
    }
    // A Smart Scan alone has its readings in its table: one a speed, its
    // statistics would only repeat them.
    if (comparison || record.kind == RecordKind::kScan) {
      AddStatRows(comparison ? "Run " + std::to_string(i + 1) : "", run.statistics,
                  &content.statistics);
    }
    content.lastLba = std::max(content.lastLba, record.disc.lastLba);
    content.runs.push_back(std::move(run));
  }
  if (!records.empty()) {
    content.teLimit = records[0].settings.teLimit;
    content.feLimit = records[0].settings.feLimit;
  }
  if (comparison) {
    content.title = "Comparison of " + std::to_string(records.size()) + " runs";
    // Each run's outcome has its colour below; the title only names them.
    content.titleColour = kReportBlack;
  } else if (!records.empty()) {
    const ScanRecord& record = records[0];
    content.title = content.runs[0].outcome;
    content.titleColour = content.runs[0].outcomeColour;
    content.subtitle = ReportText(record.verdict);
    if (!HasVerdict(record.outcome) && record.outcome != RunOutcome::kAborted) {
      std::string cause = DescribeRunEnd(record.outcome, record.cause);
      cause[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(cause[0])));
      content.subtitle = ReportText(cause + ".");
    }
    if (record.kind == RecordKind::kSmart) {
      content.smart = true;
      auto text = [](const std::optional<uint16_t>& value, int limit, bool margin) {
        if (!value) return std::string("-");
        return std::to_string(margin ? limit - *value : *value);
      };
      const int te = record.settings.teLimit, fe = record.settings.feLimit;
      for (const SmartRow& row : record.rows) {
        content.smartRows.push_back({ReportText(row.speed), text(row.te, te, false),
                                     text(row.fe, fe, false), text(row.te, te, true),
                                     text(row.fe, fe, true), ReportText(row.result),
                                     row.result == kSmartRowOk});
      }
      if (const auto lba = SmartSampleLba(record)) {
        char gb[32];
        std::snprintf(gb, sizeof gb, "%.2f GB", LbaToGigabytes(*lba));
        content.smartSample = "near the rim, at LBA " + GroupedDigits(*lba) + " (" + gb + ")";
      } else {
        content.smartSample = "at the fixed outer-track address every " +
                              ReportText(record.disc.type) + " is sampled at";
      }
      const std::string highest = HighestFitSpeed(record);
      content.smartHighest =
          highest.empty() ? "No write speed is fit for writing" : "Highest fit speed: " + highest;
    }
  }
  return content;
}
