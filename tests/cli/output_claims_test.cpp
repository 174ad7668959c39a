// Outputs as one thing under every name, and claimed before the drive: the
// velmo-cli binary with standard output under each of its spellings, two
// spellings of one file, folders that cannot take a report, and FIFOs that
// nobody reads while a signal comes. Real processes, files, FIFOs and
// signals; a read-only tmpfs of the test's own where root may mount one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

// Every name descriptor 1 goes by; "link" is a symlink made in the folder.
const char* const kStdoutNames[] = {"-", "/dev/stdout", "/proc/self/fd/1", "/dev/fd/1", "link"};

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}
bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The commands sent to the drive, by their first two CDB bytes ("FD F1").
std::vector<std::string> Commands(const std::string& trace) {
  std::vector<std::string> commands;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find("cdb=[");
    if (at != std::string::npos) commands.push_back(line.substr(at + 5, 5));
  }
  return commands;
}

// Anything of the diagnostic mode: enter (F1), a sample (FB), leave (F2).
bool DiagnosticModeUsed(const std::string& trace) {
  for (const std::string& command : Commands(trace)) {
    if (StartsWith(command, "FD")) return true;
  }
  return false;
}

class OutputClaimsTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_scratch = m_scratchFolder.Path();
    m_dir = m_scratch + "/run";
    fs::create_directory(m_dir);
    fs::create_symlink("/dev/stdout", At("link"));
  }
  void TearDown() override {
    for (const std::string& mount : m_mounts) umount2(mount.c_str(), MNT_DETACH);
  }

  std::string At(const std::string& name) const { return m_dir + "/" + name; }

  SpawnOptions InDir(const std::string& cwd = "") const {
    SpawnOptions options;
    options.cwd = cwd.empty() ? m_dir : cwd;
    options.env.push_back("XDG_DATA_HOME=" + m_scratch + "/data");
    return options;
  }

  Finished Run(const std::vector<std::string>& args, const std::string& cwd = "") {
    return Child(args, InDir(cwd)).Wait();
  }

  // A scan's record in the folder, for report and compare.
  void Record(const std::string& name) {
    const Finished run = Run({"--simulate", "--sim-latency=0", "scan", "--density=quick",
                              "--no-history", "--log", name + ".txt", "--json", name});
    ASSERT_EQ(run.code, 0) << run.err;
  }

  // A read-only tmpfs; empty when this user cannot mount one.
  std::string ReadOnlyFolder() {
    const std::string where = m_scratch + "/ro";
    fs::create_directory(where);
    if (mount("velmo-test", where.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) return "";
    m_mounts.push_back(where);
    return where;
  }

  // Waits until path's text holds what (the run got that far).
  static bool WaitFor(const std::string& path, const std::string& what) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadAll(path).find(what) == std::string::npos) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  ScratchFolder m_scratchFolder{"velmo-claims"};
  std::string m_scratch;
  std::string m_dir;
  std::vector<std::string> m_mounts;
};

// report, compare and scan with their file on standard output, under each
// name: standard output holds that file's bytes and nothing else.
TEST_F(OutputClaimsTest, StandardOutputUnderEveryNameCarriesOnlyTheFile) {
  Record("a.json");
  for (const char* name : kStdoutNames) {
    SCOPED_TRACE(name);
    Finished run = Run({"report", "a.json", "--pdf", name});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(StartsWith(run.out, "%PDF-")) << run.out.substr(0, 16);
    EXPECT_TRUE(EndsWith(run.out, "%%EOF\n")) << run.out.substr(run.out.size() - 32);
    EXPECT_EQ(run.out.find("Report:"), std::string::npos);

    // The PNG report beside a PDF file: said on standard error only.
    run = Run({"report", "a.json", "--png", name, "--pdf", "kept.pdf"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(StartsWith(run.out, "\x89PNG\r\n\x1a\n"));
    EXPECT_TRUE(EndsWith(run.out, std::string("IEND\xae\x42\x60\x82", 8)));
    EXPECT_NE(run.err.find("Report: kept.pdf"), std::string::npos) << run.err;

    run = Run({"compare", "a.json", "a.json", "--chart", name});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(StartsWith(run.out, "\x89PNG\r\n\x1a\n")) << run.out.substr(0, 64);
    EXPECT_TRUE(EndsWith(run.out, std::string("IEND\xae\x42\x60\x82", 8)));
    EXPECT_NE(run.err.find("Differences (a.json minus a.json)"), std::string::npos) << run.err;

    run = Run({"--simulate", "--sim-latency=0", "scan", "--density=quick", "--no-history", "--json",
               name});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out, nullptr, false).value("outcome", ""), "ok") << run.out;
    EXPECT_NE(run.err.find("This disc is ok for writing"), std::string::npos) << run.err;
  }
  // Standard output redirected into a file, and that file named as the output.
  const int file = open(At("out.pdf").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(file, 0);
  SpawnOptions options = InDir();
  options.stdoutFd = file;
  const Finished run = Child({"report", "a.json", "--pdf", "out.pdf"}, options).Wait();
  close(file);
  EXPECT_EQ(run.code, 0) << run.err;
  const std::string pdf = ReadAll(At("out.pdf"));
  EXPECT_TRUE(StartsWith(pdf, "%PDF-") && EndsWith(pdf, "%%EOF\n")) << pdf.substr(0, 16);
}

// Standard output is the command's own output already, or two outputs go there.
TEST_F(OutputClaimsTest, TwoThingsOnStandardOutputAreAUsageError) {
  Record("a.json");
  struct Case {
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {{"compare", "a.json", "a.json", "--json", "--chart", "/dev/stdout"},
       "--chart /dev/stdout and --json both go to standard output"},
      {{"--simulate", "--trace=/proc/self/fd/1", "doctor", "--json"},
       "--json and --trace both go to standard output"},
      {{"report", "a.json", "--pdf", "-", "--html", "link"},
       "only one report can go to standard output ('-', 'link')"},
      {{"--simulate", "--trace=-", "scan", "--json", "/dev/fd/1"},
       "--json and --trace name the same file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    const Finished run = Run(c.args);
    EXPECT_EQ(run.code, 64) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  // A trace alone on standard output takes it: doctor's text goes to standard error.
  const Finished run = Run({"--simulate", "--sim-latency=0", "--trace=-", "doctor"});
  EXPECT_EQ(run.code, 0) << run.err;
  std::istringstream lines(run.out);
  int traced = 0;
  for (std::string line; std::getline(lines, line); ++traced) {
    EXPECT_NE(line.find(" cdb=["), std::string::npos) << "only trace lines: " << line;
  }
  EXPECT_GT(traced, 0);
  EXPECT_NE(run.err.find("sim:d:"), std::string::npos) << run.err;
}

// report's formats under two spellings of one file: refused, nothing written.
TEST_F(OutputClaimsTest, ReportFormatsNamingOneFileAreRefused) {
  Record("a.json");
  fs::create_symlink("out.pdf", At("alias.html"));
  const std::vector<std::vector<std::string>> cases = {
      {"--pdf", "out.pdf", "--html", "./out.pdf"},
      {"--pdf", "out.pdf", "--png", m_dir + "/out.pdf"},
      {"--html", "alias.html", "--pdf", "out.pdf"},
  };
  for (const auto& outputs : cases) {
    SCOPED_TRACE(outputs[1] + " " + outputs[3]);
    std::vector<std::string> args = {"report", "a.json"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    const Finished run = Run(args);
    EXPECT_EQ(run.code, 64) << run.err;
    EXPECT_NE(run.err.find("two reports name the same file"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(At("out.pdf")));
  }
}

// --drive all with --json on standard output: one compact record a line,
// one line a supported drive, under any name of standard output; any other
// output there is refused before a drive is touched.
TEST_F(OutputClaimsTest, DriveAllSendsRecordsAsJsonLines) {
  for (const char* option : {"--csv", "--chart", "--log"}) {
    SCOPED_TRACE(option);
    const Finished run = Run({"--simulate=bench", "--sim-latency=0", "--trace=trace.txt", "--drive",
                              "all", "scan", "--density=quick", option, "-"});
    EXPECT_EQ(run.code, 64) << run.err;
    EXPECT_NE(run.err.find("with --drive all only --json goes to standard output"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(At("trace.txt"))) << "refused before the drives are opened";
    EXPECT_FALSE(fs::exists(At("0-DVDRW_VX-2016")));
  }
  for (const char* name : {"-", "/dev/stdout", "link"}) {
    SCOPED_TRACE(name);
    const Finished run = Run({"--simulate=bench", "--sim-latency=0", "--drive", "all", "scan",
                              "--density=quick", "--no-history", "--json", name});
    EXPECT_EQ(run.code, 0) << run.err;
    std::istringstream lines(run.out);
    std::set<std::string> nodes;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      const auto record = nlohmann::json::parse(line, nullptr, false);
      ASSERT_TRUE(record.is_object()) << line;
      EXPECT_EQ(record.value("outcome", ""), "ok");
      nodes.insert(record["drive"].value("node", ""));
    }
    EXPECT_EQ(count, 4) << run.out;
    EXPECT_EQ(nodes.size(), 4u) << "one line a drive";
    // The closing table is for people: on standard error, with the lines.
    EXPECT_TRUE(
        std::regex_search(run.err, std::regex("\n3 +sim:g: +DVD\\+R +NOVADISC .* ok .* 0  ")))
        << run.err;
    EXPECT_NE(run.err.find("\nexit 0 (the worst of the drives')\n"), std::string::npos);
    EXPECT_NE(run.err.find("This disc is ok for writing"), std::string::npos) << run.err;
  }
}

// Folders that cannot take a report: known at start, exit 73, the drive's
// diagnostic mode never entered.
TEST_F(OutputClaimsTest, ReportFoldersAreClaimedBeforeTheDrive) {
  fs::create_directory(At("watch"));
  std::ofstream(At("plain")) << "a file";
  struct Case {
    std::string cwd;  // empty: the test's folder
    std::vector<std::string> args;
    std::string said;
  };
  std::vector<Case> cases = {
      {"", {"watch", "--report-dir", "plain"}, "into plain: Not a directory"},
      {"", {"watch", "--report-dir", "no/such/dir"}, "cannot make the folder no/such/dir"},
  };
  const std::string readOnly = ReadOnlyFolder();
  if (!readOnly.empty()) {
    cases.push_back(
        {"", {"watch", "--report-dir", readOnly}, readOnly + ": Read-only file system"});
    cases.push_back({readOnly,
                     {"scan", "--log", m_dir + "/TEFE.txt", "--report", "pdf"},
                     "cannot write a report in .: Read-only file system"});
    cases.push_back({"",
                     {"scan", "--report", readOnly + "/r.pdf"},
                     readOnly + "/r.pdf: Read-only file system"});
  } else {
    std::printf("[  SKIPPED ] read-only folders: cannot mount a tmpfs (needs root)\n");
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    std::vector<std::string> args = {"--simulate", "--sim-latency=0", "--trace=" + At("trace.txt")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Finished run = Run(args, c.cwd);
    EXPECT_EQ(run.code, 73) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    const std::string trace = ReadAll(At("trace.txt"));
    EXPECT_FALSE(DiagnosticModeUsed(trace)) << trace;
    EXPECT_FALSE(fs::exists(At("TEFE.txt")));
  }
}

// A FIFO that nobody opens, at any output's name (the default log TEFE.txt,
// --log, --trace, the record's files): the wait is said at once, each
// stopping signal ends it with 128 + N, and the drive's diagnostic mode is
// never entered; the run never reads a sample.
TEST_F(OutputClaimsTest, ASignalEndsTheWaitForAFifosReader) {
  struct Case {
    std::vector<std::string> args;  // after the global options; the FIFO is out.pdf
    const char* fifo;
    int signal;
  };
  const Case cases[] = {{{"scan", "--json", "out.pdf"}, "out.pdf", SIGTERM},
                        {{"scan", "--report", "out.pdf"}, "out.pdf", SIGINT},
                        {{"scan", "--chart", "out.pdf"}, "out.pdf", SIGHUP},
                        {{"smart", "--json", "out.pdf"}, "out.pdf", SIGTERM},
                        {{"scan"}, "TEFE.txt", SIGTERM},
                        {{"scan", "--log", "out.pdf"}, "out.pdf", SIGINT},
                        {{"scan", "--log", "out.pdf", "--json", "r.json"}, "out.pdf", SIGHUP}};
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += arg + " ";
    SCOPED_TRACE(shown + strsignal(c.signal));
    fs::remove(At("trace.txt"));
    fs::remove(At(c.fifo));
    ASSERT_EQ(mkfifo(At(c.fifo).c_str(), 0644), 0);
    std::vector<std::string> args = {"--simulate", "--sim-latency=0", "--trace=trace.txt"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Child child(args, InDir());
    ASSERT_TRUE(WaitFor(m_scratch + "/run.err",
                        std::string(c.fifo) + " is a FIFO nobody is reading; waiting for a reader"))
        << ReadAll(m_scratch + "/run.err");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into the wait
    kill(child.Pid(), c.signal);
    const Finished run = child.Wait();
    ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
    EXPECT_EQ(run.code, 128 + c.signal) << run.err;
    EXPECT_NE(
        run.err.find(std::string(c.fifo) + " was waiting for a reader; the drive was not used"),
        std::string::npos)
        << run.err;
    EXPECT_FALSE(DiagnosticModeUsed(ReadAll(At("trace.txt"))));
    EXPECT_EQ(run.out.find("Disc Speed:"), std::string::npos) << "no run header: " << run.out;
    fs::remove(At(c.fifo));
  }
  // The trace itself: its wait comes before any drive is looked at.
  ASSERT_EQ(mkfifo(At("trace.fifo").c_str(), 0644), 0);
  Child child({"--simulate", "--sim-latency=0", "--trace=trace.fifo", "scan"}, InDir());
  ASSERT_TRUE(WaitFor(m_scratch + "/run.err",
                      "trace.fifo is a FIFO nobody is reading; waiting for a reader"));
  kill(child.Pid(), SIGTERM);
  const Finished run = child.Wait();
  ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
  EXPECT_EQ(run.code, 143) << run.err;
  EXPECT_NE(run.err.find("trace.fifo was waiting for a reader; the drive was not used"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(At("TEFE.txt")));
}

// A reader that opened the FIFO and reads nothing: the chart (309 kB) fills
// the pipe after the run. SIGTERM then ends the write with 143, and the
// drive had left its diagnostic mode: the leave is the trace's last command.
TEST_F(OutputClaimsTest, ASignalEndsAWriteNobodyReads) {
  ASSERT_EQ(mkfifo(At("chart.bmp").c_str(), 0644), 0);
  int reader = -1;
  std::thread opener([&] { reader = open(At("chart.bmp").c_str(), O_RDONLY | O_CLOEXEC); });
  Child child({"--simulate", "--sim-latency=0", "--trace=trace.txt", "scan", "--density=quick",
               "--chart", "chart.bmp"},
              InDir());
  opener.join();
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(WaitFor(At("trace.txt"), "cdb=[FD F2")) << ReadAll(At("trace.txt"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the full pipe
  kill(child.Pid(), SIGTERM);
  const Finished run = child.Wait(std::chrono::seconds(10));
  close(reader);
  ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
  EXPECT_EQ(run.code, 143) << run.err;
  EXPECT_NE(run.err.find("cannot write chart.bmp (WriteFile: Interrupted system call)"),
            std::string::npos)
      << run.err;
  const std::vector<std::string> commands = Commands(ReadAll(At("trace.txt")));
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "FD F2");
}

}  // namespace
