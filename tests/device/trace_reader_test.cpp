// The trace with data as it is written and read back for replay: every
// field comes back as it went out, a transfer past the cap is cut and said
// so, older lines still read, and broken or hostile traces are refused with
// the number of the line at fault (or, when only the last line was cut,
// kept up to it).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "device/command_trace.h"
#include "device/trace_reader.h"

namespace {

std::string Line(ScsiExchange& x, int drive = 1, const char* transport = "spti") {
  TraceRecord record;
  record.when = std::chrono::system_clock::time_point(std::chrono::seconds(1767225600));
  record.drive = drive;
  record.transport = transport;
  record.exchange = &x;
  record.duration = std::chrono::microseconds(4321);
  return CCommandTrace::FormatLine(record);
}

ScsiExchange Exchange(std::vector<uint8_t> cdb, uint8_t direction, uint8_t* data, uint32_t length) {
  ScsiExchange x;
  x.SetCdb(cdb.data(), static_cast<uint8_t>(cdb.size()));
  x.direction = direction;
  x.data = data;
  x.dataLength = length;
  return x;
}

TraceEntry Parsed(const std::string& line) {
  TraceEntry entry;
  std::string why;
  EXPECT_TRUE(ParseTraceLine(line, &entry, &why)) << why << "\n" << line;
  return entry;
}

const char kOldLine[] =
    "2026-01-01T00:00:00.000Z drive=0 spti cdb=[00 00 00 00 00 00] dir=none len=0 moved=0 "
    "status=1 scsi=0x02 sense=2/3A/00 err=0 time=120us";

TEST(TraceWithData, EveryFieldComesBackAsWritten) {
  uint8_t reply[8] = {0x00, 0x01, 0x2C, 0, 0, 0x00, 0xFA, 0};
  ScsiExchange in =
      Exchange({0xFD, 0xFB, 0x13, 0, 0, 0x30, 0, 0, 0, 0, 0, 0}, kDirectionIn, reply, 8);
  in.Answer(kScsiStatusGood);
  in.transferred = 8;
  const std::string line = Line(in, 3);
  EXPECT_NE(line.find(" time=4321us outcome=done data=[00 01 2C 00 00 00 FA 00]"),
            std::string::npos)
      << line;
  const TraceEntry entry = Parsed(line);
  EXPECT_EQ(entry.drive, 3);
  EXPECT_FALSE(entry.aspi);
  ASSERT_EQ(entry.cdbLength, 12);
  EXPECT_EQ(entry.cdb[0], 0xFD);
  EXPECT_EQ(entry.cdb[2], 0x13);
  EXPECT_EQ(entry.direction, kDirectionIn);
  EXPECT_EQ(entry.length, 8u);
  EXPECT_EQ(entry.moved, 8u);
  EXPECT_EQ(entry.durationUs, 4321);
  EXPECT_EQ(entry.outcome, ExchangeOutcome::kDone);
  EXPECT_EQ(entry.data, std::vector<uint8_t>(reply, reply + 8));

  // A refusal keeps its sense; data out records what was sent.
  uint8_t sent[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ScsiExchange out = Exchange({0x55, 0, 0, 0, 0, 0, 0, 0, 4, 0}, kDirectionOut, sent, 4);
  out.Answer(kScsiStatusCheckCondition, kSenseInvalidField);
  const TraceEntry refused = Parsed(Line(out, 0, "aspi"));
  EXPECT_TRUE(refused.aspi);
  EXPECT_EQ(refused.outcome, ExchangeOutcome::kCheckCondition);
  EXPECT_TRUE(refused.sense.valid);
  EXPECT_EQ(refused.sense.asc, 0x24);
  EXPECT_EQ(refused.data, std::vector<uint8_t>(sent, sent + 4));

  // Every outcome by name.
  for (ExchangeOutcome outcome : {ExchangeOutcome::kTimedOut, ExchangeOutcome::kDriveGone,
                                  ExchangeOutcome::kTransportError}) {
    ScsiExchange failed = Exchange({0, 0, 0, 0, 0, 0}, kDirectionNone, nullptr, 0);
    failed.outcome = outcome;
    EXPECT_EQ(Parsed(Line(failed)).outcome, outcome) << TraceOutcomeName(outcome);
  }
}

TEST(TraceWithData, ATransferPastTheCapIsCutAndSaysSo) {
  std::vector<uint8_t> big(kTraceDataCap + 100, 0xAB);
  ScsiExchange x = Exchange({0xAD, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0}, kDirectionIn, big.data(),
                            static_cast<uint32_t>(big.size()));
  x.transferred = static_cast<uint32_t>(big.size());
  const std::string line = Line(x);
  EXPECT_EQ(line.substr(line.size() - 7), "AB ...]") << "cut transfers end with ' ...'";
  const TraceEntry entry = Parsed(line);
  EXPECT_EQ(entry.data.size(), kTraceDataCap);
  EXPECT_EQ(entry.moved, big.size());
}

TEST(TraceWithData, OlderLinesStillReadWithTheirOutcomeInferred) {
  const TraceEntry entry = Parsed(kOldLine);
  EXPECT_EQ(entry.outcome, ExchangeOutcome::kCheckCondition);
  EXPECT_EQ(entry.sense.asc, 0x3A);
  EXPECT_TRUE(entry.data.empty());
  std::string gone = kOldLine;
  gone.replace(gone.find("scsi=0x02 sense=2/3A/00 err=0"), 29, "scsi=0x00 sense=- err=55");
  EXPECT_EQ(Parsed(gone).outcome, ExchangeOutcome::kDriveGone);
  std::string timedOut = kOldLine;
  timedOut.replace(timedOut.find("status=1"), 8, "status=255");
  EXPECT_EQ(Parsed(timedOut).outcome, ExchangeOutcome::kTimedOut);
}

// Broken traces: the line at fault is named.
TEST(TraceRefusals, NameTheLineAtFault) {
  uint8_t reply[2] = {1, 2};
  ScsiExchange x = Exchange({0x12, 0, 0, 0, 2, 0}, kDirectionIn, reply, 2);
  x.transferred = 2;
  const std::string good = Line(x) + "\n";
  const std::string base = good + good;
  struct Case {
    const char* name;
    std::string third;
    const char* why;
  };
  std::string cdb300 = "cdb=[";
  for (int i = 0; i < 300; ++i) cdb300 += i == 0 ? "12" : " 12";
  const std::vector<Case> cases = {
      {"non-hex data", std::string(good).replace(good.find("data=[01"), 8, "data=[0G"),
       "a byte that is not two hex digits"},
      {"300-byte CDB", std::string(good).replace(good.find("cdb=["), 5, cdb300 + " "),
       "a CDB of more than 16 bytes"},
      {"huge length", std::string(good).replace(good.find("len=2"), 5, "len=4294967295"),
       "a transfer longer than 16 MiB"},
      {"length past 32 bits", std::string(good).replace(good.find("len=2"), 5, "len=99999999999"),
       "no len=N"},
      {"data longer than moved",
       std::string(good).replace(good.find("data=[01 02]"), 12, "data=[01 02 03]"),
       "data of another length than the bytes moved"},
      {"moved past len", std::string(good).replace(good.find("moved=2"), 7, "moved=3"),
       "more bytes moved than asked for"},
      {"line cut in the middle", good.substr(0, good.find(" status=")) + "\n", "no status=N"},
      {"binary junk",
       std::string("\x7f"
                   "ELF\x02\x01\x01\0\0\0\n",
                   11),
       "a NUL byte: binary data, not a trace"},
      {"drive 9", std::string(good).replace(good.find("drive=1"), 7, "drive=9"),
       "a drive number above 7"},
      {"negative time", std::string(good).replace(good.find("time=4321us"), 11, "time=-5us"),
       "no time=Nus"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TraceReading reading = ReadTrace(base + c.third + good);
    EXPECT_FALSE(reading.ok);
    EXPECT_EQ(reading.badLine, 3u);
    EXPECT_EQ(reading.why, c.why);
    EXPECT_TRUE(reading.entries.empty()) << "nothing of a refused trace is replayed";
  }
}

TEST(TraceRefusals, ACutLastLineIsLeftOutAndReordersAreKeptInFileOrder) {
  uint8_t a[1] = {0xAA};
  uint8_t b[1] = {0xBB};
  ScsiExchange first = Exchange({0x12, 0, 0, 0, 1, 0}, kDirectionIn, a, 1);
  ScsiExchange second = Exchange({0x12, 0, 0, 0, 1, 0}, kDirectionIn, b, 1);
  first.transferred = second.transferred = 1;
  const std::string one = Line(first) + "\n";
  const std::string two = Line(second) + "\n";
  const TraceReading cut = ReadTrace(one + two + two.substr(0, 40));
  ASSERT_TRUE(cut.ok);
  EXPECT_EQ(cut.cutLine, 3u);
  EXPECT_EQ(cut.entries.size(), 2u);
  // Swapped lines (time stamps needn't rise: several drives write as they end).
  const TraceReading swapped = ReadTrace(two + one);
  ASSERT_TRUE(swapped.ok);
  ASSERT_EQ(swapped.entries.size(), 2u);
  EXPECT_EQ(swapped.entries[0].data[0], 0xBB);
  EXPECT_EQ(swapped.entries[1].data[0], 0xAA);
}

TEST(TraceRefusals, AMillionLinesAreReadWholeAndAnOverlongLineIsRefused) {
  ScsiExchange tur = Exchange({0, 0, 0, 0, 0, 0}, kDirectionNone, nullptr, 0);
  const std::string line = Line(tur) + "\n";
  std::string text;
  text.reserve(line.size() * 1000000);
  for (int i = 0; i < 1000000; ++i) text += line;
  const TraceReading reading = ReadTrace(text);
  ASSERT_TRUE(reading.ok) << reading.why;
  EXPECT_EQ(reading.entries.size(), 1000000u);

  const std::string longLine =
      line.substr(0, line.size() - 1) + std::string(kTraceMaxLineBytes, ' ');
  const TraceReading refused = ReadTrace(line + longLine + "\n");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.badLine, 2u);
}

// Binary junk and a last line past the cap are refused as they are met,
// from text and from a file alike: a file of NULs is no cut last line to
// leave out, and the cap holds for a line without its line end too.
TEST(TraceRefusals, BinaryDataAndAnOverlongLastLineAreRefused) {
  ScsiExchange tur = Exchange({0, 0, 0, 0, 0, 0}, kDirectionNone, nullptr, 0);
  const std::string line = Line(tur) + "\n";
  struct Case {
    const char* name;
    std::string text;
    size_t badLine;
    const char* why;
  };
  const Case cases[] = {
      {"NULs", std::string(3 * 1024 * 1024, '\0'), 1, "a NUL byte: binary data, not a trace"},
      {"a NUL in a later line", line + line.substr(0, 20) + '\0' + line, 2,
       "a NUL byte: binary data, not a trace"},
      {"a long last line", line + std::string(kTraceMaxLineBytes + 2, 'x'), 2,
       "a line longer than 256 KiB"},
  };
  const std::string path = ::testing::TempDir() + "/velmo-junk-trace.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path, std::ios::binary) << c.text;
    for (const TraceReading& reading : {ReadTrace(c.text), ReadTraceFile(path)}) {
      EXPECT_FALSE(reading.ok);
      EXPECT_FALSE(reading.unreadable) << "refused for what it holds: exit 65";
      EXPECT_EQ(reading.badLine, c.badLine);
      EXPECT_EQ(reading.why, c.why);
      EXPECT_TRUE(reading.entries.empty());
    }
  }
  // Up to the cap a last line is a cut one, left out.
  const TraceReading cut = ReadTrace(line + std::string(kTraceMaxLineBytes, 'x'));
  EXPECT_TRUE(cut.ok);
  EXPECT_EQ(cut.cutLine, 2u);
  EXPECT_EQ(cut.entries.size(), 1u);
  std::remove(path.c_str());
}

TEST(TraceRefusals, FilesThatAreNoTraceFileAreUnreadable) {
  const TraceReading missing = ReadTraceFile(::testing::TempDir() + "/no-such-trace.txt");
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(missing.unreadable);
  const TraceReading folder = ReadTraceFile(::testing::TempDir());
  EXPECT_TRUE(folder.unreadable);
  EXPECT_EQ(folder.why, "is a folder, not a file");
  const std::string path = ::testing::TempDir() + "/velmo-old-trace.txt";
  std::ofstream(path) << kOldLine << "\n";
  const TraceReading old = ReadTraceFile(path);
  EXPECT_TRUE(old.ok);
  EXPECT_EQ(old.entries.size(), 1u);
  std::remove(path.c_str());
}

}  // namespace
