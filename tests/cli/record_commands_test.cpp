// history, show and compare on runs that velmo-cli itself kept, and the
// history never failing a scan.
#include "cli/record_commands.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli/report_command.h"
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "commands/disc_type.h"
#include "history/history.h"
#include "records/run_identity.h"
#include "records/run_record.h"
#include "reports/run_colours.h"
#include "tests/cli/cli_test_util.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;

// Each test gets a history of its own.
class RecordCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_saved = std::getenv("XDG_DATA_HOME");
    m_data = fs::path(::testing::TempDir()) /
             ("velmo-records-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_data);
    setenv("XDG_DATA_HOME", m_data.c_str(), 1);
  }
  void TearDown() override {
    setenv("XDG_DATA_HOME", m_saved.c_str(), 1);
    fs::remove_all(m_data);
  }

  Captured ScanRun(const std::string& scenario, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--simulate=" + scenario, "--sim-latency=0", "--log",
                                     log.str()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("scan");
    return RunCli(args, Scan);
  }

  Captured Command(const std::string& command, std::vector<std::string> args) {
    args.insert(args.begin(), command);
    std::string error;
    const auto options = ParseCliOptions(args, &error);
    Captured result;
    if (!options) {
      ADD_FAILURE() << error;
      return result;
    }
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    result.exitCode = command == "history"  ? RunHistoryCommand(*options, out, err)
                      : command == "show"   ? RunShowCommand(*options, out, err)
                      : command == "report" ? RunReportCommand(*options, out, err)
                                            : RunCompareCommand(*options, out, err);
    result.out = Slurp(out);
    result.err = Slurp(err);
    return result;
  }

  std::string m_saved;
  fs::path m_data;
  TempPath log{"records-TEFE.txt"};
};

TEST_F(RecordCommandsTest, EveryRunIsKeptAndListedNewestFirst) {
  ASSERT_EQ(ScanRun("dvd+r-yuden").exitCode, kExitOk);
  ASSERT_EQ(ScanRun("dvd+r-marginal", {"--speed", "16X"}).exitCode, kExitNotRecommended);
  ASSERT_EQ(ScanRun("invalid-reading").exitCode, kExitDriveFailure);
  ASSERT_EQ(ScanRun("dvd+r-good", {"--no-history"}).exitCode, kExitOk);
  ASSERT_EQ(RunCli({"--simulate=dvd-r-mcc", "--sim-latency=0", "smart"}, Smart).exitCode, kExitOk);
  EXPECT_TRUE(fs::exists(m_data / "velmo" / "history.sqlite"));

  Captured list = Command("history", {});
  ASSERT_EQ(list.exitCode, kExitOk) << list.err;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = list.out.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(list.out.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 5u) << list.out;  // heading and four runs, not the --no-history one
  EXPECT_NE(lines[1].find("MCC 03"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("smart"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("no reading"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("not recommended"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("Taiyo Yuden"), std::string::npos) << lines[4];
  // The --no-history run's disc is the failed run's too: it shows once.
  EXPECT_NE(lines[2].find("NOVADISC"), std::string::npos) << lines[2];
  EXPECT_EQ(list.out.find("NOVADISC"), list.out.rfind("NOVADISC"));

  const struct {
    std::vector<std::string> args;
    size_t runs;
  } filters[] = {
      {{"--mid", "yuden"}, 1},        {{"--outcome", "not-recommended", "--outcome=no-reading"}, 2},
      {{"--drive", "sim:d:"}, 4},     {{"--since", "2000-01-01"}, 4},
      {{"--since", "2999-01-01"}, 0},
  };
  for (const auto& f : filters) {
    const Captured run = Command("history", f.args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(static_cast<size_t>(std::count(run.out.begin(), run.out.end(), '\n')), f.runs + 1)
        << f.args[0] << "\n"
        << run.out;
  }
  const Captured json = Command("history", {"--json", "--mid", "MCC"});
  EXPECT_NE(json.out.find("\"manufacturerName\": \"Mitsubishi Kagaku Media"), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"kind\": \"smart\""), std::string::npos);

  for (const auto& [args, says] :
       {std::pair{std::vector<std::string>{"--outcome", "fine"}, "--outcome must be"},
        std::pair{std::vector<std::string>{"--since", "last week"}, "--since needs a date"},
        std::pair{std::vector<std::string>{"--chart", "x.png"}, "does not apply to history"},
        std::pair{std::vector<std::string>{"--mid"}, "--mid needs a value"},
        std::pair{std::vector<std::string>{"12"}, "unexpected argument"}}) {
    const Captured run = Command("history", args);
    EXPECT_EQ(run.exitCode, kExitUsage) << says;
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
  }
}

TEST_F(RecordCommandsTest, ShowReadsAKeptRunOrAFileAndRefusesWhatIsNoRecord) {
  TempPath json{"show.json"};
  ASSERT_EQ(ScanRun("dvd+rdl-mkm", {"--density", "quick", "--json", json.str()}).exitCode, kExitOk);
  const Captured byId = Command("show", {"1"});
  ASSERT_EQ(byId.exitCode, kExitOk) << byId.err;
  const Captured byFile = Command("show", {json.str()});
  ASSERT_EQ(byFile.exitCode, kExitOk) << byFile.err;
  // The same run: everything but its name agrees.
  EXPECT_EQ(byId.out.substr(byId.out.find('\n')), byFile.out.substr(byFile.out.find('\n')));
  for (const char* line :
       {"Manufacture ID:       MKM     \nManufacturer:         Mitsubishi Kagaku Media",
        "\n  whole disc       25 ", "\n  layer 0          13 ", "\n  layer 1          12 ",
        "Outcome:              ok\n",
        "(sim:d:)\nFirmware:             1.02\nFirmware date:        2016/05/23\n"
        "Serial number:        VX16A0417\nLoader:               tray\n"
        "Buffer:               2048 KiB\nReads:                DVD+R DL, "}) {
    EXPECT_NE(byId.out.find(line), std::string::npos) << line << "\n" << byId.out;
  }
  EXPECT_EQ(Command("show", {"1", "--json"}).out, ReadFile(json));

  TempPath bad{"not-a-record.json"};
  const struct {
    std::string content;
    std::string arg;
    int code;
    const char* says;
  } cases[] = {
      {"lba,psn,te,fe\n", bad.str(), kExitBadRecord, "not JSON"},
      {"{\"format\": \"velmo-scan\", \"version\": 9}", bad.str(), kExitBadRecord, "newer"},
      {"", "/nonexistent-dir/run.json", kExitNoRecord, "no such file"},
      {"", "42", kExitNoRecord, "no run 42 in the history"},
  };
  for (const auto& c : cases) {
    if (!c.content.empty()) std::ofstream(bad.str()) << c.content;
    const Captured run = Command("show", {c.arg});
    EXPECT_EQ(run.exitCode, c.code) << c.says;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

// A version-1 Smart Scan record kept "not recommended" without an answer,
// whose rows fit up to 10X, reads with that answer everywhere: show, its
// JSON, and the history it is imported into.
TEST_F(RecordCommandsTest, AnOlderSmartScanRecordShowsTheAnswerOfItsRows) {
  const std::string old =
      std::string(velmo_test::SourceDir()) + "/tests/records/records/v1-smart-slower.json";
  const Captured shown = Command("show", {old});
  EXPECT_NE(shown.out.find("Fit for writing up to 10X."), std::string::npos) << shown.out;
  const Captured json = Command("show", {old, "--json"});
  EXPECT_NE(json.out.find("\"answer\": {\n    \"fitSpeed\": {\n      \"speed\": \"10X\""),
            std::string::npos)
      << json.out;
  ASSERT_EQ(Command("history", {"import", old}).exitCode, kExitOk);
  const Captured listed = Command("history", {});
  EXPECT_NE(listed.out.find("fit up to 10X"), std::string::npos) << listed.out;
  const Captured listedJson = Command("history", {"--json"});
  EXPECT_NE(listedJson.out.find("\"fitSpeed\": \"10X\""), std::string::npos) << listedJson.out;
}

uint32_t Rgb(ReportColour c) { return uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b; }

// Reads a PNG back and counts the pixels of one colour.
int CountColour(const std::string& path, uint32_t rgb) {
  cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
  int count = -1;
  if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
    count = 0;
    const int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
    const int stride = cairo_image_surface_get_stride(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, data + y * stride + x * 4, 4);
        count += (pixel & 0xFFFFFF) == rgb;
      }
    }
  }
  cairo_surface_destroy(image);
  return count;
}

TEST_F(RecordCommandsTest, CompareShowsDifferencesAndDrawsEveryRun) {
  ASSERT_EQ(ScanRun("dvd+r-marginal", {"--speed", "16X"}).exitCode, kExitNotRecommended);
  ASSERT_EQ(ScanRun("dvd+r-marginal", {"--speed", "8X"}).exitCode, kExitOk);
  ASSERT_EQ(ScanRun("dvd+rdl-mkm", {"--density", "quick"}).exitCode, kExitOk);
  TempPath chart{"compare.png"};
  const Captured two = Command("compare", {"1", "2", "--chart", chart.str()});
  ASSERT_EQ(two.exitCode, kExitOk) << two.err;
  EXPECT_NE(two.out.find("Differences (#2 minus #1):\n  TE max -"), std::string::npos) << two.out;
  EXPECT_NE(two.out.find("over limit -12"), std::string::npos) << two.out;
  for (size_t run = 0; run < 2; ++run) {
    EXPECT_GT(CountColour(chart.str(), Rgb(RunColoursOf(run).te)), 200) << run;
    EXPECT_GT(CountColour(chart.str(), Rgb(RunColoursOf(run).fe)), 200) << run;
  }
  EXPECT_EQ(CountColour(chart.str(), Rgb(RunColoursOf(2).te)), 0);

  const Captured three = Command("compare", {"1", "2", "3", "--json", "--chart", chart.str()});
  ASSERT_EQ(three.exitCode, kExitOk) << three.err;
  EXPECT_EQ(three.out.find("\"differences\""), std::string::npos);  // only for two runs
  EXPECT_GT(CountColour(chart.str(), Rgb(RunColoursOf(2).te)), 200);
  const Captured json = Command("compare", {"1", "2", "--json"});
  EXPECT_NE(json.out.find("\"differences\""), std::string::npos);
  EXPECT_NE(json.out.find("\"overLimit\": -12"), std::string::npos) << json.out;

  EXPECT_EQ(Command("compare", {"1"}).exitCode, kExitUsage);
  EXPECT_EQ(Command("compare", {"1", "7"}).exitCode, kExitNoRecord);
  EXPECT_EQ(Command("compare", {"1", "2", "--chart", "/nonexistent-dir/c.png"}).exitCode,
            kExitCannotWrite);
}

TEST_F(RecordCommandsTest, AHistoryThatCannotBeWrittenNeverFailsAScan) {
  fs::create_directories(m_data);
  std::ofstream((m_data / "velmo").string()) << "a file where the folder should be";
  TempPath json{"unkept.json"};
  const Captured run = ScanRun("dvd+r-good", {"--json", json.str()});
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("this run is not kept in the history"), std::string::npos) << run.err;
  ScanRecord record;
  std::string error;
  EXPECT_TRUE(LoadRecordFile(json.str(), &record, &error)) << error;  // the run's own output stands

  // A log that fails while the run writes it is a run too, and is kept (one
  // that cannot be opened at all is refused before the drive is touched).
  fs::remove(m_data / "velmo");
  const Captured noLog = RunCli({"--simulate", "--sim-latency=0", "--log=/dev/full", "scan"}, Scan);
  EXPECT_EQ(noLog.exitCode, kExitCannotWrite);
  EXPECT_NE(Command("history", {"--outcome", "log-not-written"}).out.find("log not written"),
            std::string::npos);
}

// A skipped disc's entry beside two runs: listed as skipped, shown with why
// and without readings, left out of a comparison, refused a report.
TEST_F(RecordCommandsTest, ASkippedDiscIsListedShownAndNeverComparedOrReported) {
  ASSERT_EQ(ScanRun("dvd+r-yuden").exitCode, kExitOk);
  ASSERT_EQ(ScanRun("dvd+r-good").exitCode, kExitOk);
  RunStart start;
  start.program = "velmo-cli";
  start.startTime = CurrentIsoTime();
  start.drive.name = "SIM DVDRW";
  start.disc = RecordDiscOf("Not Support.", "N/A", "N/A", "N/A", 0, {"N/A"});
  start.discType = kDiscDvdRom;
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
  ASSERT_EQ(
      history.Add(SkippedDiscRecord(start, "the test does not take this type of disc"), &error), 3)
      << error;
  TempPath pdf{"skipped.pdf"};
  const std::string why = "the test does not take this type of disc";
  const struct {
    std::string command;
    std::vector<std::string> args;
    int code;
    std::string out;  // a line of standard output ("" for none at all)
    std::string err;  // what standard error says ("" for nothing)
  } cases[] = {
      {"history", {}, kExitOk, "DVD-ROM", ""},
      {"history", {"--wide", "--outcome", "skipped"}, kExitOk, "skipped", ""},
      {"history", {"--json", "--outcome", "skipped"}, kExitOk, "\"outcome\": \"skipped\"", ""},
      {"show", {"3"}, kExitOk, "Cause:                " + why, ""},
      {"show", {"3", "--json"}, kExitOk, "\"skipped\": \"" + why + "\"", ""},
      {"compare", {"1", "2", "3"}, kExitBadRecord, "Outcome", "#3 is a skipped disc"},
      {"compare", {"3", "1"}, kExitBadRecord, "", "#3 is a skipped disc"},
      {"report", {"3", "--pdf", pdf.str()}, kExitNoRecord, "", "3 is a skipped disc (" + why},
  };
  for (const auto& c : cases) {
    const Captured run = Command(c.command, c.args);
    SCOPED_TRACE(c.command + " " + (c.args.empty() ? "" : c.args.front()));
    EXPECT_EQ(run.exitCode, c.code) << run.err;
    if (c.out.empty()) {
      EXPECT_EQ(run.out, "");
    }
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "");
    }
  }
  // The listing keeps the disc's own line: no speed, density or readings.
  const std::string list = Command("history", {"--outcome", "skipped"}).out;
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 2) << list;
  EXPECT_EQ(Command("show", {"3"}).out.find("Statistics"), std::string::npos);
  EXPECT_FALSE(fs::exists(pdf.str()));
  // Exported and imported again with its cause, as a run is.
  TempPath lines{"skipped.jsonl"};
  ASSERT_EQ(Command("history", {"export", "--outcome", "skipped", "-o", lines.str()}).exitCode,
            kExitOk);
  ASSERT_EQ(Command("history", {"delete", "3"}).exitCode, kExitOk);
  const Captured imported = Command("history", {"import", lines.str()});
  ASSERT_EQ(imported.exitCode, kExitOk) << imported.err;
  EXPECT_NE(Command("show", {"4"}).out.find("Cause:                " + why), std::string::npos);
}

// Every outcome a run can end with is a name --outcome takes, and the
// refusal of any other lists them all.
TEST_F(RecordCommandsTest, EveryOutcomeIsAFilterValue) {
  const Captured wrong = Command("history", {"--outcome", "fine"});
  EXPECT_EQ(wrong.exitCode, kExitUsage);
  for (int i = 0; i < kRunOutcomeCount; ++i) {
    std::string name = RunOutcomeName(static_cast<RunOutcome>(i));
    std::replace(name.begin(), name.end(), ' ', '-');
    EXPECT_NE(wrong.err.find(name), std::string::npos) << name << ": " << wrong.err;
    EXPECT_EQ(Command("history", {"--outcome", name}).exitCode, kExitOk) << name;
  }
}

}  // namespace
