// OpenAddress over a scripted platform: when the shell's answer stands, the
// ".htm" fallback's registry reads, the cutting of the registered command at
// its placeholder, and the buffer limits.
#include "links/open_address.h"

#include <gtest/gtest.h>

#include "links/linux_link_platform.h"
#include "tests/links/fake_link_platform.h"

namespace {

constexpr char kAddress[] = "https://www.example.com/velmo/";
constexpr char kHandlerKey[] = "browser.desktop\\shell\\open\\command";

class FallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.shellAnswer = kOpenNoAssociation;
    fake.registry[".htm"] = "browser.desktop";
  }
  void Register(const std::string& command) { fake.registry[kHandlerKey] = command; }

  FakeLinkPlatform fake;
};

// What the fallback would start for a registered command, or "(none)".
std::string Built(const std::string& registered, const std::string& address = "A") {
  const std::optional<LinkCommandLine> line = BuildLinkCommand(registered, address);
  if (!line) return "(none)";
  EXPECT_EQ(line->text.substr(line->addressAt), address);
  return line->text;
}

TEST(OpenAddressShell, AnswerAbove32IsFinal) {
  FakeLinkPlatform fake;
  fake.registry[".htm"] = "browser.desktop";
  fake.registry[kHandlerKey] = "browser %u";
  for (int answer : {33, 42, -1}) {  // compared unsigned: -1 is a success too
    fake.calls.clear();
    fake.shellAnswer = answer;
    EXPECT_EQ(OpenAddress(fake, kAddress, kShowNormal), answer);
    EXPECT_EQ(fake.calls, std::vector<std::string>{std::string("shell ") + kAddress});
  }
  EXPECT_EQ(fake.showCommands.back(), kShowNormal);

  fake.calls.clear();
  fake.shellAnswer = 32;
  OpenAddress(fake, kAddress, kShowNormal);
  EXPECT_EQ(fake.calls.size(), 4u) << "32 is a failure and must take the fallback";
}

TEST_F(FallbackTest, ReadsTheHtmTypeThenItsOpenCommandAndStartsIt) {
  Register("/usr/bin/browser \"%u\"");
  fake.startAnswer = 40;
  EXPECT_EQ(OpenAddress(fake, kAddress, kShowNormal), 40);
  const std::vector<std::string> expected = {std::string("shell ") + kAddress, "read .htm",
                                             std::string("read ") + kHandlerKey,
                                             std::string("start /usr/bin/browser  ") + kAddress};
  EXPECT_EQ(fake.calls, expected);
  ASSERT_TRUE(fake.started);
  EXPECT_EQ(fake.started->addressAt, std::string("/usr/bin/browser  ").size());
  EXPECT_EQ(fake.showCommands, (std::vector<int>{kShowNormal, kShowNormal}));
}

TEST_F(FallbackTest, UnavailableFallbackReportsTheShellsCode) {
  fake.shellAnswer = kOpenFileNotFound;
  fake.registry.clear();
  EXPECT_EQ(OpenAddress(fake, kAddress, kShowNormal), kOpenFileNotFound);
  EXPECT_EQ(fake.calls.back(), "read .htm");

  fake.registry[".htm"] = "browser.desktop";  // a type without a command
  EXPECT_EQ(OpenAddress(fake, kAddress, kShowNormal), kOpenFileNotFound);
  EXPECT_FALSE(fake.started);
}

TEST_F(FallbackTest, StartersFailureIsTheResult) {
  Register("browser %u");
  fake.startAnswer = kOpenAccessDenied;
  EXPECT_EQ(OpenAddress(fake, kAddress, kShowNormal), kOpenAccessDenied);
}

TEST_F(FallbackTest, RegistryValuesMustFitTheir260Bytes) {
  const std::string program(259 - 3, 'b');  // with " %u": 259 bytes and the NUL
  Register(program + " %u");
  EXPECT_EQ(OpenAddress(fake, kAddress, kShowNormal), kOpenSucceeded);
  EXPECT_EQ(fake.started->text, program + "  " + kAddress);

  fake.started.reset();
  Register(program + "b %u");
  EXPECT_EQ(OpenAddress(fake, kAddress, kShowNormal), kOpenNoAssociation);
  EXPECT_FALSE(fake.started);

  std::string value;
  fake.registry[".htm"] = std::string(260, 't');
  EXPECT_EQ(ReadRegistryDefault(fake, ".htm", &value), kRegistryMoreData);
  EXPECT_EQ(value, "") << "a failed read leaves the output alone";
}

TEST_F(FallbackTest, CommandLineNeverOutgrowsIts520Bytes) {
  Register("browser \"%u\"");  // "browser  " and the address
  const std::string fits(519 - 9, 'a');
  EXPECT_EQ(OpenAddress(fake, fits, kShowNormal), kOpenSucceeded);
  EXPECT_EQ(fake.started->text.size(), 519u);

  fake.started.reset();
  EXPECT_EQ(OpenAddress(fake, fits + "a", kShowNormal), kOpenNoAssociation);
  EXPECT_FALSE(fake.started) << "a line too long is refused, not cut";
}

TEST(LinkCommand, CutAtTheFirstQuotedPlaceholderElseTheFirstBareOne) {
  EXPECT_EQ(Built("/usr/bin/browser \"%u\""), "/usr/bin/browser  A");
  EXPECT_EQ(Built("\"/opt/my browser/run\" \"%F\" --tail"), "\"/opt/my browser/run\"  A");
  EXPECT_EQ(Built("browser %U --private"), "browser  A");
  EXPECT_EQ(Built("browser --url=%f"), "browser --url= A");
  EXPECT_EQ(Built("browser %u \"%U\""), "browser %u  A");  // quoted wins over an earlier bare one
  EXPECT_EQ(Built("\"%u\""), " A");
  EXPECT_EQ(Built("browser \"%u"), "browser \" A");  // a quote on one side only is no quoting
  EXPECT_EQ(Built("browser %i %c %u"), "browser %i %c  A");
}

TEST(LinkCommand, WithoutPlaceholderTheWholeLineStays) {
  EXPECT_EQ(Built("browser --new-window"), "browser --new-window A");
  EXPECT_EQ(Built("browser %%u"), "browser %%u A");  // a literal "%u"
  EXPECT_EQ(Built("browser 100%"), "browser 100% A");
  EXPECT_EQ(Built(""), " A");
  EXPECT_EQ(PlaceholderCut("browser %%%u"), 10u);  // "%%" then a real placeholder
}

TEST(LinkPlatformChoice, TestsCanPutTheirOwnInPlace) {
  FakeLinkPlatform fake;
  fake.shellAnswer = 77;
  EXPECT_EQ(ReplaceLinkPlatform(&fake), nullptr);
  EXPECT_EQ(OpenAddress(kAddress, kShowNormal), 77);
  EXPECT_EQ(ReplaceLinkPlatform(nullptr), &fake);
  EXPECT_EQ(&LinkPlatform(), &SystemLinkPlatform());
}

}  // namespace
