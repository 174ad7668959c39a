// Files that appear whole or not at all: what scan's outputs stand on.

#include <gtest/gtest.h>

#include "session/output_file.h"
#include "tests/cli/cli_test_util.h"

namespace {

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
