// One run as data: who scanned what, how, every sample (or Smart Scan row),
// how it ended, and its statistics. Written as a versioned JSON document and
// read back by the same code; the window, velmo-cli and the history all keep
// runs in this form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/drive_facts.h"
#include "console/run_end.h"
#include "records/record_statistics.h"
#include "records/record_write_speed.h"

inline constexpr char kRecordFormat[] = "velmo-scan";
// 2: the outcome carries its cause, and a Smart Scan its answer and speeds.
// 3: values where display text was: the capacity in sectors and bytes, write
// speeds as label, code and kB/s, a Smart Scan's settings without the
// speed and step it has none of, its answer as a value; a run without a
// verdict says why.
inline constexpr int kRecordVersion = 3;

// What a reader accepts at most: more than any real run, far less than what
// would exhaust memory.
inline constexpr size_t kRecordMaxBytes = 64u << 20;
inline constexpr size_t kRecordMaxSamples = 200000;
inline constexpr size_t kRecordMaxRows = 64;
// A record is about 5 levels deep; far deeper is hostile (the parser's copy
// of a deep value recurses once per level).
inline constexpr int kRecordMaxDepth = 64;

enum class RecordKind : uint8_t { kScan, kSmart };

const char* RecordKindName(RecordKind kind);  // "scan", "smart"

// How a run ended, as records, the history and velmo-cli name it.
const char* RunOutcomeName(RunOutcome outcome);  // "ok", "not recommended", ...
std::optional<RunOutcome> RunOutcomeFromName(std::string_view name);

struct RecordDrive {
  std::string name;  // as the drive list shows it
  std::string vendor;
  std::string product;
  std::string revision;
  std::string node;                   // device node (or the simulator's address)
  std::optional<DriveFacts> facts{};  // none in records made before drives were asked
  bool operator==(const RecordDrive&) const = default;
};

struct RecordDisc {
  std::string type;            // "DVD+R", ...
  std::string manufacturerId;  // as the window shows it
  // From the media-code table; none when unknown, which texts say as
  // "unknown" and records as null.
  std::optional<std::string> manufacturerName;
  std::string mediaTypeId;
  std::string capacity;  // the window's capacity text; the sectors are lastLba + 1
  int32_t lastLba = 0;
  std::vector<RecordWriteSpeed> writeSpeeds;  // as the speed list offered them
  std::optional<int32_t> layer0Sectors{};     // a DL disc's own layer 0, when it gave it
  bool operator==(const RecordDisc&) const = default;
};

struct RecordSpeed {
  std::string speed;  // "16X"
  int speedCode = 0;
  bool operator==(const RecordSpeed&) const = default;
};

// A Smart Scan's density: one sample at the outer track for each speed.
inline constexpr char kSmartDensity[] = "outer";

// A run over part of the disc: the LBAs asked for, to exclusive.
struct RecordRange {
  int32_t from = 0;
  int32_t to = 0;
  bool operator==(const RecordRange&) const = default;
};

// A run that went on from an earlier one that ended early.
struct RecordResume {
  std::string runId;          // the earlier run's
  int32_t firstLba = 0;       // the first sample this run took itself
  size_t earlierSamples = 0;  // the samples it took over
  bool operator==(const RecordResume&) const = default;
};

struct RecordSettings {
  std::string speed;  // "16X"; empty for a Smart Scan (every speed)
  int speedCode = 0;
  std::string density;  // "normal", "full", "quick"; kSmartDensity for a Smart Scan
  int32_t densityStep = 0;
  int teLimit = 500;
  int feLimit = 450;
  bool operator==(const RecordSettings&) const = default;
};

// One Smart Scan row: the reading at the outer-track sample point.
inline constexpr char kSmartRowOk[] = "ok";
inline constexpr char kSmartRowNotRecommended[] = "not recommended";
inline constexpr char kSmartRowFailed[] = "failed";

struct SmartRow {
  std::string speed;  // "16X"
  int speedCode = 0;
  std::optional<uint16_t> te;  // none when the sample failed
  std::optional<uint16_t> fe;
  std::string result;  // kSmartRowOk, kSmartRowNotRecommended, kSmartRowFailed
  bool operator==(const SmartRow&) const = default;
};

struct ScanRecord {
  RecordKind kind = RecordKind::kScan;
  std::string program;         // "velmo-cli" or "velmo"
  std::string programVersion;  // "1.0.0"
  std::string startTime;       // ISO 8601 with offset: 2026-12-08T02:10:00+00:00
  std::string runId;           // a UUID (run_id.h); empty in records kept before runs had one
  long durationSeconds = 0;
  RecordDrive drive;
  RecordDisc disc;
  RecordSettings settings;
  std::vector<RecordSample> samples;  // kind scan
  std::vector<SmartRow> rows;         // kind smart
  RunOutcome outcome = RunOutcome::kAborted;
  // A Smart Scan's speeds, in the order it took them (settings.speeds).
  std::vector<RecordSpeed> smartSpeeds;
  RunCause cause;                       // what ended a run without a verdict
  std::optional<RecordSpeed> fitSpeed;  // a Smart Scan's answer: the highest "OK." speed
  std::string verdict;                  // the verdict text the user saw; empty without one
  std::string log;                      // where TEFE.txt went; empty for a Smart Scan
  std::string skippedBecause;           // a skipped disc's: why it was not tested
  std::optional<RecordResume> resumed;  // none: a run of its own
  std::optional<RecordRange> range;     // none: the whole disc (written under settings)

  bool operator==(const ScanRecord&) const = default;
};

// The statistics of a record, from its samples (scan) or the readings of its
// rows (smart), against its limits.
RecordStatistics StatisticsOf(const ScanRecord& record);

// Where a Smart Scan's samples were read, as an LBA: the drive is given one
// fixed outer-track address for every disc of a type, which a disc smaller
// than the usual ends before; none then, and texts say how the place was
// chosen instead of a place past the disc's end.
std::optional<int32_t> SmartSampleLba(const ScanRecord& record);

// The record as JSON text (with its statistics), ending in a newline.
std::string WriteRecordJson(const ScanRecord& record);

// Reads a record. False with a one-line *error for anything that is not a
// record this program can read: not JSON, nested too deeply, another format,
// a newer version, missing or mistyped fields, values out of range, too many
// samples.
bool ReadRecordJson(std::string_view text, ScanRecord* record, std::string* error);
// Deeper than kRecordMaxDepth, counted on the brackets outside strings: what
// the reader refuses before it parses.
bool RecordNestedTooDeeply(std::string_view text);

// Why a record file was not loaded: nothing readable is there (missing, not
// permitted, a FIFO, a device, a folder), or what is there is no record this
// program reads (too large, not JSON, ...). velmo-cli exits 66 and 65.
enum class RecordLoadError { kNone, kUnreadable, kNotARecord };

// The same for a file, read as an untrusted input file; *error names the file.
bool LoadRecordFile(const std::string& path, ScanRecord* record, std::string* error,
                    RecordLoadError* kind = nullptr);

// The time now as ISO 8601 with the local offset.
std::string CurrentIsoTime();
