#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <set>

#include "cli/cli_commands.h"

namespace {

std::optional<CliOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string ignored;
  return ParseCliOptions(args, error != nullptr ? error : &ignored);
}

TEST(CliOptions, SimulatorOptionsInBothSpellings) {
  auto options = Parse({"--simulate=dvd+r-marginal", "--transport", "aspi", "--sim-latency=0",
                        "--drive", "1", "--trace=t.txt", "drives"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->simulate);
  EXPECT_EQ(options->scenario, "dvd+r-marginal");
  EXPECT_TRUE(options->aspi);
  EXPECT_EQ(options->simLatencyMs, 0);
  EXPECT_EQ(options->drive, 1);
  EXPECT_EQ(options->traceFile, "t.txt");
  EXPECT_EQ(options->command, "drives");

  options = Parse({"drives", "--simulate"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->simulate);
  EXPECT_TRUE(options->scenario.empty());
  EXPECT_FALSE(options->aspi);
  EXPECT_EQ(options->simLatencyMs, -1);

  options = Parse({"--simulate=help"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->listScenarios);
}

// -d, -s, -q, -V, -h are their long options, the value apart or joined; a
// record command's own arguments are left as they are.
TEST(CliOptions, ShortOptionsAreTheLongOnes) {
  auto options = Parse({"-d", "1", "-s", "4x", "-q", "scan"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->drive, 1);
  EXPECT_EQ(options->speed, kSpeed4X);
  EXPECT_TRUE(options->quiet);
  options = Parse({"scan", "-d2", "-s8X"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->drive, 2);
  EXPECT_EQ(options->speed, kSpeed8X);
  EXPECT_FALSE(options->quiet);
  options = Parse({"-V"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->version);
  options = Parse({"watch", "-h"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->help);
  options = Parse({"-d", "all", "scan"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->driveAll);
  options = Parse({"history", "-s", "x"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->commandArgs, (std::vector<std::string>{"-s", "x"}));
  EXPECT_FALSE(options->speed);

  std::string error;
  EXPECT_FALSE(Parse({"scan", "-d"}, &error));
  EXPECT_EQ(error, "option '--drive' needs a value");
  EXPECT_FALSE(Parse({"scan", "-s", "5X"}, &error));
  EXPECT_NE(error.find("--speed must be one of"), std::string::npos) << error;
  EXPECT_FALSE(Parse({"-x", "scan"}, &error));
  EXPECT_EQ(error, "unknown option '-x'");
}

// A usage error points at the command's own help when it has one.
TEST(CliOptions, HelpHintNamesTheCommand) {
  EXPECT_EQ(HelpHint("scan"), "try 'velmo-cli scan --help'");
  EXPECT_EQ(HelpHint("watch"), "try 'velmo-cli watch --help'");
  EXPECT_EQ(HelpHint(""), "try 'velmo-cli --help'");
  EXPECT_EQ(HelpHint("frob"), "try 'velmo-cli --help'");
  EXPECT_EQ(CommandNamedIn({"--log", "x", "--bogus", "smart"}), "smart");
  EXPECT_EQ(CommandNamedIn({"--bogus"}), "");
}

TEST(CliOptions, ScanOptionsAndTheirDefaults) {
  auto options = Parse({"--speed", "2.4x", "--density=full", "--log", "l.txt", "--csv=c.csv",
                        "--json", "j.json", "scan"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->speed, kSpeed2_4X);
  EXPECT_STREQ(options->density->name, "full");
  EXPECT_EQ(options->density->step, 16384);
  EXPECT_EQ(options->density->mode, 2);
  EXPECT_EQ(options->logFile, "l.txt");
  EXPECT_EQ(options->csvFile, "c.csv");
  EXPECT_EQ(options->jsonFile, "j.json");

  options = Parse({"--density", "quick", "scan"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->density->step, 49152);
  EXPECT_EQ(options->density->mode, 3);

  options = Parse({"scan"});
  ASSERT_TRUE(options);
  EXPECT_FALSE(options->speed);
  EXPECT_EQ(options->density->step, 49152);
  EXPECT_EQ(options->density->mode, 1);
  EXPECT_EQ(options->logFile, "TEFE.txt");
  EXPECT_TRUE(options->csvFile.empty() && options->jsonFile.empty());
}

TEST(CliOptions, BadInputIsAUsageErrorThatSaysWhy) {
  const struct {
    std::vector<std::string> args;
    const char* mentions;
  } cases[] = {
      {{"--transport=scsi", "drives"}, "spti or aspi"},
      {{"--simulate", "--sim-latency=-3", "drives"}, "--sim-latency"},
      {{"--simulate", "--sim-latency=12ms", "drives"}, "--sim-latency"},
      {{"--drive", "8", "drives"}, "0 to 7"},
      {{"--drive=x", "drives"}, "--drive"},
      {{"--drive"}, "option '--drive' needs a value"},  // no value: said as such
      {{"scan", "--speed"}, "option '--speed' needs a value"},
      {{"--simulate="}, "scenario"},
      {{"--trace=", "drives"}, "--trace"},
      {{"--frobnicate"}, "unknown option"},
      {{"drives", "extra"}, "unexpected"},
      {{"--transport=aspi", "drives"}, "--simulate"},
      {{"--sim-latency=5", "drives"}, "--simulate"},
      {{"--speed", "5X", "scan"}, "2.4X|4X|6X|8X|10X|12X|16X"},
      {{"--density=dense", "scan"}, "normal, full or quick"},
      {{"scan", "--chart-range", "wide"}, "fixed or readings"},
      {{"smart", "--chart-range=readings"}, "--chart-range applies to scan"},
      {{"--json=", "scan"}, "--json needs a file name"},
      {{"--log="}, "--log needs"},
      {{"--speed", "4X", "identify"}, "--speed applies to scan and watch, not to identify"},
      {{"smart", "--csv", "a.csv"}, "--csv applies to scan, not to smart"},
      {{"--json=r.json", "--density", "full", "recover"},
       "--json applies to drives, identify, scan and smart, not to recover"},
      {{"identify", "--long"}, "--long applies to drives, not to identify"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Parse(c.args, &error)) << c.args[0];
    EXPECT_NE(error.find(c.mentions), std::string::npos) << c.args[0] << ": " << error;
  }
}

}  // namespace

TEST(CliOptions, EachCommandHasItsOwnHelp) {
  for (const char* command : {"drives", "identify", "scan", "smart"}) {
    const std::string help = CommandUsage(command);
    EXPECT_EQ(help.rfind(std::string("usage: velmo-cli [options] ") + command, 0), 0u) << help;
  }
  EXPECT_NE(CommandUsage("scan").find("--density"), std::string::npos);
  EXPECT_EQ(CommandUsage("drives").find("--density"), std::string::npos);
  EXPECT_EQ(CommandUsage("frob"), "");
  auto options = Parse({"scan", "--help"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->help);
  EXPECT_EQ(options->command, "scan");
}

TEST(CliOptions, WatchOptionsAndDriveAll) {
  auto options =
      Parse({"--simulate=feeder", "watch", "--drive", "all", "--speed", "8X", "--density=quick",
             "--smart", "--eject", "--report-dir", "out", "--count=25"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->command, "watch");
  EXPECT_TRUE(options->driveAll);
  EXPECT_EQ(options->speed, kSpeed8X);
  EXPECT_STREQ(options->density->name, "quick");
  EXPECT_TRUE(options->smart);
  EXPECT_TRUE(options->eject);
  EXPECT_EQ(options->reportDir, "out");
  EXPECT_EQ(options->count, 25);
  for (const char* command : {"scan", "smart"}) {
    options = Parse({"--drive=all", command});
    ASSERT_TRUE(options) << command;
    EXPECT_TRUE(options->driveAll);
  }

  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"watch", "--count", "0"}, "--count needs a number of discs from 1, not '0'"},
      {{"watch", "--count=x"}, "--count needs a number of discs from 1, not 'x'"},
      {{"watch", "--report-dir="}, "--report-dir needs a folder"},
      {{"watch", "--count"}, "option '--count' needs a value"},
      {{"scan", "--eject"}, "--eject applies to watch only, not to scan"},
      {{"smart", "--count", "3"}, "--count applies to watch only, not to smart"},
      {{"identify", "--drive", "all"},
       "--drive all applies to scan, smart, watch and recover, not to identify"},
      {{"watch", "--log", "x.txt"}, "--log applies to scan, not to watch"},
      {{"watch", "--drive", "some"}, "--drive needs a drive index from 0 to 7, not 'some'"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(Parse(c.args, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

// Every row of the command table is reachable: listed in velmo-cli --help
// with its summary, run by exactly one kind of handler, and told apart by
// the parser's checks as its options say.
TEST(CliCommandTable, EachRowIsListedRunAndChecked) {
  const std::string help = CliUsage();
  std::set<std::string> names;
  for (const CliCommand& command : CliCommands()) {
    SCOPED_TRACE(command.name);
    EXPECT_TRUE(names.insert(command.name).second);
    EXPECT_EQ(FindCliCommand(command.name), &command);
    EXPECT_NE(help.find(std::string("\n  ") + command.name + " "), std::string::npos);
    EXPECT_NE(help.find(std::string(command.summary) + "\n"), std::string::npos);
    const unsigned kind = command.RunKind();
    EXPECT_TRUE(kind == kRunsOnDrive || kind == kRunsOnRecords || kind == kRunsOwnMain) << kind;
    EXPECT_NE(command.run, nullptr);
    EXPECT_EQ(kind == kRunsOwnMain, command.claims != nullptr);
    EXPECT_EQ(IsRecordCommand(command.name), kind == kRunsOnRecords);
    if (command.usage != nullptr) {
      EXPECT_EQ(CommandUsage(command.name), command.usage());
      EXPECT_NE(command.usage().find(std::string(" ") + command.name), std::string::npos);
    }
    // A scan option is refused on exactly the rows that do not take it.
    std::string error;
    const bool takesSpeed = (command.flags & kTakesSpeed) != 0;
    if (kind != kRunsOnRecords) {
      EXPECT_EQ(Parse({"--speed", "4X", command.name}, &error).has_value(), takesSpeed) << error;
    }
    const bool takesWatch = (command.flags & kTakesWatchOptions) != 0;
    if (kind != kRunsOnRecords) {
      EXPECT_EQ(Parse({"--eject", command.name}, &error).has_value(), takesWatch) << error;
    }
  }
  EXPECT_EQ(FindCliCommand("frob"), nullptr);
  EXPECT_FALSE(IsRecordCommand("frob"));
}
