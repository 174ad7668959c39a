// velmo RECORD.json, as a file manager starts it: the real velmo on the
// simulator shows the record under its title while the drive's disc is
// found beneath it, sends no sample command for it, and a record it cannot
// read is said in a box rather than refused on the command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "records/scan_record.h"
#include "tests/app/x11_map_state.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Titled(const CX11MapState& x, const std::string& part) {
  for (const std::string& title : x.MappedTitles()) {
    if (title.find(part) != std::string::npos) return true;
  }
  return false;
}

bool WaitTitled(const CX11MapState& x, const std::string& part, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (Titled(x, part)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

ScanRecord Recorded() {
  ScanRecord r;
  r.program = "velmo-cli";
  r.programVersion = "1.0.0";
  r.startTime = "2026-12-08T02:10:00+00:00";
  r.durationSeconds = 61;
  r.disc = {
      "DVD+R",
      "MCC 004",
      std::nullopt,
      "000",
      "4488.0 MB",
      2086912,
      {WriteSpeedOfEntry("16X => (22160 Kb/Sec)  "), WriteSpeedOfEntry(" 8X => (11080 Kb/Sec)  ")}};
  r.settings = {"16X", 19, "normal", 49152, 500, 450};
  for (int32_t lba = 0; lba < 2086912; lba += 49152)
    r.samples.push_back({lba, lba + 0x30000, 0, 280, 210, true});
  r.outcome = RunOutcome::kOk;
  r.verdict = "This disc is ok for writing under this speed setting.";
  return r;
}

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_dir.empty());
    setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_dir + "/data").c_str(), 1);
    ASSERT_TRUE(m_x.Connected());
  }

  pid_t StartVelmo(const std::string& record) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(m_dir.c_str()) != 0) _exit(120);
      execl(velmo_test::AppBinary(), "velmo", "--simulate", "--no-history", "--trace=trace.txt",
            record.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  // SIGTERM, as the signal test shows it closes; its exit status.
  int Close(pid_t velmo) {
    kill(velmo, SIGTERM);
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
      if (waitpid(velmo, &status, WNOHANG) == velmo) return status;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(velmo, SIGKILL);
    waitpid(velmo, &status, 0);
    return -1;
  }

  ScratchFolder m_scratch{"velmo-record-file"};
  const std::string m_dir = m_scratch.Path();
  CX11MapState m_x;
};

TEST_F(RecordFileTest, TheRecordGivenIsShownAndStaysOverTheDrivesDisc) {
  std::ofstream(m_dir + "/Disc 7 before burning.json") << WriteRecordJson(Recorded());
  const pid_t velmo = StartVelmo("Disc 7 before burning.json");
  ASSERT_GT(velmo, 0);
  EXPECT_TRUE(WaitTitled(m_x, "recorded run (Disc 7 before burning.json)", 20));
  // The simulator's disc lands and is identified beneath the view.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadAll(m_dir + "/trace.txt").find("cdb=[AD") == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(Titled(m_x, "recorded run (Disc 7 before burning.json)"));
  const std::string trace = ReadAll(m_dir + "/trace.txt");
  EXPECT_NE(trace.find("cdb=[AD"), std::string::npos) << "the disc was never identified";
  EXPECT_EQ(trace.find("cdb=[FD FB"), std::string::npos) << "a sample was taken";
  const int status = Close(velmo);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

TEST_F(RecordFileTest, ARecordThatCannotBeReadIsSaidInABox) {
  const pid_t velmo = StartVelmo("no-such-record.json");
  ASSERT_GT(velmo, 0);
  // The box has the application's name as its title; the window stays
  // under its own.
  EXPECT_TRUE(WaitTitled(m_x, "Velmo Version 1.0", 20));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool box = false;
  while (!box && std::chrono::steady_clock::now() < until) {
    for (const std::string& title : m_x.MappedTitles()) box = box || title == "Velmo";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(box);
  EXPECT_FALSE(Titled(m_x, "recorded run"));
  const int status = Close(velmo);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

}  // namespace
