// The run locks between processes: a lock held by another process is
// refused with its pid, and free again once that process lets go or dies;
// a drive's lock file follows the device node, not its name.
#include "session/run_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// A child that takes the lock, says so, and lets go when *go is closed
// (or dies when killed).
pid_t HoldInChild(const std::string& lockPath, int* go) {
  int ready[2];
  int release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(release[1]);
    {
      CRunLock lock;
      const char taken = lock.Take(lockPath) == CRunLock::Result::kTaken ? 'y' : 'n';
      if (write(ready[1], &taken, 1) != 1) _exit(1);
      char byte;
      while (read(release[0], &byte, 1) > 0) {
      }
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  *go = release[1];
  char taken = 'n';
  const bool ok = read(ready[0], &taken, 1) == 1 && taken == 'y';
  close(ready[0]);
  if (!ok) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
  }
  return child;
}

class RunLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "/velmo-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string m_dir;
};

TEST_F(RunLockTest, AHeldLockIsRefusedWithItsHolderUntilItGoes) {
  struct Case {
    const char* name;
    bool killed;  // else the holder lets go
  };
  for (const Case& c : {Case{"holder lets go", false}, Case{"holder is killed", true}}) {
    SCOPED_TRACE(c.name);
    const std::string lockPath = LogLockPath(m_dir + "/TEFE.txt");
    EXPECT_EQ(lockPath, m_dir + "/TEFE.txt.lock");
    int go = -1;
    const pid_t holder = HoldInChild(lockPath, &go);
    ASSERT_GT(holder, 0);
    CRunLock second;
    EXPECT_EQ(second.Take(lockPath), CRunLock::Result::kHeld);
    EXPECT_EQ(second.Holder(), holder);
    EXPECT_EQ(DescribeHeldLock("TEFE.txt", second.Holder()),
              "TEFE.txt is in use by another Velmo run (pid " + std::to_string(holder) + ")");
    if (c.killed) kill(holder, SIGKILL);
    close(go);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(fs::exists(lockPath), c.killed) << "a killed holder leaves its file, unlocked";
    EXPECT_EQ(second.Take(lockPath), CRunLock::Result::kTaken);
    second.Release();
    EXPECT_FALSE(fs::exists(lockPath)) << "released: the file goes";
  }
}

TEST_F(RunLockTest, LogsWrittenInPlaceTakeNoLock) {
  ASSERT_EQ(mkfifo((m_dir + "/fifo").c_str(), 0644), 0);
  EXPECT_EQ(LogLockPath(m_dir + "/fifo"), "");
  EXPECT_EQ(LogLockPath("-"), "");
  EXPECT_EQ(DriveLockPath("sim:d:"), "");
  EXPECT_EQ(DriveLockPath(m_dir + "/fifo"), "");
}

// Two names of one drive node share one lock.
TEST_F(RunLockTest, ADriveIsLockedByItsNodeWhateverItsName) {
  if (geteuid() != 0) GTEST_SKIP() << "making device nodes needs root";
  const dev_t node = makedev(11, 250);  // a drive number no machine uses
  ASSERT_EQ(mknod((m_dir + "/sr-a").c_str(), S_IFBLK | 0660, node), 0);
  ASSERT_EQ(mknod((m_dir + "/sr-b").c_str(), S_IFBLK | 0660, node), 0);
  const std::string lockPath = DriveLockPath(m_dir + "/sr-a");
  ASSERT_NE(lockPath, "");
  EXPECT_NE(lockPath.find("velmo-drive-11-250.lock"), std::string::npos) << lockPath;
  EXPECT_EQ(DriveLockPath(m_dir + "/sr-b"), lockPath);
  int go = -1;
  const pid_t holder = HoldInChild(lockPath, &go);
  ASSERT_GT(holder, 0);
  CRunLock second;
  EXPECT_EQ(second.Take(DriveLockPath(m_dir + "/sr-b")), CRunLock::Result::kHeld);
  EXPECT_EQ(second.Holder(), holder);
  close(go);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(second.Take(lockPath), CRunLock::Result::kTaken);
}

}  // namespace
