// SIGTERM, SIGINT and SIGHUP to the window in the middle of a scan, sent to
// the real velmo on the simulator under a real display: it closes as the
// close box closes it (the pending command returns, the drive leaves its
// diagnostic mode, the run is kept as stopped, the log's lock goes) and
// exits 128 + the signal, rather than dying at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/run_choices.h"
#include "results/history.h"
#include "session/run_lock.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t SampleLines(const std::string& log) {
  size_t lines = 0;
  for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  return lines > 0 ? lines - 1 : 0;  // the heading
}

std::string LastCdb(const std::string& trace) {
  static const std::regex cdb("cdb=\\[([0-9A-F ]+)\\]");
  std::string last;
  for (auto it = std::sregex_iterator(trace.begin(), trace.end(), cdb);
       it != std::sregex_iterator(); ++it)
    last = (*it)[1];
  return last;
}

class SignalCloseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "/velmo-signal-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    // The window's own settings and history, in the scratch folder.
    setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_dir + "/data").c_str(), 1);
    RunChoices choices;
    choices.autostart = true;  // the run starts with no click
    std::string error;
    ASSERT_TRUE(SaveRunChoices(RunChoicesPath(), choices, &error)) << error;
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // velmo in folder, started; -1 when it could not be.
  pid_t StartVelmo(const std::string& folder) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(folder.c_str()) != 0) _exit(120);
      execl(VELMO_APP_BINARY, "velmo", "--simulate", "--sim-latency=100", "--trace=trace.txt",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  std::string m_dir;
};

TEST_F(SignalCloseTest, ASignalMidScanClosesTheWindowAsTheCloseBoxDoes) {
  int runs = 0;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sigabbrev_np(signal));
    const std::string folder = m_dir + "/" + sigabbrev_np(signal);
    fs::create_directory(folder);
    const pid_t velmo = StartVelmo(folder);
    ASSERT_GT(velmo, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (SampleLines(ReadAll(folder + "/TEFE.txt")) < 3 &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const size_t before = SampleLines(ReadAll(folder + "/TEFE.txt"));
    kill(velmo, signal);
    int status = 0;
    pid_t ended = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((ended = waitpid(velmo, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ended == 0) {
      kill(velmo, SIGKILL);
      waitpid(velmo, &status, 0);
      FAIL() << "velmo did not end after the signal";
    }
    ASSERT_GE(before, 3u) << "the scan never got going";
    ++runs;
    // Ended by itself with the code, not killed by the signal.
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    EXPECT_EQ(LastCdb(ReadAll(folder + "/trace.txt")).substr(0, 5), "FD F2") << "leave sent last";
    const std::string log = ReadAll(folder + "/TEFE.txt");
    EXPECT_LT(SampleLines(log), 58u) << "stopped before its end";
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n") << "whole lines";

    CRunLock next;
    EXPECT_EQ(next.TakeLog(folder + "/TEFE.txt"), CRunLock::Result::kTaken) << "the lock went";
    next.Release();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"TEFE.txt", "trace.txt"}));
  }

  // Each run kept, as stopped.
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
  std::vector<HistoryEntry> entries;
  ASSERT_TRUE(history.List(HistoryFilter{}, &entries, &error)) << error;
  ASSERT_EQ(static_cast<int>(entries.size()), runs);
  for (const HistoryEntry& entry : entries) EXPECT_EQ(entry.outcome, RunOutcome::kAborted);
}

}  // namespace
