// The drive session on the simulator as the window uses it: the scenario
// list and names, the tray's disc list, and insert / eject on the selected
// drive, out-of-range choices doing nothing.
#include "session/drive_session.h"

#include <gtest/gtest.h>

#include <sstream>

#include "session/sim_catalogue.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_drive.h"
#include "simulator/sim_scenarios.h"

namespace {

TEST(SimCatalogue, ScenariosAndDiscsByName) {
  std::istringstream lines(SimScenarioLines());
  std::string line;
  size_t count = 0;
  for (; std::getline(lines, line); ++count) {
    ASSERT_LT(count, SimScenarios().size());
    const SimScenario& scenario = SimScenarios()[count];
    EXPECT_EQ(line.rfind("  " + scenario.name + " ", 0), 0u) << line;
    // Descriptions start in one column whatever the name's length.
    EXPECT_EQ(line.find(scenario.description), 23u) << line;
    EXPECT_TRUE(IsSimScenario(scenario.name));
  }
  EXPECT_EQ(count, SimScenarios().size());
  EXPECT_FALSE(IsSimScenario("no-such-scenario"));
  EXPECT_FALSE(IsSimScenario(""));

  const std::vector<std::string> labels = SimDiscLabels();
  ASSERT_EQ(labels.size(), SimDiscCatalogue().size());
  for (size_t i = 0; i < labels.size(); ++i) {
    const SimDisc& disc = SimDiscCatalogue()[i];
    EXPECT_EQ(labels[i], disc.name + "  (" + disc.description + ")");
  }
}

TEST(DriveSession, SimulatorTrayOnTheChosenDrive) {
  RunOptions options;
  options.simulate = true;
  options.simInsertDelayMs = 0;
  CDriveSession session;
  std::string error;
  ASSERT_TRUE(session.Open(
      options, [](const std::string&, const std::string&) {}, &error))
      << error;
  ASSERT_TRUE(session.Initialized());
  ASSERT_FALSE(session.SimDrives().empty());
  CSimDrive& drive = *session.SimDrives().front();

  session.EjectSimDisc(0);
  EXPECT_EQ(drive.DiscName(), "");
  const size_t last = SimDiscCatalogue().size() - 1;
  session.InsertSimDisc(0, last, std::chrono::milliseconds(0));
  EXPECT_EQ(drive.DiscName(), SimDiscCatalogue()[last].name);

  // No such disc, no such drive: the tray stays as it is.
  session.InsertSimDisc(0, SimDiscCatalogue().size(), std::chrono::milliseconds(0));
  session.InsertSimDisc(session.SimDrives().size(), 0, std::chrono::milliseconds(0));
  session.EjectSimDisc(session.SimDrives().size());
  EXPECT_EQ(drive.DiscName(), SimDiscCatalogue()[last].name);
}

TEST(DriveSession, UnknownScenarioOpensNothing) {
  RunOptions options;
  options.simulate = true;
  options.scenario = "no-such-scenario";
  CDriveSession session;
  std::string error;
  EXPECT_FALSE(session.Open(options, nullptr, &error));
  EXPECT_EQ(error, "unknown scenario 'no-such-scenario' (--simulate=help lists them)");
  EXPECT_TRUE(session.SimDrives().empty());
  session.EjectSimDisc(0);  // nothing to eject, nothing happens
  session.InsertSimDisc(0, 0, std::chrono::milliseconds(0));
}

}  // namespace
