#include "chart/surface.h"

#include <gtest/gtest.h>

namespace {

constexpr COLORREF kRed = Rgb(255, 0, 0);
constexpr COLORREF kBlue = Rgb(0, 0, 255);

// Pixels of surface equal to colour.
int CountOf(const CSurface& surface, COLORREF colour) {
  int count = 0;
  for (COLORREF c : surface.Pixels()) count += c == colour;
  return count;
}

TEST(SurfaceTest, FillExcludesRightColumnAndBottomRow) {
  CSurface s(10, 8);
  s.FillRect({2, 3, 5, 6}, kRed);
  EXPECT_EQ(CountOf(s, kRed), 3 * 3);
  EXPECT_EQ(s.GetPixel(2, 3), kRed);
  EXPECT_EQ(s.GetPixel(4, 5), kRed);
  EXPECT_EQ(s.GetPixel(5, 5), 0u);
  EXPECT_EQ(s.GetPixel(4, 6), 0u);
  EXPECT_EQ(s.GetPixel(1, 3), 0u);
}

TEST(SurfaceTest, WritesOutsideAreClippedAndReadsInvalid) {
  CSurface s(4, 3);
  s.SetPixel(-1, 0, kRed);
  s.SetPixel(4, 0, kRed);
  s.SetPixel(0, 3, kRed);
  s.FillRect({-100, -100, 100, 1}, kBlue);  // covers row 0 only
  s.FillRect({-1000000000, 2, -999999990, 3}, kRed);
  EXPECT_EQ(CountOf(s, kBlue), 4);
  EXPECT_EQ(CountOf(s, kRed), 0);
  EXPECT_EQ(s.GetPixel(-1, 0), kClrInvalid);
  EXPECT_EQ(s.GetPixel(0, 3), kClrInvalid);

  // Block transfers clip to both surfaces; OR keeps what was there.
  CSurface src(3, 3, Rgb(0, 0x10, 0));
  CSurface dst(4, 4, Rgb(0x02, 0, 0));
  dst.BitBlt(-1, 2, 10, 10, src, 0, 0, RasterOp::kSrcPaint);
  EXPECT_EQ(dst.GetPixel(0, 2), Rgb(0x02, 0x10, 0));
  EXPECT_EQ(dst.GetPixel(1, 3), Rgb(0x02, 0x10, 0));
  EXPECT_EQ(dst.GetPixel(2, 3), Rgb(0x02, 0, 0));  // beyond src
  EXPECT_EQ(dst.GetPixel(0, 1), Rgb(0x02, 0, 0));
}

}  // namespace
