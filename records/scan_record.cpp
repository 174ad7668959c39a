#include "records/scan_record.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>

#include "commands/drive_commands.h"
#include "console/scan_run.h"
#include "files/input_file.h"
#include "records/drive_facts_text.h"
#include "records/run_end_text.h"
#include "records/run_id.h"

using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kOutcomeNames[] = {
    "ok",           "not recommended",  "firmware failure", "timed out",  "drive gone",
    "disc ejected", "log not written",  "aborted",          "no reading", "drive busy",
    "drive error",  "not in recording", "skipped"};
static_assert(std::size(kOutcomeNames) == kRunOutcomeCount, "each outcome has its name in records");

// Valid UTF-8 that names a character beyond U+00FF: only such text comes
// out of Utf8ToLatin1 as it went in.
bool Utf8BeyondLatin1(const std::string& text) {
  const bool beyond = std::any_of(text.begin(), text.end(),
                                  [](char c) { return static_cast<unsigned char>(c) >= 0xC4; });
  if (!beyond) return false;
  try {
    (void)Json(text).dump();  // refuses bytes that are not UTF-8
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

// Identity bytes from the drive are not UTF-8: each byte is kept as the
// character of the same number (Latin-1) and comes back as that byte. Text
// a record gave beyond Latin-1 was kept as UTF-8, and goes back as it came.
std::string Latin1ToUtf8(const std::string& bytes) {
  if (Utf8BeyondLatin1(bytes)) return bytes;
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (b >> 6));
      text += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return text;
}

// The inverse, for text that only holds U+0000..U+00FF; anything beyond is
// kept as it is (a record written by hand may name things in UTF-8).
std::string Utf8ToLatin1(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b == 0xC2 || b == 0xC3) && i + 1 < text.size()) {
      bytes +=
          static_cast<char>(((b & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      ++i;
    } else if (b >= 0x80) {
      return text;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

double Rounded(double value) { return std::round(value * 1000.0) / 1000.0; }

Json ChannelJson(const ChannelStatistics& s) {
  return Json{{"max", s.max},
              {"mean", Rounded(s.mean)},
              {"p95", s.p95},
              {"overLimit", s.overLimit},
              {"margin", s.margin}};
}

Json LayerJson(const LayerStatistics& s) {
  Json json;
  if (s.layer >= 0) json["layer"] = s.layer;
  json["samples"] = s.samples;
  json["te"] = ChannelJson(s.te);
  json["fe"] = ChannelJson(s.fe);
  if (s.worst) {
    json["worst"] = Json{{"lba", s.worst->lba},
                         {"gb", Rounded(s.worst->gb)},
                         {"layer", s.worst->layer},
                         {"te", s.worst->te},
                         {"fe", s.worst->fe}};
  } else {
    json["worst"] = nullptr;
  }
  return json;
}

Json SpeedJson(const RecordSpeed& speed) {
  return Json{{"speed", speed.speed}, {"speedCode", speed.speedCode}};
}

// Only what the ending told; null for a run that ended with a verdict or a
// stop.
Json CauseJson(const RunCause& c) {
  Json json = Json::object();
  if (c.lba) json["lba"] = *c.lba;
  if (c.psn) json["psn"] = *c.psn;
  if (c.scsiStatus) json["scsiStatus"] = *c.scsiStatus;
  if (c.sense)
    json["sense"] = Json{{"key", c.sense->key}, {"asc", c.sense->asc}, {"ascq", c.sense->ascq}};
  if (c.replyStatus) json["replyStatus"] = *c.replyStatus;
  if (c.bytesMoved) json["bytesMoved"] = *c.bytesMoved;
  if (c.logError) json["logError"] = *c.logError;
  if (c.firstSample) json["firstSample"] = true;
  return json.empty() ? Json(nullptr) : json;
}

// Reading: every accessor checks the type and range and throws a
// RecordError naming the field; the reader turns it into one line.
struct RecordError {
  std::string message;
};

// Deeper than kRecordMaxDepth, counted on the brackets outside strings. Only
// the depth is judged here; the parser judges the rest.
bool NestedTooDeeply(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kRecordMaxDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw RecordError{where + " " + what};
}

const Json& Member(const Json& object, const std::string& where, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) Fail(where + name, "is missing");
  return *it;
}

const Json& Object(const Json& object, const std::string& where, const char* name) {
  const Json& value = Member(object, where, name);
  if (!value.is_object()) Fail(where + name, "is not an object");
  return value;
}

std::string StringMember(const Json& object, const std::string& where, const char* name) {
  const Json& value = Member(object, where, name);
  if (!value.is_string()) Fail(where + name, "is not a string");
  return value.get<std::string>();
}

std::optional<std::string> TextOrNull(const Json& object, const std::string& where,
                                      const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || it->is_null()) return std::nullopt;
  if (!it->is_string()) Fail(where + name, "is not a string or null");
  return it->get<std::string>();
}

int64_t IntegerOf(const Json& value, const std::string& where, int64_t low, int64_t high) {
  if (!value.is_number_integer()) Fail(where, "is not a whole number");
  int64_t n = 0;
  if (value.is_number_unsigned()) {
    const uint64_t u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      Fail(where, "is out of range");
    }
    n = static_cast<int64_t>(u);
  } else {
    n = value.get<int64_t>();
  }
  if (n < low || n > high) {
    Fail(where, "is out of range (" + std::to_string(low) + ".." + std::to_string(high) + ")");
  }
  return n;
}

int64_t Integer(const Json& object, const std::string& where, const char* name, int64_t low,
                int64_t high) {
  return IntegerOf(Member(object, where, name), where + name, low, high);
}

bool Boolean(const Json& object, const std::string& where, const char* name) {
  const Json& value = Member(object, where, name);
  if (!value.is_boolean()) Fail(where + name, "is not true or false");
  return value.get<bool>();
}

const Json& Array(const Json& object, const std::string& where, const char* name, size_t maxItems) {
  const Json& value = Member(object, where, name);
  if (!value.is_array()) Fail(where + name, "is not a list");
  if (value.size() > maxItems) {
    Fail(where + name, "has " + std::to_string(value.size()) + " entries, more than the " +
                           std::to_string(maxItems) + " a record may hold");
  }
  return value;
}

constexpr int64_t kMaxLba = std::numeric_limits<int32_t>::max();

template <typename T>
void OptionalInteger(const Json& object, const std::string& where, const char* name, int64_t low,
                     int64_t high, std::optional<T>* field) {
  const auto it = object.find(name);
  if (it == object.end() || it->is_null()) return;
  *field = static_cast<T>(IntegerOf(*it, where + name, low, high));
}

RecordSpeed ReadSpeed(const Json& json, const std::string& where) {
  if (!json.is_object()) Fail(where, "is not an object");
  return RecordSpeed{StringMember(json, where + ".", "speed"),
                     static_cast<int>(Integer(json, where + ".", "speedCode", 0, 255))};
}

RunCause ReadCause(const Json& json) {
  RunCause c;
  const auto it = json.find("cause");
  if (it == json.end() || it->is_null()) return c;
  if (!it->is_object()) Fail("cause", "is not an object or null");
  const Json& cause = *it;
  OptionalInteger(cause, "cause.", "lba", 0, kMaxLba, &c.lba);
  OptionalInteger(cause, "cause.", "psn", 0, 0xFFFFFF, &c.psn);
  OptionalInteger(cause, "cause.", "scsiStatus", 0, 255, &c.scsiStatus);
  OptionalInteger(cause, "cause.", "replyStatus", 0, 255, &c.replyStatus);
  OptionalInteger(cause, "cause.", "bytesMoved", 0, 0xFFFFFFFFLL, &c.bytesMoved);
  OptionalInteger(cause, "cause.", "logError", 0, 4095, &c.logError);
  if (cause.contains("firstSample")) c.firstSample = Boolean(cause, "cause.", "firstSample");
  const auto sense = cause.find("sense");
  if (sense != cause.end() && !sense->is_null()) {
    if (!sense->is_object()) Fail("cause.sense", "is not an object");
    c.sense = SenseTriple{static_cast<uint8_t>(Integer(*sense, "cause.sense.", "key", 0, 15)),
                          static_cast<uint8_t>(Integer(*sense, "cause.sense.", "asc", 0, 255)),
                          static_cast<uint8_t>(Integer(*sense, "cause.sense.", "ascq", 0, 255))};
  }
  return c;
}

// The version a record says it is in; what this Velmo cannot read is refused.
int64_t ReadRecordVersion(const Json& json) {
  if (!json.is_object()) throw RecordError{"not a Velmo scan record (not a JSON object)"};
  const auto format = json.find("format");
  if (format == json.end() || !format->is_string() || *format != kRecordFormat) {
    throw RecordError{"not a Velmo scan record (no \"format\": \"velmo-scan\")"};
  }
  const auto version = json.find("version");
  if (version == json.end() || !version->is_number_integer()) {
    throw RecordError{"a scan record without a version number"};
  }
  if (version->is_number_unsigned() ? version->get<uint64_t>() > uint64_t(kRecordVersion)
                                    : version->get<int64_t>() > kRecordVersion) {
    throw RecordError{"a scan record of version " + version->dump() +
                      ", newer than this Velmo reads (" + std::to_string(kRecordVersion) +
                      "); update Velmo to read it"};
  }
  if (version->get<int64_t>() < 1)
    throw RecordError{"a scan record of unknown version " + version->dump()};
  return version->get<int64_t>();
}

RecordKind ReadRecordKind(const Json& json) {
  const std::string kind = StringMember(json, "", "kind");
  if (kind == "scan") return RecordKind::kScan;
  if (kind == "smart") return RecordKind::kSmart;
  Fail("kind", "is neither \"scan\" nor \"smart\"");
}

void ReadRecordDrive(const Json& drive, ScanRecord& r) {
  r.drive.name = Utf8ToLatin1(StringMember(drive, "drive.", "name"));
  r.drive.vendor = Utf8ToLatin1(StringMember(drive, "drive.", "vendor"));
  r.drive.product = Utf8ToLatin1(StringMember(drive, "drive.", "product"));
  r.drive.revision = Utf8ToLatin1(StringMember(drive, "drive.", "revision"));
  r.drive.node = StringMember(drive, "drive.", "node");
  if (const auto facts = drive.find("facts"); facts != drive.end() && facts->is_object())
    r.drive.facts = DriveFactsFromJson(*facts);
}

// values: version 3 on; up to version 2 the capacity and the speeds were the
// window's texts.
void ReadRecordDisc(const Json& disc, bool values, ScanRecord& r) {
  r.disc.type = StringMember(disc, "disc.", "type");
  r.disc.manufacturerId = Utf8ToLatin1(StringMember(disc, "disc.", "manufacturerId"));
  r.disc.manufacturerName = TextOrNull(disc, "disc.", "manufacturerName");
  r.disc.mediaTypeId = Utf8ToLatin1(StringMember(disc, "disc.", "mediaTypeId"));
  r.disc.lastLba = static_cast<int32_t>(Integer(disc, "disc.", "lastLba", 0, kMaxLba));
  if (const auto layer0 = disc.find("layer0Sectors"); layer0 != disc.end() && !layer0->is_null())
    r.disc.layer0Sectors =
        static_cast<int32_t>(Integer(disc, "disc.", "layer0Sectors", 1, kMaxLba));
  if (values) {
    const Json& capacity = Object(disc, "disc.", "capacity");
    r.disc.capacity = StringMember(capacity, "disc.capacity.", "text");
    const int64_t sectors = Integer(capacity, "disc.capacity.", "sectors", 0, kMaxLba + 1);
    if (sectors != int64_t{r.disc.lastLba} + 1)
      Fail("disc.capacity.sectors", "does not agree with disc.lastLba");
  } else {
    r.disc.capacity = StringMember(disc, "disc.", "capacity");
  }
  const Json& speeds = Array(disc, "disc.", "writeSpeeds", kRecordMaxRows);
  for (size_t i = 0; i < speeds.size(); ++i) {
    const std::string where = "disc.writeSpeeds[" + std::to_string(i) + "]";
    if (!values) {
      if (!speeds[i].is_string()) Fail(where, "is not a string");
      r.disc.writeSpeeds.push_back(WriteSpeedOfEntry(speeds[i].get<std::string>()));
      continue;
    }
    if (!speeds[i].is_object()) Fail(where, "is not an object");
    r.disc.writeSpeeds.push_back(RecordWriteSpeed{
        StringMember(speeds[i], where + ".", "label"),
        static_cast<int>(Integer(speeds[i], where + ".", "code", 0, 255)),
        static_cast<int>(Integer(speeds[i], where + ".", "kBps", 0, kRecordMaxKBps))});
  }
}

void ReadRecordSettings(const Json& settings, bool values, ScanRecord& r) {
  // A Smart Scan has no one speed and no step: absent from version 3 on,
  // and before it still checked but not kept, so that it writes back as it
  // reads.
  if (!values || r.kind == RecordKind::kScan) {
    RecordSettings one;
    one.speed = StringMember(settings, "settings.", "speed");
    one.speedCode = static_cast<int>(Integer(settings, "settings.", "speedCode", 0, 255));
    one.densityStep =
        static_cast<int32_t>(Integer(settings, "settings.", "densityStep", 0, kMaxLba));
    if (r.kind == RecordKind::kScan) {
      r.settings.speed = one.speed;
      r.settings.speedCode = one.speedCode;
      r.settings.densityStep = one.densityStep;
    }
  }
  r.settings.density = StringMember(settings, "settings.", "density");
  r.settings.teLimit = static_cast<int>(Integer(settings, "settings.", "teLimit", 1, 65535));
  r.settings.feLimit = static_cast<int>(Integer(settings, "settings.", "feLimit", 1, 65535));
  if (const auto range = settings.find("range"); range != settings.end() && !range->is_null()) {
    const Json& part = Object(settings, "settings.", "range");
    RecordRange read;
    read.from = static_cast<int32_t>(Integer(part, "settings.range.", "from", 0, kMaxLba));
    read.to = static_cast<int32_t>(Integer(part, "settings.range.", "to", 0, kMaxLba));
    if (read.from >= read.to) Fail("settings.range", "is empty");
    r.range = read;
  }
  if (const auto speedList = settings.find("speeds"); speedList != settings.end()) {
    const Json& list = Array(settings, "settings.", "speeds", kRecordMaxRows);
    for (size_t i = 0; i < list.size(); ++i)
      r.smartSpeeds.push_back(ReadSpeed(list[i], "settings.speeds[" + std::to_string(i) + "]"));
  }
}

// A scan's samples, checked against the settings' limits.
void ReadRecordSamples(const Json& samples, ScanRecord& r) {
  r.samples.reserve(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    const std::string where = "samples[" + std::to_string(i) + "].";
    const Json& s = samples[i];
    if (!s.is_object()) Fail(where.substr(0, where.size() - 1), "is not an object");
    RecordSample sample;
    sample.lba = static_cast<int32_t>(Integer(s, where, "lba", 0, kMaxLba));
    sample.psn = static_cast<int32_t>(Integer(s, where, "psn", 0, kMaxLba));
    sample.layer = static_cast<int>(Integer(s, where, "layer", 0, 1));
    sample.te = static_cast<uint16_t>(Integer(s, where, "te", 0, 65535));
    sample.fe = static_cast<uint16_t>(Integer(s, where, "fe", 0, 65535));
    sample.ok = Boolean(s, where, "ok");
    if (sample.ok != (sample.te <= r.settings.teLimit && sample.fe <= r.settings.feLimit)) {
      Fail(where + "ok", "does not agree with the readings and limits");
    }
    r.samples.push_back(sample);
  }
}

// A Smart Scan's rows, one per speed.
void ReadRecordSmartRows(const Json& rows, ScanRecord& r) {
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string where = "rows[" + std::to_string(i) + "].";
    const Json& row = rows[i];
    if (!row.is_object()) Fail(where.substr(0, where.size() - 1), "is not an object");
    SmartRow smart;
    smart.speed = StringMember(row, where, "speed");
    smart.speedCode = static_cast<int>(Integer(row, where, "speedCode", 0, 255));
    for (auto [name, field] : {std::pair{"te", &smart.te}, std::pair{"fe", &smart.fe}}) {
      const Json& value = Member(row, where, name);
      if (!value.is_null())
        *field = static_cast<uint16_t>(IntegerOf(value, where + name, 0, 65535));
    }
    smart.result = StringMember(row, where, "result");
    if (smart.result != kSmartRowOk && smart.result != kSmartRowNotRecommended &&
        smart.result != kSmartRowFailed) {
      Fail(where + "result", "is not \"ok\", \"not recommended\" or \"failed\"");
    }
    if ((smart.result == kSmartRowFailed) != !(smart.te && smart.fe)) {
      Fail(where.substr(0, where.size() - 1), "has readings that do not fit its result");
    }
    r.rows.push_back(std::move(smart));
  }
}

RunOutcome ReadRecordOutcome(const Json& json) {
  const std::string outcome = StringMember(json, "", "outcome");
  const auto known = RunOutcomeFromName(outcome);
  if (!known) {
    // Quoted on one short line, whatever the file holds; the bytes stay as
    // they are for whoever shows the line (velmo-cli escapes them).
    const size_t cut = std::min<size_t>(outcome.find_first_of("\r\n"), 40);
    const std::string shown = outcome.substr(0, cut) + (cut < outcome.size() ? "..." : "");
    Fail("outcome", "\"" + shown + "\" is not an outcome this Velmo knows");
  }
  return *known;
}

// A Smart Scan's answer: in "answer" from version 3 on, before it at the top.
std::optional<RecordSpeed> ReadRecordFitSpeed(const Json& json, bool values, RecordKind kind) {
  if (values && kind == RecordKind::kSmart) {
    const Json& answer = Object(json, "", "answer");
    const auto fit = answer.find("fitSpeed");
    if (fit == answer.end()) Fail("answer.fitSpeed", "is missing");
    if (fit->is_null()) return std::nullopt;
    return ReadSpeed(*fit, "answer.fitSpeed");
  }
  const auto fit = json.find("fitSpeed");
  if (fit == json.end() || fit->is_null()) return std::nullopt;
  return ReadSpeed(*fit, "fitSpeed");
}

// An older Smart Scan's answer is worked out again from its rows, the way a
// run judges them: the highest speed whose row is "OK."; its outcome, when it
// was a verdict, follows that answer. What such a record kept beside its rows
// is not trusted.
void JudgeOlderSmartRecord(ScanRecord& r) {
  std::optional<RecordSpeed> fit;
  for (const SmartRow& row : r.rows) {
    // Speed codes rise with the speed.
    if (row.result == kSmartRowOk && (!fit || row.speedCode > fit->speedCode))
      fit = RecordSpeed{row.speed, row.speedCode};
  }
  r.fitSpeed = fit;
  if (HasVerdict(r.outcome)) r.outcome = fit ? RunOutcome::kOk : RunOutcome::kNotRecommended;
}

void ReadRecord(const Json& json, ScanRecord* record) {
  const int64_t version = ReadRecordVersion(json);
  const bool values = version >= 3;

  ScanRecord r;
  r.kind = ReadRecordKind(json);
  r.program = StringMember(json, "", "program");
  r.programVersion = StringMember(json, "", "programVersion");
  r.startTime = StringMember(json, "", "startTime");
  if (const auto id = TextOrNull(json, "", "runId")) {
    if (!IsRunId(*id)) Fail("runId", "is not a UUID");
    r.runId = *id;
  }
  r.durationSeconds =
      static_cast<long>(Integer(json, "", "durationSeconds", 0, 10LL * 365 * 86400));
  ReadRecordDrive(Object(json, "", "drive"), r);
  ReadRecordDisc(Object(json, "", "disc"), values, r);
  ReadRecordSettings(Object(json, "", "settings"), values, r);
  if (r.kind == RecordKind::kScan) {
    ReadRecordSamples(Array(json, "", "samples", kRecordMaxSamples), r);
  } else {
    ReadRecordSmartRows(Array(json, "", "rows", kRecordMaxRows), r);
  }
  r.outcome = ReadRecordOutcome(json);
  r.cause = ReadCause(json);
  r.fitSpeed = ReadRecordFitSpeed(json, values, r.kind);
  if (r.kind == RecordKind::kSmart && !values) JudgeOlderSmartRecord(r);
  r.verdict = TextOrNull(json, "", "verdict").value_or("");
  r.skippedBecause = TextOrNull(json, "", "skipped").value_or("");
  r.log = TextOrNull(json, "", "log").value_or("");
  if (const auto resumed = json.find("resumed"); resumed != json.end() && !resumed->is_null()) {
    const Json& from = Object(json, "", "resumed");
    RecordResume read;
    read.runId = StringMember(from, "resumed.", "runId");
    if (!IsRunId(read.runId)) Fail("resumed.runId", "is not a UUID");
    read.firstLba = static_cast<int32_t>(Integer(from, "resumed.", "firstLba", 0, kMaxLba));
    read.earlierSamples = static_cast<size_t>(
        Integer(from, "resumed.", "earlierSamples", 0, static_cast<int64_t>(kRecordMaxSamples)));
    r.resumed = read;
  }
  *record = std::move(r);
}

}  // namespace

const char* RecordKindName(RecordKind kind) {
  return kind == RecordKind::kSmart ? "smart" : "scan";
}

const char* RunOutcomeName(RunOutcome outcome) {
  const auto index = static_cast<size_t>(outcome);
  return index < kRunOutcomeCount ? kOutcomeNames[index] : "";
}

std::optional<RunOutcome> RunOutcomeFromName(std::string_view name) {
  for (int i = 0; i < kRunOutcomeCount; ++i) {
    if (name == kOutcomeNames[i]) return static_cast<RunOutcome>(i);
  }
  return std::nullopt;
}

std::optional<int32_t> SmartSampleLba(const ScanRecord& record) {
  const bool dualLayer = record.disc.type == "DVD+R DL";
  const DiscTypeCode type = dualLayer ? kDiscDvdPlusRDl : kDiscDvdPlusR;
  const int32_t lba =
      PsnToLba(static_cast<int32_t>(dualLayer ? kOuterTrackPsnDualLayer : kOuterTrackPsn), type);
  if (lba < 0 || lba > record.disc.lastLba) return std::nullopt;
  return lba;
}

RecordStatistics StatisticsOf(const ScanRecord& record) {
  if (record.kind == RecordKind::kScan) {
    return ComputeStatistics(record.samples, record.settings.teLimit, record.settings.feLimit);
  }
  // Smart Scan: every reading is at the outer-track sample point, each at
  // its own speed.
  const bool dualLayer = record.disc.type == "DVD+R DL";
  const DiscTypeCode type = dualLayer ? kDiscDvdPlusRDl : kDiscDvdPlusR;
  const int32_t psn = static_cast<int32_t>(dualLayer ? kOuterTrackPsnDualLayer : kOuterTrackPsn);
  const int32_t lba = PsnToLba(psn, type);
  RecordStatistics stats;
  for (const SmartRow& row : record.rows) {
    if (!row.te || !row.fe) continue;
    const std::vector<RecordSample> reading{
        RecordSample{lba, psn, LayerOfLba(lba, type), *row.te, *row.fe,
                     *row.te <= record.settings.teLimit && *row.fe <= record.settings.feLimit}};
    stats.speeds.push_back(SpeedStatistics{
        row.speed, row.speedCode,
        ComputeStatistics(reading, record.settings.teLimit, record.settings.feLimit).whole});
  }
  return stats;
}

namespace {

Json RecordDriveJson(const RecordDrive& drive) {
  Json json{{"name", Latin1ToUtf8(drive.name)},
            {"vendor", Latin1ToUtf8(drive.vendor)},
            {"product", Latin1ToUtf8(drive.product)},
            {"revision", Latin1ToUtf8(drive.revision)},
            {"node", drive.node}};
  if (drive.facts) json["facts"] = DriveFactsJson(*drive.facts);
  return json;
}

Json RecordDiscJson(const RecordDisc& d) {
  Json disc{{"type", d.type}, {"manufacturerId", Latin1ToUtf8(d.manufacturerId)}};
  if (d.manufacturerName) {
    disc["manufacturerName"] = *d.manufacturerName;
  } else {
    disc["manufacturerName"] = nullptr;
  }
  disc["mediaTypeId"] = Latin1ToUtf8(d.mediaTypeId);
  const int64_t sectors = int64_t{d.lastLba} + 1;
  disc["capacity"] = Json{{"sectors", sectors}, {"bytes", sectors * 2048}, {"text", d.capacity}};
  disc["lastLba"] = d.lastLba;
  if (d.layer0Sectors) disc["layer0Sectors"] = *d.layer0Sectors;
  Json writeSpeeds = Json::array();
  for (const RecordWriteSpeed& speed : d.writeSpeeds)
    writeSpeeds.push_back(Json{{"label", speed.label}, {"code", speed.code}, {"kBps", speed.kBps}});
  disc["writeSpeeds"] = std::move(writeSpeeds);
  return disc;
}

Json RecordSettingsJson(const ScanRecord& r) {
  if (r.kind == RecordKind::kSmart) {
    Json speeds = Json::array();
    for (const RecordSpeed& speed : r.smartSpeeds) speeds.push_back(SpeedJson(speed));
    return Json{{"density", r.settings.density},
                {"speeds", std::move(speeds)},
                {"teLimit", r.settings.teLimit},
                {"feLimit", r.settings.feLimit}};
  }
  Json settings{{"speed", r.settings.speed},     {"speedCode", r.settings.speedCode},
                {"density", r.settings.density}, {"densityStep", r.settings.densityStep},
                {"teLimit", r.settings.teLimit}, {"feLimit", r.settings.feLimit}};
  if (r.range) settings["range"] = Json{{"from", r.range->from}, {"to", r.range->to}};
  return settings;
}

Json RecordSamplesJson(const std::vector<RecordSample>& samples) {
  Json json = Json::array();
  for (const RecordSample& s : samples) {
    json.push_back(Json{{"lba", s.lba},
                        {"psn", s.psn},
                        {"layer", s.layer},
                        {"te", s.te},
                        {"fe", s.fe},
                        {"ok", s.ok}});
  }
  return json;
}

Json RecordSmartRowsJson(const std::vector<SmartRow>& rows) {
  Json json = Json::array();
  for (const SmartRow& row : rows) {
    Json item{{"speed", row.speed}, {"speedCode", row.speedCode}};
    item["te"] = row.te ? Json(*row.te) : Json(nullptr);
    item["fe"] = row.fe ? Json(*row.fe) : Json(nullptr);
    item["result"] = row.result;
    json.push_back(std::move(item));
  }
  return json;
}

// A Smart Scan's answer as a value and as the sentence the user read; none
// when the run ended without one.
Json RecordAnswerJson(const ScanRecord& r) {
  Json answer{{"fitSpeed", r.fitSpeed ? SpeedJson(*r.fitSpeed) : Json(nullptr)}};
  if (HasVerdict(r.outcome)) {
    answer["text"] = SmartAnswerText(
        r.fitSpeed ? std::optional<SpeedCode>(static_cast<SpeedCode>(r.fitSpeed->speedCode))
                   : std::nullopt);
  }
  return answer;
}

Json RecordStatisticsJson(const ScanRecord& r) {
  const RecordStatistics stats = StatisticsOf(r);
  if (r.kind == RecordKind::kSmart) {
    Json speeds = Json::array();
    for (const SpeedStatistics& speed : stats.speeds) {
      Json item = LayerJson(speed.reading);
      item["speed"] = speed.speed;
      item["speedCode"] = speed.speedCode;
      speeds.push_back(std::move(item));
    }
    return Json{{"speeds", std::move(speeds)}};
  }
  Json layers = Json::array();
  for (const LayerStatistics& layer : stats.layers) layers.push_back(LayerJson(layer));
  return Json{{"whole", LayerJson(stats.whole)}, {"layers", std::move(layers)}};
}

}  // namespace

std::string WriteRecordJson(const ScanRecord& r) {
  Json json;
  json["format"] = kRecordFormat;
  json["version"] = kRecordVersion;
  json["kind"] = RecordKindName(r.kind);
  json["program"] = r.program;
  json["programVersion"] = r.programVersion;
  json["startTime"] = r.startTime;
  if (!r.runId.empty()) json["runId"] = r.runId;
  json["durationSeconds"] = r.durationSeconds;
  json["drive"] = RecordDriveJson(r.drive);
  json["disc"] = RecordDiscJson(r.disc);
  json["settings"] = RecordSettingsJson(r);
  if (r.kind == RecordKind::kScan) {
    json["samples"] = RecordSamplesJson(r.samples);
  } else {
    json["rows"] = RecordSmartRowsJson(r.rows);
  }
  json["outcome"] = RunOutcomeName(r.outcome);
  json["cause"] = CauseJson(r.cause);
  if (r.kind == RecordKind::kSmart) json["answer"] = RecordAnswerJson(r);
  // A Smart Scan's verdict is its answer; any other run without one says why.
  if (!r.verdict.empty()) {
    json["verdict"] = r.verdict;
  } else if (r.kind == RecordKind::kScan || !HasVerdict(r.outcome)) {
    json["verdict"] = nullptr;
    json["noVerdict"] = DescribeRunEnd(r.outcome, r.cause);
  }
  json["log"] = r.log.empty() ? Json(nullptr) : Json(r.log);
  if (r.outcome == RunOutcome::kSkipped) json["skipped"] = r.skippedBecause;
  if (r.resumed) {
    json["resumed"] = Json{{"runId", r.resumed->runId},
                           {"firstLba", r.resumed->firstLba},
                           {"earlierSamples", r.resumed->earlierSamples}};
  }
  json["statistics"] = RecordStatisticsJson(r);
  // Paths and texts that are not UTF-8 are written with U+FFFD in place of
  // the bad bytes rather than failing the record.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ReadRecordJson(std::string_view text, ScanRecord* record, std::string* error) {
  if (text.size() > kRecordMaxBytes) {
    *error = "too large for a scan record (" + std::to_string(text.size()) + " bytes)";
    return false;
  }
  if (NestedTooDeeply(text)) {
    *error = "not a readable scan record (nested too deeply: more than " +
             std::to_string(kRecordMaxDepth) + " levels)";
    return false;
  }
  try {
    const Json json = Json::parse(text.begin(), text.end());
    ReadRecord(json, record);
    return true;
  } catch (const Json::parse_error& e) {
    *error = text.empty() ? "empty, not a scan record"
                          : "not JSON (byte " + std::to_string(e.byte) + ")";
  } catch (const Json::out_of_range&) {
    *error = "not a readable scan record (a number out of range)";
  } catch (const RecordError& e) {
    *error = e.message;
  } catch (const std::exception& e) {
    *error = std::string("not a readable scan record (") + e.what() + ")";
  }
  return false;
}

bool LoadRecordFile(const std::string& path, ScanRecord* record, std::string* error,
                    RecordLoadError* kind) {
  RecordLoadError ignored;
  if (kind == nullptr) kind = &ignored;
  *kind = RecordLoadError::kNone;
  std::string text;
  InputFileError fileError = InputFileError::kNone;
  if (!ReadInputFile(path, kRecordMaxBytes, &text, &fileError, error)) {
    // Too large is a file that is there but no record we read; anything
    // else is no readable file at all.
    *kind = fileError == InputFileError::kTooLarge ? RecordLoadError::kNotARecord
                                                   : RecordLoadError::kUnreadable;
    return false;
  }
  if (!ReadRecordJson(text, record, error)) {
    *error = path + ": " + *error;
    *kind = RecordLoadError::kNotARecord;
    return false;
  }
  return true;
}

std::string CurrentIsoTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  // %z gives +0100; ISO 8601 as JSON readers expect it has +01:00.
  std::string iso = text;
  if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");
  return iso;
}

bool RecordNestedTooDeeply(std::string_view text) { return NestedTooDeeply(text); }
