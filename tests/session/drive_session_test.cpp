// The drive session on the simulator as the window uses it: the scenario
// list and names, the tray's disc list, and insert / eject on the selected
// drive, out-of-range choices doing nothing; each way opening is refused.
#include "session/drive_session.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "session/sim_catalogue.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_drive.h"
#include "simulator/sim_scenarios.h"
#include "tests/support/scratch_folder.h"

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
  const SessionOpening opening =
      session.Open(options, [](const std::string&, const std::string&) {});
  ASSERT_TRUE(opening.Opened()) << opening.error;
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

// Each way opening fails is one outcome of the one value Open returns, with
// its text; none of them leaves a drive behind.
TEST(DriveSession, EachRefusalIsItsOwnOutcome) {
  ScratchFolder scratch("velmo-session");
  ASSERT_FALSE(scratch.Path().empty());
  const std::string broken = scratch.Path() + "/broken.trace";
  {
    std::ofstream out(broken);
    out << "not a trace line\n";
  }
  struct Case {
    std::string scenario;
    std::string trace;
    SessionOpenOutcome outcome;
    std::string error;  // what the text starts with
  } cases[] = {
      {"no-such-scenario", "", SessionOpenOutcome::kUnknownScenario,
       "unknown scenario 'no-such-scenario' (--simulate=help lists them)"},
      {"", scratch.Path() + "/no-such-folder/t.txt", SessionOpenOutcome::kTraceNotWritable,
       "cannot write the trace file " + scratch.Path() + "/no-such-folder/t.txt"},
      {"replay:" + scratch.Path() + "/missing.trace", "", SessionOpenOutcome::kReplayUnreadable,
       "the recording " + scratch.Path() + "/missing.trace"},
      {"replay:" + broken, "", SessionOpenOutcome::kReplayRefused,
       "the recording " + broken + " is refused at line 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario + c.trace);
    RunOptions options;
    options.simulate = true;
    options.scenario = c.scenario;
    options.traceFile = c.trace;
    CDriveSession session;
    const SessionOpening opening = session.Open(options, nullptr);
    EXPECT_FALSE(opening.Opened());
    EXPECT_EQ(opening.outcome, c.outcome);
    EXPECT_EQ(opening.error.rfind(c.error, 0), 0u) << opening.error;
    EXPECT_EQ(opening.traceError, c.trace.empty() ? 0 : ENOENT);
    EXPECT_TRUE(session.SimDrives().empty());
    session.EjectSimDisc(0);  // nothing to eject, nothing happens
    session.InsertSimDisc(0, 0, std::chrono::milliseconds(0));
  }
}

}  // namespace
