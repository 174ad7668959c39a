// velmo-cli's history as a lab uses it, through the binary: a listing cut to
// its newest runs and paged, runs deleted and pruned, two computers'
// histories merged by export and import (repeatable), inputs that are no
// records refused without keeping any of them, dates that name no day
// refused, damaged runs passed over, and a history brought forward while a
// scan waits to be kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/cli_options.h"
#include "cli/record_commands.h"
#include "history/history.h"
#include "tests/cli/cli_process.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;

class HistoryCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_saved = std::getenv("XDG_DATA_HOME");
    m_dir = fs::path(::testing::TempDir()) /
            ("velmo-history-cli-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "work");
    Use("here");
  }
  void TearDown() override {
    setenv("XDG_DATA_HOME", m_saved.c_str(), 1);
    fs::remove_all(m_dir);
  }

  // Which computer's history the next commands use.
  void Use(const std::string& machine) { setenv("XDG_DATA_HOME", (m_dir / machine).c_str(), 1); }
  Finished Cli(const std::vector<std::string>& args, int in = -1) {
    SpawnOptions spawn;
    spawn.cwd = (m_dir / "work").string();
    spawn.stdinFd = in;
    return Child(args, spawn).Wait();
  }
  // A kept scan of the simulator's scenario.
  void Scan(const std::string& scenario, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--simulate=" + scenario, "--sim-latency=0", "scan",
                                     "--density", "quick"};
    args.insert(args.end(), extra.begin(), extra.end());
    const Finished run = Cli(args);
    ASSERT_TRUE(run.exited) << run.err;
  }
  std::vector<std::string> Rows(const std::string& listing) {
    std::vector<std::string> rows;
    std::istringstream in(listing);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) rows.push_back(line);
    return rows;
  }
  // Straight into the history file, as damage or another program would.
  void Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(DefaultHistoryPath().c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message != nullptr ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  }
  std::vector<std::string> Lines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  int NullInput() {
    m_null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    return m_null;
  }

  std::string m_saved;
  fs::path m_dir;
  int m_null = -1;
};

TEST_F(HistoryCommandsTest, TheListingIsCutToTheNewestRunsAndSaysWhereEachWasMade) {
  for (const char* scenario : {"dvd+r-good", "dvd+r-yuden", "dvd-r-mcc"}) Scan(scenario);
  const Finished all = Cli({"history"});
  ASSERT_EQ(all.code, 0) << all.err;
  ASSERT_EQ(Rows(all.out).size(), 3u) << all.out;
  EXPECT_NE(all.out.substr(0, all.out.find('\n')).find("  Station"), std::string::npos);
  EXPECT_EQ(Rows(all.out)[0].substr(Rows(all.out)[0].size() - LocalHostName().size()),
            LocalHostName());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"history", "-n", "2"}, {"history", "--limit=2"}}) {
    const Finished two = Cli(args);
    ASSERT_EQ(two.code, 0) << two.err;
    EXPECT_EQ(Rows(two.out), (std::vector<std::string>{Rows(all.out)[0], Rows(all.out)[1]}));
  }
  const Finished json = Cli({"history", "--json", "-n", "1", "--mid", "yuden"});
  ASSERT_EQ(json.code, 0) << json.err;
  const auto list = nlohmann::json::parse(json.out);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["manufacturerId"], "YUDEN000");
  EXPECT_EQ(list[0]["host"], LocalHostName());
  EXPECT_EQ(Cli({"history", "--json", "--mid", "KAIRO"}).out, "[]\n");
  // Paging: the filters and the order first, then the rows passed over.
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> rows;
  } pages[] = {
      {{"history", "--offset", "1", "--limit", "1"}, {Rows(all.out)[1]}},
      {{"history", "--offset=1"}, {Rows(all.out)[1], Rows(all.out)[2]}},
      {{"history", "-n", "2", "--offset", "2"}, {Rows(all.out)[2]}},
      {{"history", "--offset", "3"}, {}},
      {{"history", "--offset", "0", "-n", "1"}, {Rows(all.out)[0]}},
  };
  for (const auto& page : pages) {
    const Finished paged = Cli(page.args);
    EXPECT_EQ(paged.code, 0) << paged.err;
    EXPECT_EQ(Rows(paged.out), page.rows) << paged.out;
  }
  const auto second = nlohmann::json::parse(Cli({"history", "--json", "--offset", "1"}).out);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0]["id"], 2);
  const Finished exportPage = Cli({"history", "export", "--offset", "2"});
  EXPECT_EQ(exportPage.code, 0) << exportPage.err;
  EXPECT_EQ(nlohmann::json::parse(exportPage.out)["id"], 1) << exportPage.out;
  for (const char* bad : {"-1", "x", ""}) {
    const Finished refused = Cli({"history", "--offset", bad});
    EXPECT_EQ(refused.code, kExitUsage) << bad;
    EXPECT_NE(refused.err.find("--offset needs a number of runs"), std::string::npos)
        << refused.err;
  }
  for (const char* bad : {"0", "-3", "ten"}) {
    const Finished refused = Cli({"history", "--limit", bad});
    EXPECT_EQ(refused.code, kExitUsage) << bad;
    EXPECT_NE(refused.err.find("--limit needs a number of runs"), std::string::npos) << refused.err;
  }
}

TEST_F(HistoryCommandsTest, DeleteAndPruneRemoveWhatTheyNameOnly) {
  for (const char* scenario : {"dvd+r-good", "dvd+r-yuden", "dvd-r-mcc"}) Scan(scenario);
  const Finished deleted = Cli({"history", "delete", "2"});
  EXPECT_EQ(deleted.code, 0) << deleted.err;
  EXPECT_EQ(deleted.out, "deleted 1 run\n");
  EXPECT_EQ(Cli({"history", "--json"}).out.find("\"id\": 2,"), std::string::npos);
  const Finished unknown = Cli({"history", "delete", "1", "2"});
  EXPECT_EQ(unknown.code, 66);
  EXPECT_EQ(unknown.err, "velmo-cli: nothing deleted: no run 2 in the history\n");
  EXPECT_EQ(Rows(Cli({"history"}).out).size(), 2u) << "run 1 stays: all or none";
  Scan("dvd+r-good");
  const Finished twice = Cli({"history", "delete", "4", "4"});
  EXPECT_EQ(twice.code, 0) << twice.err;
  EXPECT_EQ(twice.out, "deleted 1 run\n");
  EXPECT_EQ(Cli({"history", "delete", "one"}).code, kExitUsage);
  EXPECT_EQ(Cli({"history", "delete"}).code, kExitUsage);

  // Not on a terminal, prune asks for --yes rather than reading an answer.
  const Finished unasked = Cli({"history", "prune", "--before", "2100-01-01"}, NullInput());
  EXPECT_EQ(unasked.code, kExitUsage);
  EXPECT_NE(unasked.err.find("give --yes"), std::string::npos) << unasked.err;
  EXPECT_EQ(Rows(Cli({"history"}).out).size(), 2u);
  const Finished bad = Cli({"history", "prune", "--before", "last week", "--yes"});
  EXPECT_EQ(bad.code, kExitUsage);
  EXPECT_NE(bad.err.find("today, yesterday or Nd, not 'last week'"), std::string::npos) << bad.err;
  // The dates --since takes: the runs made just now are not before them.
  for (const char* kept : {"2000-01-01", "yesterday", "today", "7d"}) {
    const Finished none = Cli({"history", "prune", "--before", kept, "--yes"});
    EXPECT_EQ(none.out, "removed 0 runs\n") << kept << none.err;
  }
  const Finished pruned = Cli({"history", "prune", "--before=2100-01-01", "--yes"});
  EXPECT_EQ(pruned.code, 0) << pruned.err;
  EXPECT_EQ(pruned.out, "removed 2 runs\n");
  EXPECT_TRUE(Rows(Cli({"history"}).out).empty());
  close(m_null);
}

// Two computers' histories gathered into a third, twice over, and once more
// through a pipe: each run once, with its own time, drive, host and record.
TEST_F(HistoryCommandsTest, HistoriesOfSeveralComputersMergeAndMergingAgainAddsNothing) {
  Use("lab-1");
  Scan("dvd+r-yuden");
  Scan("dvd+rdl-mkm");
  Use("lab-2");
  Scan("dvd-r-mcc", {"--json", "mcc.json"});
  for (const char* machine : {"lab-1", "lab-2"}) {
    Use(machine);
    const Finished exported =
        Cli({"history", "export", "-o", (m_dir / (std::string(machine) + ".jsonl")).string()});
    ASSERT_EQ(exported.code, 0) << exported.err;
  }
  std::ifstream lines(m_dir / "lab-1.jsonl");
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const auto run = nlohmann::json::parse(line);
    EXPECT_EQ(run["host"], LocalHostName());
    EXPECT_EQ(run["record"]["format"], "velmo-scan");
  }
  EXPECT_EQ(count, 2);
  // The exported hosts stand for other computers.
  const std::string lab2 = (m_dir / "lab-2.jsonl").string();
  {
    std::ifstream in(lab2);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::string host = "\"host\":" + nlohmann::json(LocalHostName()).dump();
    text.replace(text.find(host), host.size(), "\"host\":\"lab-2\"");
    std::ofstream(lab2) << text;
  }

  Use("office");
  const std::string lab1 = (m_dir / "lab-1.jsonl").string();
  const Finished first = Cli({"history", "import", lab1, lab2});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.out, "imported 3 runs, 0 already in the history\n");
  const Finished again = Cli({"history", "import", lab2, lab1});
  EXPECT_EQ(again.out, "imported 0 runs, 3 already in the history\n");
  const int piped = open(lab1.c_str(), O_RDONLY | O_CLOEXEC);
  const Finished fromPipe = Cli({"history", "import", "-"}, piped);
  close(piped);
  EXPECT_EQ(fromPipe.out, "imported 0 runs, 2 already in the history\n") << fromPipe.err;
  const Finished recordFile = Cli({"history", "import", "mcc.json"});
  EXPECT_EQ(recordFile.out, "imported 0 runs, 1 already in the history\n") << recordFile.err;

  const Finished listed = Cli({"history", "--json"});
  const auto list = nlohmann::json::parse(listed.out);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]["manufacturerId"], "MCC 03");
  EXPECT_EQ(list[0]["host"], "lab-2");
  EXPECT_EQ(list[2]["host"], LocalHostName());
  // The record itself came across: the office shows lab 2's run as lab 2 does.
  Use("lab-2");
  const std::string original = Cli({"show", "1", "--json"}).out;
  Use("office");
  EXPECT_EQ(Cli({"show", std::to_string(list[0]["id"].get<int>()), "--json"}).out, original);
}

// Inputs that are not all records: refused with where, exit 65 (66 for what
// cannot be read at all), and not one of their runs is kept, not even those
// before the bad line or in the files before it.
TEST_F(HistoryCommandsTest, AnInputThatIsNotAllRecordsImportsNothing) {
  Use("lab-1");
  Scan("dvd+r-yuden");
  const std::string good = (m_dir / "good.jsonl").string();
  ASSERT_EQ(Cli({"history", "export", "-o", good}).code, 0);
  std::string line;
  std::getline(std::ifstream(good) >> std::ws, line);
  Use("office");
  const struct {
    const char* name;
    std::string text;
    const char* says;
  } cases[] = {
      {"cut.jsonl", line + "\n" + line.substr(0, line.size() / 2) + "\n", "cut.jsonl:2: not JSON"},
      {"other.jsonl", line + "\n{\"id\":3,\"host\":\"x\",\"record\":{\"format\":\"other\"}}\n",
       "other.jsonl:2: "},
      {"host.jsonl", "{\"host\":7,\"record\":{}}\n", "host.jsonl:1: not a scan record"},
      {"empty.jsonl", "", "empty.jsonl: empty, not a scan record"},
      {"deep.jsonl", std::string(5000, '[') + std::string(5000, ']') + "\n", "deep.jsonl"},
  };
  for (const auto& c : cases) {
    std::ofstream(m_dir / "work" / c.name) << c.text;
    const Finished refused = Cli({"history", "import", good, c.name});
    EXPECT_EQ(refused.code, 65) << c.name << refused.err;
    EXPECT_NE(refused.err.find(c.says), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("nothing imported"), std::string::npos) << refused.err;
  }
  EXPECT_TRUE(Rows(Cli({"history"}).out).empty());
  ASSERT_EQ(mkfifo((m_dir / "work" / "fifo").c_str(), 0600), 0);
  const Finished fifo = Cli({"history", "import", "fifo"});
  EXPECT_EQ(fifo.code, 66) << fifo.err;
  EXPECT_NE(fifo.err.find("is a FIFO"), std::string::npos) << fifo.err;
  EXPECT_EQ(Cli({"history", "import", "missing.jsonl"}).code, 66);
  EXPECT_EQ(Cli({"history", "import", "--host"}).code, kExitUsage);
  EXPECT_TRUE(Rows(Cli({"history"}).out).empty());
  EXPECT_EQ(Cli({"history", "import", good}).out, "imported 1 run, 0 already in the history\n");
}

// A date that names no day (31 February, 24:61) was carried into the next
// month: prune --before 2025-02-31 removed the runs of 1 to 3 March. Every
// place that takes a date refuses it (64), and import refuses a record
// whose start time is such a date as a broken record (65).
TEST_F(HistoryCommandsTest, DatesThatNameNoDayAreRefusedAndChangeNothing) {
  Scan("dvd+r-yuden");
  const std::string exported = (m_dir / "one.jsonl").string();
  ASSERT_EQ(Cli({"history", "export", "-o", exported}).code, 0);
  auto line = nlohmann::json::parse(Lines(exported).at(0));
  // Kept as a run of 1 March 2025, and as one of an impossible day.
  Use("office");
  line["record"]["startTime"] = "2025-03-01T12:00:00+00:00";
  std::ofstream(m_dir / "work" / "march.jsonl") << line.dump() << "\n";
  ASSERT_EQ(Cli({"history", "import", "march.jsonl"}).code, 0);
  line["record"]["startTime"] = "2025-02-31T12:00:00+00:00";
  std::ofstream(m_dir / "work" / "bad.jsonl") << line.dump() << "\n";
  const Finished imported = Cli({"history", "import", "bad.jsonl"});
  EXPECT_EQ(imported.code, kExitBadRecord) << imported.err;
  EXPECT_NE(imported.err.find("bad.jsonl:1: startTime 2025-02-31T12:00:00+00:00 is no time: "
                              "February 2025 has 28 days; nothing imported"),
            std::string::npos)
      << imported.err;

  const struct {
    std::vector<std::string> args;
    const char* says;
  } refused[] = {
      {{"history", "prune", "--before", "2025-02-31", "--yes"},
       "--before 2025-02-31 is no date: February 2025 has 28 days"},
      {{"history", "prune", "--before=2026-02-31T00:00:00Z", "--yes"},
       "--before 2026-02-31T00:00:00Z is no date: February 2026 has 28 days"},
      {{"history", "--since", "2025-02-30"}, "--since 2025-02-30 is no date"},
      {{"history", "--since", "2025-03-01T24:61:00Z"}, "there is no hour 24"},
      {{"history", "export", "--since", "2025-13-01"}, "there is no month 13"},
  };
  for (const auto& c : refused) {
    const Finished run = Cli(c.args);
    EXPECT_EQ(run.code, kExitUsage) << c.says << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Rows(Cli({"history"}).out).size(), 1u) << "the run of 1 March is kept";
  const Finished pruned = Cli({"history", "prune", "--before", "2025-02-28", "--yes"});
  EXPECT_EQ(pruned.out, "removed 0 runs\n") << pruned.err;
}

// One damaged stored record (one that does not inflate, one that claims a
// length no record has) made export write nothing, and compare and report
// stop at it: every readable run goes out, each damaged one is named with
// why, and the exit code is 65.
TEST_F(HistoryCommandsTest, DamagedRunsAreNamedAndTheOthersStillGoOut) {
  for (const char* scenario : {"dvd+r-good", "dvd+r-yuden", "dvd-r-mcc", "dvd+r-good"})
    Scan(scenario);
  Sql("UPDATE records SET data = substr(data, 1, 40) WHERE id = 2");
  Sql("UPDATE records SET data = X'7fffffff00' WHERE id = 3");
  const char* run2 = "run 2: stored record damaged";
  const char* run3 = "run 3: stored record claims 2147483647 bytes";

  const Finished toFile = Cli({"history", "export", "-o", "all.jsonl"});
  EXPECT_EQ(toFile.code, kExitBadRecord) << toFile.err;
  const Finished toStdout = Cli({"history", "export"});
  EXPECT_EQ(toStdout.code, kExitBadRecord) << toStdout.err;
  for (const Finished* run : {&toFile, &toStdout}) {
    EXPECT_NE(run->err.find(run2), std::string::npos) << run->err;
    EXPECT_NE(run->err.find(run3), std::string::npos) << run->err;
  }
  std::vector<int64_t> ids;
  for (const std::string& line : Lines(m_dir / "work" / "all.jsonl"))
    ids.push_back(nlohmann::json::parse(line)["id"]);
  EXPECT_EQ(ids, (std::vector<int64_t>{4, 1}));
  EXPECT_EQ(std::count(toStdout.out.begin(), toStdout.out.end(), '\n'), 2) << toStdout.out;

  const Finished compared = Cli({"compare", "1", "2", "3", "4"});
  EXPECT_EQ(compared.code, kExitBadRecord) << compared.err;
  EXPECT_NE(compared.err.find(run2), std::string::npos) << compared.err;
  EXPECT_NE(compared.err.find(run3), std::string::npos) << compared.err;
  const std::string header = compared.out.substr(0, compared.out.find('\n'));
  EXPECT_NE(header.find("#1"), std::string::npos) << header;
  EXPECT_NE(header.find("#4"), std::string::npos) << header;
  EXPECT_EQ(header.find("#2"), std::string::npos) << header;

  const Finished reported = Cli({"report", "1", "3", "4", "--html", "r.html"});
  EXPECT_EQ(reported.code, kExitBadRecord) << reported.err;
  EXPECT_NE(reported.err.find(run3), std::string::npos) << reported.err;
  EXPECT_TRUE(fs::exists(m_dir / "work" / "r.html"));
  // Nothing readable left: nothing compared or written.
  EXPECT_EQ(Cli({"compare", "2", "3"}).code, kExitBadRecord);
  EXPECT_EQ(Cli({"report", "2", "--pdf", "none.pdf"}).code, kExitBadRecord);
  EXPECT_FALSE(fs::exists(m_dir / "work" / "none.pdf"));
  EXPECT_EQ(Rows(Cli({"history"}).out).size(), 4u);
}

// A history of the previous version is brought forward by the first program
// that writes it, which says so as it starts (a large one takes seconds);
// a run that ends while another program holds the history waits for it
// rather than being lost. The hold is longer than the five seconds a
// writer used to wait.
TEST_F(HistoryCommandsTest, AMigrationIsSaidAndARunEndingMeanwhileIsKept) {
  fs::create_directories(m_dir / "here" / "velmo");
  fs::copy_file(std::string(velmo_test::SourceDir()) + "/tests/history/data/history-v1.sqlite",
                DefaultHistoryPath());
  const Finished first = Cli({"history"});
  EXPECT_EQ(first.code, 0) << first.err;
  const size_t before = Rows(first.out).size();
  const std::string says = "velmo-cli: updating the history at " + DefaultHistoryPath() +
                           " to version " + std::to_string(kHistoryVersion) + " (" +
                           std::to_string(before) + " runs)...\n";
  EXPECT_EQ(first.err, says);
  EXPECT_EQ(Cli({"history"}).err, "") << "said once, when it is done";

  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(DefaultHistoryPath().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
  SpawnOptions spawn;
  spawn.cwd = (m_dir / "work").string();
  Child scan({"--simulate", "--sim-latency=0", "scan", "--density", "quick"}, spawn);
  // Its last sample shown, the run is about to be kept: from there the
  // history stays held for longer than the five seconds a writer used to
  // wait.
  const fs::path progress = m_dir / "work.out";
  for (int i = 0; i < 3000 && ReadAll(progress.string()).find("12/12") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::seconds(6));
  ASSERT_EQ(sqlite3_exec(holder, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(holder);
  const Finished scanned = scan.Wait();
  EXPECT_NE(scanned.out.find("12/12"), std::string::npos) << scanned.out;
  EXPECT_EQ(scanned.code, 0) << scanned.err;
  EXPECT_EQ(scanned.err.find("not kept"), std::string::npos) << scanned.err;
  EXPECT_EQ(Rows(Cli({"history"}).out).size(), before + 1);
}

}  // namespace
