// The window's account of its runs, without a display: each run kept in a
// real history once, with what it took; the history failure said once; no
// history at all with --no-history; the report of every run; the recorded
// run shown.
#include "app/run_book.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console/smart_scan.h"
#include "history/history.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

RunStart Start() {
  RunStart start;
  start.program = "velmo";
  start.startTime = "2026-12-08T10:00:00+00:00";
  start.disc.type = "DVD+R";
  start.disc.manufacturerId = "NOVADISC";
  return start;
}

std::vector<ScanSample> Samples(int count) {
  std::vector<ScanSample> samples;
  for (int i = 0; i < count; ++i) samples.push_back({i * 49152, 0x30000 + i * 49152, 300, 250});
  return samples;
}

std::vector<HistoryEntry> Kept(const std::string& path) {
  CHistory history;
  std::string error, notice;
  std::vector<HistoryEntry> entries;
  EXPECT_TRUE(history.Open(path, &error, &notice)) << error;
  EXPECT_TRUE(history.List(HistoryFilter{}, &entries, &error)) << error;
  return entries;
}

class RunBookTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch.Path().empty()); }
  ScratchFolder scratch{"velmo-run-book"};
  const std::string historyPath = scratch.Path() + "/history.db";
};

TEST_F(RunBookTest, ARunIsKeptOnceWithWhatItTookAndANewRunForgetsIt) {
  CRunBook book(historyPath);
  EXPECT_FALSE(book.LastRun(nullptr, nullptr)) << "no run yet";
  EXPECT_TRUE(book.Kept()) << "nothing waits to be kept";

  book.Begin(Start(), 0, nullptr);
  EXPECT_FALSE(book.Kept());
  book.SetElapsed(7);
  // Going on: the record is what the worker has taken so far.
  const std::vector<ScanSample> soFar = Samples(3);
  const RunEnd going;
  const std::optional<ScanRecord> running = book.LastRun(&soFar, &going);
  ASSERT_TRUE(running);
  EXPECT_EQ(running->samples.size(), 3u);
  EXPECT_EQ(running->durationSeconds, 7);
  EXPECT_FALSE(fs::exists(historyPath)) << "nothing kept before the run ends";

  RunEnd ended;
  ended.outcome = RunOutcome::kOk;
  book.Keep(Samples(5), ended);
  book.Keep(Samples(9), ended);  // a second report of the same run
  EXPECT_TRUE(book.Kept());
  const std::vector<HistoryEntry> entries = Kept(historyPath);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].outcome, RunOutcome::kOk);
  EXPECT_EQ(entries[0].manufacturerId, "NOVADISC");
  // Once kept, the record no longer follows the worker.
  const std::optional<ScanRecord> last = book.LastRun(&soFar, &going);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->samples.size(), 5u);
  EXPECT_EQ(last->outcome, RunOutcome::kOk);
  EXPECT_TRUE(book.TakeProblem().empty());

  // The next START: the last record goes until that run hands out its own.
  book.Begin(Start(), 0, nullptr);
  EXPECT_FALSE(book.LastRun(nullptr, nullptr));
  book.Keep(Samples(2), ended);
  EXPECT_EQ(Kept(historyPath).size(), 2u);
}

TEST_F(RunBookTest, WithoutAHistoryTheRecordStaysAndNothingIsWritten) {
  CRunBook book("");
  book.Begin(Start(), 0, nullptr);
  RunEnd stopped;
  book.Keep(Samples(4), stopped);
  ASSERT_TRUE(book.LastRun(nullptr, nullptr));
  EXPECT_EQ(book.LastRun(nullptr, nullptr)->outcome, RunOutcome::kAborted);
  book.KeepSmartRun(Start(), {}, {}, 3);
  EXPECT_TRUE(fs::is_empty(scratch.Path()));
  EXPECT_TRUE(book.Problem().empty());
}

// A history that cannot be opened: said once beside the run's ending, and
// the runs after it do not say it again.
TEST_F(RunBookTest, AHistoryThatCannotBeWrittenIsSaidOnce) {
  std::ofstream(scratch.Path() + "/file") << "not a folder";
  CRunBook book(scratch.Path() + "/file/history.db");
  RunEnd ended;
  for (int run = 0; run < 2; ++run) {
    book.Begin(Start(), 0, nullptr);
    book.Keep(Samples(1), ended);
  }
  const std::string problem = book.TakeProblem();
  EXPECT_EQ(problem.rfind("history not kept: ", 0), 0u) << problem;
  EXPECT_GT(problem.size(), std::string("history not kept: ").size());
  EXPECT_TRUE(book.TakeProblem().empty());
  EXPECT_EQ(book.Problem(), problem);
  // A later failure is not news either.
  book.Begin(Start(), 0, nullptr);
  book.Keep(Samples(1), ended);
  EXPECT_TRUE(book.TakeProblem().empty());
}

// A Smart Scan after a scan is the last run (Export reports it, not the
// scan before it); another disc in the drive leaves no last run, except
// for a run still going.
TEST_F(RunBookTest, ASmartScanIsKeptAsOneAndIsTheLastRunUntilTheDiscChanges) {
  CRunBook book(historyPath);
  book.Begin(Start(), 0, nullptr);
  RunEnd ended;
  ended.outcome = RunOutcome::kOk;
  book.Keep(Samples(5), ended);
  book.KeepSmartRun(Start(), {kSpeed8X, kSpeed4X}, {}, 12);
  const std::vector<HistoryEntry> entries = Kept(historyPath);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, RecordKind::kSmart);
  const std::vector<ScanSample> worker = Samples(5);
  const std::optional<ScanRecord> last = book.LastRun(&worker, &ended);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->kind, RecordKind::kSmart);
  EXPECT_EQ(last->durationSeconds, 12);

  book.ForgetLastRun();
  EXPECT_FALSE(book.LastRun(&worker, &ended)) << "the finished worker's run is another disc's";
  book.Begin(Start(), 0, nullptr);
  book.ForgetLastRun();
  const std::optional<ScanRecord> going = book.LastRun(&worker, &ended);
  ASSERT_TRUE(going);
  EXPECT_EQ(going->samples.size(), 5u);
}

TEST_F(RunBookTest, TheReportOfEveryRunIsAPdfInTheFolder) {
  CRunBook book(historyPath);
  book.Begin(Start(), 0, nullptr);
  RunEnd ended;
  ended.outcome = RunOutcome::kOk;
  book.Keep(Samples(5), ended);
  const std::string folder = scratch.Path() + "/reports";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  std::string error;
  ASSERT_TRUE(CRunBook::WriteReport(folder, *book.LastRun(nullptr, nullptr), &error)) << error;
  std::vector<fs::path> written;
  for (const auto& entry : fs::directory_iterator(folder)) written.push_back(entry.path());
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].extension(), ".pdf");
  std::ifstream in(written[0], std::ios::binary);
  std::string head(5, '\0');
  in.read(head.data(), 5);
  EXPECT_EQ(head, "%PDF-");

  // A folder that cannot be: the error to say beside the run's status.
  std::ofstream(scratch.Path() + "/file") << "not a folder";
  error.clear();
  EXPECT_FALSE(CRunBook::WriteReport(scratch.Path() + "/file/reports",
                                     *book.LastRun(nullptr, nullptr), &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(RunBookTest, TheRecordedRunShownEndsOnce) {
  CRunBook book(historyPath);
  EXPECT_FALSE(book.EndShow());
  ScanRecord record;
  record.verdict = "shown";
  book.Show(record);
  EXPECT_TRUE(book.Showing());
  EXPECT_EQ(book.Shown().verdict, "shown");
  EXPECT_TRUE(book.EndShow());
  EXPECT_FALSE(book.Showing());
  EXPECT_FALSE(book.EndShow());
}

}  // namespace
