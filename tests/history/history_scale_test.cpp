// The history at scale: a history written by the previous version brought
// forward without losing a run, records kept deflated, rows streamed and
// paged, the indexes the listing's filters use, pruning, importing runs from
// elsewhere, and eight writers with an importer at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>

#include "history/history.h"
#include "records/record_packing.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;

class HistoryScaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = fs::path(::testing::TempDir()) /
               ("velmo-history-scale-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_folder);
    fs::create_directories(m_folder / "velmo");
    m_path = (m_folder / "velmo" / "history.sqlite").string();
  }
  void TearDown() override { fs::remove_all(m_folder); }

  // Rows of a query straight from the file, each row's columns joined by |.
  // Immutable: a file in a read-only place (or the committed one), with
  // nothing made beside it.
  std::vector<std::string> Query(const std::string& path, const std::string& sql,
                                 bool immutable = false) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    const std::string name = immutable ? "file://" + path + "?immutable=1" : path;
    EXPECT_EQ(sqlite3_open_v2(name.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
              SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(s); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
        row += (c ? "|" : "") +
               (text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, c)))
                     : std::string("NULL"));
      }
      rows.push_back(row);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
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

  static ScanRecord Run(const std::string& time, const std::string& mid, int te = 300,
                        RunOutcome outcome = RunOutcome::kOk) {
    ScanRecord r;
    r.program = "velmo-cli";
    r.programVersion = "1.0.0";
    r.startTime = time;
    r.drive = {"VELMO   DVDRW VX-2016   1.02", "VELMO", "DVDRW VX-2016", "1.02", "/dev/sg1"};
    r.disc.type = "DVD+R";
    r.disc.manufacturerId = mid;
    r.settings = {"16X", 19, "normal", 49152, 500, 450};
    for (int i = 0; i < 2000; ++i)
      r.samples.push_back({i * 1000, 0x30000 + i * 1000, 0, static_cast<uint16_t>(te - i % 50),
                           static_cast<uint16_t>(200 + i % 37), true});
    r.outcome = outcome;
    return r;
  }
  static std::vector<int64_t> IdsOf(const std::vector<HistoryEntry>& entries) {
    std::vector<int64_t> ids;
    for (const HistoryEntry& e : entries) ids.push_back(e.id);
    return ids;
  }

  fs::path m_folder;
  std::string m_path;
};

// A history written by the previous version (committed as it was written:
// scans, Smart Scans, a run that failed and one stopped by Ctrl-C) comes
// forward with every run, id and record as it was, and the file tells the
// new version. A copy that cannot be written is still read as it is.
TEST_F(HistoryScaleTest, AVersionOneHistoryComesForwardLosingNoRun) {
  const std::string fixture =
      std::string(velmo_test::SourceDir()) + "/tests/history/data/history-v1.sqlite";
  const std::vector<std::string> before =
      Query(fixture, "SELECT id, start_time, kind, mid, outcome, max_te, record FROM runs", true);
  ASSERT_GE(before.size(), 5u);
  std::map<std::string, int> outcomes;
  for (const std::string& row : Query(fixture, "SELECT kind || ' ' || outcome FROM runs", true))
    ++outcomes[row];
  EXPECT_GT(outcomes["smart ok"], 0);
  EXPECT_GT(outcomes["scan aborted"], 0);
  EXPECT_EQ(Query(fixture, "PRAGMA user_version", true), std::vector<std::string>{"1"});

  // Where it cannot be written (a read-only mount as root, the bits
  // otherwise) it is read as version 1 and left as it is.
  const fs::path place = m_folder / "velmo";
  const bool mounted = geteuid() == 0;
  if (mounted) {
    ASSERT_EQ(mount("velmo-test", place.c_str(), "tmpfs", 0, "size=1m"), 0);
  }
  fs::copy_file(fixture, m_path);
  if (mounted) {
    ASSERT_EQ(mount(nullptr, place.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  } else {
    fs::permissions(m_path, fs::perms::owner_read);
    fs::permissions(place, fs::perms::owner_read | fs::perms::owner_exec);
  }
  std::string error, notice;
  {
    CHistory reader;
    ASSERT_TRUE(reader.OpenForReading(m_path, &error, &notice)) << error;
    EXPECT_TRUE(reader.ReadOnly());
    std::vector<HistoryEntry> entries;
    ASSERT_TRUE(reader.List({}, &entries, &error)) << error;
    EXPECT_EQ(entries.size(), before.size());
    EXPECT_EQ(entries.front().host, "");
    ScanRecord record;
    EXPECT_TRUE(reader.Load(entries.front().id, &record, &error)) << error;
  }
  EXPECT_EQ(Query(m_path, "PRAGMA user_version", true), std::vector<std::string>{"1"});
  if (mounted) {
    ASSERT_EQ(umount2(place.c_str(), MNT_DETACH), 0);
    fs::copy_file(fixture, m_path);
  } else {
    fs::permissions(place, fs::perms::owner_all);
    fs::permissions(m_path, fs::perms::owner_read | fs::perms::owner_write);
  }

  CHistory history;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  EXPECT_EQ(notice, "");
  EXPECT_EQ(Query(m_path, "PRAGMA user_version"),
            std::vector<std::string>{std::to_string(kHistoryVersion)});
  // The pages the records' text took are given back, not left free.
  EXPECT_EQ(Query(m_path, "PRAGMA freelist_count"), std::vector<std::string>{"0"});
  EXPECT_LT(fs::file_size(m_path), fs::file_size(fixture));
  std::vector<HistoryEntry> entries;
  ASSERT_TRUE(history.List({}, &entries, &error)) << error;
  ASSERT_EQ(entries.size(), before.size());
  std::map<int64_t, HistoryEntry> byId;
  for (const HistoryEntry& e : entries) byId[e.id] = e;
  for (const std::string& row : before) {
    const int64_t id = std::stoll(row.substr(0, row.find('|')));
    SCOPED_TRACE(id);
    ASSERT_EQ(byId.count(id), 1u);
    EXPECT_EQ(byId[id].startTime, row.substr(row.find('|') + 1, byId[id].startTime.size()));
    EXPECT_EQ(byId[id].host, LocalHostName()) << "made where the history is";
    // The record as it was stored: what is read back is what the stored
    // text says, field for field (records of every version read alike).
    ScanRecord record, stored;
    ASSERT_TRUE(history.Load(id, &record, &error)) << error;
    const std::string text = row.substr(row.find("|{") + 1);
    ASSERT_TRUE(ReadRecordJson(text, &stored, &error)) << error;
    EXPECT_TRUE(record == stored) << "record of run " << id << " changed";
    EXPECT_EQ(WriteRecordJson(record), WriteRecordJson(stored));
    // And the text itself is kept byte for byte, only deflated.
    const std::vector<std::string> packed =
        Query(m_path, "SELECT data FROM records WHERE id = " + std::to_string(id));
    ASSERT_EQ(packed.size(), 1u);
    std::string unpacked;
    ASSERT_TRUE(UnpackRecord(packed[0], &unpacked, &error)) << error;
    EXPECT_EQ(unpacked, text);
  }
  EXPECT_TRUE(
      Query(m_path, "SELECT name FROM pragma_table_info('runs') WHERE name = 'record'").empty())
      << "the text no longer sits in the summary rows";
  // Ids go on after the highest ever given.
  const int64_t next = history.Add(Run("2026-12-09T10:00:00Z", "NEW"), &error);
  EXPECT_GT(next, byId.rbegin()->first) << error;

  // Written by a version later than this: refused as before.
  Exec("PRAGMA user_version = " + std::to_string(kHistoryVersion + 1));
  CHistory newer;
  EXPECT_FALSE(newer.Open(m_path, &error, &notice));
  EXPECT_TRUE(newer.RefusedAsNewer());
}

// What a record packs to, and packed bytes that are no record: said, never
// a crash or a record made up.
TEST_F(HistoryScaleTest, RecordsAreKeptDeflatedAndDamageIsSaid) {
  const std::string text = WriteRecordJson(Run("2026-12-08T09:00:00Z", "YUDEN000"));
  const std::string packed = PackRecord(text);
  EXPECT_LT(packed.size() * 4, text.size()) << "2,000 samples pack to under a quarter";
  std::string back, error;
  ASSERT_TRUE(UnpackRecord(packed, &back, &error)) << error;
  EXPECT_EQ(back, text);
  EXPECT_FALSE(UnpackRecord(packed.substr(0, 3), &back, &error));
  EXPECT_EQ(error, "stored record cut short");
  EXPECT_FALSE(UnpackRecord(packed.substr(0, packed.size() / 2), &back, &error));
  EXPECT_EQ(error.rfind("stored record damaged", 0), 0u) << error;
  std::string claims = packed;
  claims[0] = '\x7f';
  EXPECT_FALSE(UnpackRecord(claims, &back, &error));
  EXPECT_EQ(error.rfind("stored record claims ", 0), 0u) << error;

  // In a history: the run is named, and the others still load.
  CHistory history;
  std::string notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  const int64_t a = history.Add(Run("2026-12-08T09:00:00Z", "A"), &error);
  const int64_t b = history.Add(Run("2026-12-08T10:00:00Z", "B"), &error);
  ASSERT_TRUE(a && b) << error;
  Exec("UPDATE records SET data = substr(data, 1, 40) WHERE id = " + std::to_string(a));
  ScanRecord record;
  EXPECT_FALSE(history.Load(a, &record, &error));
  EXPECT_EQ(error.rfind("run " + std::to_string(a) + ": stored record damaged", 0), 0u) << error;
  EXPECT_TRUE(history.Load(b, &record, &error)) << error;
  const auto bytes =
      Query(m_path, "SELECT length(data) FROM records WHERE id = " + std::to_string(b));
  ASSERT_EQ(bytes.size(), 1u);
  EXPECT_LT(std::stoll(bytes[0]) * 4, static_cast<long long>(text.size()));
}

// Rows come one at a time, stop when told, and page by limit and offset;
// the window's orders and counts agree with them.
TEST_F(HistoryScaleTest, RowsAreStreamedPagedAndOrdered) {
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  std::vector<int64_t> ids;
  const int tes[] = {350, 120, 480, 120, 200};
  for (int i = 0; i < 5; ++i) {
    ids.push_back(history.Add(
        Run("2026-12-08T0" + std::to_string(i) + ":00:00Z", i % 2 ? "MCC 03" : "YUDEN000", tes[i]),
        &error));
    ASSERT_NE(ids.back(), 0) << error;
  }
  std::vector<int64_t> seen;
  ASSERT_TRUE(history.Each(
      {},
      [&](const HistoryEntry& e) {
        seen.push_back(e.id);
        return seen.size() < 2;
      },
      &error));
  EXPECT_EQ(seen, (std::vector<int64_t>{ids[4], ids[3]})) << "stopped after two";

  HistoryFilter page;
  page.limit = 2;
  page.offset = 1;
  std::vector<HistoryEntry> entries;
  ASSERT_TRUE(history.List(page, &entries, &error)) << error;
  EXPECT_EQ(IdsOf(entries), (std::vector<int64_t>{ids[3], ids[2]}));
  page.limit = 0;
  page.offset = 3;
  ASSERT_TRUE(history.List(page, &entries, &error)) << error;
  EXPECT_EQ(IdsOf(entries), (std::vector<int64_t>{ids[1], ids[0]})) << "an offset alone";

  int64_t count = 0;
  ASSERT_TRUE(history.Count({"mcc"}, &count, &error)) << error;
  EXPECT_EQ(count, 2);
  std::vector<int64_t> ordered;
  // The maxima: the run's whole-disc max TE; ties newest first.
  ASSERT_TRUE(history.Ids({}, "max_te", true, &ordered, &error)) << error;
  EXPECT_EQ(ordered, (std::vector<int64_t>{ids[3], ids[1], ids[4], ids[0], ids[2]}));
  ASSERT_TRUE(history.Ids({}, "mid", false, &ordered, &error)) << error;
  EXPECT_EQ(ordered, (std::vector<int64_t>{ids[4], ids[2], ids[0], ids[3], ids[1]}));
  EXPECT_FALSE(history.Ids({}, "record; DROP TABLE runs", true, &ordered, &error));

  std::vector<std::string> records;
  ASSERT_TRUE(history.EachRecord(
      {"", "", {}, std::nullopt, 1},
      [&](const HistoryEntry&, const std::string& text) {
        records.push_back(text);
        return true;
      },
      &error));
  ASSERT_EQ(records.size(), 1u);
  ScanRecord newest;
  ASSERT_TRUE(ReadRecordJson(records[0], &newest, &error)) << error;
  EXPECT_EQ(newest.startTime, "2026-12-08T04:00:00Z");
  ASSERT_TRUE(history.Entries({ids[2], 999}, &entries, &error)) << error;
  EXPECT_EQ(IdsOf(entries), std::vector<int64_t>{ids[2]});
}

// Every filter the listing offers is served by an index in the listing's
// order: the first rows come before the last is read (no sort of them all
// first), and the table itself is never scanned whole.
TEST_F(HistoryScaleTest, EveryFilterReadsThroughAnIndexInOrder) {
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  ASSERT_NE(history.Add(Run("2026-12-08T09:00:00Z", "A"), &error), 0) << error;
  const struct {
    const char* name;
    HistoryFilter filter;
    const char* index;
  } cases[] = {
      {"all", {}, "runs_started"},
      {"mid", {"KAIRO"}, "runs_order"},
      {"drive", {"", "sg1"}, "runs_order"},
      {"since", {"", "", {}, 1765000000}, "runs_started"},
      {"since and drive", {"", "sg1", {}, 1765000000}, "runs_order"},
      {"outcome", {"", "", {RunOutcome::kNotRecommended}}, "runs_outcome"},
      {"limit", {"", "", {}, std::nullopt, 20}, "runs_started"},
  };
  for (const auto& c : cases) {
    std::string plan;
    ASSERT_TRUE(history.ListingPlan(c.filter, &plan, &error)) << error;
    EXPECT_NE(plan.find(std::string("INDEX ") + c.index), std::string::npos) << c.name << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << c.name << plan;
  }
  // The window reads every id when it opens: through the order alone, the
  // narrowest index, unless a filter needs the listing's texts.
  std::string plan;
  ASSERT_TRUE(history.IdsPlan({}, &plan, &error)) << error;
  EXPECT_NE(plan.find("COVERING INDEX runs_started"), std::string::npos) << plan;
  ASSERT_TRUE(history.IdsPlan({"KAIRO"}, &plan, &error)) << error;
  EXPECT_NE(plan.find("COVERING INDEX runs_order"), std::string::npos) << plan;
  EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
}

// Pruning: every run before the time goes, with its record; later ones stay.
TEST_F(HistoryScaleTest, PruneRemovesTheOlderRunsOnly) {
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  const int64_t old1 = history.Add(Run("2025-06-01T09:00:00Z", "OLD"), &error);
  const int64_t old2 = history.Add(Run("2026-01-01T00:59:59+01:00", "OLD"), &error);
  const int64_t kept = history.Add(Run("2026-01-01T00:00:00Z", "NEW"), &error);
  ASSERT_TRUE(old1 && old2 && kept) << error;
  int64_t removed = 0;
  ASSERT_TRUE(history.Prune(*ParseIsoTime("2026-01-01T00:00:00Z"), &removed, &error)) << error;
  EXPECT_EQ(removed, 2);
  std::vector<HistoryEntry> entries;
  ASSERT_TRUE(history.List({}, &entries, &error));
  EXPECT_EQ(IdsOf(entries), std::vector<int64_t>{kept});
  EXPECT_EQ(Query(m_path, "SELECT id FROM records"),
            std::vector<std::string>{std::to_string(kept)});
  ASSERT_TRUE(history.Prune(*ParseIsoTime("2026-01-01T00:00:00Z"), &removed, &error));
  EXPECT_EQ(removed, 0);
}

// Runs from elsewhere keep their time, drive and host; a run already here
// is passed over however often it comes; a batch that fails leaves nothing.
TEST_F(HistoryScaleTest, ImportKeepsTimeDriveAndHostAndNeverDoubles) {
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  const int64_t local = history.Add(Run("2026-12-08T09:00:00Z", "LOCAL"), &error);
  ASSERT_NE(local, 0) << error;
  ScanRecord other = Run("2026-12-08T08:00:00+01:00", "LAB2");
  other.drive.node = "/dev/sg7";
  std::vector<ImportedRun> runs = {{other, "lab-2"},
                                   {Run("2026-12-08T09:00:00Z", "LOCAL"), "lab-2"},
                                   {Run("2026-12-08T09:00:00Z", "LOCAL2"), "lab-2"}};
  int64_t added = 0, skipped = 0;
  ASSERT_TRUE(history.Import(runs, &added, &skipped, &error)) << error;
  EXPECT_EQ(added, 2);
  EXPECT_EQ(skipped, 1) << "the same time, drive and disc as the local run";
  std::vector<HistoryEntry> entries;
  ASSERT_TRUE(history.List({"LAB2"}, &entries, &error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].host, "lab-2");
  EXPECT_EQ(entries[0].startTime, "2026-12-08T08:00:00+01:00");
  ScanRecord back;
  ASSERT_TRUE(history.Load(entries[0].id, &back, &error)) << error;
  EXPECT_EQ(back, other);
  ASSERT_TRUE(history.Import(runs, &added, &skipped, &error)) << error;
  EXPECT_EQ(added, 0);
  EXPECT_EQ(skipped, 3);

  // A run the database refuses halfway: none of the batch is kept.
  Exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON runs WHEN NEW.mid = 'REFUSED'"
      " BEGIN SELECT RAISE(ABORT, 'refused by the test'); END;");
  const std::vector<ImportedRun> failing = {{Run("2026-12-10T09:00:00Z", "FIRST"), "x"},
                                            {Run("2026-12-10T10:00:00Z", "REFUSED"), "x"}};
  EXPECT_FALSE(history.Import(failing, &added, &skipped, &error));
  EXPECT_EQ(error, "refused by the test");
  ASSERT_TRUE(history.List({"FIRST"}, &entries, &error));
  EXPECT_TRUE(entries.empty());
}

// Eight programs keeping runs and one importing into the same history at
// once: every run is there afterwards, once.
TEST_F(HistoryScaleTest, EightWritersAndAnImporterLoseNoRun) {
  {
    CHistory first;
    std::string error, notice;
    ASSERT_TRUE(first.Open(m_path, &error, &notice)) << error;
  }
  constexpr int kWriters = 8, kRunsEach = 15, kImported = 300;
  std::vector<pid_t> children;
  for (int w = 0; w <= kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid > 0) {
      children.push_back(pid);
      continue;
    }
    CHistory history;
    std::string error, notice;
    bool ok = history.Open(m_path, &error, &notice);
    if (w < kWriters) {
      for (int i = 0; ok && i < kRunsEach; ++i)
        ok = history.Add(Run("2026-12-08T09:00:00Z", "W" + std::to_string(w)), &error) != 0;
    } else {
      std::vector<ImportedRun> batch;
      for (int i = 0; ok && i < kImported; ++i) {
        batch.push_back({Run("2026-11-01T00:00:00Z", "IMPORTED"), "elsewhere"});
        batch.back().record.startTime = "2026-11-01T" + std::to_string(10 + i / 60) + ":" +
                                        (i % 60 < 10 ? "0" : "") + std::to_string(i % 60) + ":00Z";
        if (batch.size() == 50) {
          int64_t added = 0, skipped = 0;
          ok = history.Import(batch, &added, &skipped, &error) && added == 50;
          batch.clear();
        }
      }
    }
    if (!ok) std::fprintf(stderr, "child %d: %s\n", w, error.c_str());
    _exit(ok ? 0 : 1);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
  int64_t count = 0;
  ASSERT_TRUE(history.Count({}, &count, &error));
  EXPECT_EQ(count, kWriters * kRunsEach + kImported);
  for (int w = 0; w < kWriters; ++w) {
    ASSERT_TRUE(history.Count({"W" + std::to_string(w)}, &count, &error));
    EXPECT_EQ(count, kRunsEach) << w;
  }
  EXPECT_EQ(Query(m_path, "SELECT count(*) FROM records"),
            std::vector<std::string>{std::to_string(kWriters * kRunsEach + kImported)});
}

}  // namespace

namespace {

// The History window keeps a reader open while it shows its rows; deleting
// from it opens and closes a writer beside that reader, and a reload
// replaces the reader: each of them goes on working.
TEST_F(HistoryScaleTest, AReaderKeptOpenBesideWritersInOneProcess) {
  std::string error, notice;
  {
    CHistory history;
    ASSERT_TRUE(history.Open(m_path, &error, &notice)) << error;
    for (const char* mid : {"A", "B", "C", "D"})
      ASSERT_NE(history.Add(Run("2026-12-08T09:00:00Z", mid), &error), 0) << error;
  }
  auto reader = std::make_unique<CHistory>();
  ASSERT_TRUE(reader->OpenForReading(m_path, &error, &notice)) << error;
  std::vector<int64_t> ids;
  for (int64_t id = 1; id <= 3; ++id) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(reader->Ids({}, "started", false, &ids, &error)) << error;
    EXPECT_EQ(ids.size(), static_cast<size_t>(5 - id));
    {
      CHistory writer;
      ASSERT_TRUE(writer.Open(m_path, &error, &notice)) << error;
      EXPECT_TRUE(writer.Delete({id}, &error)) << error;
      // The window reloads before the writer is gone.
      reader = std::make_unique<CHistory>();
      ASSERT_TRUE(reader->OpenForReading(m_path, &error, &notice)) << error;
      ASSERT_TRUE(reader->Ids({}, "started", false, &ids, &error)) << error;
    }
    // Another program (velmo-cli) reads it meanwhile and ends: this test
    // binary again, running only the reader below.
    const pid_t child = fork();
    if (child == 0) {
      setenv("VELMO_TEST_READ_HISTORY", m_path.c_str(), 1);
      execl("/proc/self/exe", "history_tests",
            "--gtest_filter=HistoryScaleTest.AnotherProgramReadsOnce", nullptr);
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
  }
}

// The other program of the test above (run by it, with the history's path).
TEST_F(HistoryScaleTest, AnotherProgramReadsOnce) {
  const char* path = std::getenv("VELMO_TEST_READ_HISTORY");
  if (path == nullptr) GTEST_SKIP() << "run by AReaderKeptOpenBesideWritersInOneProcess";
  CHistory other;
  std::string error, notice;
  std::vector<int64_t> ids;
  ASSERT_TRUE(other.OpenForReading(path, &error, &notice)) << error;
  ASSERT_TRUE(other.Ids({}, "started", false, &ids, &error)) << error;
  EXPECT_FALSE(ids.empty());
}

}  // namespace
