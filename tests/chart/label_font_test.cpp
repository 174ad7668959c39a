#include "chart/label_font.h"

#include <gtest/gtest.h>

#include "chart/surface.h"

namespace {

TEST(LabelFontTest, ArialResolvesAndFillsTheRequestedCell) {
  const std::string file = CLabelFont::LocateFile("Arial", 300);
  ASSERT_FALSE(file.empty());
  auto font = CLabelFont::Open(file, 14);
  ASSERT_NE(font, nullptr) << file;
  EXPECT_EQ(font->Height(), 14);
  EXPECT_GT(font->Ascent(), font->Descent());
  EXPECT_GT(font->Descent(), 0);
  // Lining figures share one advance, so labels of equal length line up.
  const int digit = font->TextWidth("0");
  EXPECT_GT(digit, 0);
  for (char c = '1'; c <= '9'; ++c) {
    EXPECT_EQ(font->TextWidth(std::string(1, c)), digit) << c;
  }
  EXPECT_EQ(font->TextWidth("2295103"), 7 * digit);
  EXPECT_EQ(font->TextWidth(""), 0);
}

TEST(LabelFontTest, UnreadableFilesGiveNoFont) {
  EXPECT_EQ(CLabelFont::Open("", 14), nullptr);
  EXPECT_EQ(CLabelFont::Open("/nonexistent/font.ttf", 14), nullptr);
  EXPECT_EQ(CLabelFont::Open("/etc/hostname", 14), nullptr);
  EXPECT_EQ(CLabelFont::Open(CLabelFont::LocateFile("Arial", 300), 0), nullptr);
}

}  // namespace
