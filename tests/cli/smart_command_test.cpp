// `velmo-cli smart`: one verdict line per write speed, and its exit code.
#include "cli/smart_command.h"

#include <gtest/gtest.h>

#include "tests/cli/cli_test_util.h"

namespace {

std::string Rows(const std::string& out) {
  const size_t at = out.find("Speed Result\n");
  return at == std::string::npos ? "" : out.substr(at);
}

// One verdict line a speed, then the answer: the highest speed that is
// "OK.". Exit 0 when a speed fits, 1 when none does, 2 when a row failed.
TEST(SmartCommand, OneVerdictPerSpeedInListOrderThenTheAnswer) {
  Captured run = RunCli({"--simulate=dvd+r-marginal", "--sim-latency=0", "smart"}, Smart);
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(Rows(run.out),
            "Speed Result\n16X   Not recommended.\n12X   Not recommended.\n10X   OK.\n8X    OK.\n"
            "6X    OK.\n4X    OK.\n2.4X  OK.\n\nFit for writing up to 10X.\n");
  EXPECT_NE(run.out.find("Manufacture ID:       ORBTEK\n"), std::string::npos) << run.out;

  run = RunCli({"--simulate=dvd+r-good", "--sim-latency=0", "smart"}, Smart);
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(Rows(run.out),
            "Speed Result\n12X   OK.\n8X    OK.\n6X    OK.\n4X    OK.\n2.4X  OK.\n"
            "\nFit for writing up to 12X.\n");

  run = RunCli({"--simulate=dvd+r-bad", "--sim-latency=0", "smart"}, Smart);
  EXPECT_EQ(run.exitCode, kExitNotRecommended) << run.err;
  EXPECT_NE(run.out.find("\nNo write speed is fit for writing.\n"), std::string::npos) << run.out;

  run = RunCli({"--simulate=old-firmware", "--sim-latency=0", "smart"}, Smart);
  EXPECT_EQ(run.exitCode, kExitDriveFailure);
  EXPECT_EQ(Rows(run.out),
            "Speed Result\n12X   TE/FE fail.\n8X    TE/FE fail.\n6X    TE/FE fail.\n"
            "4X    TE/FE fail.\n2.4X  TE/FE fail.\n\nNo write speed is fit for writing.\n");
  EXPECT_NE(run.err.find("Firmware not supported.Please flash to latest version."),
            std::string::npos)
      << run.err;
}

TEST(SmartCommand, AnUntestableDiscTakesNoSample) {
  uint32_t samples = 1;
  const Captured run =
      RunCli({"--simulate=dvd-rom", "--sim-latency=0", "smart"}, Smart, [&](CDriveSession& s) {
        samples = s.SimDrives().front()->CommandCount(SimCommandClass::kTefeSample);
      });
  EXPECT_EQ(run.exitCode, kExitNoDrive);
  EXPECT_EQ(samples, 0u);
  EXPECT_EQ(Rows(run.out), "");
  EXPECT_NE(run.err.find("Not support for this disc."), std::string::npos) << run.err;
}

}  // namespace
