// Desktop entries: finding one by id, reading its Exec line, and splitting
// that line into an argument vector.
#include "links/desktop_entry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

Args Split(std::string_view line) {
  const std::optional<Args> args = SplitExecLine(line);
  EXPECT_TRUE(args) << line;
  return args.value_or(Args{"(unbalanced)"});
}

TEST(SplitExecLine, BlanksSeparateQuotesGroup) {
  EXPECT_EQ(Split("browser  --new-window\tx"), (Args{"browser", "--new-window", "x"}));
  EXPECT_EQ(Split("\"/opt/my browser/run\" --flag "), (Args{"/opt/my browser/run", "--flag"}));
  EXPECT_EQ(Split("run \"\" last"), (Args{"run", "", "last"}));  // an empty quoted argument stays
  EXPECT_EQ(Split("run pre\"fix suffix\""), (Args{"run", "prefix suffix"}));
  EXPECT_EQ(Split("   "), Args{});
}

TEST(SplitExecLine, BackslashEscapesOnlyInsideQuotes) {
  EXPECT_EQ(Split(R"(run "a \"b\" \$HOME \`x\` c:\\d \n")"),
            (Args{"run", R"(a "b" $HOME `x` c:\d \n)"}));
  EXPECT_EQ(Split(R"(run a\b)"), (Args{"run", R"(a\b)"}));
  // Nothing a shell would act on is acted on.
  EXPECT_EQ(Split("run $(id);rm `x` ~ *"), (Args{"run", "$(id);rm", "`x`", "~", "*"}));
}

TEST(SplitExecLine, FieldCodesAreDropped) {
  EXPECT_EQ(Split("browser %i --name=%c %u %k"), (Args{"browser", "--name="}));
  EXPECT_EQ(Split("run 100%% %%u"), (Args{"run", "100%", "%u"}));
  EXPECT_EQ(Split("run \"%u\""), (Args{"run", "%u"}));  // no field codes inside quotes
  EXPECT_EQ(Split("run %z 5%"), (Args{"run", "%z", "5%"}));
}

TEST(SplitExecLine, AnOpenQuoteIsRefused) {
  EXPECT_FALSE(SplitExecLine("browser \"--url="));
  EXPECT_FALSE(SplitExecLine("browser \"ends in an escape\\\""));
}

TEST(DesktopEntryExec, TakesExecOfTheDesktopEntryGroupOnly) {
  EXPECT_EQ(DesktopEntryExec("# browser\n"
                             "[Desktop Entry]\n"
                             "Name=Browser\n"
                             "Exec[de]=wrong %u\n"
                             "TryExec=browser\n"
                             "Exec = browser --new %u \r\n"
                             "Exec=second\n"
                             "[Desktop Action private]\n"
                             "Exec=browser --private %u\n"),
            "browser --new %u");
  EXPECT_EQ(DesktopEntryExec("[Desktop Action new]\nExec=browser --new\n"
                             "[Desktop Entry]\nName=B\nExec=browser %U"),
            "browser %U");
  EXPECT_FALSE(DesktopEntryExec("[Other]\nExec=browser %u\n"));
  EXPECT_FALSE(DesktopEntryExec("[Desktop Entry]\nName=No command\n"));
  EXPECT_FALSE(DesktopEntryExec("Exec=before any group\n"));
}

TEST(DesktopEntryExec, ValueEscapesUndoneQuotingKept) {
  EXPECT_EQ(DesktopEntryExec(R"([Desktop Entry]
Exec="/opt/my\sbrowser/run" "a \"q\" c:\\\\d" %u)"),
            R"("/opt/my browser/run" "a \"q\" c:\\d" %u)");
}

TEST(DesktopEntryExec, HiddenEntriesAreDeleted) {
  EXPECT_FALSE(DesktopEntryExec("[Desktop Entry]\nExec=browser %u\nHidden=true\n"));
  EXPECT_EQ(DesktopEntryExec("[Desktop Entry]\nExec=browser %u\nHidden=false\n"), "browser %u");
}

class FindDesktopEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    root = m_scratchFolder.Path();
  }

  std::string Put(const std::string& relative) {
    const fs::path path = root / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "[Desktop Entry]\n";
    return path.string();
  }
  std::string Dir(const std::string& name) const { return (root / name).string(); }

  ScratchFolder m_scratchFolder{"velmo-entries"};
  fs::path root;
};

TEST_F(FindDesktopEntryTest, EarlierDataDirWins) {
  Put("home/applications/browser.desktop");
  const std::string system = Put("usr/applications/browser.desktop");
  const std::string only = Put("usr/applications/other.desktop");
  EXPECT_EQ(FindDesktopEntry("browser.desktop", {Dir("home"), Dir("usr")}),
            Dir("home") + "/applications/browser.desktop");
  EXPECT_EQ(FindDesktopEntry("browser.desktop", {Dir("none"), Dir("usr")}), system);
  EXPECT_EQ(FindDesktopEntry("other.desktop", {Dir("home"), Dir("usr")}), only);
  EXPECT_EQ(FindDesktopEntry("missing.desktop", {Dir("home"), Dir("usr")}), "");
}

TEST_F(FindDesktopEntryTest, DashesMayStandForSubfolders) {
  const std::string nested = Put("usr/applications/vendor/web-browser.desktop");
  EXPECT_EQ(FindDesktopEntry("vendor-web-browser.desktop", {Dir("usr")}), nested);
  const std::string deeper = Put("usr/applications/a/b/c.desktop");
  EXPECT_EQ(FindDesktopEntry("a-b-c.desktop", {Dir("usr")}), deeper);
  fs::create_directories(root / "usr/applications/folder.desktop");
  EXPECT_EQ(FindDesktopEntry("folder.desktop", {Dir("usr")}), "");  // a folder is no entry
}

TEST_F(FindDesktopEntryTest, IdsCannotLeaveTheApplicationsFolders) {
  Put("usr/outside.desktop");
  fs::create_directories(root / "usr/applications");
  EXPECT_EQ(FindDesktopEntry("../outside.desktop", {Dir("usr")}), "");
  EXPECT_EQ(FindDesktopEntry("..-outside.desktop", {Dir("usr")}), "");
  EXPECT_EQ(FindDesktopEntry("", {Dir("usr")}), "");
}

}  // namespace
