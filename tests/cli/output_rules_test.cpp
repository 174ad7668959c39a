// velmo-cli as a user runs it, at the edges of its outputs: every kind of
// target (files, symlinks, FIFOs, device nodes, standard output, folders),
// two outputs naming one file, closed standard descriptors, two runs at
// once, each stopping signal at a pending sample, a trace that cannot be
// opened or fills up, and file systems that are full or read-only. Real
// processes, real files and real signals, in a scratch folder per test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

int SampleLineCount(const std::string& log) {
  int lines = 0;
  for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
    ++lines;
  return lines > 0 ? lines - 1 : 0;  // less the header
}

class OutputRulesTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_scratch = m_scratchFolder.Path();
    m_dir = m_scratch + "/run";
    fs::create_directory(m_dir);
  }
  void TearDown() override {
    for (const std::string& mount : m_mounts) umount2(mount.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::permissions(m_dir, fs::perms::owner_all, ignored);
    m_scratchFolder.Clear();  // some tests start over: TearDown(), then SetUp()
  }

  std::string At(const std::string& name) const { return m_dir + "/" + name; }

  // The folder's names, sorted: no temporary file may be among them.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  Finished Scan(std::vector<std::string> scanArgs, SpawnOptions options = {},
                std::vector<std::string> before = {}) {
    options.cwd = m_dir;
    return Child(Args(std::move(scanArgs), std::move(before)), options).Wait();
  }

  static std::vector<std::string> Args(std::vector<std::string> scanArgs,
                                       std::vector<std::string> before, int latencyMs = 0) {
    std::vector<std::string> args = {"--simulate", "--sim-latency=" + std::to_string(latencyMs)};
    args.insert(args.end(), before.begin(), before.end());
    args.push_back("scan");
    args.push_back("--density=quick");
    args.insert(args.end(), scanArgs.begin(), scanArgs.end());
    return args;
  }

  // A small tmpfs of our own in the scratch folder; empty when this user
  // cannot mount one.
  std::string MountTmpfs(const std::string& name, const char* options) {
    const std::string where = m_scratch + "/" + name;
    fs::create_directory(where);
    if (mount("velmo-test", where.c_str(), "tmpfs", 0, options) != 0) return "";
    m_mounts.push_back(where);
    return where;
  }

  ScratchFolder m_scratchFolder{"velmo-outputs"};
  std::string m_scratch;
  std::string m_dir;
  std::vector<std::string> m_mounts;
};

bool IsJsonReport(const std::string& text, const char* result) {
  const auto parsed = nlohmann::json::parse(text, nullptr, false);
  return parsed.is_object() && parsed.value("outcome", "") == result;
}

// Each kind of output target: what it is afterwards, and that the run wrote it.
TEST_F(OutputRulesTest, EachKindOfTargetIsWrittenByItsRule) {
  const bool root = geteuid() == 0;
  struct Case {
    const char* name;
    std::function<std::string(OutputRulesTest&)> make;  // the path to give, or "" to skip
    std::function<void(OutputRulesTest&, const Finished&)> check;
  };
  const Case cases[] = {
      {"existing file keeps its mode",
       [](OutputRulesTest& t) {
         WriteText(t.At("old.json"), "old");
         chmod(t.At("old.json").c_str(), 0640);
         return t.At("old.json");
       },
       [](OutputRulesTest& t, const Finished& run) {
         EXPECT_EQ(run.code, 0) << run.err;
         EXPECT_TRUE(IsJsonReport(ReadAll(t.At("old.json")), "ok"));
         struct stat info {};
         ASSERT_EQ(stat(t.At("old.json").c_str(), &info), 0);
         EXPECT_EQ(info.st_mode & 07777, 0640u);
         EXPECT_EQ(t.Names(), (std::vector<std::string>{"TEFE.txt", "old.json"}));
       }},
      {"existing file keeps its owner (where this user may give it)",
       [root](OutputRulesTest& t) -> std::string {
         if (!root) return "";
         WriteText(t.At("owned.csv"), "old");
         if (chown(t.At("owned.csv").c_str(), 4321, 4321) != 0) return "";
         return t.At("owned.csv");
       },
       [](OutputRulesTest& t, const Finished& run) {
         EXPECT_EQ(run.code, 0) << run.err;
         struct stat info {};
         ASSERT_EQ(stat(t.At("owned.csv").c_str(), &info), 0);
         EXPECT_EQ(info.st_uid, 4321u);
         EXPECT_EQ(info.st_gid, 4321u);
         EXPECT_NE(ReadAll(t.At("owned.csv")), "old");
       }},
      {"symlink: its target is written, the link stays",
       [](OutputRulesTest& t) {
         fs::create_directory(t.m_scratch + "/elsewhere");
         WriteText(t.m_scratch + "/elsewhere/real.json", "stale");
         fs::create_symlink("../elsewhere/real.json", t.At("link.json"));
         return t.At("link.json");
       },
       [](OutputRulesTest& t, const Finished& run) {
         EXPECT_EQ(run.code, 0) << run.err;
         EXPECT_TRUE(fs::is_symlink(t.At("link.json")));
         EXPECT_TRUE(IsJsonReport(ReadAll(t.m_scratch + "/elsewhere/real.json"), "ok"));
         EXPECT_EQ(fs::directory_entry(t.m_scratch + "/elsewhere").exists(), true);
         EXPECT_EQ(std::distance(fs::directory_iterator(t.m_scratch + "/elsewhere"),
                                 fs::directory_iterator{}),
                   1);
       }},
      {"dangling symlink: the target is made",
       [](OutputRulesTest& t) {
         fs::create_symlink("made.json", t.At("dangling.json"));
         return t.At("dangling.json");
       },
       [](OutputRulesTest& t, const Finished& run) {
         EXPECT_EQ(run.code, 0) << run.err;
         EXPECT_TRUE(fs::is_symlink(t.At("dangling.json")));
         EXPECT_TRUE(IsJsonReport(ReadAll(t.At("made.json")), "ok"));
       }},
      {"character device (null) stays a device",
       [root](OutputRulesTest& t) -> std::string {
         if (!root) return "";
         if (mknod(t.At("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) return "";
         return t.At("null");
       },
       [](OutputRulesTest& t, const Finished& run) {
         EXPECT_EQ(run.code, 0) << run.err;
         struct stat info {};
         ASSERT_EQ(lstat(t.At("null").c_str(), &info), 0);
         EXPECT_TRUE(S_ISCHR(info.st_mode));
         EXPECT_EQ(t.Names(), (std::vector<std::string>{"TEFE.txt", "null"}));
       }},
      {"character device (full) stays a device and the failure is said",
       [root](OutputRulesTest& t) -> std::string {
         if (!root) return "";
         if (mknod(t.At("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) return "";
         return t.At("full");
       },
       [](OutputRulesTest& t, const Finished& run) {
         EXPECT_EQ(run.code, 73) << run.err;
         EXPECT_NE(run.err.find("full: No space left on device"), std::string::npos) << run.err;
         struct stat info {};
         ASSERT_EQ(lstat(t.At("full").c_str(), &info), 0);
         EXPECT_TRUE(S_ISCHR(info.st_mode));
       }},
      {"folder: refused before the drive is touched",
       [](OutputRulesTest& t) {
         fs::create_directory(t.At("folder"));
         return t.At("folder");
       },
       [](OutputRulesTest& t, const Finished& run) {
         EXPECT_EQ(run.code, 73);
         EXPECT_NE(run.err.find("folder: is a folder; give a file name"), std::string::npos)
             << run.err;
         EXPECT_FALSE(fs::exists(t.At("TEFE.txt")));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    const std::string path = c.make(*this);
    if (path.empty()) {
      std::printf("[  SKIPPED ] %s: needs root to make device nodes\n", c.name);
      continue;
    }
    c.check(*this, Scan({"--json", path}));
  }
}

// A FIFO is opened and written in place: the reader gets the whole report.
TEST_F(OutputRulesTest, AFifoIsWrittenInPlace) {
  ASSERT_EQ(mkfifo(At("pipe.csv").c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] { received = ReadAll(At("pipe.csv")); });
  const Finished run = Scan({"--csv", At("pipe.csv")});
  reader.join();
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(received.rfind("lba,psn,te,fe,verdict\n", 0), 0u) << received;
  EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), 13);
  struct stat info {};
  ASSERT_EQ(lstat(At("pipe.csv").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// Standard output as an output: it carries that output only, whatever the
// user names it; the progress and verdict go to standard error.
TEST_F(OutputRulesTest, StandardOutputCarriesOnlyTheOutput) {
  for (const char* name : {"-", "/dev/stdout", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    const Finished run = Scan({"--json", name});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(IsJsonReport(run.out, "ok")) << run.out;
    EXPECT_NE(run.err.find("This disc is ok for writing"), std::string::npos) << run.err;
  }
  // Through a pipe, as "| jq" has it.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  SpawnOptions options;
  options.stdoutFd = pipeFds[1];
  std::string received;
  std::thread reader([&] {
    char chunk[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], chunk, sizeof chunk)) > 0) received.append(chunk, size_t(n));
  });
  options.cwd = m_dir;
  Child child(Args({"--csv", "-"}, {}), options);
  close(pipeFds[1]);
  const Finished run = child.Wait();
  reader.join();
  close(pipeFds[0]);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(received.rfind("lba,psn,te,fe,verdict\n", 0), 0u) << received;
}

// Any two outputs leading to one file: a usage error before anything runs,
// and the file as it was.
TEST_F(OutputRulesTest, TwoOutputsNamingOneFileAreAUsageError) {
  struct Case {
    std::vector<std::string> before;  // options before the command
    std::vector<std::string> scan;
    const char* said;
  };
  const Case cases[] = {
      {{}, {"--log", "x", "--json", "x"}, "--log and --json name the same file"},
      {{}, {"--csv", "TEFE.txt"}, "--log and --csv name the same file"},
      {{}, {"--chart", "./TEFE.txt"}, "--log and --chart name the same file"},
      {{"--trace=TEFE.txt"}, {}, "--log and --trace name the same file"},
      {{"--trace=x"}, {"--json", "x"}, "--json and --trace name the same file"},
      {{}, {"--json", "-", "--csv", "/dev/stdout"}, "--csv and --json name the same file"},
      {{}, {"--json", "link", "--csv", "kept.txt"}, "--csv and --json name the same file"},
      {{}, {"--json", "hard", "--csv", "kept.txt"}, "--csv and --json name the same file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    TearDown();
    SetUp();
    WriteText(At("kept.txt"), "kept");
    fs::create_symlink("kept.txt", At("link"));
    fs::create_hard_link(At("kept.txt"), At("hard"));
    const Finished run = Scan(c.scan, {}, c.before);
    EXPECT_EQ(run.code, 64) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(ReadAll(At("kept.txt")), "kept");
    EXPECT_EQ(Names(), (std::vector<std::string>{"hard", "kept.txt", "link"}));
  }
}

// Closed standard descriptors: no output file takes their place, so the
// console text never lands in one.
TEST_F(OutputRulesTest, ClosedStandardDescriptorsAreNotReused) {
  for (int which : {1, 2}) {
    SCOPED_TRACE(which);
    SpawnOptions options;
    options.closeStdout = which == 1;
    options.closeStderr = which == 2;
    const Finished run = Scan({"--json", "r.json"}, options, {"--trace=trace.txt"});
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(IsJsonReport(ReadAll(At("r.json")), "ok")) << ReadAll(At("r.json"));
    const std::string trace = ReadAll(At("trace.txt"));
    EXPECT_EQ(trace.find("Disc"), std::string::npos);
    EXPECT_EQ(trace.find("velmo-cli"), std::string::npos);
  }
}

// Two runs on one log: the second is refused at once, naming the first.
TEST_F(OutputRulesTest, ASecondRunOnTheSameLogIsRefused) {
  SpawnOptions options;
  options.cwd = m_dir;
  Child first(Args({}, {}, 500), options);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (SampleLineCount(ReadAll(At("TEFE.txt"))) < 2 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string logBefore = ReadAll(At("TEFE.txt"));
  const Finished second = Scan({"--json", "second.json"});
  EXPECT_EQ(second.code, 75) << second.err;
  EXPECT_NE(second.err.find("TEFE.txt is in use by another Velmo run (pid " +
                            std::to_string(first.Pid()) + ")"),
            std::string::npos)
      << second.err;
  EXPECT_FALSE(fs::exists(At("second.json")));
  kill(first.Pid(), SIGINT);
  const Finished done = first.Wait();
  EXPECT_EQ(done.code, 130) << done.err;
  const std::string log = ReadAll(At("TEFE.txt"));
  EXPECT_EQ(log.substr(0, logBefore.size()), logBefore) << "only the first run's lines";
  EXPECT_EQ(Names(), std::vector<std::string>{"TEFE.txt"}) << "no lock file beside the log";
  // And once the first has ended, the next run goes ahead.
  EXPECT_EQ(Scan({}).code, 0);
}

// Every stopping signal at a pending sample (and a second one during it):
// the sample returns, the drive leaves the diagnostic mode, the files end
// whole, no temporary file stays, and the exit code says which signal.
TEST_F(OutputRulesTest, EachSignalAtAPendingSampleStopsAsStopDoes) {
  struct Case {
    int signal;
    bool twice;
    int code;
    const char* said;
  };
  const Case cases[] = {
      {SIGINT, false, 130, "User abort!"},
      {SIGTERM, false, 143, "stopped by SIGTERM"},
      {SIGHUP, false, 129, "stopped by SIGHUP"},
      {SIGPIPE, false, 141, "stopped by SIGPIPE"},
      {SIGINT, true, 130, "waiting for the drive to answer its pending command"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(strsignal(c.signal) + std::string(c.twice ? " twice" : ""));
    TearDown();
    SetUp();
    SpawnOptions options;
    options.cwd = m_dir;
    // 1.5 s a sample: the signal lands while one is pending.
    Child child(Args({"--json", "r.json", "--csv", "r.csv", "--chart", "r.bmp"},
                     {"--trace=trace.txt"}, 1500),
                options);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (SampleLineCount(ReadAll(At("TEFE.txt"))) < 1 &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the next sample
    const auto sent = std::chrono::steady_clock::now();
    kill(child.Pid(), c.signal);
    if (c.twice) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      kill(child.Pid(), c.signal);
    }
    const Finished run = child.Wait();
    ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    // The pending sample was waited for: it had more than a second to go.
    EXPECT_GT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(900));

    const std::string trace = ReadAll(At("trace.txt"));
    const size_t leave = trace.rfind("cdb=[FD F2");
    ASSERT_NE(leave, std::string::npos) << trace;
    EXPECT_EQ(trace.find("cdb=[", leave + 1), std::string::npos) << "the leave is the last command";
    const std::string log = ReadAll(At("TEFE.txt"));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_TRUE(IsJsonReport(ReadAll(At("r.json")), "aborted")) << ReadAll(At("r.json"));
    EXPECT_EQ(ReadAll(At("r.csv")).rfind("lba,psn,te,fe,verdict\n", 0), 0u);
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"TEFE.txt", "r.bmp", "r.csv", "r.json", "trace.txt"}));
  }
}

// The log's lock follows the file: a second run through a hard link or a
// symlink of the first run's log is refused too, and writes nothing in it.
TEST_F(OutputRulesTest, ASecondRunThroughAnotherNameOfTheLogIsRefused) {
  SpawnOptions options;
  options.cwd = m_dir;
  Child first(Args({}, {}, 500), options);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (SampleLineCount(ReadAll(At("TEFE.txt"))) < 2 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(link(At("TEFE.txt").c_str(), At("hard.txt").c_str()), 0);
  ASSERT_EQ(symlink("TEFE.txt", At("soft.txt").c_str()), 0);
  const std::string logBefore = ReadAll(At("TEFE.txt"));
  for (const char* name : {"hard.txt", "soft.txt"}) {
    SCOPED_TRACE(name);
    const Finished second = Scan({"--log", name});
    EXPECT_EQ(second.code, 75) << second.err;
    EXPECT_EQ(second.err, std::string("velmo-cli: ") + name +
                              " is in use by another Velmo run (pid " +
                              std::to_string(first.Pid()) + ")\n");
  }
  kill(first.Pid(), SIGINT);
  EXPECT_EQ(first.Wait().code, 130);
  const std::string log = ReadAll(At("TEFE.txt"));
  EXPECT_EQ(log.substr(0, logBefore.size()), logBefore) << "only the first run's lines";
  EXPECT_EQ(log.find("Disc", 1), std::string::npos) << "one heading";
  EXPECT_EQ(Names(), (std::vector<std::string>{"TEFE.txt", "hard.txt", "soft.txt"}));
}

// SIGKILL cannot be caught: the outputs being written are unnamed files
// until they are put in place, so none is left behind, and the lock the
// killed run held does not keep the next run out.
TEST_F(OutputRulesTest, AKilledRunLeavesNoTemporaryFile) {
  WriteText(At("r.json"), "old");
  SpawnOptions options;
  options.cwd = m_dir;
  Child child(Args({"--json", "r.json", "--csv", "r.csv", "--chart", "r.bmp"}, {}, 300), options);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (SampleLineCount(ReadAll(At("TEFE.txt"))) < 1 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child.Pid(), SIGKILL);
  EXPECT_EQ(child.Wait().signal, SIGKILL);
  EXPECT_EQ(ReadAll(At("r.json")), "old");
  EXPECT_EQ(Names(), (std::vector<std::string>{"TEFE.txt", "r.json"}));
  EXPECT_EQ(Scan({"--json", "r.json"}).code, 0);
  EXPECT_TRUE(IsJsonReport(ReadAll(At("r.json")), "ok"));
}

// A reader that goes away (scan --csv - | head -1): SIGPIPE, the drive
// leaves its mode, nothing is left behind.
TEST_F(OutputRulesTest, AClosedPipeStopsTheRunCleanly) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);
  SpawnOptions options;
  options.cwd = m_dir;
  options.stdoutFd = pipeFds[1];
  Child child(Args({"--csv", "-", "--json", "r.json"}, {"--trace=trace.txt"}), options);
  close(pipeFds[1]);
  const Finished run = child.Wait();
  ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
  EXPECT_EQ(run.code, 141) << run.err;
  EXPECT_NE(run.err.find("-: Broken pipe"), std::string::npos) << run.err;
  EXPECT_NE(ReadAll(At("trace.txt")).rfind("cdb=[FD F2"), std::string::npos);
  EXPECT_EQ(Names(), (std::vector<std::string>{"TEFE.txt", "trace.txt"}))
      << "the JSON is not put in place when the CSV could not be written";
}

// The trace: one that cannot be opened stops the run before the drive is
// touched; one that fills up is said, and the run exits 73.
TEST_F(OutputRulesTest, TraceFailuresAreSaidAndExit73) {
  Finished run = Scan({}, {}, {"--trace=" + m_scratch + "/no/such/trace.txt"});
  EXPECT_EQ(run.code, 73);
  EXPECT_NE(run.err.find("cannot write the trace file " + m_scratch +
                         "/no/such/trace.txt: No such file or directory"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(At("TEFE.txt")));

  // 2,000 bytes: the log of a quick scan fits, its trace does not.
  SpawnOptions options;
  options.fileSizeLimit = 2000;
  run = Scan({}, options, {"--trace=trace.txt"});
  EXPECT_EQ(run.code, 73) << run.err;
  EXPECT_NE(run.err.find("the trace file trace.txt lost lines: File too large"), std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("This disc is ok for writing"), std::string::npos) << run.out;
  EXPECT_EQ(SampleLineCount(ReadAll(At("TEFE.txt"))), 12);
}

// In a folder every user may write into that is sticky (/tmp), what another
// user put at an output's name is refused with its reason, exit 73, before
// the drive is touched, whatever the kernel's protected_symlinks and
// protected_regular say: nothing is followed or written through it. The
// folder owner's link is still followed.
TEST_F(OutputRulesTest, AnotherUsersFileOrLinkInASharedFolderIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "files of another user need root";
  constexpr uid_t kOther = 65534;
  struct Case {
    const char* name;
    std::function<void(OutputRulesTest&)> plant;
    std::vector<std::string> scanArgs;
    std::vector<std::string> before;
    const char* said;  // empty: the run goes ahead
  };
  // Outside the shared folder; each case has a scratch folder of its own.
  auto victimOf = [](const OutputRulesTest& t) { return t.m_scratch + "/victim"; };
  auto theirs = [](const std::string& path) { ASSERT_EQ(lchown(path.c_str(), kOther, kOther), 0); };
  const Case cases[] = {
      {"their symlink at TEFE.txt to a file only root may write",
       [&](OutputRulesTest& t) {
         ASSERT_EQ(symlink(victimOf(t).c_str(), t.At("TEFE.txt").c_str()), 0);
         theirs(t.At("TEFE.txt"));
       },
       {},
       {},
       "TEFE.txt: a symbolic link of user 65534 in a folder every user may write into (sticky); "
       "it is not followed"},
      {"their 0666 file at TEFE.txt",
       [&](OutputRulesTest& t) {
         WriteText(t.At("TEFE.txt"), "theirs");
         chmod(t.At("TEFE.txt").c_str(), 0666);
         theirs(t.At("TEFE.txt"));
       },
       {},
       {},
       "TEFE.txt: a file of user 65534 in a folder every user may write into (sticky); it is not "
       "written"},
      {"their FIFO as --log, nobody reading",
       [&](OutputRulesTest& t) {
         ASSERT_EQ(mkfifo(t.At("log.fifo").c_str(), 0666), 0);
         theirs(t.At("log.fifo"));
       },
       {"--log", "log.fifo"},
       {},
       "log.fifo: a FIFO of user 65534"},
      {"their file as --json",
       [&](OutputRulesTest& t) {
         WriteText(t.At("r.json"), "theirs");
         theirs(t.At("r.json"));
       },
       {"--json", "r.json"},
       {},
       "cannot write r.json: a file of user 65534"},
      {"their symlink as --chart",
       [&](OutputRulesTest& t) {
         ASSERT_EQ(symlink(victimOf(t).c_str(), t.At("c.bmp").c_str()), 0);
         theirs(t.At("c.bmp"));
       },
       {"--chart", "c.bmp"},
       {},
       "c.bmp: a symbolic link of user 65534"},
      {"their file as --trace",
       [&](OutputRulesTest& t) {
         WriteText(t.At("t.txt"), "theirs");
         theirs(t.At("t.txt"));
       },
       {},
       {"--trace=t.txt"},
       "cannot write the trace file t.txt: a file of user 65534"},
      {"the folder owner's symlink is followed",
       [&](OutputRulesTest& t) {
         theirs(t.m_dir);
         ASSERT_EQ(symlink("made.json", t.At("link.json").c_str()), 0);
         theirs(t.At("link.json"));
       },
       {"--json", "link.json"},
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ASSERT_EQ(chmod(m_dir.c_str(), 01777), 0);
    const std::string victim = victimOf(*this);
    WriteText(victim, "only root writes this");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    c.plant(*this);
    std::vector<std::string> before = c.before;
    const std::string trace = m_scratch + "/trace.txt";
    if (before.empty()) before.push_back("--trace=" + trace);
    const Finished run = Scan(c.scanArgs, {}, before);
    EXPECT_EQ(ReadAll(victim), "only root writes this");
    if (c.said[0] == '\0') {
      EXPECT_EQ(run.code, 0) << run.err;
      EXPECT_TRUE(IsJsonReport(ReadAll(At("made.json")), "ok"));
      continue;
    }
    EXPECT_EQ(run.code, 73) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(ReadAll(trace).find("cdb=[FD"), std::string::npos) << "the drive was touched";
    for (const char* name : {"TEFE.txt", "r.json", "t.txt"}) {
      if (fs::is_regular_file(fs::symlink_status(At(name)))) {
        EXPECT_EQ(ReadAll(At(name)), "theirs") << name;
      }
    }
    fs::remove(trace);
  }
}

// A disk that fills up under one output: every output not written is
// named, and the old files stay as they were.
TEST_F(OutputRulesTest, OutputsNotWrittenAreAllNamedAndOldFilesStay) {
  WriteText(At("r.json"), "old json");
  WriteText(At("r.csv"), "old csv");
  // 100,000 bytes: the log, JSON and CSV of a full scan fit (about 10 kB
  // each), the chart (a 452 x 228 24-bit BMP, 309 kB) does not.
  SpawnOptions options;
  options.fileSizeLimit = 100000;
  const Finished run =
      Scan({"--density=full", "--json", "r.json", "--csv", "r.csv", "--chart", "r.bmp"}, options);
  EXPECT_EQ(run.code, 73) << run.err;
  EXPECT_NE(run.err.find("cannot write r.bmp (WriteFile: File too large)"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("not written: r.json, r.csv, r.bmp"), std::string::npos) << run.err;
  EXPECT_EQ(ReadAll(At("r.json")), "old json");
  EXPECT_EQ(ReadAll(At("r.csv")), "old csv");
  EXPECT_EQ(Names(), (std::vector<std::string>{"TEFE.txt", "r.csv", "r.json"}));
}

// Real full and read-only file systems (a small tmpfs of the test's own).
TEST_F(OutputRulesTest, FullAndReadOnlyFileSystems) {
  const std::string full = MountTmpfs("full", "size=64k");
  const std::string readOnly = MountTmpfs("ro", "size=64k");
  if (full.empty() || readOnly.empty()) GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
  WriteText(readOnly + "/r.json", "old");
  ASSERT_EQ(mount(nullptr, readOnly.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  Finished run = Scan({"--json", readOnly + "/r.json"});
  EXPECT_EQ(run.code, 73);
  EXPECT_NE(run.err.find("r.json: Read-only file system"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(At("TEFE.txt"))) << "refused before the run";
  EXPECT_EQ(ReadAll(readOnly + "/r.json"), "old");

  WriteText(full + "/r.csv", "old csv");
  WriteText(full + "/filler", std::string(60 * 1024, 'x'));
  run = Scan({"--density=full", "--json", full + "/r.json", "--csv", full + "/r.csv"});
  EXPECT_EQ(run.code, 73) << run.err;
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("not written: " + full + "/r.json, " + full + "/r.csv"), std::string::npos)
      << run.err;
  EXPECT_EQ(ReadAll(full + "/r.csv"), "old csv");
  EXPECT_FALSE(fs::exists(full + "/r.json"));
  EXPECT_EQ(std::distance(fs::directory_iterator(full), fs::directory_iterator{}), 2);
}

}  // namespace
