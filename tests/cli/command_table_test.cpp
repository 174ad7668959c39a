// The command table is the one list of velmo-cli's commands: the synopsis of
// velmo-cli --help, the names a usage error gives and the man page's
// COMMANDS section all hold every row of it, in its order.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "tests/cli/cli_process.h"
#include "tests/support/test_paths.h"

namespace {

std::string ManPage() {
  std::ifstream in(std::string(velmo_test::SourceDir()) + "/packaging/velmo-cli.1");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ManualCliPart() {
  std::ifstream in(std::string(velmo_test::SourceDir()) + "/docs/manual.md");
  std::stringstream text;
  text << in.rdbuf();
  const std::string manual = text.str();
  const size_t from = manual.find("\n## velmo-cli\n");
  const size_t to = manual.find("\n## ", from + 1);
  return from == std::string::npos ? "" : manual.substr(from, to - from);
}

// The man page's text without its font changes and with "\-" as "-".
std::string PlainManText(std::string page) {
  for (const char* escape : {"\\fB", "\\fR", "\\fI", "\\fP"}) {
    for (size_t at; (at = page.find(escape)) != std::string::npos;) page.erase(at, 3);
  }
  for (size_t at; (at = page.find("\\-")) != std::string::npos;) page.erase(at, 1);
  return page;
}

// Every --option a text names.
std::set<std::string> OptionWords(const std::string& text) {
  std::set<std::string> words;
  static const std::regex option("--[a-z][a-z-]*[a-z]");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it)
    words.insert(it->str());
  return words;
}

// The lines of a man page section, from its .SH line to the next.
std::vector<std::string> Section(const std::string& page, const std::string& name) {
  std::vector<std::string> lines;
  std::istringstream in(page);
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH ", 0) == 0) inside = line == ".SH " + name;
    if (inside) lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(CommandTable, HelpSynopsisHoldsEveryCommandInTableOrder) {
  const std::string help = CliUsage();
  const std::string synopsis = help.substr(0, help.find("\ncommands:\n"));
  size_t previous = 0;
  for (const CliCommand& command : CliCommands()) {
    SCOPED_TRACE(command.name);
    std::string lines;
    if (command.usage != nullptr) {
      // The command's own usage lines, as its help has them.
      const std::string usage = command.usage();
      ASSERT_EQ(usage.rfind("usage: ", 0), 0u);
      lines = "       " + usage.substr(7, usage.find("\n\n") + 1 - 7);
    } else {
      lines = std::string("       velmo-cli [options] ") + command.name;
    }
    const size_t at = synopsis.find("\n" + lines);
    ASSERT_NE(at, std::string::npos) << synopsis;
    EXPECT_GT(at, previous);
    previous = at;
  }
  EXPECT_EQ(CliUsage().rfind("usage: velmo-cli [--simulate", 0), 0u);
}

// Both usage errors without a known command list the table, as the binary says them.
TEST(CommandTable, UsageErrorsNameEveryCommand) {
  const std::string names = CliCommandNames();
  size_t previous = 0;
  for (const CliCommand& command : CliCommands()) {
    const size_t at = names.find(command.name);
    ASSERT_NE(at, std::string::npos) << command.name;
    EXPECT_TRUE(at == 0 || at > previous) << command.name;
    previous = at;
  }
  EXPECT_EQ(names.substr(names.rfind(' ') - 3), std::string(" or ") + CliCommands().back().name);

  const std::string dir = testing::TempDir() + "/command_table_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  SpawnOptions spawn;
  spawn.cwd = dir;
  const Finished unknown = Child({"--simulate", "frob"}, spawn).Wait();
  EXPECT_EQ(unknown.code, kExitUsage);
  EXPECT_EQ(unknown.err,
            "velmo-cli: unknown command 'frob' (" + names + "); try 'velmo-cli --help'\n");
  const Finished none = Child({"--simulate"}, spawn).Wait();
  EXPECT_EQ(none.code, kExitUsage);
  EXPECT_EQ(none.err, "velmo-cli: no command given (" + names + "); try 'velmo-cli --help'\n");
  std::filesystem::remove_all(dir);
}

// Every command has help of its own, and `velmo-cli COMMAND --help` (or -h)
// prints it: doctor printed the general help.
TEST(CommandTable, EveryCommandsHelpIsItsOwn) {
  const std::string dir = testing::TempDir() + "/command_help_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  SpawnOptions spawn;
  spawn.cwd = dir;
  for (const CliCommand& command : CliCommands()) {
    SCOPED_TRACE(command.name);
    ASSERT_NE(command.usage, nullptr);
    const std::string usage = command.usage();
    EXPECT_EQ(usage.rfind("usage: ", 0), 0u) << usage;
    EXPECT_NE(usage.find(std::string(" ") + command.name), std::string::npos) << usage;
    for (const char* help : {"--help", "-h"}) {
      const Finished run = Child({command.name, help}, spawn).Wait();
      EXPECT_EQ(run.code, kExitOk) << run.err;
      EXPECT_EQ(run.out, usage);
    }
  }
  std::filesystem::remove_all(dir);
}

// Each command is one .TP entry, in the table's order, and nothing else is;
// the synopsis names every command too.
TEST(CommandTable, ManPageCommandsAreTheTable) {
  const std::string page = ManPage();
  ASSERT_FALSE(page.empty()) << std::string(velmo_test::SourceDir()) + "/packaging/velmo-cli.1";
  const std::vector<std::string> section = Section(page, "COMMANDS");
  std::vector<std::string> entries;
  for (size_t i = 1; i < section.size(); ++i) {
    if (section[i - 1] == ".TP") {
      EXPECT_EQ(section[i].rfind(".B ", 0), 0u)
          << "an entry must start with its name: " << section[i];
      entries.push_back(section[i].substr(3));
    } else if (section[i].rfind(".B ", 0) == 0 && FindCliCommand(section[i].substr(3))) {
      ADD_FAILURE() << section[i] << " runs into the entry before: no .TP";
    }
  }
  std::vector<std::string> names;
  for (const CliCommand& command : CliCommands()) names.push_back(command.name);
  EXPECT_EQ(entries, names);

  std::string synopsis;
  for (const std::string& line : Section(page, "SYNOPSIS")) synopsis += line + "\n";
  for (const std::string& name : names) {
    EXPECT_NE(synopsis.find(".B " + name + "\n"), std::string::npos) << name;
  }
}

// The manual's velmo-cli synopsis names every command in the table's order
// (each once, however many lines it takes),
// and every option velmo-cli --help or a command's help names is in the
// man page and in the manual: a command or option added to one and not the
// others fails here.
TEST(CommandTable, HelpManPageAndManualAgree) {
  const std::string manual = ManualCliPart();
  ASSERT_FALSE(manual.empty());
  std::vector<std::string> synopsis;
  std::istringstream lines(manual);
  static const std::regex named("^    velmo-cli (\\[[^\\]]*\\] )*([a-z]+)( |$).*");
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    // A command with subcommands (history) takes a line for each.
    if (std::regex_match(line, m, named) && FindCliCommand(m[2]) &&
        (synopsis.empty() || synopsis.back() != m[2])) {
      synopsis.push_back(m[2]);
    }
  }
  std::vector<std::string> names;
  for (const CliCommand& command : CliCommands()) names.push_back(command.name);
  EXPECT_EQ(synopsis, names) << "docs/manual.md's synopsis under '## velmo-cli'";

  std::string help = CliUsage();
  for (const std::string& name : names) help += CommandUsage(name);
  const std::string man = PlainManText(ManPage());
  const std::set<std::string> documented[] = {OptionWords(man), OptionWords(manual)};
  const char* where[] = {"velmo-cli.1", "docs/manual.md"};
  for (const std::string& option : OptionWords(help)) {
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(documented[i].count(option), 1u) << option << " is not in " << where[i];
    }
  }
}
