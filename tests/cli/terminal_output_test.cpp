// velmo-cli's lines for people when a drive, a disc, a record file or a kept
// run holds terminal controls: ESC sequences, an OSC title, CR LF that would
// forge a row, the 8-bit CSI raw or as UTF-8, DEL, NUL, a right-to-left
// override. Nothing of it reaches the terminal as a control; each shows as
// its escape, every row stays one line, and JSON keeps the exact text. The
// binary runs as a user runs it, in a scratch folder with its own history.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "history/history.h"
#include "records/scan_record.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// The first thing in text a terminal would act on rather than show: a
// control byte other than newline and tab, DEL, a byte outside valid UTF-8,
// or a C1 or bidirectional control encoded as UTF-8. Empty when none.
std::string Unsafe(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::string where = " at byte " + std::to_string(i);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f)
        return "control " + std::to_string(c) + where;
      ++i;
      continue;
    }
    const size_t length = c >= 0xc2 && c <= 0xdf   ? 2
                          : c >= 0xe0 && c <= 0xef ? 3
                          : c >= 0xf0 && c <= 0xf4 ? 4
                                                   : 0;
    if (length == 0 || i + length > text.size()) return "not UTF-8" + where;
    uint32_t point = c & (length == 2 ? 0x1fu : length == 3 ? 0x0fu : 0x07u);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return "not UTF-8" + where;
      point = (point << 6) | (next & 0x3fu);
    }
    const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (point < least || (point >= 0xd800 && point <= 0xdfff) || point > 0x10ffff)
      return "not UTF-8" + where;
    if (point <= 0x9f || (point >= 0x202a && point <= 0x202e) ||
        (point >= 0x2066 && point <= 0x2069))
      return "control U+" + std::to_string(point) + where;
    i += length;
  }
  return "";
}

size_t NewlineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// The hostile texts, each with the escape it must show as.
const std::string kClear = "\x1b[2J";
const std::string kTitle = "\x1b]0;pwned\x07";
const std::string kForgedRow = "ok\r\n    9  2026-01-01T00:00:00+00:00  FORGED";
const std::string kUtf8Csi =
    "\xc2\x9b"
    "2J";
const std::string kDelAndOverride =
    "EVIL\x7f\xe2\x80\xae"
    "DI";

class TerminalOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_scratch = m_scratchFolder.Path();
    m_dir = m_scratch + "/run";
    fs::create_directory(m_dir);
    // The runs these tests keep go to a history of their own, and so do
    // those of the programs they start.
    m_savedData = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", (m_scratch + "/data").c_str(), 1);
  }
  void TearDown() override { setenv("XDG_DATA_HOME", m_savedData.c_str(), 1); }

  std::string At(const std::string& name) const { return m_dir + "/" + name; }

  Finished Cli(std::vector<std::string> args) {
    SpawnOptions options;
    options.cwd = m_dir;
    return Child(args, options).Wait();
  }

  // A real record from a simulated scan, kept out of the history.
  Json CleanRecord() {
    const Finished scan = Cli({"--simulate", "--sim-latency=0", "scan", "--no-history", "--json",
                               "clean.json", "--log", "clean-TEFE.txt"});
    EXPECT_EQ(scan.code, 0) << scan.err;
    return Json::parse(ReadAll(At("clean.json")));
  }

  // The clean record with every text a person reads turned hostile.
  static Json Hostile(Json record) {
    record["startTime"] = "2026-12-08T10:00:00+00:00" + kClear;
    record["drive"]["name"] = kTitle + "DRIVE";
    record["drive"]["node"] = "/dev/sg0" + kForgedRow;
    record["disc"]["type"] = "DVD+R" + kUtf8Csi;
    record["disc"]["manufacturerId"] = kDelAndOverride;
    record["disc"]["manufacturerName"] = "Maker" + kForgedRow;
    record["disc"]["mediaTypeId"] = std::string(
        "R\0"
        "16",
        4);
    record["settings"]["speed"] = "12X" + kClear;
    record["settings"]["density"] = "normal" + kTitle;
    record["verdict"] = kForgedRow;
    return record;
  }

  void Write(const std::string& name, const Json& record) {
    std::ofstream(At(name), std::ios::binary) << record.dump(2);
  }

  ScratchFolder m_scratchFolder{"velmo-terminal"};
  std::string m_scratch;
  std::string m_dir;
  std::string m_savedData;
};

// What each hostile text of Hostile() shows as.
void ExpectEscapes(const std::string& out) {
  EXPECT_NE(out.find("\\x1b]0;pwned\\x07DRIVE"), std::string::npos) << out;
  EXPECT_NE(out.find("ok\\r\\n    9  2026-01-01"), std::string::npos) << out;
  EXPECT_NE(out.find("DVD+R\\u009b2J"), std::string::npos) << out;
  EXPECT_NE(out.find("EVIL\\x7f\\u202eDI"), std::string::npos) << out;
}

TEST_F(TerminalOutputTest, ShowAndCompareOfAHostileRecordFile) {
  const Json clean = CleanRecord();
  Write("hostile.json", Hostile(clean));
  // The file's own name is shown too.
  const std::string strangeName = "run" + kClear + ".json";
  Write(strangeName, clean);

  const Finished plain = Cli({"show", "clean.json"});
  const Finished show = Cli({"show", "hostile.json"});
  ASSERT_EQ(show.code, 0) << show.err;
  EXPECT_EQ(Unsafe(show.out), "");
  EXPECT_EQ(NewlineCount(show.out), NewlineCount(plain.out)) << show.out;
  ExpectEscapes(show.out);
  EXPECT_NE(show.out.find("Media Type ID:        R\\x0016"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("Disc Speed:           12X\\x1b[2J"), std::string::npos) << show.out;

  const Finished compare = Cli({"compare", strangeName, "hostile.json"});
  const Finished plainCompare = Cli({"compare", "clean.json", "clean.json"});
  ASSERT_EQ(compare.code, 0) << compare.err;
  EXPECT_EQ(Unsafe(compare.out), "");
  EXPECT_EQ(NewlineCount(compare.out), NewlineCount(plainCompare.out)) << compare.out;
  ExpectEscapes(compare.out);
  EXPECT_NE(compare.out.find("Differences (hostile.json minus run\\x1b[2J.json)"),
            std::string::npos)
      << compare.out;
}

TEST_F(TerminalOutputTest, ShowJsonKeepsTheHostileTextsExactly) {
  const Json hostile = Hostile(CleanRecord());
  Write("hostile.json", hostile);
  const Finished show = Cli({"show", "hostile.json", "--json"});
  ASSERT_EQ(show.code, 0) << show.err;
  // JSON escapes the controls itself; what it holds is the record's text.
  EXPECT_EQ(Unsafe(show.out), "");
  const Json shown = Json::parse(show.out);
  for (const char* part : {"drive", "disc", "settings"}) EXPECT_EQ(shown[part], hostile[part]);
  EXPECT_EQ(shown["startTime"], hostile["startTime"]);
  EXPECT_EQ(shown["verdict"], hostile["verdict"]);

  const Finished compare = Cli({"compare", "clean.json", "hostile.json", "--json"});
  ASSERT_EQ(compare.code, 0) << compare.err;
  EXPECT_EQ(Unsafe(compare.out), "");
  const Json compared = Json::parse(compare.out);
  EXPECT_EQ(compared["runs"][1]["record"]["disc"], hostile["disc"]);
  EXPECT_EQ(compared["runs"][1]["record"]["drive"], hostile["drive"]);
}

TEST_F(TerminalOutputTest, ReportMessagesOfHostileRecords) {
  Json hostile = Hostile(CleanRecord());
  Write("hostile.json", hostile);
  const Finished report = Cli({"report", "hostile.json", "--html", "."});
  ASSERT_EQ(report.code, 0) << report.err;
  EXPECT_EQ(Unsafe(report.out), "");
  EXPECT_EQ(NewlineCount(report.out), 1u) << report.out;

  // A record refused for a text it holds quotes that text, escaped.
  hostile["outcome"] = kTitle;
  Write("refused.json", hostile);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"report", "refused.json", "--html", "r.html"},
        std::vector<std::string>{"show", "refused.json"}}) {
    const Finished refused = Cli(args);
    EXPECT_EQ(refused.code, 65) << args[0];
    EXPECT_EQ(Unsafe(refused.err), "") << args[0];
    EXPECT_NE(refused.err.find("outcome \"\\x1b]0;pwned\\x07\" is not an outcome"),
              std::string::npos)
        << refused.err;
  }
}

TEST_F(TerminalOutputTest, KeptRunsStayOneRowEach) {
  const Json clean = CleanRecord();
  Write("hostile.json", Hostile(clean));
  ScanRecord record;
  std::string error;
  ASSERT_TRUE(LoadRecordFile(At("hostile.json"), &record, &error)) << error;
  // A drive's name is its INQUIRY bytes: not UTF-8 at all here, a raw
  // 8-bit CSI among them.
  record.drive.name =
      "DRIVE\x9b"
      "2J\xff";
  CHistory history;
  std::string notice;
  ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
  ASSERT_GT(history.Add(record, &error), 0) << error;

  const Finished list = Cli({"history"});
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(Unsafe(list.out), "");
  EXPECT_EQ(NewlineCount(list.out), 2u) << list.out;  // the heading and the one run
  EXPECT_NE(list.out.find("DRIVE\\x9b2J\\xff"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("EVIL\\x7f\\u202eDI"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("Makerok\\r\\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("12X\\x1b[2J"), std::string::npos) << list.out;

  const Finished show = Cli({"show", "1"});
  ASSERT_EQ(show.code, 0) << show.err;
  EXPECT_EQ(Unsafe(show.out), "");
  EXPECT_EQ(NewlineCount(show.out), NewlineCount(Cli({"show", "clean.json"}).out)) << show.out;

  const Finished json = Cli({"history", "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(Unsafe(json.out), "");
  const Json runs = Json::parse(json.out);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0]["discType"], "DVD+R" + kUtf8Csi);
  EXPECT_EQ(runs[0]["manufacturerId"], kDelAndOverride);
  EXPECT_EQ(runs[0]["manufacturerName"], "Maker" + kForgedRow);
}

// The simulated drive's INQUIRY identity and its disc's IDs hold the
// controls, as they come off the wire.
TEST_F(TerminalOutputTest, LiveDriveAndDiscTexts) {
  const std::string drive = "\\x1b[2J\\x1b]0;pwned\\x07\\r\\n0  FAKE\\x9b\\x7f\\u202e";
  const std::string mid = "K\\x1b[2J\\x9b\\r\\n";
  const std::vector<std::string> run = {"--simulate=hostile-identity", "--sim-latency=0"};
  const struct {
    std::vector<std::string> command;
    bool showsDisc;
  } cases[] = {
      {{"drives"}, false},
      {{"identify"}, true},
      {{"scan", "--log", "TEFE.txt"}, true},
      {{"smart"}, true},
      {{"doctor"}, false},
      {{"recover"}, false},
      {{"watch", "--count", "1"}, true},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = run;
    args.insert(args.end(), c.command.begin(), c.command.end());
    const Finished done = Cli(args);
    const std::string& name = c.command.front();
    EXPECT_EQ(done.code, 0) << name << ": " << done.err;
    EXPECT_EQ(Unsafe(done.out), "") << name;
    EXPECT_EQ(Unsafe(done.err), "") << name;
    // watch's line for a disc names the disc, not the drive.
    EXPECT_EQ(done.out.find(drive) != std::string::npos, name != "watch") << done.out;
    EXPECT_EQ(done.out.find(mid) != std::string::npos, c.showsDisc) << done.out;
  }
  // doctor's JSON: the drive's name with JSON's escapes, bytes that are not
  // UTF-8 replaced.
  const Finished doctor = Cli({run[0], run[1], "doctor", "--json"});
  EXPECT_EQ(Unsafe(doctor.out), "");
  const Json report = Json::parse(doctor.out);
  EXPECT_EQ(report["drives"][0]["name"],
            "\x1b[2J\x1b]0;pwned\x07\r\n0  FAKE\xef\xbf\xbd\x7f\xe2\x80\xae");
  // One drive per line, whatever its name holds: the heading and two drives.
  EXPECT_EQ(NewlineCount(Cli({run[0], run[1], "drives"}).out), 3u);
  // Each drive's lines carry its product as their prefix.
  const Finished all = Cli({run[0], run[1], "--drive", "all", "smart"});
  EXPECT_EQ(Unsafe(all.out), "");
  EXPECT_EQ(Unsafe(all.err), "");
  EXPECT_NE(all.out.find("[0 pwned\\x07\\r\\n0  FAKE\\x9b] Manufacture ID:       " + mid),
            std::string::npos)
      << all.out;
}

}  // namespace
