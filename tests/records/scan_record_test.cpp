// Records read back as written, and everything that is not a record this
// program reads is refused with one line.
#include "records/scan_record.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

ScanRecord Example() {
  ScanRecord r;
  r.kind = RecordKind::kScan;
  r.program = "velmo-cli";
  r.programVersion = "1.0.0";
  r.startTime = "2026-12-08T02:10:00+01:00";
  r.durationSeconds = 73;
  DriveFacts facts;
  facts.revision = "1.02";
  facts.serial = "VX16A0417";
  facts.loader = 1;
  facts.profiles = std::vector<uint16_t>{0x2B, 0x1B, 0x10};  // date and buffer unknown
  r.drive = {"VELMO   DVDRW VX-2016   1.02", "VELMO", "DVDRW VX-2016", "1.02", "/dev/sg1", facts};
  r.disc.type = "DVD+R DL";
  r.disc.manufacturerId = std::string("MKM\0\xE9 ", 6);  // raw bytes, not UTF-8
  r.disc.manufacturerName = "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)";
  r.disc.mediaTypeId = "003";
  r.disc.capacity = "8152.0 MB";
  r.disc.lastLba = 4173823;
  r.disc.layer0Sectors = 2084864;
  r.disc.writeSpeeds = {WriteSpeedOfEntry(" 8X => (11080 Kb/Sec)  "),
                        WriteSpeedOfEntry("2.4X => ( 3324 Kb/Sec)  ")};
  r.settings = {"8X", 16, "normal", 49152, 500, 450};
  r.samples = {{0, 0x30000, 0, 300, 200, true}, {2086912, 2086912 + 0xBD5000, 1, 501, 100, false}};
  r.outcome = RunOutcome::kNotRecommended;
  r.verdict = "This disc is not recommended for writing under this speed setting.";
  r.log = "TEFE.txt";
  return r;
}

TEST(ScanRecord, WrittenAndReadBackIsTheSameRecordAndText) {
  ScanRecord smart = Example();
  smart.kind = RecordKind::kSmart;
  smart.samples.clear();
  smart.settings = {"", 0, kSmartDensity, 0, 500, 450};
  smart.rows = {{"8X", 16, 400, 300, kSmartRowOk},
                {"6X", 15, 520, 300, kSmartRowNotRecommended},
                {"4X", 14, std::nullopt, std::nullopt, kSmartRowFailed}};
  smart.smartSpeeds = {{"8X", 16}, {"6X", 15}, {"4X", 14}};
  smart.fitSpeed = RecordSpeed{"8X", 16};
  smart.outcome = RunOutcome::kDriveError;
  smart.cause.psn = 0x260000;
  smart.cause.scsiStatus = 0x18;
  ScanRecord empty = Example();
  empty.samples.clear();
  empty.disc.manufacturerName.reset();
  empty.verdict.clear();
  empty.outcome = RunOutcome::kAborted;
  ScanRecord failed = Example();
  failed.samples.pop_back();
  failed.verdict.clear();
  failed.outcome = RunOutcome::kNoReading;
  failed.cause.lba = 2086912;
  failed.cause.sense = SenseTriple{3, 0x11, 0};
  failed.cause.replyStatus = 0x80;
  failed.cause.bytesMoved = 3;
  for (const ScanRecord& record : {Example(), smart, empty, failed}) {
    const std::string text = WriteRecordJson(record);
    ScanRecord back;
    std::string error;
    ASSERT_TRUE(ReadRecordJson(text, &back, &error)) << error << "\n" << text;
    EXPECT_EQ(back, record);
    EXPECT_EQ(WriteRecordJson(back), text);
    EXPECT_EQ(StatisticsOf(back), StatisticsOf(record));
  }
  const std::string text = WriteRecordJson(Example());
  EXPECT_NE(text.find("\"format\": \"velmo-scan\""), std::string::npos);
  EXPECT_NE(text.find("\"overLimit\": 1"), std::string::npos);
  EXPECT_NE(text.find("\"manufacturerId\": \"MKM\\u0000\u00e9 \""), std::string::npos) << text;
}

// Identity texts are the drive's bytes, kept as Latin-1 characters; a record
// written elsewhere may name them beyond Latin-1 (a right-to-left override,
// CJK). Either way the bytes and the record's text come back as they were.
TEST(ScanRecord, IdentityTextsBeyondLatin1ReadAndWriteBackExactly) {
  ScanRecord bytes = Example();
  bytes.drive.vendor = "\xE2\x80\xAE\x9B";   // not UTF-8: Latin-1 characters
  bytes.drive.product = "\xE6\x97\xA5\xFF";  // UTF-8 cut short by a stray byte
  ScanRecord text = Example();
  text.drive.name =
      "EVIL\x7F\xE2\x80\xAE"
      "DI";  // as a record names U+202E
  text.disc.mediaTypeId = "\xE6\x97\xA5\xE6\x9C\xAC";
  for (const ScanRecord& record : {bytes, text}) {
    const std::string written = WriteRecordJson(record);
    ScanRecord back;
    std::string error;
    ASSERT_TRUE(ReadRecordJson(written, &back, &error)) << error;
    EXPECT_EQ(back, record);
    EXPECT_EQ(WriteRecordJson(back), written);
  }
  const std::string written = WriteRecordJson(text);
  EXPECT_NE(written.find("\"name\": \"EVIL\u007f\u202eDI\""), std::string::npos) << written;
  EXPECT_NE(written.find("\"mediaTypeId\": \"\u65e5\u672c\""), std::string::npos) << written;
  EXPECT_NE(WriteRecordJson(bytes).find("\"vendor\": \"\u00e2\u0080\u00ae\u009b\""),
            std::string::npos);
}

TEST(ScanRecord, EveryOutcomeHasItsName) {
  for (int i = 0; i < kRunOutcomeCount; ++i) {
    const auto outcome = static_cast<RunOutcome>(i);
    EXPECT_EQ(RunOutcomeFromName(RunOutcomeName(outcome)), outcome) << i;
  }
  EXPECT_EQ(RunOutcomeName(RunOutcome::kDiscEjected), std::string("disc ejected"));
  EXPECT_FALSE(RunOutcomeFromName("fine"));
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(ScanRecord, AnythingElseIsRefusedWithOneLine) {
  const std::string good = WriteRecordJson(Example());
  std::string huge;
  {
    std::string items;
    for (size_t i = 0; i <= kRecordMaxSamples; ++i) items += "{},";
    huge = Replace(good, "\"samples\": [", "\"samples\": [" + items);
  }
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  std::string deepObject;
  for (int i = 0; i < 150000; ++i) deepObject += "{\"a\":";
  deepObject += "1" + std::string(150000, '}');
  // Early in the document: the parser copies a value there as the object
  // grows, once per level, and that copy is what crashed.
  const std::string deepEarly = Replace(good, "\"program\": \"velmo-cli\"", "\"program\": " + deep);
  const struct {
    const char* name;
    std::string text;
    const char* says;
  } cases[] = {
      {"empty", "", "empty"},
      {"not JSON", "TEFE.txt\r\n", "not JSON"},
      {"truncated", good.substr(0, good.size() / 2), "not JSON"},
      {"NaN", Replace(good, "\"te\": 300", "\"te\": NaN"), "not JSON"},
      {"array", "[1,2,3]", "not a Velmo scan record"},
      {"deep nesting", deep, "nested too deeply"},
      {"deep objects", deepObject, "nested too deeply"},
      {"deep value early", deepEarly, "nested too deeply"},
      {"deep objects early",
       Replace(good, "\"program\": \"velmo-cli\"", "\"program\": " + deepObject),
       "nested too deeply"},
      {"one level too deep",
       Replace(good, "\"statistics\": {",
               "\"statistics\": " + std::string(kRecordMaxDepth, '[') +
                   std::string(kRecordMaxDepth, ']') + ", \"x\": {"),
       "nested too deeply"},
      {"other format", Replace(good, "velmo-scan", "velmo-report"), "not a Velmo scan record"},
      {"newer", Replace(good, "\"version\": 3", "\"version\": 4"), "newer"},
      {"huge version", Replace(good, "\"version\": 3", "\"version\": 18446744073709551615"),
       "newer"},
      {"version zero", Replace(good, "\"version\": 3", "\"version\": 0"), "unknown version"},
      {"version text", Replace(good, "\"version\": 3", "\"version\": \"1\""), "version"},
      {"capacity as text in version 3",
       Replace(good, "\"capacity\": {", "\"capacity\": \"8152.0 MB\", \"x\": {"),
       "disc.capacity is not an object"},
      {"sectors that are not the disc's",
       Replace(good, "\"sectors\": 4173824", "\"sectors\": 4173000"), "disc.capacity.sectors"},
      {"speed as text in version 3",
       Replace(good, "\"writeSpeeds\": [", "\"writeSpeeds\": [\"8X\", "),
       "disc.writeSpeeds[0] is not an object"},
      {"speed without its rate", Replace(good, "\"kBps\": 11080", "\"kBps\": \"fast\""),
       "disc.writeSpeeds[0].kBps"},
      {"kind", Replace(good, "\"kind\": \"scan\"", "\"kind\": \"burn\""), "kind"},
      {"missing drive", Replace(good, "\"drive\"", "\"drivers\""), "drive is missing"},
      {"negative LBA", Replace(good, "\"lba\": 0", "\"lba\": -5"), "samples[0].lba"},
      {"float LBA", Replace(good, "\"lba\": 0", "\"lba\": 0.5"), "samples[0].lba"},
      {"infinite", Replace(good, "\"lba\": 0", "\"lba\": 1e400"), "out of range"},
      {"TE beyond 16 bits", Replace(good, "\"te\": 300", "\"te\": 65536"), "samples[0].te"},
      {"TE as text", Replace(good, "\"te\": 300", "\"te\": \"300\""), "samples[0].te"},
      {"ok that lies", Replace(good, "\"ok\": true", "\"ok\": false"), "samples[0].ok"},
      {"layer 2", Replace(good, "\"layer\": 0", "\"layer\": 2"), "samples[0].layer"},
      {"sample not an object", Replace(good, "\"samples\": [", "\"samples\": [7,"), "samples[0]"},
      {"samples not a list", Replace(good, "\"samples\": [", "\"samples\": {\"a\": ["), "not JSON"},
      {"too many samples", huge, "more than"},
      {"zero limit", Replace(good, "\"teLimit\": 500", "\"teLimit\": 0"), "settings.teLimit"},
      {"unknown outcome", Replace(good, "\"outcome\": \"not recommended\"", "\"outcome\": \"meh\""),
       "outcome"},
      {"outcome with a new line",
       Replace(good, "\"outcome\": \"not recommended\"", "\"outcome\": \"not recomm\\nded\""),
       "\"not recomm...\" is not an outcome"},
      {"long outcome",
       Replace(good, "\"outcome\": \"not recommended\"",
               "\"outcome\": \"" + std::string(5000, 'x') + "\""),
       "xxx...\" is not an outcome"},
      {"name of the wrong type",
       Replace(good, "\"manufacturerName\": \"Mitsubishi Kagaku Media Co., Ltd. (Verbatim)\"",
               "\"manufacturerName\": 7"),
       "disc.manufacturerName"},
      {"duration", Replace(good, "\"durationSeconds\": 73", "\"durationSeconds\": -1"),
       "durationSeconds"},
      {"cause of the wrong type", Replace(good, "\"cause\": null", "\"cause\": 7"), "cause"},
      {"sense key beyond 4 bits",
       Replace(good, "\"cause\": null",
               "\"cause\": {\"sense\": {\"key\": 16, \"asc\": 0, \"ascq\": 0}}"),
       "cause.sense.key"},
      {"LBA of the cause", Replace(good, "\"cause\": null", "\"cause\": {\"lba\": -1}"),
       "cause.lba"},
  };
  for (const auto& c : cases) {
    ScanRecord record;
    std::string error;
    EXPECT_FALSE(ReadRecordJson(c.text, &record, &error)) << c.name;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
    EXPECT_LT(error.size(), 200u) << c.name;
  }
}

// The depth is counted on brackets outside strings, and a document at the
// limit reads.
TEST(ScanRecord, NestingUpToTheLimitReads) {
  ScanRecord example = Example();
  example.drive.name = std::string(500, '[') + std::string(300, '{') + "\\\"[";
  const std::string good = WriteRecordJson(example);
  ScanRecord record;
  std::string error;
  EXPECT_TRUE(ReadRecordJson(good, &record, &error)) << error;
  EXPECT_EQ(record, example);
  // The record's object is one level; an ignored member may go down to the limit.
  const std::string atLimit =
      Replace(good, "\"statistics\": {",
              "\"x\": " + std::string(kRecordMaxDepth - 1, '[') +
                  std::string(kRecordMaxDepth - 1, ']') + ", \"statistics\": {");
  EXPECT_TRUE(ReadRecordJson(atLimit, &record, &error)) << error;
}

// Records of versions 1 and 2 as the program wrote them (a scan and a Smart
// Scan each, in tests/records/records) still read, and read as the same run:
// the speed list's entries and the capacity text become the values version
// 3 writes.
std::string ReadFixture(const std::string& name) {
  std::ifstream in(std::string(velmo_test::SourceDir()) + "/tests/records/records/" + name);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_FALSE(text.str().empty()) << name;
  return text.str();
}

TEST(ScanRecord, VersionOneAndTwoRecordsStillRead) {
  for (const char* kind : {"scan", "smart"}) {
    ScanRecord one, two;
    std::string error;
    ASSERT_TRUE(ReadRecordJson(ReadFixture(std::string("v1-") + kind + ".json"), &one, &error))
        << kind << ": " << error;
    ASSERT_TRUE(ReadRecordJson(ReadFixture(std::string("v2-") + kind + ".json"), &two, &error))
        << kind << ": " << error;
    EXPECT_EQ(two.disc.capacity, "4076.0 MB");
    ASSERT_EQ(two.disc.writeSpeeds.size(), 5u) << kind;
    EXPECT_EQ(two.disc.writeSpeeds[0], (RecordWriteSpeed{"12X", 18, 16620}));
    EXPECT_EQ(two.disc.writeSpeeds[4], (RecordWriteSpeed{"2.4X", 13, 3324}));
    // Back to the window's list entries exactly as they were kept.
    EXPECT_EQ(WriteSpeedListEntry(two.disc.writeSpeeds[1]), " 8X => (11080 Kb/Sec)  ");
    EXPECT_EQ(WriteSpeedListEntry(two.disc.writeSpeeds[4]), "2.4X => ( 3324 Kb/Sec)  ");
    // Version 1 had no answer and no speed list: the answer is worked out
    // from its rows, the rest is the same.
    two.smartSpeeds.clear();
    EXPECT_EQ(one, two) << kind;
    // Written again they are version 3 and read back as they are.
    const std::string text = WriteRecordJson(two);
    EXPECT_NE(text.find("\"version\": 3"), std::string::npos);
    ScanRecord three;
    ASSERT_TRUE(ReadRecordJson(text, &three, &error)) << error;
    EXPECT_EQ(three, two) << kind;
  }
  // An older Smart Scan's one speed and step mean nothing: checked, not
  // kept, so that the record reads the same once written as version 3.
  std::string smart = ReadFixture("v2-smart.json");
  for (auto [from, to] : {std::pair{"\"speedCode\": 0", "\"speedCode\": 18"},
                          std::pair{"\"densityStep\": 0", "\"densityStep\": 5"}}) {
    const size_t at = smart.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    smart.replace(at, std::string(from).size(), to);
  }
  ScanRecord old, again;
  std::string error;
  ASSERT_TRUE(ReadRecordJson(smart, &old, &error)) << error;
  EXPECT_EQ(old.settings.speedCode, 0);
  EXPECT_EQ(old.settings.densityStep, 0);
  ASSERT_TRUE(ReadRecordJson(WriteRecordJson(old), &again, &error)) << error;
  EXPECT_EQ(again, old);
  // An entry's rate out of any drive's range (edited, damaged) is no rate;
  // the record still writes back as it reads.
  for (const char* rate : {"55401166666666179999999999999994", "-5", "1000001"}) {
    std::string damaged = smart;
    const std::string entry = "( 3324 Kb/Sec)";
    damaged.replace(damaged.find(entry), entry.size(), std::string("( ") + rate + " Kb/Sec)");
    ASSERT_TRUE(ReadRecordJson(damaged, &old, &error)) << rate << ": " << error;
    EXPECT_EQ(old.disc.writeSpeeds.back(), (RecordWriteSpeed{"2.4X", 13, 0})) << rate;
    ASSERT_TRUE(ReadRecordJson(WriteRecordJson(old), &again, &error)) << rate << ": " << error;
    EXPECT_EQ(again, old) << rate;
  }
  smart.replace(smart.find("\"densityStep\": 5"), std::string("\"densityStep\": 5").size(),
                "\"densityStep\": -1");
  EXPECT_FALSE(ReadRecordJson(smart, &old, &error));
  EXPECT_NE(error.find("settings.densityStep"), std::string::npos) << error;
}

// Every older Smart Scan record kept here reads with the answer its rows
// give: the highest speed whose row is "ok", whatever the record kept beside
// them; a verdict follows that answer.
TEST(ScanRecord, AnOlderSmartScanIsAnsweredFromItsRows) {
  int smartRecords = 0;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::string(velmo_test::SourceDir()) + "/tests/records/records")) {
    const std::string name = entry.path().filename().string();
    ScanRecord record;
    std::string error;
    ASSERT_TRUE(ReadRecordJson(ReadFixture(name), &record, &error)) << name << ": " << error;
    if (record.kind != RecordKind::kSmart) continue;
    ++smartRecords;
    std::optional<RecordSpeed> highestOk;
    for (const SmartRow& row : record.rows) {
      if (row.result == kSmartRowOk && (!highestOk || row.speedCode > highestOk->speedCode))
        highestOk = RecordSpeed{row.speed, row.speedCode};
    }
    EXPECT_EQ(record.fitSpeed, highestOk) << name;
    EXPECT_EQ(record.outcome, highestOk ? RunOutcome::kOk : RunOutcome::kNotRecommended) << name;
  }
  EXPECT_GE(smartRecords, 3);
  // The version-1 record whose two fastest rows failed, kept as "not
  // recommended" without an answer, fits up to 10X.
  ScanRecord slower;
  std::string error;
  ASSERT_TRUE(ReadRecordJson(ReadFixture("v1-smart-slower.json"), &slower, &error)) << error;
  EXPECT_EQ(slower.fitSpeed, (RecordSpeed{"10X", 17}));
  EXPECT_EQ(slower.outcome, RunOutcome::kOk);
  // A run stopped before its verdict stays stopped, with the answer so far.
  std::string stopped = ReadFixture("v1-smart-slower.json");
  stopped.replace(stopped.find("\"outcome\": \"not recommended\""),
                  std::string("\"outcome\": \"not recommended\"").size(),
                  "\"outcome\": \"aborted\"");
  ASSERT_TRUE(ReadRecordJson(stopped, &slower, &error)) << error;
  EXPECT_EQ(slower.outcome, RunOutcome::kAborted);
  EXPECT_EQ(slower.fitSpeed, (RecordSpeed{"10X", 17}));
}

// Version 3 holds values: the capacity in sectors and bytes beside its text,
// speeds as label, code and rate; a Smart Scan has no single speed or step
// and its answer is a value; a run without a verdict says why.
TEST(ScanRecord, VersionThreeHoldsValues) {
  const std::string scan = WriteRecordJson(Example());
  EXPECT_NE(scan.find("\"sectors\": 4173824,\n      \"bytes\": 8547991552,\n      \"text\": "
                      "\"8152.0 MB\""),
            std::string::npos)
      << scan;
  EXPECT_NE(scan.find("\"label\": \"8X\",\n        \"code\": 16,\n        \"kBps\": 11080"),
            std::string::npos)
      << scan;
  EXPECT_EQ(scan.find("Kb/Sec"), std::string::npos);
  EXPECT_EQ(scan.find("noVerdict"), std::string::npos);

  ScanRecord smart;
  std::string error;
  ASSERT_TRUE(ReadRecordJson(ReadFixture("v2-smart.json"), &smart, &error)) << error;
  const std::string text = WriteRecordJson(smart);
  EXPECT_EQ(text.find("\"speed\": \"\""), std::string::npos) << text;
  EXPECT_EQ(text.find("\"densityStep\""), std::string::npos) << text;
  EXPECT_EQ(text.find("\"verdict\": null"), std::string::npos) << text;
  EXPECT_NE(text.find("\"answer\": {\n    \"fitSpeed\": {\n      \"speed\": \"12X\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"text\": \"Fit for writing up to 12X.\""), std::string::npos) << text;

  ScanRecord stopped = Example();
  stopped.verdict.clear();
  stopped.outcome = RunOutcome::kAborted;
  EXPECT_NE(WriteRecordJson(stopped).find(
                "\"verdict\": null,\n  \"noVerdict\": \"the run was stopped before its verdict\""),
            std::string::npos)
      << WriteRecordJson(stopped);
}

// A Smart Scan's statistics are one entry a speed with a reading: readings
// taken at different speeds are never pooled.
TEST(ScanRecord, SmartStatisticsArePerSpeed) {
  ScanRecord smart = Example();
  smart.kind = RecordKind::kSmart;
  smart.samples.clear();
  smart.rows = {{"8X", 16, 400, 300, kSmartRowOk},
                {"6X", 15, 520, 100, kSmartRowNotRecommended},
                {"4X", 14, std::nullopt, std::nullopt, kSmartRowFailed}};
  const RecordStatistics stats = StatisticsOf(smart);
  EXPECT_EQ(stats.whole.samples, 0);
  ASSERT_EQ(stats.speeds.size(), 2u);
  EXPECT_EQ(stats.speeds[0].speed, "8X");
  EXPECT_EQ(stats.speeds[0].reading.te.max, 400);
  EXPECT_EQ(stats.speeds[0].reading.te.mean, 400);
  EXPECT_EQ(stats.speeds[1].speedCode, 15);
  EXPECT_EQ(stats.speeds[1].reading.te.overLimit, 1);
  EXPECT_EQ(stats.speeds[1].reading.fe.max, 100);
  const std::string text = WriteRecordJson(smart);
  EXPECT_EQ(text.find("\"whole\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"speeds\": ["), std::string::npos);
}

TEST(ScanRecord, SmartRowsMustFitTheirResult) {
  ScanRecord smart = Example();
  smart.kind = RecordKind::kSmart;
  smart.rows = {{"8X", 16, 400, 300, kSmartRowOk}};
  const std::string good = WriteRecordJson(smart);
  for (const auto& [from, to] : {std::pair{"\"te\": 400", "\"te\": null"},
                                 std::pair{"\"result\": \"ok\"", "\"result\": \"failed\""},
                                 std::pair{"\"result\": \"ok\"", "\"result\": \"OK.\""}}) {
    ScanRecord record;
    std::string error;
    EXPECT_FALSE(ReadRecordJson(Replace(good, from, to), &record, &error)) << to;
    EXPECT_NE(error.find("rows[0]"), std::string::npos) << error;
  }
}

TEST(ScanRecord, FilesAreNamedInTheirErrors) {
  ScanRecord record;
  std::string error;
  EXPECT_FALSE(LoadRecordFile("/nonexistent-dir/run.json", &record, &error));
  RecordLoadError kind = RecordLoadError::kNone;
  EXPECT_FALSE(LoadRecordFile("/nonexistent-dir/run.json", &record, &error, &kind));
  EXPECT_EQ(error, "/nonexistent-dir/run.json: no such file");
  EXPECT_EQ(kind, RecordLoadError::kUnreadable);
  EXPECT_FALSE(LoadRecordFile("/dev/zero", &record, &error, &kind));
  EXPECT_EQ(error, "/dev/zero: is a character device, not a file");
  EXPECT_EQ(kind, RecordLoadError::kUnreadable);
  const std::string iso = CurrentIsoTime();
  ASSERT_EQ(iso.size(), 25u) << iso;
  EXPECT_EQ(iso[10], 'T');
  EXPECT_EQ(iso[22], ':');
}

}  // namespace
