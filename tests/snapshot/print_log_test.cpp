// PrintLog on a recording page: where each line lands, what the page cut
// drops, long reads, and the log that cannot be opened.
#include "snapshot/print_log.h"

#include <gtest/gtest.h>

#include "tests/snapshot/bmp_test_support.h"

namespace {

struct Line {
  int x, y;
  std::string text;
  bool operator==(const Line&) const = default;
};

void PrintTo(const Line& line, std::ostream* os) {
  *os << "(" << line.x << ", " << line.y << ", \"" << line.text << "\")";
}

struct RecordingPage : LogPrintTarget {
  explicit RecordingPage(int height) : height(height) {}
  int PageHeight() const override { return height; }
  void DrawTextLine(int x, int y, const std::string& text) override {
    lines.push_back({x, y, text});
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }

  int height;
  std::vector<Line> lines;
  std::vector<std::string> messages;
};

class PrintLogTest : public SnapshotFolderTest {
 protected:
  std::string Log(const std::string& content) {
    std::ofstream(PathOf("TEFE.txt"), std::ios::binary) << content;
    return PathOf("TEFE.txt");
  }
};

TEST_F(PrintLogTest, LinesStartAt400AndStep150WithoutTheirLineEnds) {
  RecordingPage page(10000);
  EXPECT_TRUE(PrintLog(page, Log("LBA TE FE\r\n0 120 80\r\n\r\nlf only\n49152 130 90")));
  EXPECT_EQ(page.lines, (std::vector<Line>{{0, 400, "LBA TE FE"},
                                           {0, 550, "0 120 80"},
                                           {0, 700, ""},
                                           {0, 850, "lf only"},
                                           {0, 1000, "49152 130 90"}}));
  EXPECT_TRUE(page.messages.empty());
}

TEST_F(PrintLogTest, LinesStartingBelowThePageAreDropped) {
  std::string content;
  for (int i = 0; i < 100; ++i) content += std::to_string(i) + "\r\n";
  const std::string path = Log(content);

  RecordingPage exact(1000);  // 400, 550, 700, 850 fit; 1000 is past the page
  PrintLog(exact, path);
  ASSERT_EQ(exact.lines.size(), 4u);
  EXPECT_EQ(exact.lines.back(), (Line{0, 850, "3"}));

  RecordingPage oneMore(1001);
  PrintLog(oneMore, path);
  EXPECT_EQ(oneMore.lines.size(), 5u);

  RecordingPage tiny(400);
  EXPECT_TRUE(PrintLog(tiny, path));
  EXPECT_TRUE(tiny.lines.empty());
}

TEST_F(PrintLogTest, ReadsLongerThan599BytesContinueOnTheNextLine) {
  RecordingPage page(10000);
  PrintLog(page, Log(std::string(599, 'a') + std::string(101, 'b') + "\r\nend\r\n"));
  EXPECT_EQ(page.lines, (std::vector<Line>{{0, 400, std::string(599, 'a')},
                                           {0, 550, std::string(101, 'b')},
                                           {0, 700, "end"}}));
}

TEST_F(PrintLogTest, MissingLogShowsTheMessageAndLeavesThePageEmpty) {
  RecordingPage page(10000);
  EXPECT_FALSE(PrintLog(page, PathOf("TEFE.txt")));
  EXPECT_EQ(page.messages, std::vector<std::string>{"Cannot open file to print."});
  EXPECT_TRUE(page.lines.empty());

  RecordingPage empty(10000);
  EXPECT_TRUE(PrintLog(empty, Log("")));
  EXPECT_TRUE(empty.lines.empty());
  EXPECT_TRUE(empty.messages.empty()) << "an empty log is not a missing one";
}

}  // namespace
