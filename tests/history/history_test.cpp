// The history file: kept runs listed newest first, filtered and deleted, two
// writers at once, a damaged file set aside, a place that cannot be written,
// a history that is read-only or written by a newer Velmo.
#include "history/history.h"
#include "history/kept_run.h"
#include "history/sqlite_history.h"
#include "records/run_id.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = fs::path(::testing::TempDir()) /
               ("velmo-history-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_folder);
    m_path = (m_folder / "velmo" / "history.sqlite").string();
  }
  void TearDown() override {
    if (m_mounted) umount2(m_place.c_str(), MNT_DETACH);
    std::error_code ignored;
    if (!m_place.empty()) fs::permissions(m_place, fs::perms::owner_all, ignored);
    fs::remove_all(m_folder, ignored);
  }

  // The history's folder, made so that it can later be frozen: as root (who
  // ignores permission bits) a small tmpfs of the test's own, remounted
  // read-only; otherwise the bits.
  void MakeFreezablePlace() {
    m_place = fs::path(m_path).parent_path().string();
    fs::create_directories(m_place);
    if (geteuid() == 0) {
      ASSERT_EQ(mount("velmo-test", m_place.c_str(), "tmpfs", 0, "size=1m"), 0) << strerror(errno);
      m_mounted = true;
    }
  }
  void Freeze() {
    if (m_mounted) {
      ASSERT_EQ(mount(nullptr, m_place.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    } else {
      fs::permissions(m_path, fs::perms::owner_read);
      fs::permissions(m_place, fs::perms::owner_read | fs::perms::owner_exec);
    }
  }

  // Every file of the folder with its bytes: what "never written" means.
  std::vector<std::pair<std::string, std::string>> Snapshot() const {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::directory_iterator(fs::path(m_path).parent_path())) {
      std::ifstream in(entry.path(), std::ios::binary);
      files.emplace_back(entry.path().filename(),
                         std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  void Exec(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  }
  int UserVersion() {
    sqlite3* db = nullptr;
    int version = -1;
    // Immutable: a read-only folder may hold no -shm for it.
    const std::string uri = "file://" + m_path + "?immutable=1";
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
        SQLITE_OK) {
      sqlite3_stmt* s = nullptr;
      sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
      if (sqlite3_step(s) == SQLITE_ROW) version = sqlite3_column_int(s, 0);
      sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return version;
  }

  std::string m_place;
  bool m_mounted = false;

  static ScanRecord Run(const std::string& time, const std::string& mid, RunOutcome outcome,
                        const std::string& node = "/dev/sg1") {
    ScanRecord r;
    r.program = "velmo-cli";
    r.programVersion = "1.0.0";
    r.startTime = time;
    r.drive = {"VELMO   DVDRW VX-2016   1.02", "VELMO", "DVDRW VX-2016", "1.02", node};
    r.disc.type = "DVD+R";
    r.disc.manufacturerId = mid;
    r.settings = {"16X", 19, "normal", 49152, 500, 450};
    r.samples = {{0, 0x30000, 0, 300, 460, false}, {49152, 0x3C000, 0, 320, 200, true}};
    r.outcome = outcome;
    return r;
  }

  std::vector<int64_t> Ids(CHistory& history, const HistoryFilter& filter) {
    std::vector<HistoryEntry> entries;
    std::string error;
    EXPECT_TRUE(history.List(filter, &entries, &error)) << error;
    std::vector<int64_t> ids;
    for (const HistoryEntry& e : entries) ids.push_back(e.id);
    return ids;
  }

  fs::path m_folder;
  std::string m_path;
};

TEST_F(HistoryTest, KeptRunsComeBackNewestFirstAndFiltered) {
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  EXPECT_EQ(notice, "");
  // Added out of time order; the offsets matter: 10:00+02:00 is 08:00Z.
  const int64_t a =
      history.Add(Run("2026-12-08T09:00:00+00:00", "YUDEN000", RunOutcome::kOk), &error);
  const int64_t b = history.Add(
      Run("2026-12-08T10:00:00+02:00", "MCC 03", RunOutcome::kNotRecommended, "/dev/sg2"), &error);
  const int64_t c =
      history.Add(Run("2026-12-07T23:00:00Z", "50%_OFF", RunOutcome::kAborted), &error);
  ASSERT_TRUE(a && b && c) << error;

  EXPECT_EQ(Ids(history, {}), (std::vector<int64_t>{a, b, c}));
  const struct {
    const char* name;
    HistoryFilter filter;
    std::vector<int64_t> ids;
  } cases[] = {
      {"mid, any case", {"yuden", "", {}, std::nullopt, 0}, {a}},
      {"mid wildcard taken literally", {"%", "", {}, std::nullopt, 0}, {c}},
      {"underscore is no wildcard", {"5_%", "", {}, std::nullopt, 0}, {}},
      {"mid underscore taken literally", {"%_O", "", {}, std::nullopt, 0}, {c}},
      {"drive node", {"", "sg2", {}, std::nullopt, 0}, {b}},
      {"drive name", {"", "vx-2016", {}, std::nullopt, 0}, {a, b, c}},
      {"outcomes", {"", "", {RunOutcome::kOk, RunOutcome::kAborted}, std::nullopt, 0}, {a, c}},
      {"since", {"", "", {}, ParseIsoTime("2026-12-08T08:00:00Z"), 0}, {a, b}},
      {"limit", {"", "", {}, std::nullopt, 1}, {a}},
      {"nothing", {"KAIRO", "", {}, std::nullopt, 0}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Ids(history, c.filter), c.ids) << c.name;

  std::vector<HistoryEntry> entries;
  ASSERT_TRUE(history.List({}, &entries, &error));
  EXPECT_EQ(entries[0].maxTe, 320);
  EXPECT_EQ(entries[0].maxFe, 460);
  EXPECT_EQ(entries[1].outcome, RunOutcome::kNotRecommended);
  ScanRecord back;
  ASSERT_TRUE(history.Load(b, &back, &error)) << error;
  // A record kept without an id gets one of its own as it is kept.
  EXPECT_TRUE(IsRunId(back.runId)) << back.runId;
  back.runId.clear();
  EXPECT_EQ(back,
            Run("2026-12-08T10:00:00+02:00", "MCC 03", RunOutcome::kNotRecommended, "/dev/sg2"));
  EXPECT_FALSE(history.Load(999, &back, &error));
  EXPECT_EQ(error, "no run 999 in the history");
}

// Deleting runs: only the ones named go, all of them or none, and a deleted
// run's id never comes back for another run (show ID would show the wrong
// run).
TEST_F(HistoryTest, DeleteRemovesTheRunsNamedAllOrNone) {
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  std::vector<int64_t> ids;
  for (const char* mid : {"A", "B", "C", "D"}) {
    ids.push_back(history.Add(Run("2026-12-08T09:00:00Z", mid, RunOutcome::kOk), &error));
    ASSERT_NE(ids.back(), 0) << error;
  }
  const std::vector<int64_t> newestFirst{ids[3], ids[2], ids[1], ids[0]};
  ASSERT_EQ(Ids(history, {}), newestFirst);

  EXPECT_TRUE(history.Delete({ids[1], ids[3]}, &error)) << error;
  EXPECT_EQ(Ids(history, {}), (std::vector<int64_t>{ids[2], ids[0]}));
  ScanRecord gone;
  EXPECT_FALSE(history.Load(ids[1], &gone, &error));

  // One unknown id: nothing is deleted, and the id is named.
  EXPECT_FALSE(history.Delete({ids[0], 999}, &error));
  EXPECT_EQ(error, "no run 999 in the history");
  EXPECT_FALSE(history.Delete({ids[3]}, &error));
  EXPECT_EQ(error, "no run " + std::to_string(ids[3]) + " in the history");
  EXPECT_EQ(Ids(history, {}), (std::vector<int64_t>{ids[2], ids[0]}));

  // The same run twice is one run; none is nothing to do.
  EXPECT_TRUE(history.Delete({ids[2], ids[2]}, &error)) << error;
  EXPECT_TRUE(history.Delete({}, &error)) << error;
  EXPECT_EQ(Ids(history, {}), std::vector<int64_t>{ids[0]});

  const int64_t next = history.Add(Run("2026-12-08T10:00:00Z", "E", RunOutcome::kOk), &error);
  EXPECT_GT(next, ids[3]);
  // Another connection sees the same: the deletion was committed.
  CHistory other;
  ASSERT_TRUE(other.OpenForReading(m_path, &error, &notice)) << error;
  EXPECT_EQ(Ids(other, {}), (std::vector<int64_t>{next, ids[0]}));
}

TEST_F(HistoryTest, TwoWritersAtOnceLoseNothing) {
  auto writer = [this](const std::string& mid) {
    CHistory history;
    std::string error, notice;
    ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
    for (int i = 0; i < 40; ++i) {
      EXPECT_NE(history.Add(Run("2026-12-08T09:00:00Z", mid, RunOutcome::kOk), &error), 0) << error;
    }
  };
  {
    CHistory first;
    std::string error, notice;
    ASSERT_TRUE(first.Open(m_path, &error, &notice)) << error;  // the file exists before both
  }
  std::thread one(writer, "ONE");
  std::thread two(writer, "TWO");
  one.join();
  two.join();
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice));
  EXPECT_EQ(Ids(history, {"ONE", "", {}, std::nullopt, 0}).size(), 40u);
  EXPECT_EQ(Ids(history, {"TWO", "", {}, std::nullopt, 0}).size(), 40u);
}

TEST_F(HistoryTest, ADamagedFileIsSetAsideAndANewOneStarted) {
  fs::create_directories(fs::path(m_path).parent_path());
  std::string garbage(8192, 'x');
  std::ofstream(m_path, std::ios::binary) << garbage;
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  EXPECT_NE(notice.find("damaged"), std::string::npos) << notice;
  int aside = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(m_path).parent_path())) {
    if (entry.path().filename().string().rfind("history.sqlite.damaged-", 0) == 0 &&
        entry.path().extension() != ".sqlite-wal") {
      ++aside;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string kept((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(kept, garbage);  // set aside whole, not deleted
    }
  }
  EXPECT_EQ(aside, 1);
  EXPECT_NE(history.Add(Run("2026-12-08T09:00:00Z", "X", RunOutcome::kOk), &error), 0) << error;
}

TEST_F(HistoryTest, APlaceThatCannotBeWrittenIsSaid) {
  fs::create_directories(m_folder);
  std::ofstream((m_folder / "velmo").string()) << "a file where the folder should be";
  CHistory history;
  std::string error, notice;
  EXPECT_FALSE(history.Open(m_path, &error, &notice));
  EXPECT_NE(error.find((m_folder / "velmo").string()), std::string::npos) << error;
  EXPECT_EQ(history.Add(Run("2026-12-08T09:00:00Z", "X", RunOutcome::kOk), &error), 0);
  EXPECT_FALSE(history.Open("", &error, &notice));
}

// A backup or snapshot: the file and its folder read-only. It lists and
// loads, nothing is made or changed in it, and keeping a run is refused in
// our words.
TEST_F(HistoryTest, AReadOnlyHistoryIsReadAndNeverWritten) {
  MakeFreezablePlace();
  std::string error, notice;
  {
    CHistory history;
    ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
    ASSERT_NE(history.Add(Run("2026-12-08T09:00:00Z", "KEPT", RunOutcome::kOk), &error), 0);
  }
  // Closed cleanly: the WAL and its index are gone, and a read-only folder
  // cannot have them made again.
  ASSERT_FALSE(fs::exists(m_path + "-shm"));
  Freeze();
  const auto before = Snapshot();

  CHistory reader;
  ASSERT_TRUE(reader.OpenForReading(m_path, &error, &notice)) << error;
  EXPECT_TRUE(reader.ReadOnly());
  EXPECT_EQ(Ids(reader, {}), std::vector<int64_t>{1});
  ScanRecord record;
  ASSERT_TRUE(reader.Load(1, &record, &error)) << error;
  EXPECT_EQ(record.disc.manufacturerId, "KEPT");
  EXPECT_EQ(reader.Add(Run("2026-12-08T10:00:00Z", "NEW", RunOutcome::kOk), &error), 0);
  EXPECT_EQ(error, "the history is open for reading only");
  EXPECT_FALSE(reader.Delete({1}, &error));
  EXPECT_EQ(error, "the history is open for reading only");

  CHistory writer;
  EXPECT_FALSE(writer.Open(m_path, &error, &notice));
  EXPECT_EQ(error.find(m_path + ": cannot be written ("), 0u) << error;
  EXPECT_EQ(error.find("readonly database"), std::string::npos) << error;
  EXPECT_FALSE(writer.RefusedAsNewer());
  EXPECT_EQ(Snapshot(), before);
}

// A history from before the version was kept is today's schema: stamped 1
// where it can be written, read as it is where it cannot.
TEST_F(HistoryTest, TheSchemaVersionIsKeptAndStampedOnOlderFiles) {
  MakeFreezablePlace();
  std::string error, notice;
  {
    CHistory history;
    ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
    ASSERT_NE(history.Add(Run("2026-12-08T09:00:00Z", "OLD", RunOutcome::kOk), &error), 0);
  }
  EXPECT_EQ(UserVersion(), kHistoryVersion) << "a new history";
  Exec("PRAGMA user_version = 0");
  Freeze();
  {
    CHistory reader;
    ASSERT_TRUE(reader.OpenForReading(m_path, &error, &notice)) << error;
    EXPECT_EQ(Ids(reader, {}), std::vector<int64_t>{1});
  }
  EXPECT_EQ(UserVersion(), 0) << "not stamped while read-only";
  if (m_mounted) {
    ASSERT_EQ(mount(nullptr, m_place.c_str(), nullptr, MS_REMOUNT, nullptr), 0);
  } else {
    fs::permissions(m_place, fs::perms::owner_all);
    fs::permissions(m_path, fs::perms::owner_read | fs::perms::owner_write);
  }
  {
    CHistory history;
    ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
    EXPECT_EQ(Ids(history, {}), std::vector<int64_t>{1});
  }
  EXPECT_EQ(UserVersion(), kHistoryVersion);
}

// A history of version 2 brought forward: every run gets the id any other
// history would give it (twins of one second each their own), so an old
// export of it imported again adds nothing; then runs wait for the lab's
// history, oldest first, until marked sent.
TEST_F(HistoryTest, OldRunsGetTheIdsEveryHistoryGivesThemAndWaitToBePushed) {
  std::string error, notice;
  ScanRecord old = Run("2026-12-08T09:00:00Z", "OLD", RunOutcome::kOk);
  {
    CHistory history;
    ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
    for (int i = 0; i < 3; ++i) ASSERT_NE(history.Add(old, &error), 0) << error;
  }
  Exec(
      "DROP INDEX runs_run_id; DROP INDEX runs_waiting; ALTER TABLE runs DROP COLUMN run_id;"
      "ALTER TABLE runs DROP COLUMN pushed; PRAGMA user_version = 2;");
  CSqliteHistory history;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  std::vector<KeptRun> waiting;
  ASSERT_TRUE(history.Waiting(false, 0, 10, &waiting, &error)) << error;
  ASSERT_EQ(waiting.size(), 3u);
  EXPECT_EQ(waiting[0].runId, DerivedRunId(old.startTime, old.drive.name, old.drive.node,
                                           old.disc.type, old.disc.manufacturerId));
  EXPECT_NE(waiting[1].runId, waiting[0].runId);
  EXPECT_NE(waiting[2].runId, waiting[1].runId);
  EXPECT_TRUE(IsRunId(waiting[2].runId)) << waiting[2].runId;

  // A record without an id is known by the id it derives; one with an id
  // by that id alone, however like another run it looks.
  int64_t added = 0, skipped = 0;
  KeptRun twin = KeptRunOf(old, "elsewhere");
  twin.derivedId = true;
  KeptRun own = KeptRunOf(old, "elsewhere");
  own.runId = NewRunId();
  ASSERT_TRUE(history.Import({twin, own, own}, &added, &skipped, &error)) << error;
  EXPECT_EQ(added, 1);
  EXPECT_EQ(skipped, 2);

  ASSERT_TRUE(history.MarkPushed({waiting[0].localId, waiting[1].localId}, &error)) << error;
  int64_t count = 0;
  ASSERT_TRUE(history.WaitingCount(&count, &error));
  EXPECT_EQ(count, 2) << "the third old run and the imported one";
  ASSERT_TRUE(history.Waiting(false, 0, 10, &waiting, &error));
  ASSERT_EQ(waiting.size(), 2u);
  EXPECT_EQ(waiting[1].runId, own.runId);
  EXPECT_EQ(waiting[1].host, "elsewhere");
  ASSERT_TRUE(history.Waiting(true, waiting[0].localId, 10, &waiting, &error));
  EXPECT_EQ(waiting.size(), 1u) << "every run after the given one, sent or not";
}

// Written by a later Velmo: refused with our own words, for reading and for
// writing, and not a byte of it (nor a file beside it) changes.
TEST_F(HistoryTest, ANewerHistoryIsRefusedAndNeverWritten) {
  std::string error, notice;
  {
    CHistory history;
    ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
    ASSERT_NE(history.Add(Run("2026-12-08T09:00:00Z", "NEW", RunOutcome::kOk), &error), 0);
  }
  Exec("PRAGMA user_version = " + std::to_string(kHistoryVersion + 1));
  const auto before = Snapshot();
  const std::string says = m_path + " was written by a newer Velmo (history version " +
                           std::to_string(kHistoryVersion + 1) + "; this one reads up to " +
                           std::to_string(kHistoryVersion) + ")";
  CHistory reader;
  EXPECT_FALSE(reader.OpenForReading(m_path, &error, &notice));
  EXPECT_TRUE(reader.RefusedAsNewer());
  EXPECT_EQ(error, says);
  CHistory writer;
  EXPECT_FALSE(writer.Open(m_path, &error, &notice));
  EXPECT_TRUE(writer.RefusedAsNewer());
  EXPECT_EQ(error, says);
  EXPECT_EQ(writer.Add(Run("2026-12-08T10:00:00Z", "X", RunOutcome::kOk), &error), 0);
  EXPECT_FALSE(writer.Delete({1}, &error));
  EXPECT_EQ(error, "the history is not open");
  EXPECT_TRUE(notice.empty()) << "not taken for damage: " << notice;
  EXPECT_EQ(Snapshot(), before);

  // A history of our own version opens again with the same object.
  Exec("PRAGMA user_version = " + std::to_string(kHistoryVersion));
  EXPECT_TRUE(writer.Open(m_path, &error, &notice)) << error;
  EXPECT_FALSE(writer.RefusedAsNewer());
}

TEST(HistoryPath, XdgDataHomeThenHome) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string keep = saved ? saved : "";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_DATA_HOME", "/data/x", 1);
  EXPECT_EQ(DefaultHistoryPath(), "/data/x/velmo/history.sqlite");
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as the XDG rules say
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(DefaultHistoryPath(), "/home/u/.local/share/velmo/history.sqlite");
  unsetenv("HOME");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultHistoryPath(), "");
  setenv("HOME", home.c_str(), 1);
  if (saved) setenv("XDG_DATA_HOME", keep.c_str(), 1);
}

TEST(IsoTime, OffsetsDatesAndNonsense) {
  EXPECT_EQ(ParseIsoTime("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseIsoTime("1970-01-01T01:00:00+01:00"), 0);
  EXPECT_EQ(ParseIsoTime("1969-12-31T23:30:00-00:30"), 0);
  EXPECT_EQ(ParseIsoTime("2026-12-08T02:10:00+00:00"), 1796695800);
  EXPECT_TRUE(ParseIsoTime("2026-12-08"));
  for (const char* bad :
       {"", "yesterday", "2026-13-01", "2026-12-08T25:00:00Z", "2026-12-08T02:10:00",
        "2026-12-08T02:10:00+0100", "2026-12-08T02:10:00+01:00x", "2026-1-8"}) {
    EXPECT_FALSE(ParseIsoTime(bad)) << bad;
  }
}

}  // namespace
