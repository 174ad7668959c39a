#include "chart/raster_dc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <utility>

#include "chart/label_font.h"
#include "chart/surface.h"

namespace {

constexpr COLORREF kInk = Rgb(227, 28, 187);
constexpr COLORREF kPaper = Rgb(0, 0, 0);
constexpr COLORREF kGap = Rgb(0, 0, 200);

using Pixel = std::pair<int, int>;

// The error-term loop step by step, unclipped: the pixels a GDI line from
// (x0, y0) to (x1, y1) sets. Octants 3, 5, 6 and 8 (y down) step on ties.
std::vector<Pixel> ReferenceLine(int x0, int y0, int x1, int y1) {
  const int dx = x1 - x0, dy = y1 - y0;
  const int adx = std::abs(dx), ady = std::abs(dy);
  int octant;
  if (dy > 0) {
    octant = dx > 0 ? (dx > dy ? 1 : 2) : (-dx > dy ? 4 : 3);
  } else {
    octant = dx < 0 ? (-dx > -dy ? 5 : 6) : (dx > -dy ? 8 : 7);
  }
  const int bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8);
  const bool xMajor = adx > ady;
  const int major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
  const int sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1;
  std::vector<Pixel> pixels;
  int x = x0, y = y0, err = 2 * minor - major;
  for (int i = 0; i < major; ++i) {
    pixels.emplace_back(x, y);
    if (err + bias > 0) {
      (xMajor ? y : x) += xMajor ? sy : sx;
      err += 2 * minor - 2 * major;
    } else {
      err += 2 * minor;
    }
    (xMajor ? x : y) += xMajor ? sx : sy;
  }
  return pixels;
}

std::set<Pixel> InkOf(const CSurface& s, COLORREF colour) {
  std::set<Pixel> ink;
  for (int y = 0; y < s.Height(); ++y) {
    for (int x = 0; x < s.Width(); ++x) {
      if (s.GetPixel(x, y) == colour) ink.emplace(x, y);
    }
  }
  return ink;
}

void Line(CSurface& s, CPen pen, int x0, int y0, int x1, int y1, bool opaque = true) {
  CRasterDC dc(s);
  dc.SetBkColor(kGap);
  dc.SetBkOpaque(opaque);
  dc.SelectPen(pen);
  dc.MoveTo(x0, y0);
  dc.LineTo(x1, y1);
}

TEST(RasterLineTest, TiesBreakByOctantSoReverseLinesDiffer) {
  CSurface forward(4, 4), backward(4, 4);
  Line(forward, {PenStyle::kSolid, kInk}, 0, 0, 2, 1);
  Line(backward, {PenStyle::kSolid, kInk}, 2, 1, 0, 0);
  EXPECT_EQ(InkOf(forward, kInk), (std::set<Pixel>{{0, 0}, {1, 0}}));
  EXPECT_EQ(InkOf(backward, kInk), (std::set<Pixel>{{2, 1}, {1, 0}}));
}

TEST(RasterLineTest, ClippedLinesMatchTheUnclippedLoop) {
  // Endpoints well outside a small surface exercise the skip to the first
  // visible step in every octant.
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coord(-60, 90);
  for (int n = 0; n < 3000; ++n) {
    const int x0 = coord(random), y0 = coord(random);
    const int x1 = coord(random), y1 = coord(random);
    CSurface s(32, 24);
    Line(s, {PenStyle::kSolid, kInk}, x0, y0, x1, y1);
    std::set<Pixel> expected;
    for (const Pixel& p : ReferenceLine(x0, y0, x1, y1)) {
      if (p.first >= 0 && p.first < 32 && p.second >= 0 && p.second < 24) {
        expected.insert(p);
      }
    }
    ASSERT_EQ(InkOf(s, kInk), expected) << x0 << "," << y0 << " -> " << x1 << "," << y1;
  }
}

TEST(RasterLineTest, FarEndpointsStayOnTheSurface) {
  CSurface s(16, 8);
  Line(s, {PenStyle::kSolid, kInk}, -2000000000, 3, 2000000000, 3);
  EXPECT_EQ(InkOf(s, kInk).size(), 16u);
  for (int x = 0; x < 16; ++x) EXPECT_EQ(s.GetPixel(x, 3), kInk);

  CSurface steep(16, 8);
  Line(steep, {PenStyle::kSolid, kInk}, 5, -2000000000, 6, 2000000000);
  EXPECT_EQ(InkOf(steep, kInk).size(), 8u);
}

TEST(RasterLineTest, DottedPenIsThreeOnThreeOffWithOpaqueGaps) {
  CSurface s(20, 3, kPaper);
  Line(s, {PenStyle::kDot, kInk}, 1, 1, 19, 1);
  for (int x = 1; x < 19; ++x) {
    const bool on = (x - 1) % 6 < 3;
    EXPECT_EQ(s.GetPixel(x, 1), on ? kInk : kGap) << "column " << x;
  }
  EXPECT_EQ(s.GetPixel(19, 1), kPaper);  // end omitted
  EXPECT_EQ(s.GetPixel(0, 1), kPaper);

  CSurface t(20, 3, kPaper);
  Line(t, {PenStyle::kDot, kInk}, 1, 1, 19, 1, /*opaque=*/false);
  EXPECT_EQ(InkOf(t, kGap).size(), 0u);
  EXPECT_EQ(InkOf(t, kInk).size(), 9u);
}

class RasterTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_font = CLabelFont::Open(CLabelFont::LocateFile("Arial", 300), 14);
    if (m_font == nullptr) GTEST_SKIP() << "no scalable font installed";
  }

  // Bounding box of every pixel that is not paper.
  static RECT Extent(const CSurface& s) {
    RECT box{s.Width(), s.Height(), 0, 0};
    for (int y = 0; y < s.Height(); ++y) {
      for (int x = 0; x < s.Width(); ++x) {
        if (s.GetPixel(x, y) == kPaper) continue;
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
               std::max(box.bottom, y + 1)};
      }
    }
    return box;
  }

  RECT Draw(CSurface& s, unsigned align, int x, int y, const char* text) {
    CRasterDC dc(s);
    dc.SelectFont(m_font.get());
    dc.SetBkColor(kGap);
    dc.SetTextColor(kInk);
    dc.SetTextAlign(align);
    dc.TextOut(x, y, text);
    return Extent(s);
  }

  std::unique_ptr<CLabelFont> m_font;
};

TEST_F(RasterTextTest, OpaqueBoxFollowsAlignmentAndMetrics) {
  const int w = m_font->TextWidth("2086");
  const int a = m_font->Ascent();
  const int h = m_font->Height();
  struct Case {
    unsigned align;
    RECT box;  // for the reference point (50, 30)
  } cases[] = {
      {kTaLeft | kTaTop, {50, 30, 50 + w, 30 + h}},
      {kTaRight | kTaTop, {50 - w, 30, 50, 30 + h}},
      {kTaCenter | kTaTop, {50 - w / 2, 30, 50 - w / 2 + w, 30 + h}},
      {kTaRight | kTaBaseline, {50 - w, 30 - a, 50, 30 - a + h}},
      {kTaLeft | kTaBottom, {50, 30 - h, 50 + w, 30}},
  };
  for (const Case& c : cases) {
    CSurface s(100, 60, kPaper);
    const RECT got = Draw(s, c.align, 50, 30, "2086");
    EXPECT_EQ(got.left, c.box.left) << c.align;
    EXPECT_EQ(got.top, c.box.top) << c.align;
    EXPECT_EQ(got.right, c.box.right) << c.align;
    EXPECT_EQ(got.bottom, c.box.bottom) << c.align;
  }
}

TEST_F(RasterTextTest, GlyphsAreMonochromeAndSitOnTheBaseline) {
  CSurface s(100, 60, kPaper);
  Draw(s, kTaLeft | kTaBaseline, 10, 30, "4173824");
  int inkBottom = -1;
  for (int y = 0; y < s.Height(); ++y) {
    for (int x = 0; x < s.Width(); ++x) {
      const COLORREF c = s.GetPixel(x, y);
      ASSERT_TRUE(c == kPaper || c == kGap || c == kInk) << x << "," << y;
      if (c == kInk) inkBottom = std::max(inkBottom, y);
    }
  }
  EXPECT_EQ(inkBottom, 29);  // digits end on the row above the baseline
}

TEST_F(RasterTextTest, TransparentModeDrawsOnlyGlyphsAndNoFontDrawsNothing) {
  CSurface s(100, 60, kPaper);
  CRasterDC dc(s);
  dc.SelectFont(m_font.get());
  dc.SetBkOpaque(false);
  dc.SetBkColor(kGap);
  dc.SetTextColor(kInk);
  dc.TextOut(10, 10, "600");
  EXPECT_FALSE(InkOf(s, kInk).empty());
  EXPECT_TRUE(InkOf(s, kGap).empty());

  CSurface none(100, 60, kPaper);
  CRasterDC bare(none);
  bare.SetBkColor(kGap);
  bare.TextOut(10, 10, "600");
  EXPECT_EQ(none, CSurface(100, 60, kPaper));
}

}  // namespace
