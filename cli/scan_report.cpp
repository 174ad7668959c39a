#include "cli/scan_report.h"

#include <cstdio>

#include "cli/cli_options.h"
#include "commands/drive_commands.h"
#include "console/smart_scan.h"

namespace {

const char* SampleVerdictName(const ScanSample& sample) {
  return SamplePasses(sample) ? "ok" : "not recommended";
}

}  // namespace

bool SamplePasses(const ScanSample& sample) {
  return sample.te <= kTeLimit && sample.fe <= kFeLimit;
}

const char* ScanOutcomeName(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::kOk: return "ok";
    case ScanOutcome::kNotRecommended: return "not recommended";
    case ScanOutcome::kFirmwareFailure: return "firmware failure";
    case ScanOutcome::kAborted: return "aborted";
  }
  return "";
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

std::string ScanReportJson(const ScanReport& r) {
  std::string json = "{\n";
  auto field = [&json](const char* indent, const char* name, const std::string& value, bool last) {
    json += std::string(indent) + JsonString(name) + ": " + value + (last ? "\n" : ",\n");
  };
  json += "  \"drive\": {\n";
  field("    ", "name", JsonString(r.driveName), false);
  field("    ", "path", JsonString(r.drivePath), true);
  json += "  },\n  \"disc\": {\n";
  field("    ", "type", JsonString(r.disc.discType), false);
  field("    ", "manufacturerId", JsonString(r.disc.manufacturerId), false);
  field("    ", "mediaTypeId", JsonString(r.disc.mediaTypeId), false);
  field("    ", "capacity", JsonString(r.disc.capacity), false);
  field("    ", "lastLba", std::to_string(r.lastLba), false);
  std::string speeds = "[";
  for (size_t i = 0; i < r.disc.speedEntries.size(); ++i) {
    speeds += (i ? ", " : "") + JsonString(r.disc.speedEntries[i]);
  }
  field("    ", "writeSpeeds", speeds + "]", true);
  json += "  },\n  \"settings\": {\n";
  field("    ", "speed", JsonString(SpeedLabel(r.speed)), false);
  field("    ", "speedCode", std::to_string(r.speed), false);
  field("    ", "density", JsonString(r.density != nullptr ? r.density->name : ""), false);
  field("    ", "densityStep", std::to_string(r.density != nullptr ? r.density->step : 0), false);
  field("    ", "log", JsonString(r.logFile), true);
  json += "  },\n  \"samples\": [";
  for (size_t i = 0; i < r.samples.size(); ++i) {
    const ScanSample& s = r.samples[i];
    char line[160];
    std::snprintf(line, sizeof line,
                  "%s\n    {\"lba\": %ld, \"psn\": %ld, \"te\": %u, \"fe\": %u, "
                  "\"verdict\": \"%s\"}",
                  i ? "," : "", static_cast<long>(s.lba), static_cast<long>(s.psn), s.te, s.fe,
                  SampleVerdictName(s));
    json += line;
  }
  json += r.samples.empty() ? "],\n" : "\n  ],\n";
  field("  ", "elapsedSeconds", std::to_string(r.elapsedSeconds), false);
  field("  ", "result", JsonString(ScanOutcomeName(r.outcome)), false);
  field("  ", "verdict", r.verdict.empty() ? "null" : JsonString(r.verdict), true);
  return json + "}\n";
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
