// `velmo-cli drives` over the simulator and over broken platforms.
#include "cli/drives_command.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "session/drive_session.h"
#include "tests/cli/cli_test_util.h"

namespace {

Captured RunDrives(const std::vector<std::string>& args) {
  return RunCli(args, [](CDriveSession& session, const CliOptions&, std::FILE* out,
                         std::FILE* err) { return RunDrivesCommand(session, out, err); });
}

TEST(DrivesCommand, ListsBothSimulatedDrivesOnBothTransports) {
  for (const char* transport : {"--transport=spti", "--transport=aspi"}) {
    const Captured run = RunDrives({"--simulate", transport, "--sim-latency=0", "drives"});
    EXPECT_EQ(run.exitCode, kExitOk) << transport;
    // Header, then one line per drive: supported first, refusing second.
    const size_t first = run.out.find("\n0  ");
    const size_t second = run.out.find("\n1  ");
    ASSERT_NE(first, std::string::npos) << run.out;
    ASSERT_NE(second, std::string::npos) << run.out;
    const std::string line0 = run.out.substr(first + 1, second - first - 1);
    const std::string line1 = run.out.substr(second + 1);
    EXPECT_NE(line0.find("accepted"), std::string::npos) << line0;
    EXPECT_NE(line1.find("refused: not a supported drive"), std::string::npos) << line1;
    EXPECT_TRUE(run.err.empty()) << run.err;
  }
}

// --long: each drive's facts under its line; a drive without a serial
// number page says "unknown" for it and the listing goes on. --json: the
// same facts as values, null where unknown.
TEST(DrivesCommand, LongAndJsonGiveEachDrivesOwnFacts) {
  const auto longRun = [](CDriveSession& session, const CliOptions& options, std::FILE* out,
                          std::FILE* err) {
    return RunDrivesCommand(session, out, err, {options.longListing, options.jsonFile});
  };
  const std::string json = ::testing::TempDir() + "/drives-facts.json";
  const Captured run =
      RunCli({"--simulate", "--sim-latency=0", "drives", "--long", "--json", json}, longRun);
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  const size_t second = run.out.find("\n1  ");
  ASSERT_NE(second, std::string::npos) << run.out;
  const std::string supported = run.out.substr(0, second);
  const std::string refusing = run.out.substr(second);
  for (const char* line : {"    Firmware:       1.02\n", "    Firmware date:  2016/05/23\n",
                           "    Serial number:  VX16A0417\n", "    Loader:         tray\n",
                           "    Buffer:         2048 KiB\n"}) {
    EXPECT_NE(supported.find(line), std::string::npos) << line << supported;
  }
  EXPECT_NE(supported.find("    Writes:         DVD+R DL, DVD+R, "), std::string::npos);
  EXPECT_EQ(supported.find("Writes:         DVD-ROM"), std::string::npos);
  EXPECT_NE(refusing.find("    Serial number:  unknown\n"), std::string::npos) << refusing;
  EXPECT_NE(refusing.find("    Firmware date:  2015/11/02\n"), std::string::npos) << refusing;
  EXPECT_NE(refusing.find("    Buffer:         1024 KiB\n"), std::string::npos) << refusing;

  std::ifstream file(json);
  const auto list = nlohmann::json::parse(file)["drives"];
  file.close();
  std::remove(json.c_str());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["diagnosticMode"], "accepted");
  EXPECT_EQ(list[0]["facts"]["serialNumber"], "VX16A0417");
  EXPECT_EQ(list[0]["facts"]["bufferKiB"], 2048);
  EXPECT_EQ(list[0]["facts"]["profiles"][0]["profile"], 0x2B);
  EXPECT_EQ(list[0]["facts"]["profiles"][0]["writes"], true);
  EXPECT_EQ(list[1]["diagnosticMode"], "refused");
  EXPECT_TRUE(list[1]["facts"]["serialNumber"].is_null());
}

TEST(DrivesCommand, AnUnknownScenarioIsRefusedBeforeAnythingRuns) {
  std::string error;
  auto options = ParseCliOptions({"--simulate=no-such-disc", "drives"}, &error);
  ASSERT_TRUE(options);
  CDriveSession session;
  const SessionOpening opening = session.Open(*options, nullptr);
  EXPECT_EQ(opening.outcome, SessionOpenOutcome::kUnknownScenario);
  EXPECT_NE(opening.error.find("no-such-disc"), std::string::npos);
}

TEST(DrivesCommand, TraceFileThatCannotBeWrittenIsRefused) {
  std::string error;
  auto options =
      ParseCliOptions({"--simulate", "--trace=/nonexistent-dir/t.txt", "drives"}, &error);
  ASSERT_TRUE(options);
  CDriveSession session;
  const SessionOpening opening = session.Open(*options, nullptr);
  EXPECT_EQ(opening.outcome, SessionOpenOutcome::kTraceNotWritable);
  EXPECT_NE(opening.error.find("/nonexistent-dir/t.txt"), std::string::npos);
}

TEST(DrivesCommand, AdviceForDrivesThatCannotBeUsed) {
  EXPECT_NE(DescribeSkippedVolume({"/dev/sg1", kErrorAccessDenied, false}).find("cdrom"),
            std::string::npos);
  EXPECT_NE(
      DescribeSkippedVolume({"/dev/sg1", kErrorSharingViolation, false}).find("another program"),
      std::string::npos);
  EXPECT_NE(DescribeSkippedVolume({"/dev/sg1", 0, true}).find("INQUIRY"), std::string::npos);
  const std::string filtered = DescribeVendorCommandFailure(kErrorAccessDenied, "/dev/sr0");
  EXPECT_NE(filtered.find("modprobe sg"), std::string::npos);
  EXPECT_NE(filtered.find("root"), std::string::npos);
  EXPECT_EQ(DescribeVendorCommandFailure(kErrorAccessDenied, "/dev/sg2").find("modprobe"),
            std::string::npos);
  EXPECT_EQ(DescribeVendorCommandFailure(0, "/dev/sg2"), "");
  EXPECT_NE(DescribeVendorCommandFailure(kErrorSemTimeout, "/dev/sg2").find("in time"),
            std::string::npos);
}

// The advice names the node's own group, and the processes holding it.
TEST(DrivesCommand, AdviceNamesTheNodesGroupAndItsHolders) {
  const std::string node = ::testing::TempDir() + "/velmo-node-" + std::to_string(::getpid());
  const int fd = ::open(node.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string busy = DescribeSkippedVolume({node, kErrorSharingViolation, false});
  EXPECT_NE(busy.find(node + ": in use by another program (pid " + std::to_string(::getpid())),
            std::string::npos)
      << busy;
  if (const group* other = ::getgrnam("nogroup");
      other != nullptr && ::fchown(fd, static_cast<uid_t>(-1), other->gr_gid) == 0) {
    const std::string denied = DescribeSkippedVolume({node, kErrorAccessDenied, false});
    EXPECT_NE(denied.find("usermod -aG nogroup $USER"), std::string::npos) << denied;
  }
  ::close(fd);
  ::unlink(node.c_str());
  EXPECT_EQ(DescribeSkippedVolume({node, kErrorSharingViolation, false}),
            node + ": in use by another program; close it and try again");
}

}  // namespace
