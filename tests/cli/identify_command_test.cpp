// `velmo-cli identify`: the window's disc texts, and every way of not
// getting to a testable disc.
#include "cli/identify_command.h"

#include <gtest/gtest.h>

#include "tests/cli/cli_test_util.h"

namespace {

int Identify(CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err) {
  return RunIdentifyCommand(session, options, out, err, QuickWait());
}

// The supported drive must be out of diagnostic mode again.
void ExpectDiagnosticModeLeft(CDriveSession& session) {
  ASSERT_FALSE(session.SimDrives().empty());
  EXPECT_FALSE(session.SimDrives().front()->InDiagnosticMode());
}

TEST(IdentifyCommand, AGoodDvdPlusRShowsTheWindowsTexts) {
  const Captured run = RunCli({"--simulate=dvd+r-good", "--sim-latency=0", "identify"}, Identify,
                              ExpectDiagnosticModeLeft);
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  // The speed entries keep their leading blank and their two trailing ones.
  EXPECT_EQ(run.out,
            "Drive:                VELMO   DVDRW VX-2016   1.02 (sim:d:)\n"
            "  Firmware:           1.02\n"
            "  Firmware date:      2016/05/23\n"
            "  Serial number:      VX16A0417\n"
            "  Loader:             tray\n"
            "  Buffer:             2048 KiB\n"
            "  Reads:              DVD+R DL, DVD+R, DVD+RW, DVD-RW (sequential), DVD-RW "
            "(restricted overwrite), DVD-R, DVD-ROM, CD-RW, CD-R, CD-ROM\n"
            "  Writes:             DVD+R DL, DVD+R, DVD+RW, DVD-RW (sequential), DVD-RW "
            "(restricted overwrite), DVD-R, CD-RW, CD-R\n"
            "Disc Type:            DVD+R\n"
            "Manufacture ID:       NOVADISC\n"
            "Manufacturer:         unknown\n"
            "Media Type ID:        R16\n"
            "Blank Disc Capacity:  4076.0 MB\n"
            "Disc Speed:\n"
            "  12X => (16620 Kb/Sec)  \n"
            "   8X => (11080 Kb/Sec)  \n"
            "   6X => ( 8310 Kb/Sec)  \n"
            "   4X => ( 5540 Kb/Sec)  \n"
            "  2.4X => ( 3324 Kb/Sec)  \n"
            "Status:               Ready.\n");
  EXPECT_EQ(run.err, "");
}

// Every DL scenario shows where its layer 1 starts; one whose break is not
// the fixed one is warned about, naming the difference.
TEST(IdentifyCommand, EachDualLayerDiscShowsItsOwnLayerBreak) {
  const struct {
    const char* scenario;
    const char* line;
    const char* warning;  // on standard error; empty: none
  } cases[] = {
      {"dvd+rdl-good", "Layer 1 Starts:       sector 2086912\n", ""},
      {"dvd+rdl-marginal", "Layer 1 Starts:       sector 2086912\n", ""},
      {"dvd+rdl-mkm", "Layer 1 Starts:       sector 2086912\n", ""},
      {"dvd+rdl-short-reply", "Layer 1 Starts:       sector 2086912\n", ""},
      {"dvd+rdl-early-break",
       "Layer 1 Starts:       sector 2084864 (2048 sectors before sector 2086912, where the "
       "sample positions place it)\n",
       "velmo-cli: warning: this disc's layer 1 starts at sector 2084864, 2048 sectors before "
       "sector 2086912; the sample positions and their physical sectors keep sector 2086912 as "
       "the start of layer 1\n"},
      {"dvd+r-good", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    const Captured run =
        RunCli({std::string("--simulate=") + c.scenario, "--sim-latency=0", "identify"}, Identify);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    if (*c.line != '\0') {
      EXPECT_NE(run.out.find(c.line), std::string::npos) << run.out;
    } else {
      EXPECT_EQ(run.out.find("Layer 1"), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.err, c.warning);
  }
}

TEST(IdentifyCommand, DiscsThatCannotBeTestedShowWhyAndExit3) {
  const struct {
    const char* scenario;
    const char* lines;  // what must appear, in this order
  } cases[] = {
      {"dvd+rw",
       "Disc Type:            Not Support.\nManufacture ID:       N/A\nManufacturer:         "
       "unknown\nMedia Type ID:        N/A\n"
       "Blank Disc Capacity:  N/A\nDisc Speed:\n  N/A\nStatus:               Not support for "
       "this disc.\n"},
      // IDs read, but no write speed from the table: the single "N/A" entry.
      {"dvd+r-odd-speeds",
       "Disc Type:            DVD+R\nManufacture ID:       NOVADISC\nManufacturer:         "
       "unknown\nMedia Type ID:        R05\n"
       "Blank Disc Capacity:  N/A\nDisc Speed:\n  N/A\nStatus:               Not support for "
       "this disc.\n"},
  };
  for (const auto& c : cases) {
    const Captured run =
        RunCli({std::string("--simulate=") + c.scenario, "--sim-latency=0", "identify"}, Identify,
               ExpectDiagnosticModeLeft);
    EXPECT_EQ(run.exitCode, kExitNoDrive) << c.scenario;
    EXPECT_NE(run.out.find(c.lines), std::string::npos) << c.scenario << ":\n" << run.out;
  }
}

TEST(IdentifyCommand, NoUsableDriveOrDiscIsExit3WithAReason) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--simulate=no-drive", "identify"}, "No Device found!"},
      {{"--simulate=empty", "identify"}, "no disc in the drive"},
      {{"--simulate", "--drive", "5", "identify"}, "there is no drive 5"},
  };
  for (const auto& c : cases) {
    const Captured run = RunCli(c.args, Identify);
    EXPECT_EQ(run.exitCode, kExitNoDrive) << c.args[0];
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args[0] << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.args[0];
  }
}

// The disc in a refusing drive is still identified, without the vendor
// reads' "Ready." and with exit 3.
TEST(IdentifyCommand, ARefusingDriveStillShowsItsDiscAndExits3) {
  const Captured run =
      RunCli({"--simulate=unsupported-drive", "--sim-latency=0", "identify"}, Identify);
  EXPECT_EQ(run.exitCode, kExitNoDrive);
  EXPECT_NE(run.err.find("refuses the diagnostic mode"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("Disc Type:            DVD+R\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Status:               The drive refuses the diagnostic mode.\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Ready."), std::string::npos) << run.out;
}

// GET PERFORMANCE cut short on a DL disc: the capacity and range stay the
// dual-layer ones, on either transport.
TEST(IdentifyCommand, DualLayerWithAShortSpeedReplyKeepsItsCapacity) {
  for (const char* transport : {"--transport=spti", "--transport=aspi"}) {
    SCOPED_TRACE(transport);
    const Captured run =
        RunCli({"--simulate=dvd+rdl-short-reply", transport, "--sim-latency=0", "identify"},
               Identify, ExpectDiagnosticModeLeft);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_NE(run.out.find("Disc Type:            DVD+R DL\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Blank Disc Capacity:  8152.0 MB\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Disc Speed:\n   8X => (11080 Kb/Sec)  \n   6X => ( 8310 Kb/Sec)  \n"
                           "Status:"),
              std::string::npos)
        << run.out;
  }
}

}  // namespace

TEST(IdentifyCommand, AKnownManufacturerIdIsNamed) {
  for (const auto& [scenario, line] :
       {std::pair{"dvd+r-yuden",
                  "Manufacture ID:       YUDEN000\nManufacturer:         Taiyo Yuden Co., Ltd.\n"},
        std::pair{"dvd-r-mcc",
                  "Manufacture ID:       MCC 03\nManufacturer:         Mitsubishi Kagaku Media "
                  "Co., Ltd. (Verbatim)\n"}}) {
    const Captured run =
        RunCli({std::string("--simulate=") + scenario, "--sim-latency=0", "identify"}, Identify);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
  }
}
