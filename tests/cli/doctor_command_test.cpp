// `velmo-cli doctor` over the simulator's scenarios, its JSON, and the node
// check on real files with real modes and owners.
#include "cli/doctor_command.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/cli/cli_test_util.h"
#include "tests/cli/json_reader.h"

namespace {

Captured RunDoctor(const std::string& scenario, bool json) {
  return RunCli({"--simulate=" + scenario, "--sim-latency=0", "doctor"},
                [json](CDriveSession& session, const CliOptions&, std::FILE* out, std::FILE*) {
                  const DoctorReport report = BuildDoctorReport(session, false);
                  std::fputs((json ? DoctorJson(report) : DoctorText(report)).c_str(), out);
                  return report.AnyScannable() ? kExitOk : kExitNoDrive;
                });
}

TEST(DoctorCommand, SaysWhatStandsBetweenTheUserAndAScan) {
  struct Case {
    const char* scenario;
    int exitCode;
    std::vector<std::string> says;
  };
  const std::vector<Case> cases = {
      {"dvd+r-good",
       kExitOk,
       {"Drive 0: VELMO   DVDRW VX-2016   1.02 (sim:d:)\n"
        "  Firmware:       1.02\n  Firmware date:  2016/05/23\n  Serial number:  VX16A0417\n"
        "  Loader:         tray\n  Buffer:         2048 KiB\n  Reads:          DVD+R DL, ",
        "  Writes:         DVD+R DL, DVD+R, DVD+RW, DVD-RW (sequential), DVD-RW (restricted "
        "overwrite), DVD-R, CD-RW, CD-R\n  ok    the drive accepts the diagnostic mode\n"
        "  ok    disc: DVD+R\n  => ready to scan\n",
        // A drive that refuses the diagnostic mode still says what it is.
        "Drive 1: KESTRON DVD-RAM KX-880  KX21 (sim:e:)\n  Firmware:       KX21\n"
        "  Firmware date:  2015/11/02\n  Serial number:  unknown\n",
        "  no    the drive refuses the diagnostic mode: it is not a supported drive\n"}},
      {"dvd+rdl-good", kExitOk, {"disc: DVD+R DL\n  => ready to scan"}},
      {"empty",
       kExitNoDrive,
       {"  FIX   no disc in the drive (or it is not ready yet)\n        fix: insert a blank DVD+R "
        "or DVD-R"}},
      {"unsupported-drive",
       kExitNoDrive,
       {"refuses the diagnostic mode", "=> cannot be scanned now"}},
      {"no-drive", kExitNoDrive, {"No optical drive found."}},
  };
  for (const Case& c : cases) {
    const Captured run = RunDoctor(c.scenario, false);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.scenario << "\n" << run.out;
    for (const std::string& text : c.says) {
      EXPECT_NE(run.out.find(text), std::string::npos) << c.scenario << ": " << text << "\n"
                                                       << run.out;
    }
    EXPECT_EQ(run.out.find("ready to scan") != std::string::npos, c.exitCode == kExitOk)
        << c.scenario;
    // No blank first line; FIX only with a fix to run under it.
    EXPECT_NE(run.out.front(), '\n') << c.scenario;
    for (size_t at = 0; (at = run.out.find("FIX   ", at)) != std::string::npos; ++at) {
      const size_t next = run.out.find('\n', at) + 1;
      EXPECT_EQ(run.out.compare(next + run.out.substr(next).find_first_not_of(' '), 5, "fix: "), 0)
          << c.scenario << "\n"
          << run.out;
    }
  }
}

TEST(DoctorCommand, JsonForScripts) {
  const Captured run = RunDoctor("dvd+r-good", true);
  const auto json = JsonReader::Parse(run.out);
  ASSERT_TRUE(json) << run.out;
  const JsonValue& drives = (*json)["drives"];
  ASSERT_EQ(drives.items.size(), 2u);
  EXPECT_EQ(drives.items[0]["node"].text, "sim:d:");
  EXPECT_EQ(drives.items[0]["checks"].items[0]["check"].text, "diagnostic-mode");
  EXPECT_EQ(drives.items[1]["checks"].items[0]["text"].text,
            "the drive refuses the diagnostic mode: it is not a supported drive");
  EXPECT_EQ(drives.items[0]["scannable"].number, 1);
  EXPECT_EQ(drives.items[1]["scannable"].number, 0);
  EXPECT_EQ((*json)["scannable"].number, 1);
  EXPECT_EQ(drives.items[0]["facts"]["serialNumber"].text, "VX16A0417");
  EXPECT_EQ(drives.items[0]["facts"]["bufferKiB"].number, 2048);
  EXPECT_EQ(drives.items[1]["facts"]["firmwareRevision"].text, "KX21");
  EXPECT_EQ(drives.items[1]["facts"]["serialNumber"].kind, JsonValue::kNull);

  const auto empty = JsonReader::Parse(RunDoctor("empty", true).out);
  ASSERT_TRUE(empty);
  EXPECT_EQ((*empty)["drives"].items[0]["checks"].items[1]["fix"].text,
            "insert a blank DVD+R or DVD-R and close the tray");
}

// The node check on a real file: its mode and group against the user's.
TEST(DoctorCommand, NodeAccessAgainstTheUsersGroups) {
  const std::string node =
      ::testing::TempDir() + "/velmo-doctor-node-" + std::to_string(::getpid());
  std::ofstream(node) << "";
  const group* other = ::getgrnam("nogroup");
  ASSERT_NE(other, nullptr);
  const uid_t someone = 4242;  // neither the owner nor root
  if (::chown(node.c_str(), static_cast<uid_t>(-1), other->gr_gid) != 0) {
    std::remove(node.c_str());
    GTEST_SKIP() << "cannot give the file to another group";
  }
  struct Case {
    mode_t mode;
    std::vector<gid_t> groups;
    bool ok;
    std::string fix;
  };
  const std::vector<Case> cases = {
      {0660, {other->gr_gid}, true, ""},
      {0660, {12345}, false, "sudo usermod -aG nogroup $USER   (then log in again)"},
      {0600, {other->gr_gid}, false, "sudo chgrp cdrom " + node + " && sudo chmod 660 " + node},
      {0640, {other->gr_gid}, false, "sudo chgrp cdrom"},
      {0666, {}, true, ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(::chmod(node.c_str(), c.mode), 0);
    const DoctorCheck check = CheckNodeAccess(node, someone, c.groups);
    EXPECT_EQ(check.ok, c.ok) << std::oct << c.mode << " " << check.text;
    EXPECT_EQ(check.fix.rfind(c.fix, 0), 0u) << std::oct << c.mode << " " << check.fix;
    EXPECT_EQ(check.text.rfind(node + " -rw", 0), 0u) << check.text;
  }
  std::remove(node.c_str());
  EXPECT_FALSE(CheckNodeAccess(node, someone, {}).ok);
}

TEST(DoctorCommand, RecognisedOnTheCommandLine) {
  EXPECT_TRUE(IsDoctorCommand({"--simulate", "doctor", "--json"}));
  EXPECT_TRUE(IsDoctorCommand({"doctor"}));
  EXPECT_FALSE(IsDoctorCommand({"scan", "--log", "doctor"}));
  EXPECT_FALSE(IsDoctorCommand({"drives"}));
  EXPECT_FALSE(IsDoctorCommand({"doctor", "--help"}));
}

}  // namespace
