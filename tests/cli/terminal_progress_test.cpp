// velmo-cli's scan on a terminal as a person sees it: on a real
// pseudo-terminal of 80 columns no progress update reaches the last column
// (where it would wrap and leave a trail), the line tells samples, percent
// and time left; NO_COLOR and TERM=dumb take the colour off; --quiet leaves
// the verdict alone. The progress line's layout at every width.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/scan_console.h"
#include "cli/terminal_style.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

// What a run printed on a terminal of the given width, split where the
// cursor goes back to the first column.
struct TerminalRun {
  Finished finished;
  std::string screen;
  std::vector<std::string> updates;
};

class TerminalProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_scratch = m_scratchFolder.Path();
    m_dir = m_scratch + "/run";
    fs::create_directory(m_dir);
  }

  TerminalRun OnTerminal(const std::vector<std::string>& args, unsigned short columns,
                         std::vector<std::string> env = {}, bool errToo = false) {
    int master = -1;
    int slave = -1;
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    TerminalRun run;
    // The terminal's buffer is small: it is read while the run goes on.
    std::thread reader([&] {
      char chunk[4096];
      for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;)
        run.screen.append(chunk, static_cast<size_t>(n));
    });
    SpawnOptions options;
    options.cwd = m_dir;
    options.stdoutFd = slave;
    if (errToo) options.stderrFd = slave;
    env.push_back("XDG_DATA_HOME=" + m_scratch + "/data");
    options.env = env;
    Child child(args, options);
    close(slave);
    run.finished = child.Wait();
    reader.join();  // the terminal reports its end once the run's side is closed
    close(master);
    std::string line;
    for (char c : run.screen) {
      if (c == '\r' || c == '\n') {
        if (!line.empty()) run.updates.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty()) run.updates.push_back(line);
    return run;
  }

  ScratchFolder m_scratchFolder{"velmo-progress"};
  std::string m_scratch;
  std::string m_dir;
};

TEST_F(TerminalProgressTest, NoUpdateIsWiderThanAnEightyColumnTerminal) {
  const TerminalRun run =
      OnTerminal({"--simulate", "--sim-latency=20", "scan", "--no-history"}, 80, {"COLUMNS=200"});
  ASSERT_EQ(run.finished.code, 0) << run.finished.err;
  int progress = 0;
  for (const std::string& update : run.updates) {
    EXPECT_LT(update.size(), 80u) << update;
    if (update.find(" left") != std::string::npos) ++progress;
  }
  EXPECT_GE(progress, 58) << run.screen;
  // The last update: the whole run done, with its bar full.
  EXPECT_NE(run.screen.find("] 100%  58/58  TE "), std::string::npos) << run.screen;
  EXPECT_NE(run.screen.find("\033[32mThis disc is ok"), std::string::npos) << run.screen;
}

TEST_F(TerminalProgressTest, ColourIsOffWithNoColorOrADumbTerminal) {
  for (const std::string env : {"NO_COLOR=1", "NO_COLOR=yes", "TERM=dumb"}) {
    const TerminalRun run =
        OnTerminal({"--simulate", "--sim-latency=0", "scan", "--no-history"}, 60, {env});
    ASSERT_EQ(run.finished.code, 0) << env << run.finished.err;
    EXPECT_EQ(run.screen.find('\033'), std::string::npos) << env;
    EXPECT_NE(run.screen.find("\nThis disc is ok for writing"), std::string::npos) << env;
    for (const std::string& update : run.updates) EXPECT_LT(update.size(), 60u) << update;
  }
  // Set but empty is as unset.
  const TerminalRun coloured =
      OnTerminal({"--simulate", "--sim-latency=0", "scan", "--no-history"}, 80, {"NO_COLOR="});
  EXPECT_NE(coloured.screen.find("\033[32m"), std::string::npos);
}

// --quiet and -q: the verdict line and nothing else, on a terminal and in a
// pipe; scan and smart alike. The files are written all the same.
TEST_F(TerminalProgressTest, QuietLeavesTheVerdictAlone) {
  const TerminalRun terminal =
      OnTerminal({"--simulate", "--sim-latency=0", "-q", "scan", "--no-history"}, 80);
  ASSERT_EQ(terminal.finished.code, 0) << terminal.finished.err;
  EXPECT_EQ(terminal.screen,
            "\033[32mThis disc is ok for writing under this speed setting.\033[0m\r\n");
  EXPECT_TRUE(fs::exists(m_dir + "/TEFE.txt"));

  SpawnOptions options;
  options.cwd = m_dir;
  options.env = {"XDG_DATA_HOME=" + m_scratch + "/data"};
  const Finished bad = Child({"--simulate=dvd+r-bad", "--sim-latency=0", "--quiet", "scan",
                              "--no-history", "--log", "bad.txt"},
                             options)
                           .Wait();
  EXPECT_EQ(bad.code, 1) << bad.err;
  EXPECT_EQ(bad.out, "This disc is not recommended for writing under this speed setting.\n");
  const Finished smart =
      Child({"--simulate", "--sim-latency=0", "smart", "-q", "--no-history"}, options).Wait();
  EXPECT_EQ(smart.code, 0) << smart.err;
  EXPECT_EQ(smart.out, "Fit for writing up to 12X.\n");
}

// Characters on a terminal line: one a UTF-8 character.
size_t ShownWidth(const std::string& line) {
  size_t count = 0;
  for (const char c : line) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// A batch of eight kept runs read on a terminal keeps to its width:
// history takes its columns by priority (--wide shows them all), compare
// turns to one row a run when the runs do not fit side by side, and a long
// value is cut with "..." on a terminal only; a pipe gets every column and
// every value whole.
TEST_F(TerminalProgressTest, HistoryAndCompareFitTheTerminal) {
  SpawnOptions options;
  options.cwd = m_dir;
  options.env = {"XDG_DATA_HOME=" + m_scratch + "/data", "COLUMNS=300"};
  const std::vector<std::string> discs = {"dvd-r-mcc",   "dvd+r-good",      "dvd+rdl-good",
                                          "dvd+r-yuden", "dvd+r-marginal",  "dvd+rdl-mkm",
                                          "dvd+r-bad",   "dvd+rdl-marginal"};
  for (const std::string& disc : discs) {
    const Finished scan = Child({"--simulate=" + disc, "--sim-latency=0", "--log", "t.txt", "scan",
                                 "--density", "quick"},
                                options)
                              .Wait();
    ASSERT_LE(scan.code, 1) << disc << scan.err;
  }
  const std::string maker = "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)";
  const std::vector<std::string> eight = {"compare", "1", "2", "3", "4", "5", "6", "7", "8"};

  const TerminalRun history = OnTerminal({"history"}, 80, {"COLUMNS=300"});
  ASSERT_EQ(history.finished.code, 0) << history.finished.err;
  ASSERT_EQ(history.updates.size(), 9u) << history.screen;
  for (const std::string& line : history.updates) EXPECT_LT(ShownWidth(line), 80u) << line;
  EXPECT_EQ(history.updates[0].find("Drive"), std::string::npos) << history.updates[0];
  for (const char* head : {"ID", "Time", "Disc", "MID", "Speed", "Outcome"})
    EXPECT_NE(history.updates[0].find(head), std::string::npos) << head;
  const TerminalRun wide = OnTerminal({"history", "--wide"}, 80);
  EXPECT_NE(wide.updates[0].find("Station"), std::string::npos) << wide.updates[0];
  EXPECT_NE(wide.screen.find(maker), std::string::npos) << wide.screen;
  const Finished piped = Child({"history"}, options).Wait();
  EXPECT_NE(piped.out.find("Station"), std::string::npos) << piped.out;
  EXPECT_NE(piped.out.find(maker), std::string::npos) << piped.out;

  const TerminalRun byRun = OnTerminal(eight, 80);
  ASSERT_EQ(byRun.finished.code, 0) << byRun.finished.err;
  ASSERT_EQ(byRun.updates.size(), 9u) << byRun.screen;
  for (size_t i = 0; i < byRun.updates.size(); ++i) {
    EXPECT_LT(ShownWidth(byRun.updates[i]), 80u) << byRun.updates[i];
    if (i > 0) {
      EXPECT_EQ(byRun.updates[i].rfind("#" + std::to_string(i), 0), 0u) << byRun.updates[i];
    }
  }
  for (const char* head : {"MID", "Speed", "Outcome", "TE", "FE"})
    EXPECT_NE(byRun.updates[0].find(head), std::string::npos) << head;
  const Finished sideBySide = Child(eight, options).Wait();
  EXPECT_EQ(sideBySide.out.rfind("Run                   #1", 0), 0u) << sideBySide.out;
  EXPECT_NE(sideBySide.out.find(maker), std::string::npos) << sideBySide.out;

  // Two runs side by side on 100 columns: the long name is cut, the next
  // run's column stays where it starts on every line.
  const TerminalRun two = OnTerminal({"compare", "1", "2"}, 100);
  ASSERT_EQ(two.finished.code, 0) << two.finished.err;
  EXPECT_EQ(two.screen.find(maker), std::string::npos) << two.screen;
  EXPECT_NE(two.screen.find("Mitsubishi Kagaku Media Co.,\u2026"), std::string::npos) << two.screen;
  int aligned = 0;
  for (const std::string& line : two.updates) {
    if (line.rfind("Differences", 0) == 0) break;
    EXPECT_LT(ShownWidth(line), 100u) << line;
    if (line.rfind("Run ", 0) != 0 && line.rfind("Manufacturer ", 0) != 0) continue;
    // The characters at columns 52 to 54: the gap, then the second run's value.
    std::string around;
    size_t shown = 0;
    for (size_t at = 0; at < line.size(); ++at) {
      const bool starts = (static_cast<unsigned char>(line[at]) & 0xC0) != 0x80;
      if (starts) ++shown;
      if (starts && shown >= 53 && shown <= 55) around += line[at];
    }
    EXPECT_EQ(around.substr(0, 2), "  ") << line;
    EXPECT_NE(around.substr(2), " ") << line;
    ++aligned;
  }
  EXPECT_EQ(aligned, 2) << two.screen;
}

// --drive all on a terminal: one line per drive rewritten in place (the
// cursor goes back up over the four lines), none reaching the last column,
// far fewer lines than the runs' samples; then the table with the worst
// code.
TEST_F(TerminalProgressTest, DriveAllKeepsOneLinePerDriveInPlace) {
  const TerminalRun run = OnTerminal(
      {"--simulate=bench", "--sim-latency=5", "--drive", "all", "scan", "--no-history"}, 80);
  ASSERT_EQ(run.finished.code, 0) << run.finished.err;
  EXPECT_NE(run.screen.find("\033[4A"), std::string::npos);
  static const std::regex escape("\033\\[[0-9]*[A-Z]");
  size_t driveLines = 0;
  for (const std::string& update : run.updates) {
    const std::string shown = std::regex_replace(update, escape, "");
    if (shown.rfind("[", 0) != 0) continue;
    ++driveLines;
    EXPECT_LT(shown.size(), 80u) << shown;
  }
  EXPECT_GT(driveLines, 4u * 10);
  // What stays on the screen: lines ended less those the cursor went back
  // over. The "in N-PRODUCT/" lines, four drive lines, the table with each
  // drive's log under its row (80 columns leave no room for a column of
  // them).
  long lines = 0;
  for (char c : run.screen) lines += c == '\n';
  for (size_t at = 0; (at = run.screen.find("\033[4A", at)) != std::string::npos; ++at) lines -= 4;
  EXPECT_EQ(lines, 4 + 4 + 6 + 4) << run.screen;
  const size_t table = run.screen.find("DRIVE  DEVICE");
  ASSERT_NE(table, std::string::npos) << run.screen;
  std::istringstream rows(run.screen.substr(table));
  for (std::string row; std::getline(rows, row);) EXPECT_LT(row.size(), 80u + 1) << row;
  EXPECT_NE(run.screen.find("\r\n  2-DVDRW_VX-2016/TEFE.txt\r\n3 "), std::string::npos)
      << run.screen.substr(table);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NE(run.screen.find("[" + std::to_string(i) +
                              " DVDRW VX-2016] This disc is ok for writing under this speed "
                              "setting.\033[K"),
              std::string::npos);
  }
  EXPECT_NE(run.screen.find("\r\nexit 0 (the worst of the drives')\r\n"), std::string::npos);
}

// Standard error on the same terminal: a run's error line is printed where
// the board was, after it is cleared, never into it.
TEST_F(TerminalProgressTest, DriveAllErrorsGoAboveTheBoard) {
  const TerminalRun run = OnTerminal(
      {"--simulate=bench-fault", "--sim-latency=5", "--drive", "all", "scan", "--no-history"}, 80,
      {}, true);
  EXPECT_EQ(run.finished.code, 2);
  const size_t said = run.screen.find("[1 DVDRW VX-2016] velmo-cli: the drive went away");
  ASSERT_NE(said, std::string::npos) << run.screen;
  const std::string clear = "\033[4A\r\033[J";
  ASSERT_GE(said, clear.size());
  EXPECT_EQ(run.screen.substr(said - clear.size(), clear.size()), clear);
  // The board comes back under it; the drive's line says how its run
  // ended, not its last sample.
  EXPECT_EQ(run.screen.compare(run.screen.find('\n', said) + 1, 18, "\r[0 DVDRW VX-2016]"), 0)
      << run.screen.substr(said, 200);
  const size_t board = run.screen.rfind("\r[1 DVDRW VX-2016] ");
  ASSERT_NE(board, std::string::npos);
  const std::string ended = "\r[1 DVDRW VX-2016] ended: drive gone\033[K";
  EXPECT_EQ(run.screen.compare(board, ended.size(), ended), 0) << run.screen.substr(board, 80);
}

// At any width and run length the line keeps to columns - 1; with room it
// has its bar, and it always tells percent and what is left before
// anything is cut; the readings stay down to 40 columns.
TEST(ProgressLine, FitsEveryWidth) {
  for (int columns = 8; columns <= 240; ++columns) {
    for (const int total : {1, 58, 127, 4000, 250000}) {
      for (const long left : {-1L, 0L, 59L, 3599L, 86399L}) {
        const int done = total / 3;
        const std::string line = ProgressLine(done, total, 65535, 65535, left, columns);
        ASSERT_LT(line.size(), static_cast<size_t>(columns)) << columns << " " << line;
        ASSERT_FALSE(line.empty());
        if (columns >= 40) {
          EXPECT_NE(line.find(std::to_string(done) + "/" + std::to_string(total)),
                    std::string::npos)
              << line;
          EXPECT_NE(line.find(left < 0 ? "--:--" : ":"), std::string::npos) << line;
          EXPECT_NE(line.find("TE 65535"), std::string::npos) << line;
          EXPECT_NE(line.find("FE 65535"), std::string::npos) << line;
        }
        if (columns >= 80) {
          EXPECT_EQ(line.front(), '[') << line;
        }
      }
    }
  }
  EXPECT_NE(ProgressLine(10, 58, 1, 2, 3725, 100).find("1:02:05 left"), std::string::npos);
  EXPECT_NE(ProgressLine(29, 58, 1, 2, 75, 100).find(" 50%  29/58  TE     1  FE     2  1:15 left"),
            std::string::npos);
}

// Not a terminal: $COLUMNS when it is a width, else 80.
TEST(TerminalStyle, WidthFallsBackToColumnsThenEighty) {
  const char* saved = std::getenv("COLUMNS");
  const std::string keep = saved != nullptr ? saved : "";
  const int file = open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  setenv("COLUMNS", "132", 1);
  EXPECT_EQ(TerminalColumns(file), 132);
  for (const char* bad : {"", "wide", "-5", "0"}) {
    setenv("COLUMNS", bad, 1);
    EXPECT_EQ(TerminalColumns(file), 80) << bad;
  }
  unsetenv("COLUMNS");
  EXPECT_EQ(TerminalColumns(file), 80);
  close(file);
  if (saved != nullptr) setenv("COLUMNS", keep.c_str(), 1);
}

}  // namespace
