// The run locks between processes: a lock held by another process is
// refused with its pid, and free again once that process lets go or dies;
// a log's lock follows the file whatever its name, a drive's the device
// node; a lock that cannot be trusted or made refuses the run with its
// reason, and a lock file of another user is used but never written.
#include "session/run_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "tests/support/read_only_folder.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

using Taker = std::function<CRunLock::Result(CRunLock&)>;

Taker Log(const std::string& path) {
  return [path](CRunLock& lock) { return lock.TakeLog(path); };
}
Taker File(const std::string& path) {
  return [path](CRunLock& lock) { return lock.Take(path); };
}

// A child that takes the lock, says so, and lets go when *go is closed
// (or dies when killed).
pid_t HoldInChild(const Taker& take, int* go) {
  int ready[2];
  int release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(release[1]);
    {
      CRunLock lock;
      const char taken = take(lock) == CRunLock::Result::kTaken ? 'y' : 'n';
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

// What take makes of the lock in a child running as user uid in folder
// (take's paths relative to it): 't' taken, 'h' held, 'r' refused (its
// reason in *reason), 'n' not needed, 'c' a log that cannot be made.
char TakeAsUser(const std::string& folder, uid_t uid, const Taker& take, std::string* reason) {
  int answer[2];
  if (pipe(answer) != 0) return '?';
  const pid_t child = fork();
  if (child == 0) {
    close(answer[0]);
    if (!BecomeUserIn(folder, uid)) _exit(1);
    CRunLock lock;
    const CRunLock::Result result = take(lock);
    const std::string said = std::string(1, "tnhrc"[static_cast<int>(result)]) + lock.Reason();
    if (write(answer[1], said.data(), said.size()) < 0) _exit(1);
    _exit(0);
  }
  close(answer[1]);
  std::string said;
  char chunk[256];
  for (ssize_t n; (n = read(answer[0], chunk, sizeof chunk)) > 0;) said.append(chunk, n);
  close(answer[0]);
  waitpid(child, nullptr, 0);
  if (said.empty()) return '?';
  *reason = said.substr(1);
  return said[0];
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class RunLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.Path().empty());
    m_dir = m_scratch.Path();
  }
  ScratchFolder m_scratch{"velmo-lock"};
  std::string m_dir;
};

TEST_F(RunLockTest, AHeldLockIsRefusedWithItsHolderUntilItGoes) {
  struct Case {
    const char* name;
    bool log;     // else a drive's lock file
    bool killed;  // else the holder lets go
  };
  for (const Case& c :
       {Case{"log, holder lets go", true, false}, Case{"log, holder is killed", true, true},
        Case{"lock file, holder lets go", false, false},
        Case{"lock file, holder is killed", false, true}}) {
    SCOPED_TRACE(c.name);
    const std::string path = m_dir + (c.log ? "/TEFE.txt" : "/drive.lock");
    const Taker take = c.log ? Log(path) : File(path);
    int go = -1;
    const pid_t holder = HoldInChild(take, &go);
    ASSERT_GT(holder, 0);
    CRunLock second;
    EXPECT_EQ(take(second), CRunLock::Result::kHeld);
    EXPECT_EQ(second.Holder(), holder);
    EXPECT_EQ(second.Refusal("TEFE.txt"),
              "TEFE.txt is in use by another Velmo run (pid " + std::to_string(holder) + ")");
    if (c.killed) kill(holder, SIGKILL);
    close(go);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(fs::exists(path), c.killed) << "a killed holder leaves its file, unlocked";
    EXPECT_EQ(take(second), CRunLock::Result::kTaken);
    second.Release();
    // A released lock file goes; a log only when it was made for the lock.
    EXPECT_EQ(fs::exists(path), c.log && c.killed);
    fs::remove(path);
  }
}

// Another name of the log, a hard link or a symlink, is the same log: a
// second run through it is refused, and the first run's log is untouched.
TEST_F(RunLockTest, ALogIsLockedByItsFileWhateverItsName) {
  const std::string log = m_dir + "/TEFE.txt";
  std::ofstream(log) << "an earlier run\r\n";
  ASSERT_EQ(link(log.c_str(), (m_dir + "/hard.txt").c_str()), 0);
  ASSERT_EQ(symlink("TEFE.txt", (m_dir + "/soft.txt").c_str()), 0);
  fs::create_directory(m_dir + "/other");
  ASSERT_EQ(symlink((m_dir + "/TEFE.txt").c_str(), (m_dir + "/other/TEFE.txt").c_str()), 0);
  int go = -1;
  const pid_t holder = HoldInChild(Log(log), &go);
  ASSERT_GT(holder, 0);
  for (const char* name : {"/hard.txt", "/soft.txt", "/other/TEFE.txt", "/TEFE.txt"}) {
    SCOPED_TRACE(name);
    CRunLock second;
    EXPECT_EQ(second.TakeLog(m_dir + name), CRunLock::Result::kHeld);
    EXPECT_EQ(second.Holder(), holder);
  }
  close(go);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(ReadAll(log), "an earlier run\r\n")
      << "locking empties nothing, letting go removes nothing";
  EXPECT_FALSE(fs::exists(m_dir + "/TEFE.txt.lock"));
}

// A log missing until its lock is made for it, and removed again when the
// run lets go without having written it; a log the run wrote stays.
TEST_F(RunLockTest, ALogMadeForItsLockGoesWhenNoRunWroteIt) {
  const std::string log = m_dir + "/TEFE.txt";
  CRunLock lock;
  ASSERT_EQ(lock.TakeLog(log), CRunLock::Result::kTaken);
  EXPECT_TRUE(fs::is_regular_file(log));
  lock.Release();
  EXPECT_FALSE(fs::exists(log)) << "no run, no log";
  ASSERT_EQ(lock.TakeLog(log), CRunLock::Result::kTaken);
  std::ofstream(log) << "written\r\n";
  lock.Release();
  EXPECT_EQ(ReadAll(log), "written\r\n");
}

// Whoever may read a log may flock it, or take a record lock on it: that
// gives no hold over its writer. A reader's lock (this process's own, or
// another user's) does not keep a run out, while a second run still is.
TEST_F(RunLockTest, ReadingALogGivesNoHoldOverItsRuns) {
  const std::string log = m_dir + "/TEFE.txt";
  std::ofstream(log) << "an earlier run\r\n";
  ASSERT_EQ(chmod(log.c_str(), 0644), 0);
  const int reader = open(log.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(flock(reader, LOCK_EX | LOCK_NB), 0);
  struct flock record {};
  record.l_type = F_RDLCK;
  ASSERT_EQ(fcntl(reader, F_SETLK, &record), 0);
  CRunLock run;
  EXPECT_EQ(run.TakeLog(log), CRunLock::Result::kTaken) << run.Reason();
  CRunLock second;
  EXPECT_EQ(second.TakeLog(log), CRunLock::Result::kHeld);
  EXPECT_EQ(second.Holder(), getpid());
  run.Release();
  close(reader);
  if (geteuid() != 0) GTEST_SKIP() << "another user's reader needs root";
  // Another user who can read it: locks it in a child, and holds it.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t other = fork();
  if (other == 0) {
    if (!BecomeUserIn(m_dir, 65534)) _exit(1);
    const int fd = open("TEFE.txt", O_RDONLY);
    const char locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
    if (write(ready[1], &locked, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char locked = 'n';
  ASSERT_EQ(read(ready[0], &locked, 1), 1);
  close(ready[0]);
  EXPECT_EQ(locked, 'y');
  EXPECT_EQ(run.TakeLog(log), CRunLock::Result::kTaken) << run.Reason();
  run.Release();
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
  EXPECT_EQ(ReadAll(log), "an earlier run\r\n");
}

// A log that cannot be made for a reason no earlier look sees (its folder
// was removed while it was the working folder) is the log's failure, said
// as such, not a lock refused.
TEST_F(RunLockTest, ALogThatCannotBeMadeIsNotALockRefused) {
  const std::string gone = m_dir + "/gone";
  fs::create_directory(gone);
  int answer[2];
  ASSERT_EQ(pipe(answer), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(answer[0]);
    if (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) _exit(1);
    CRunLock lock;
    const CRunLock::Result result = lock.TakeLog("TEFE.txt");
    const std::string said = std::string(1, "tnhrc"[static_cast<int>(result)]) + lock.Reason();
    if (write(answer[1], said.data(), said.size()) < 0) _exit(1);
    _exit(0);
  }
  close(answer[1]);
  std::string said;
  char chunk[256];
  for (ssize_t n; (n = read(answer[0], chunk, sizeof chunk)) > 0;) said.append(chunk, n);
  close(answer[0]);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(said, "cTEFE.txt: No such file or directory");
}

TEST_F(RunLockTest, LogsWrittenInPlaceTakeNoLock) {
  ASSERT_EQ(mkfifo((m_dir + "/fifo").c_str(), 0644), 0);
  CRunLock lock;
  EXPECT_EQ(lock.TakeLog(m_dir + "/fifo"), CRunLock::Result::kNotNeeded);
  EXPECT_EQ(lock.TakeLog("-"), CRunLock::Result::kNotNeeded);
  EXPECT_EQ(lock.Take(""), CRunLock::Result::kNotNeeded);
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(DriveLockPath("sim:d:"), "");
  EXPECT_EQ(DriveLockPath(m_dir + "/fifo"), "");
}

// What another user may plant at a lock file's name in a shared folder
// refuses the run, with its reason, and nothing is written through it.
TEST_F(RunLockTest, APlantedLockFileRefusesTheRunWithItsReason) {
  const std::string victim = m_dir + "/victim";
  std::ofstream(victim) << "keep\n";
  ASSERT_EQ(symlink(victim.c_str(), (m_dir + "/symlink.lock").c_str()), 0);
  ASSERT_EQ(symlink((m_dir + "/nowhere").c_str(), (m_dir + "/dangling.lock").c_str()), 0);
  ASSERT_EQ(link(victim.c_str(), (m_dir + "/hardlink.lock").c_str()), 0);
  ASSERT_EQ(mkfifo((m_dir + "/fifo.lock").c_str(), 0644), 0);
  fs::create_directory(m_dir + "/folder.lock");
  struct Case {
    const char* name;
    const char* reason;
  };
  for (const Case& c : {Case{"/symlink.lock", "it is a symbolic link"},
                        Case{"/dangling.lock", "it is a symbolic link"},
                        Case{"/hardlink.lock", "it has 2 names (hard links)"},
                        Case{"/fifo.lock", "it is not a regular file"},
                        Case{"/folder.lock", "it is not a regular file"}}) {
    SCOPED_TRACE(c.name);
    CRunLock lock;
    EXPECT_EQ(lock.Take(m_dir + c.name), CRunLock::Result::kRefused);
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(lock.Reason().rfind("cannot lock " + m_dir + c.name + ": " + c.reason, 0), 0u)
        << lock.Reason();
    EXPECT_EQ(lock.Refusal("/dev/sr0"), lock.Reason());
  }
  EXPECT_EQ(ReadAll(victim), "keep\n");
  EXPECT_FALSE(fs::exists(m_dir + "/nowhere"));
  EXPECT_TRUE(fs::is_symlink(m_dir + "/symlink.lock")) << "not removed either";
}

// A lock file this process makes: 0644 whatever the umask (other users
// lock it too, none writes it), holding the pid.
TEST_F(RunLockTest, AMadeLockFileIsReadableByAllAndWritableByItsMaker) {
  const mode_t old = umask(077);
  CRunLock lock;
  const CRunLock::Result result = lock.Take(m_dir + "/drive.lock");
  umask(old);
  ASSERT_EQ(result, CRunLock::Result::kTaken);
  struct stat info {};
  ASSERT_EQ(stat((m_dir + "/drive.lock").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(ReadAll(m_dir + "/drive.lock"), std::to_string(getpid()) + "\n");
}

// The lock file left by another user's run that crashed, in a sticky
// folder as /run/lock is: still a lock for everyone, never written or
// removed by another user. One that user made unreadable refuses the run,
// naming its owner.
TEST_F(RunLockTest, AnotherUsersLockFileIsUsedButNeverWrittenOrRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's files need root";
  const std::string shared = m_dir + "/shared";
  fs::create_directory(shared);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  // The lock file's name as root uses it, and as the other users do.
  const std::string path = shared + "/velmo-drive-11-250.lock";
  const std::string theirs = "shared/velmo-drive-11-250.lock";
  std::string reason;
  // A run of user 65534 that crashed: its file stays.
  int answer[2];
  ASSERT_EQ(pipe(answer), 0);
  const pid_t crashed = fork();
  if (crashed == 0) {
    if (!BecomeUserIn(m_dir, 65534)) _exit(1);
    CRunLock lock;
    const char taken = lock.Take(theirs) == CRunLock::Result::kTaken ? 'y' : 'n';
    if (write(answer[1], &taken, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char taken = 'n';
  ASSERT_EQ(read(answer[0], &taken, 1), 1);
  close(answer[0]);
  close(answer[1]);
  kill(crashed, SIGKILL);
  waitpid(crashed, nullptr, 0);
  ASSERT_EQ(taken, 'y');
  const std::string left = ReadAll(path);
  EXPECT_EQ(TakeAsUser(m_dir, 65533, File(theirs), &reason), 't') << reason;
  CRunLock asRoot;
  EXPECT_EQ(asRoot.Take(path), CRunLock::Result::kTaken);
  // Held by root now: the other user is refused as by any run.
  EXPECT_EQ(TakeAsUser(m_dir, 65533, File(theirs), &reason), 'h') << reason;
  asRoot.Release();
  EXPECT_EQ(ReadAll(path), left) << "never written by another user";
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0) << "never removed by another user";
  EXPECT_EQ(info.st_uid, 65534u);

  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(TakeAsUser(m_dir, 65533, File(theirs), &reason), 'r');
  EXPECT_EQ(reason, "cannot lock " + theirs +
                        ": Permission denied (it belongs to user 65534; that user or root can "
                        "remove it)");
}

// A folder where no lock file can be made refuses the run: it never goes on
// unlocked.
TEST_F(RunLockTest, AFolderThatTakesNoLockFileRefusesTheRun) {
  ReadOnlyFolder folder(m_dir + "/ro");
  if (folder.Path().empty()) GTEST_SKIP() << "no read-only folder can be made here";
  CRunLock lock;
  EXPECT_EQ(lock.Take(folder.Path() + "/drive.lock"), CRunLock::Result::kRefused);
  const std::string why = geteuid() == 0 ? "Read-only file system" : "Permission denied";
  EXPECT_EQ(lock.Reason(), "cannot lock " + folder.Path() + "/drive.lock: " + why);
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
  const pid_t holder = HoldInChild(File(lockPath), &go);
  ASSERT_GT(holder, 0);
  CRunLock second;
  EXPECT_EQ(second.Take(DriveLockPath(m_dir + "/sr-b")), CRunLock::Result::kHeld);
  EXPECT_EQ(second.Holder(), holder);
  close(go);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(second.Take(lockPath), CRunLock::Result::kTaken);
}

}  // namespace
