// The pieces behind scan's output files: JSON strings, and files that
// appear whole or not at all.
#include "cli/scan_report.h"

#include <gtest/gtest.h>

#include "session/output_file.h"
#include "tests/cli/cli_test_util.h"
#include "tests/cli/json_reader.h"

namespace {

TEST(JsonString, EscapesWhatJsonForbidsAndKeepsEveryByte) {
  EXPECT_EQ(JsonString("NOVADISC"), "\"NOVADISC\"");
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(JsonString("\xFF"), "\"\\u00ff\"");
  std::string every;
  for (int b = 1; b < 256; ++b) every.push_back(static_cast<char>(b));
  every.push_back('\0');
  const auto parsed = JsonReader::Parse(JsonString(every));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->text, every);
}

TEST(AtomicFile, TheTargetChangesOnlyOnCommit) {
  TempPath target("atomic.txt");
  std::ofstream(target.str()) << "old";
  std::string error;
  {
    COutputFile file;
    ASSERT_TRUE(file.Open(target, &error)) << error;
  }  // dropped: nothing changes, no temporary file stays behind
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_FALSE(std::ifstream(target.str() + "." + std::to_string(getpid()) + ".tmp").good());

  COutputFile file;
  ASSERT_TRUE(file.Open(target, &error)) << error;
  EXPECT_EQ(ReadFile(target), "old");
  ASSERT_TRUE(file.Commit("new text", &error)) << error;
  EXPECT_EQ(ReadFile(target), "new text");

  COutputFile nowhere;
  EXPECT_FALSE(nowhere.Open("/nonexistent-dir/x.json", &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.json"), std::string::npos);
  EXPECT_FALSE(nowhere.Commit("x", &error));
}

}  // namespace
