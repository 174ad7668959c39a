// Files that appear whole or not at all: what scan's outputs stand on.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <future>
#include <string>

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

// A stop that came before a write into a pipe nobody reads (while the chart
// was drawn) ends the write when the pipe fills; until then, and into a pipe
// with room, writes go on after a stop, so a stopped run leaves its files.
TEST(AtomicFile, AStopBeforeAWriteIntoAFullPipeEndsIt) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  signal(SIGPIPE, SIG_IGN);  // without the fix the write ends by the reader closing
  const std::string small(100, 'x');
  const std::string big(1 << 20, 'y');  // far past what a pipe holds
  StopWaitingForOutputs();
  EXPECT_TRUE(WriteOutputBytes(ends[1], small.data(), small.size()));
  auto write = std::async(std::launch::async, [&] {
    const bool written = WriteOutputBytes(ends[1], big.data(), big.size());
    return std::make_pair(written, errno);
  });
  const bool ended = write.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  ResumeWaitingForOutputs();
  if (!ended) {
    close(ends[0]);  // lets the write end, so the test can
  }
  const auto [written, why] = write.get();
  EXPECT_TRUE(ended) << "the write waited on after the stop";
  EXPECT_FALSE(written);
  EXPECT_EQ(why, ended ? EINTR : EPIPE);
  if (ended) close(ends[0]);
  close(ends[1]);
}

}  // namespace
