// `velmo-cli recover`: a drive a killed run left in the diagnostic mode,
// with its tray locked, is taken out of both; a drive another run holds is
// not touched; a drive that refuses or fails says what it answered.
#include "cli/recover_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "commands/drive_commands.h"
#include "session/run_lock.h"
#include "simulator/sim_drive.h"
#include "tests/cli/cli_test_util.h"

namespace {

const char kLeaveLine[] = "  leave diagnostic mode (FD F2 56 4C 4D 4F 00 00 00 00 00 00): ";
const char kAllowLine[] = "  allow medium removal (1E 00 00 00 00 00): ";

// The state a SIGKILL leaves behind: drive 0 in its diagnostic mode with
// its tray locked, as a scan that was ejecting had it. The command log then
// starts empty, so it holds only what recover sent.
void LeaveInDiagnosticMode(CDriveSession& session) {
  session.Manager().SelectDrive(0);
  ASSERT_TRUE(SetDiagnosticMode(kDiagnosticEnter));
  ASSERT_TRUE(PreventMediumRemoval(true));
  for (const auto& drive : session.SimDrives()) drive->ClearCommandLog();
}

// recover on a session whose drive 0 was left in the diagnostic mode;
// lockFile stands for the lock of the supported drive's node (the
// simulator's drives have none of their own).
Captured Recover(const std::vector<std::string>& args, const std::string& lockFile,
                 const std::function<void(CDriveSession&)>& afterwards) {
  return RunCli(
      args,
      [&](CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
        LeaveInDiagnosticMode(session);
        return RunRecoverCommand(session, options, out, err, [&](const std::string& node) {
          return node == "sim:d:" ? lockFile : std::string();
        });
      },
      afterwards);
}

std::vector<std::string> SentCdbs(const CSimDrive& drive) {
  std::vector<std::string> sent;
  for (const SimLoggedCommand& command : drive.CommandLog()) sent.push_back(CdbText(command));
  return sent;
}

class RecoverCommand : public ::testing::Test {
 protected:
  TempPath m_lockFile{"recover-drive.lock"};
};

TEST_F(RecoverCommand, ADriveLeftInDiagnosticModeIsTakenOutOfItAndItsTrayFreed) {
  bool diagnostic = true;
  bool prevented = true;
  std::vector<std::string> sent;
  const Captured run =
      Recover({"--simulate", "--sim-latency=0", "recover"}, m_lockFile, [&](CDriveSession& s) {
        diagnostic = s.SimDrives()[0]->InDiagnosticMode();
        prevented = s.SimDrives()[0]->RemovalPrevented();
        sent = SentCdbs(*s.SimDrives()[0]);
      });
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "drive 0: VELMO   DVDRW VX-2016   1.02 (sim:d:)\n" + std::string(kLeaveLine) +
                         "done\n" + kAllowLine + "done\n");
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(diagnostic);
  EXPECT_FALSE(prevented);
  EXPECT_EQ(sent,
            (std::vector<std::string>{"FD F2 56 4C 4D 4F 00 00 00 00 00 00", "1E 00 00 00 00 00"}));
}

TEST_F(RecoverCommand, ADriveAnotherRunHoldsIsNotTouched) {
  CRunLock otherRun;
  ASSERT_EQ(otherRun.Take(m_lockFile), CRunLock::Result::kTaken);
  bool diagnostic = false;
  size_t sent = 1;
  const Captured run =
      Recover({"--simulate", "--sim-latency=0", "recover"}, m_lockFile, [&](CDriveSession& s) {
        diagnostic = s.SimDrives()[0]->InDiagnosticMode();
        sent = s.SimDrives()[0]->CommandLog().size();
      });
  EXPECT_EQ(run.exitCode, kExitBusy);
  EXPECT_EQ(run.err, "velmo-cli: drive 0: sim:d: is in use by another Velmo run (pid " +
                         std::to_string(getpid()) + "); it is not touched\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(sent, 0u);
  EXPECT_TRUE(diagnostic) << "the holder's run is still in it";

  // Once that run has ended, the drive is recovered.
  otherRun.Release();
  const Captured after =
      Recover({"--simulate", "--sim-latency=0", "recover"}, m_lockFile,
              [&](CDriveSession& s) { diagnostic = s.SimDrives()[0]->InDiagnosticMode(); });
  EXPECT_EQ(after.exitCode, kExitOk) << after.err;
  EXPECT_FALSE(diagnostic);
}

// A lock file that cannot be trusted (another user may plant anything in
// the lock folder) refuses the drive with its reason, as a held one does.
TEST_F(RecoverCommand, ALockFileThatCannotBeTakenLeavesTheDriveUntouched) {
  TempPath victim{"recover-victim"};
  struct Case {
    const char* name;
    std::function<bool()> plant;
    const char* reason;
  };
  for (const Case& c :
       {Case{"symlink",
             [&] { return symlink(victim.str().c_str(), m_lockFile.str().c_str()) == 0; },
             "it is a symbolic link"},
        Case{"fifo", [&] { return mkfifo(m_lockFile.str().c_str(), 0644) == 0; },
             "it is not a regular file"},
        Case{"hard link",
             [&] {
               std::FILE* made = std::fopen(victim.str().c_str(), "w");
               if (made != nullptr) std::fclose(made);
               return link(victim.str().c_str(), m_lockFile.str().c_str()) == 0;
             },
             "it has 2 names (hard links); a lock file must be a file of its own"}}) {
    SCOPED_TRACE(c.name);
    std::remove(m_lockFile.str().c_str());
    std::remove(victim.str().c_str());
    ASSERT_TRUE(c.plant());
    size_t sent = 1;
    const Captured run =
        Recover({"--simulate", "--sim-latency=0", "recover"}, m_lockFile,
                [&](CDriveSession& s) { sent = s.SimDrives()[0]->CommandLog().size(); });
    EXPECT_EQ(run.exitCode, kExitBusy);
    EXPECT_EQ(run.err, "velmo-cli: drive 0: cannot lock " + m_lockFile.str() + ": " + c.reason +
                           "; it is not touched\n");
    EXPECT_EQ(sent, 0u);
  }
}

// A drive without the diagnostic mode refuses the leave as an unknown
// command: it was never in the mode nor locked by a run, so nothing more goes
// to it, and that is no failure.
TEST_F(RecoverCommand, ADriveWithoutTheDiagnosticModeIsSaidAndLeftAlone) {
  std::vector<std::string> sent;
  const Captured run =
      Recover({"--simulate", "--sim-latency=0", "--drive", "1", "recover"}, m_lockFile,
              [&](CDriveSession& s) { sent = SentCdbs(*s.SimDrives()[1]); });
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "drive 1: KESTRON DVD-RAM KX-880  KX21 (sim:e:)\n" + std::string(kLeaveLine) +
                         "CHECK CONDITION, sense 5/20/00 (invalid command operation code)\n"
                         "  not a supported drive: it refuses the diagnostic mode, so it was "
                         "never in it; nothing more sent\n");
  EXPECT_EQ(sent, (std::vector<std::string>{"FD F2 56 4C 4D 4F 00 00 00 00 00 00"}));
}

// Each answer that is not "done" is named on its command's line, and the
// tray is still freed after a leave that failed.
TEST_F(RecoverCommand, ARefusalOrFailureIsNamedAndExits2) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<SimFault> faults;  // armed on drive 0 after it was left in the mode
    std::string leave;
    std::string allow;
  };
  SimFault gone;
  gone.kind = SimFaultKind::kGone;
  gone.target = SimCommandClass::kDiagnosticMode;
  SimFault busy;
  busy.kind = SimFaultKind::kBusy;
  busy.target = SimCommandClass::kOther;
  SimFault hardware;
  hardware.kind = SimFaultKind::kCheckCondition;
  hardware.target = SimCommandClass::kDiagnosticMode;
  hardware.senseKey = 0x04;
  hardware.asc = 0x44;
  const Case cases[] = {
      {"a leave refused with a hardware error",
       {"--simulate", "--sim-latency=0", "recover"},
       {hardware},
       "CHECK CONDITION, sense 4/44/00",
       "done"},
      {"a drive that is gone",
       {"--simulate", "--sim-latency=0", "recover"},
       {gone},
       "the drive is no longer attached",
       "the drive is no longer attached"},
      {"a busy tray",
       {"--simulate", "--sim-latency=0", "recover"},
       {busy},
       "done",
       "BUSY, not done"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Captured run = RunCli(c.args, [&](CDriveSession& session, const CliOptions& options,
                                            std::FILE* out, std::FILE* err) {
      LeaveInDiagnosticMode(session);
      for (const SimFault& fault : c.faults) session.SimDrives()[0]->AddFault(fault);
      return RunRecoverCommand(session, options, out, err);
    });
    EXPECT_EQ(run.exitCode, kExitDriveFailure) << run.err;
    EXPECT_NE(run.out.find(kLeaveLine + c.leave + "\n" + kAllowLine + c.allow + "\n"),
              std::string::npos)
        << run.out;
  }
}

TEST_F(RecoverCommand, DriveAllGoesThroughEveryDriveAndExitsWithTheWorst) {
  std::vector<std::string> sent0, sent1;
  bool diagnostic = true;
  Captured run = Recover({"--simulate", "--sim-latency=0", "recover", "--drive", "all"}, m_lockFile,
                         [&](CDriveSession& s) {
                           diagnostic = s.SimDrives()[0]->InDiagnosticMode();
                           sent0 = SentCdbs(*s.SimDrives()[0]);
                           sent1 = SentCdbs(*s.SimDrives()[1]);
                         });
  EXPECT_EQ(run.exitCode, kExitOk) << "drive 1 has no diagnostic mode: not a failure\n"
                                   << run.out << run.err;
  const size_t first = run.out.find("drive 0: VELMO ");
  const size_t second = run.out.find("drive 1: KESTRON ");
  ASSERT_NE(first, std::string::npos) << run.out;
  ASSERT_NE(second, std::string::npos) << run.out;
  EXPECT_LT(first, second);
  EXPECT_FALSE(diagnostic);
  EXPECT_EQ(sent0.size(), 2u);
  EXPECT_EQ(sent1.size(), 1u) << "the leave alone";
  EXPECT_NE(run.out.find("not a supported drive"), std::string::npos) << run.out;

  // A held drive is left out, the others are still recovered.
  CRunLock otherRun;
  ASSERT_EQ(otherRun.Take(m_lockFile), CRunLock::Result::kTaken);
  run = Recover({"--simulate", "--sim-latency=0", "recover", "--drive=all"}, m_lockFile,
                [&](CDriveSession& s) {
                  sent0 = SentCdbs(*s.SimDrives()[0]);
                  sent1 = SentCdbs(*s.SimDrives()[1]);
                });
  EXPECT_EQ(run.exitCode, kExitBusy);
  EXPECT_NE(run.err.find("drive 0: sim:d: is in use by another Velmo run"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("drive 0:"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("drive 1: KESTRON "), std::string::npos) << run.out;
  EXPECT_TRUE(sent0.empty());
  EXPECT_EQ(sent1.size(), 1u);
}

TEST_F(RecoverCommand, NoSuchDriveIsExit3) {
  const auto recover = [](CDriveSession& session, const CliOptions& options, std::FILE* out,
                          std::FILE* err) { return RunRecoverCommand(session, options, out, err); };
  Captured run = RunCli({"--simulate=no-drive", "recover"}, recover);
  EXPECT_EQ(run.exitCode, kExitNoDrive);
  EXPECT_NE(run.err.find("No Device found!"), std::string::npos) << run.err;
  run = RunCli({"--simulate", "--drive", "5", "recover"}, recover);
  EXPECT_EQ(run.exitCode, kExitNoDrive);
  EXPECT_NE(run.err.find("there is no drive 5"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

}  // namespace
