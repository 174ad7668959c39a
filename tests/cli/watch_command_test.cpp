// watch and --drive all as a user runs them: the binary in a folder of its
// own, over the feeder and the bench of the simulator, with real signals.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli_options.h"
#include "history/history.h"
#include "records/scan_record.h"
#include "session/run_lock.h"
#include "tests/cli/cli_test_util.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;

struct Ended {
  int code = -1;
  std::string out;
  std::string err;
};

// velmo-cli in dir, in a process group of its own (as a shell job is), with
// its output in files beside dir.
class CliProcess {
 public:
  CliProcess(const std::string& dir, std::vector<std::string> args) : m_dir(dir) {
    std::vector<std::string> all = {velmo_test::CliBinary()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int out = open((dir + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open((dir + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_pid = fork();
    if (m_pid == 0) {
      setpgid(0, 0);
      if (chdir(dir.c_str()) != 0) _exit(120);
      dup2(out, 1);
      dup2(err, 2);
      execv(argv[0], argv.data());
      _exit(127);
    }
    setpgid(m_pid, m_pid);
    close(out);
    close(err);
  }
  ~CliProcess() {
    if (m_pid > 0) {
      kill(-m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  pid_t Pid() const { return m_pid; }

  Ended Wait(std::chrono::seconds limit = std::chrono::seconds(120)) {
    Ended ended;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        kill(-m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        ADD_FAILURE() << "velmo-cli did not end in time";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    ended.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ended.out = ReadFile(m_dir + ".out");
    ended.err = ReadFile(m_dir + ".err");
    return ended;
  }

 private:
  std::string m_dir;
  pid_t m_pid = -1;
};

class WatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    dir = m_scratchFolder.Path();
  }
  // CliProcess's output files lie beside the folder.
  void TearDown() override {
    fs::remove(dir + ".out");
    fs::remove(dir + ".err");
  }
  std::vector<std::string> Files(const std::string& sub, const std::string& suffix) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir + "/" + sub)) {
      const std::string name = entry.path().filename().string();
      if (name.size() >= suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  ScratchFolder m_scratchFolder{"velmo-watch"};
  std::string dir;
};

// No run holds the log any more.
bool LogIsFree(const std::string& log) {
  CRunLock lock;
  return lock.TakeLog(log) == CRunLock::Result::kTaken;
}

size_t LogSampleLines(const std::string& log) {
  size_t lines = 0;
  for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  return lines > 0 ? lines - 1 : 0;  // the heading
}

// The CDBs of a trace, in order, as "FD F2 56 ...".
std::vector<std::string> TraceCdbs(const std::string& trace) {
  std::vector<std::string> cdbs;
  static const std::regex cdb("cdb=\\[([0-9A-F ]+)\\]");
  for (auto it = std::sregex_iterator(trace.begin(), trace.end(), cdb);
       it != std::sregex_iterator(); ++it)
    cdbs.push_back((*it)[1]);
  return cdbs;
}

// The history as this test binary keeps it, newest first.
std::vector<HistoryEntry> WatchHistory() {
  CHistory history;
  std::string error, notice;
  std::vector<HistoryEntry> entries;
  EXPECT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice) &&
              history.List(HistoryFilter{}, &entries, &error))
      << error;
  return entries;
}

TEST_F(WatchTest, FeederEveryDiscKeptReportedAndEjected) {
  const size_t keptBefore = WatchHistory().size();
  CliProcess run(dir, {"--simulate=feeder", "--sim-latency=0", "--trace", "trace.txt", "watch",
                       "--eject", "--count", "5", "--report-dir", "spindle"});
  const Ended ended = run.Wait();
  // Two marginal/bad discs: the worst disc decides.
  EXPECT_EQ(ended.code, kExitNotRecommended) << ended.err;
  // One heading, then one line a disc, in columns.
  EXPECT_NE(ended.out.find("\nTIME      DRIVE  DISC      MID           SPEED  OUTCOME          "
                           "MAX TE  MAX FE\n"),
            std::string::npos)
      << ended.out;
  const std::regex line("\\d\\d:\\d\\d:\\d\\d  0      ([^\n]+)\n");
  std::vector<std::string> lines;
  for (auto it = std::sregex_iterator(ended.out.begin(), ended.out.end(), line);
       it != std::sregex_iterator(); ++it)
    lines.push_back((*it)[1]);
  ASSERT_EQ(lines.size(), 5u) << ended.out;
  const std::regex scanned("([A-Z+ ]{8})  ([A-Z]+) +(\\d+X) +(ok|not recommended) +(\\d+) +(\\d+)");
  const char* expected[][3] = {{"NOVADISC", "12X", "ok"},
                               {"ORBTEK", "16X", "not recommended"},
                               {"KAIRO", "12X", "not recommended"},
                               {nullptr, nullptr, nullptr},
                               {"STRATA", "8X", "ok"}};
  for (size_t i = 0; i < 5; ++i) {
    std::smatch m;
    if (expected[i][0] == nullptr) {
      // A pressed disc said plainly, without IDs it does not have.
      EXPECT_EQ(lines[i], "DVD-ROM   -             -      skipped          not testable");
      continue;
    }
    ASSERT_TRUE(std::regex_match(lines[i], m, scanned)) << lines[i];
    EXPECT_EQ(m[2], expected[i][0]);
    EXPECT_EQ(m[3], expected[i][1]);
    EXPECT_EQ(m[4], expected[i][2]);
    EXPECT_EQ(std::stoi(m[5]) > 500 || std::stoi(m[6]) > 450, m[4] == "not recommended");
    // The columns line up: the outcome starts where the heading's does.
    EXPECT_EQ(lines[i].find(m[4]), std::string("DVD+R     NOVADISC      12X    ").size());
  }
  EXPECT_NE(ended.out.find(
                "Summary: 5 discs seen, 2 ok, 2 not recommended, 0 failed, 1 skipped, 0 aborted\n"),
            std::string::npos)
      << ended.out;

  // Each scanned disc: its own log beside its own record, and its report.
  const auto logs = Files("spindle", "-TEFE.txt");
  const auto records = Files("spindle", ".json");
  const auto reports = Files("spindle", ".pdf");
  ASSERT_EQ(logs.size(), 4u);
  ASSERT_EQ(records.size(), 4u);
  ASSERT_EQ(reports.size(), 4u);
  std::set<std::string> mids;
  for (size_t i = 0; i < records.size(); ++i) {
    ScanRecord record;
    std::string error;
    ASSERT_TRUE(LoadRecordFile(dir + "/spindle/" + records[i], &record, &error)) << error;
    EXPECT_EQ(record.log, "spindle/" + logs[i]);
    // One stem for the disc's log, record and report.
    const std::string stem = records[i].substr(0, records[i].size() - 5);
    EXPECT_EQ(logs[i], stem + "-TEFE.txt");
    EXPECT_EQ(reports[i], stem + ".pdf");
    EXPECT_EQ(LogSampleLines(ReadFile(dir + "/spindle/" + logs[i])), record.samples.size());
    mids.insert(record.disc.manufacturerId);
    EXPECT_EQ(ReadFile(dir + "/spindle/" + reports[i]).substr(0, 5), "%PDF-");
  }
  EXPECT_EQ(mids.size(), 4u) << "no disc's files replaced another's";

  // Every disc has its entry in the history, in the feeder's order: four
  // runs, and the DVD-ROM as skipped with why, without readings.
  const std::vector<HistoryEntry> kept = WatchHistory();
  ASSERT_EQ(kept.size(), keptBefore + 5);
  std::vector<std::string> outcomes;
  for (size_t i = 5; i-- > 0;) outcomes.push_back(RunOutcomeName(kept[i].outcome));
  EXPECT_EQ(outcomes, (std::vector<std::string>{"ok", "not recommended", "not recommended",
                                                "skipped", "ok"}));
  const HistoryEntry& skipped = kept[1];
  EXPECT_EQ(skipped.discType, "DVD-ROM");
  EXPECT_EQ(skipped.drive, kept[0].drive);
  EXPECT_EQ(skipped.host, kept[0].host);
  EXPECT_FALSE(skipped.maxTe || skipped.maxFe);
  CHistory history;
  std::string error, notice;
  ScanRecord entry;
  ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice) &&
              history.Load(skipped.id, &entry, &error))
      << error;
  EXPECT_EQ(entry.skippedBecause, "the test does not take this type of disc");
  EXPECT_TRUE(entry.samples.empty());

  // Five ejects, each after allowing removal, and the drive left out of
  // diagnostic mode before each.
  const auto cdbs = TraceCdbs(ReadFile(dir + "/trace.txt"));
  int ejects = 0;
  for (size_t i = 0; i < cdbs.size(); ++i) {
    if (cdbs[i] != "1B 00 00 00 02 00") continue;
    ++ejects;
    ASSERT_GE(i, 1u);
    EXPECT_EQ(cdbs[i - 1], "1E 00 00 00 00 00");
  }
  EXPECT_EQ(ejects, 5);
}

// A drive fault: the watch goes on with the next disc while the drive is
// there, and ends with exit 2 when it is gone.
TEST_F(WatchTest, DriveFaultsFailOneDiscOrEndTheWatch) {
  struct Case {
    const char* scenario;
    const char* lastLine;
    const char* summary;
  } cases[] = {
      {"feeder-fault", "STRATA        8X     ok ",
       "Summary: 5 discs seen, 1 ok, 2 not recommended, 1 failed, 1 skipped, 0 aborted\n"},
      {"drive-gone", "NOVADISC      12X    drive gone ",
       "Summary: 1 discs seen, 0 ok, 0 not recommended, 1 failed, 0 skipped, 0 aborted\n"},
  };
  for (const Case& c : cases) {
    const std::string sub = dir + "/" + c.scenario;
    fs::create_directory(sub);
    CliProcess run(sub, {std::string("--simulate=") + c.scenario, "--sim-latency=0", "watch",
                         "--eject", "--count", "5"});
    const Ended ended = run.Wait();
    EXPECT_EQ(ended.code, kExitDriveFailure) << c.scenario << ended.err;
    const size_t summary = ended.out.find(c.summary);
    ASSERT_NE(summary, std::string::npos) << ended.out;
    const size_t last = ended.out.rfind('\n', summary - 2);
    EXPECT_NE(ended.out.substr(last, summary - last).find(c.lastLine), std::string::npos)
        << ended.out;
  }
  EXPECT_NE(ReadFile(dir + "/feeder-fault.out").find("NOVADISC      12X    no reading "),
            std::string::npos);
}

// Ctrl-C (the whole process group) and SIGTERM (the process alone) stop a
// watch in the middle of a scan: the disc gets its line as aborted, the
// summary adds up to the discs seen, 128+N, the drive out of its diagnostic
// mode.
TEST_F(WatchTest, SignalsStopTheWatchWithASummary) {
  for (const auto& [signal, group] : {std::pair{SIGINT, true}, std::pair{SIGTERM, false}}) {
    const std::string sub = dir + "/" + std::to_string(signal);
    fs::create_directory(sub);
    CliProcess run(sub, {"--simulate=feeder", "--sim-latency=20", "--trace", "trace.txt", "watch",
                         "--eject", "--density", "full"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string log;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& entry : fs::directory_iterator(sub)) {
        const std::string name = entry.path().string();
        if (name.size() > 9 && name.compare(name.size() - 9, 9, "-TEFE.txt") == 0) log = name;
      }
      if (!log.empty() && LogSampleLines(ReadFile(log)) >= 5) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(log.empty());
    kill(group ? -run.Pid() : run.Pid(), signal);
    const Ended ended = run.Wait();
    EXPECT_EQ(ended.code, 128 + signal) << ended.err;
    EXPECT_NE(ended.out.find(
                  "Summary: 1 discs seen, 0 ok, 0 not recommended, 0 failed, 0 skipped, 1 aborted"),
              std::string::npos)
        << ended.out;
    const std::regex aborted(
        "  0      DVD\\+R     NOVADISC      12X    aborted +\\d+ +\\d+  after "
        "(\\d+) samples\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(ended.out, m, aborted)) << ended.out;
    EXPECT_EQ(std::stoul(m[1]), LogSampleLines(ReadFile(log)));
    const auto cdbs = TraceCdbs(ReadFile(sub + "/trace.txt"));
    ASSERT_FALSE(cdbs.empty());
    EXPECT_EQ(cdbs.back().substr(0, 5), "FD F2") << "signal " << signal;
  }
}

std::vector<std::string> DriveFolders() {
  std::vector<std::string> folders;
  for (int i = 0; i < 4; ++i) folders.push_back(std::to_string(i) + "-DVDRW_VX-2016");
  return folders;
}

// --drive all over the bench: four runs in four folders, the refusing drive
// named; a drive that disappears fails alone and its code is the worst.
TEST_F(WatchTest, EveryDriveOfTheBenchInItsOwnFolder) {
  struct Case {
    const char* scenario;
    int code;
    int failingDrive;
  } cases[] = {{"bench", kExitOk, -1}, {"bench-fault", kExitDriveFailure, 1}};
  for (const Case& c : cases) {
    const std::string sub = dir + "/" + c.scenario;
    fs::create_directory(sub);
    CliProcess run(sub, {std::string("--simulate=") + c.scenario, "--sim-latency=0", "--trace",
                         "trace.txt", "--drive", "all", "scan"});
    const Ended ended = run.Wait();
    EXPECT_EQ(ended.code, c.code) << c.scenario << "\n" << ended.err;
    EXPECT_NE(ended.err.find("drive 4 (KESTRON DVD-RAM KX-880"), std::string::npos) << ended.err;
    EXPECT_NE(ended.err.find("refuses the diagnostic mode; not used"), std::string::npos);
    const auto folders = DriveFolders();
    for (int i = 0; i < 4; ++i) {
      const std::string folder = sub + "/" + folders[static_cast<size_t>(i)];
      const std::string prefix = "[" + std::to_string(i) + " DVDRW VX-2016] ";
      ASSERT_TRUE(fs::is_directory(folder)) << folder;
      const std::string log = ReadFile(folder + "/TEFE.txt");
      // The closing table: one row a drive, from its run's own record.
      const std::regex row(
          "\n" + std::to_string(i) +
          " +(sim:[a-z]:) +DVD\\+R +NOVADISC +12X +(ok|drive gone) +(\\d+) +(\\d+) +"
          "(\\d+)  " +
          std::to_string(i) + "-DVDRW_VX-2016/TEFE.txt " + std::to_string(i) +
          "-DVDRW_VX-2016/trace.txt\n");
      std::smatch m;
      ASSERT_TRUE(std::regex_search(ended.out, m, row)) << ended.out;
      EXPECT_EQ(m[1], "sim:" + std::string(1, static_cast<char>('d' + i)) + ":");
      if (i == c.failingDrive) {
        EXPECT_LT(LogSampleLines(log), 58u);
        EXPECT_EQ(m[2], "drive gone");
        EXPECT_EQ(m[5], "2");
      } else {
        EXPECT_EQ(LogSampleLines(log), 58u) << folder;
        EXPECT_NE(ended.out.find(prefix + "This disc is ok for writing"), std::string::npos);
        EXPECT_EQ(m[2], "ok");
        EXPECT_EQ(m[5], "0");
      }
      // The maxima are the log's own.
      int te = 0;
      int fe = 0;
      std::istringstream lines(log);
      std::string text;
      std::getline(lines, text);
      while (std::getline(lines, text)) {
        int lba = 0, t = 0, f = 0;
        if (std::sscanf(text.c_str(), "%d %d %d", &lba, &t, &f) != 3) continue;
        te = std::max(te, t);
        fe = std::max(fe, f);
      }
      EXPECT_EQ(std::stoi(m[3]), te) << log.substr(0, 200);
      EXPECT_EQ(std::stoi(m[4]), fe);
      EXPECT_FALSE(TraceCdbs(ReadFile(folder + "/trace.txt")).empty());
    }
    EXPECT_FALSE(fs::exists(sub + "/4-DVD-RAM_KX-880"));
    EXPECT_NE(ended.out.find("\nexit " + std::to_string(c.code) + " (the worst of the drives')\n"),
              std::string::npos);
  }
}

// A stop in the middle of a run on every drive: each run stops as a scan
// does, and every drive's trace ends with it leaving the diagnostic mode.
TEST_F(WatchTest, StopMidMultiDriveRunLeavesEveryDriveOutOfDiagnosticMode) {
  for (const auto& [signal, group] : {std::pair{SIGINT, true}, std::pair{SIGTERM, false}}) {
    const std::string sub = dir + "/" + std::to_string(signal);
    fs::create_directory(sub);
    CliProcess run(sub, {"--simulate=bench", "--sim-latency=20", "--trace", "trace.txt", "--drive",
                         "all", "scan", "--density", "full"});
    const auto folders = DriveFolders();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (bool all = false; !all && std::chrono::steady_clock::now() < deadline;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      all = true;
      for (const std::string& f : folders)
        all = all && LogSampleLines(ReadFile(sub + "/" + f + "/TEFE.txt")) >= 3;
    }
    kill(group ? -run.Pid() : run.Pid(), signal);
    const Ended ended = run.Wait();
    EXPECT_EQ(ended.code, 128 + signal) << ended.err;
    for (const std::string& f : folders) {
      const std::string log = ReadFile(sub + "/" + f + "/TEFE.txt");
      EXPECT_GE(LogSampleLines(log), 3u) << f;
      EXPECT_LT(LogSampleLines(log), 127u) << f << " stopped before its end";
      const auto cdbs = TraceCdbs(ReadFile(sub + "/" + f + "/trace.txt"));
      ASSERT_FALSE(cdbs.empty()) << f;
      EXPECT_EQ(cdbs.back().substr(0, 5), "FD F2") << f << " signal " << signal;
    }
  }
}

// The children of --drive all, found through /proc: their parent's pid.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ReadFile(entry.path().string() + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) children.push_back(std::stoi(name));
  }
  return children;
}

// The parent of a --drive all watch killed outright: each run stops as a
// signal stops it (the drive out of its diagnostic mode, its log's lock
// freed) instead of holding its drive under init.
TEST_F(WatchTest, TheRunsOfEveryDriveEndWithTheirParent) {
  // The orphans come to this process, so their end can be seen and waited.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  CliProcess run(dir, {"--simulate=bench", "--sim-latency=20", "--trace", "trace.txt", "--drive",
                       "all", "watch", "--density", "full"});
  const auto folders = DriveFolders();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::map<std::string, std::string> logs;
  while (logs.size() < folders.size() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const std::string& f : folders) {
      if (!fs::is_directory(dir + "/" + f)) continue;
      for (const auto& entry : fs::directory_iterator(dir + "/" + f)) {
        const std::string name = entry.path().string();
        if (name.size() > 9 && name.compare(name.size() - 9, 9, "-TEFE.txt") == 0 &&
            LogSampleLines(ReadFile(name)) >= 3)
          logs[f] = name;
      }
    }
  }
  ASSERT_EQ(logs.size(), folders.size());
  const std::vector<pid_t> children = ChildrenOf(run.Pid());
  ASSERT_EQ(children.size(), folders.size());
  kill(run.Pid(), SIGKILL);
  EXPECT_EQ(run.Wait().code, 128 + SIGKILL);

  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (pid_t child : children) {
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) kill(child, SIGKILL);
    ASSERT_EQ(ended, child) << "a run outlived its parent";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  }
  for (const auto& [folder, log] : logs) {
    const auto cdbs = TraceCdbs(ReadFile(dir + "/" + folder + "/trace.txt"));
    ASSERT_FALSE(cdbs.empty()) << folder;
    EXPECT_EQ(cdbs.back().substr(0, 5), "FD F2") << folder;
    EXPECT_TRUE(LogIsFree(log)) << log;
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// A drive whose folder cannot be entered says so with its prefix; the
// others run.
TEST_F(WatchTest, ARunThatCannotEnterItsFolderSaysWhy) {
  const auto folders = DriveFolders();
  std::ofstream(dir + "/" + folders[1]) << "a file where the folder goes\n";
  CliProcess run(dir, {"--simulate=bench", "--sim-latency=0", "--drive", "all", "scan"});
  const Ended ended = run.Wait();
  EXPECT_EQ(ended.code, kExitCannotWrite);
  EXPECT_NE(ended.err.find("[1 DVDRW VX-2016] velmo-cli: cannot enter the folder " + folders[1] +
                           ": Not a directory\n"),
            std::string::npos)
      << ended.err;
  EXPECT_TRUE(
      std::regex_search(ended.out, std::regex("\n1 +sim:e: +- +- +- +failed +- +- +73  -\n")))
      << ended.out;
  EXPECT_TRUE(std::regex_search(
      ended.out, std::regex("\n0 +sim:d: +DVD\\+R .* ok .* +0  0-DVDRW_VX-2016/TEFE.txt\n")))
      << ended.out;
}

}  // namespace
