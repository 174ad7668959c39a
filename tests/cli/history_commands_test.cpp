// velmo-cli's history as a lab uses it, through the binary: a listing cut to
// its newest runs, runs deleted and pruned, two computers' histories merged
// by export and import (repeatable), and inputs that are no records refused
// without keeping any of them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "results/history.h"
#include "tests/cli/cli_process.h"

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
  EXPECT_NE(all.out.substr(0, all.out.find('\n')).find("  Host"), std::string::npos);
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

}  // namespace
