// velmo-cli as a user runs it on inputs that are not what they claim: a
// record that is a FIFO, a device, a folder, nested far too deeply or far
// too large; a history holding such a record, written by a newer Velmo, or
// read-only. Each ends at once with its exit code and one line naming it;
// every run has a time limit, so a blocking read fails the test instead of
// hanging it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/record_commands.h"
#include "history/history.h"
#include "records/record_packing.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_scratch = m_scratchFolder.Path();
    m_dir = m_scratch + "/run";
    fs::create_directory(m_dir);
    // The child inherits it: this test's history, not the binary's scratch one.
    const char* saved = std::getenv("XDG_DATA_HOME");
    m_savedData = saved != nullptr ? saved : "";
    setenv("XDG_DATA_HOME", (m_scratch + "/data").c_str(), 1);
    m_history = DefaultHistoryPath();
  }
  void TearDown() override {
    if (m_mounted) umount2(HistoryFolder().c_str(), MNT_DETACH);
    setenv("XDG_DATA_HOME", m_savedData.c_str(), 1);
    std::error_code ignored;
    fs::permissions(HistoryFolder(), fs::perms::owner_all, ignored);
  }

  std::string At(const std::string& name) const { return m_dir + "/" + name; }
  std::string HistoryFolder() const { return fs::path(m_history).parent_path().string(); }

  Finished Cli(const std::vector<std::string>& args) {
    SpawnOptions options;
    options.cwd = m_dir;
    return Child(args, options).Wait(std::chrono::seconds(20));
  }
  Finished QuickScan(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--simulate", "--sim-latency=0", "scan", "--density=quick"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
  }

  void Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_history.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message != nullptr ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  }

  ScratchFolder m_scratchFolder{"velmo-hostile"};
  std::string m_scratch;
  std::string m_dir;
  std::string m_savedData;
  std::string m_history;
  bool m_mounted = false;
};

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// A deep value first in a record's object: the parser copied such a value
// once per level as the object grew, and ran out of stack.
std::string DeepRecord(bool objects) {
  std::string deep;
  if (objects) {
    for (int i = 0; i < 150000; ++i) deep += "{\"a\":";
    deep += "1" + std::string(150000, '}');
  } else {
    deep = std::string(150000, '[') + std::string(150000, ']');
  }
  return "{\"format\": " + deep + ", \"version\": 2, \"kind\": \"scan\", \"program\": \"x\"}";
}

// Each hostile kind of record file, through show, report and compare.
TEST_F(HostileInputTest, RecordFilesThatAreNoRecordEndAtOnce) {
  ASSERT_EQ(QuickScan({"--json", At("good.json"), "--no-history"}).code, kExitOk);
  ASSERT_EQ(mkfifo(At("fifo.json").c_str(), 0600), 0);
  fs::create_directory(At("folder.json"));
  std::ofstream(At("deep-arrays.json")) << DeepRecord(false);
  std::ofstream(At("deep-objects.json")) << DeepRecord(true);
  // Sparse: 65 MiB that cost nothing, over the 64 MiB a record may have.
  std::ofstream(At("huge.json")) << "{";
  fs::resize_file(At("huge.json"), 65u << 20);

  struct Case {
    std::string path;
    int code;
    std::string says;
  };
  std::vector<Case> cases = {
      {At("fifo.json"), kExitNoRecord, "fifo.json: is a FIFO, not a file"},
      {"/dev/zero", kExitNoRecord, "/dev/zero: is a character device, not a file"},
      {"/dev/urandom", kExitNoRecord, "/dev/urandom: is a character device, not a file"},
      {At("folder.json"), kExitNoRecord, "folder.json: is a folder, not a file"},
      {At("deep-arrays.json"), kExitBadRecord,
       "deep-arrays.json: not a readable scan record "
       "(nested too deeply: more than 64 levels)"},
      {At("deep-objects.json"), kExitBadRecord, "nested too deeply"},
      {At("huge.json"), kExitBadRecord, "huge.json: too large (68157440 bytes, more than"},
  };
  if (geteuid() == 0) {
    ASSERT_EQ(mknod(At("zero.json").c_str(), S_IFCHR | 0600, makedev(1, 5)), 0);
    cases.push_back({At("zero.json"), kExitNoRecord, "zero.json: is a character device"});
  }
  for (const Case& c : cases) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"show", c.path},
          std::vector<std::string>{"report", c.path, "--png", At("r.png")},
          std::vector<std::string>{"compare", At("good.json"), c.path}}) {
      const Finished run = Cli(args);
      EXPECT_TRUE(run.exited) << args[0] << " " << c.path << ": signal " << run.signal;
      EXPECT_EQ(run.code, c.code) << args[0] << " " << c.path << ": " << run.err;
      EXPECT_NE(run.err.find(c.says), std::string::npos) << args[0] << ": " << run.err;
      EXPECT_EQ(LineCount(run.err), 1) << run.err;
      EXPECT_EQ(run.out, "") << args[0];
    }
  }
  EXPECT_FALSE(fs::exists(At("r.png")));
}

// A deep record put into a real history (as another program, or damage,
// could): show and report by its id refuse it as any bad record.
TEST_F(HostileInputTest, ADeepRecordInTheHistoryIsRefusedByItsId) {
  ASSERT_EQ(QuickScan().code, kExitOk);
  // Kept as the history keeps records: packed, in their own table.
  std::string hex;
  for (const unsigned char c : PackRecord(DeepRecord(false))) {
    hex += "0123456789abcdef"[c >> 4];
    hex += "0123456789abcdef"[c & 15];
  }
  Sql("UPDATE records SET data = X'" + hex + "' WHERE id = 1");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"show", "1"}, std::vector<std::string>{"show", "1", "--json"},
        std::vector<std::string>{"report", "1", "--pdf", At("r.pdf")}}) {
    const Finished run = Cli(args);
    EXPECT_TRUE(run.exited) << args[0] << ": signal " << run.signal;
    EXPECT_EQ(run.code, kExitBadRecord) << run.err;
    EXPECT_NE(run.err.find("run 1: not a readable scan record (nested too deeply"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(LineCount(run.err), 1) << run.err;
  }
  // The listing reads the row's own columns and still shows the run.
  const Finished list = Cli({"history"});
  EXPECT_EQ(list.code, kExitOk) << list.err;
  EXPECT_EQ(LineCount(list.out), 2) << list.out;
}

// Written by a later Velmo: every reader refuses it with exit 65, and a scan
// still runs, says so once, and leaves the history as it was.
TEST_F(HostileInputTest, ANewerHistoryIsRefusedAndAScanKeepsItsOwnOutputs) {
  ASSERT_EQ(QuickScan().code, kExitOk);
  Sql("PRAGMA user_version = " + std::to_string(kHistoryVersion + 1));
  const std::string before = ReadAll(m_history);
  const std::string says = m_history + " was written by a newer Velmo (history version " +
                           std::to_string(kHistoryVersion + 1) + "; this one reads up to " +
                           std::to_string(kHistoryVersion) + ")";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"history"}, std::vector<std::string>{"show", "1"},
        std::vector<std::string>{"compare", "1", "1"},
        std::vector<std::string>{"report", "1", "--png", At("r.png")}}) {
    const Finished run = Cli(args);
    EXPECT_EQ(run.code, kExitBadRecord) << args[0] << ": " << run.err;
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    EXPECT_EQ(LineCount(run.err), 1) << run.err;
  }
  const Finished scan = QuickScan({"--json", At("kept.json")});
  EXPECT_EQ(scan.code, kExitOk) << scan.err;
  EXPECT_EQ(LineCount(scan.err), 1) << scan.err;
  EXPECT_NE(scan.err.find("this run is not kept in the history: " + says), std::string::npos)
      << scan.err;
  EXPECT_TRUE(fs::exists(At("kept.json")));
  EXPECT_TRUE(fs::exists(At("TEFE.txt")));
  EXPECT_EQ(ReadAll(m_history), before);
}

// A history on a read-only file system (as root: a tmpfs of the test's own,
// remounted read-only; otherwise the permission bits) is listed and shown,
// and a scan beside it says once that its run is not kept.
TEST_F(HostileInputTest, AReadOnlyHistoryIsListedAndAScanStillRuns) {
  fs::create_directories(HistoryFolder());
  if (geteuid() == 0) {
    ASSERT_EQ(mount("velmo-test", HistoryFolder().c_str(), "tmpfs", 0, "size=1m"), 0)
        << std::strerror(errno);
    m_mounted = true;
  }
  ASSERT_EQ(QuickScan().code, kExitOk);
  if (m_mounted) {
    ASSERT_EQ(mount(nullptr, HistoryFolder().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  } else {
    fs::permissions(m_history, fs::perms::owner_read);
    fs::permissions(HistoryFolder(), fs::perms::owner_read | fs::perms::owner_exec);
  }
  const Finished list = Cli({"history"});
  EXPECT_EQ(list.code, kExitOk) << list.err;
  EXPECT_EQ(LineCount(list.out), 2) << list.out;
  EXPECT_EQ(list.err, "");
  const Finished show = Cli({"show", "1"});
  EXPECT_EQ(show.code, kExitOk) << show.err;
  EXPECT_NE(show.out.find("Outcome:              ok"), std::string::npos) << show.out;
  EXPECT_EQ(Cli({"report", "1", "--html", At("r.html")}).code, kExitOk);

  const Finished scan = QuickScan();
  EXPECT_EQ(scan.code, kExitOk);
  EXPECT_EQ(LineCount(scan.err), 1) << scan.err;
  EXPECT_NE(
      scan.err.find("this run is not kept in the history: " + m_history + ": cannot be written ("),
      std::string::npos)
      << scan.err;
}

}  // namespace
