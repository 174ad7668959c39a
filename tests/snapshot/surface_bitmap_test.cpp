// Front-end surfaces into true-colour files: channel order for each pixel
// format, row strides, and a round trip through the test's own reader.
#include "snapshot/surface_bitmap.h"

#include <gtest/gtest.h>

#include "snapshot/bmp_file.h"
#include "tests/snapshot/bmp_test_support.h"

namespace {

TEST(SurfaceBitmapTest, PixelFormatsBecomeBlueGreenRedRowsAtTheirStride) {
  // Red 0x11, green 0x22, blue 0x33 in each format; a slack column to skip.
  const uint32_t colorref[] = {0x00332211, 0xDEAD};
  EXPECT_EQ(DescribePixels32(1, 1, colorref, 2, PixelOrder::kColorref, TrueColorDepth::k24).rows,
            (std::vector<uint8_t>{0x33, 0x22, 0x11}));
  const uint32_t xrgb[] = {0xFF112233, 0xDEAD, 0x00000001, 0xBEEF};  // top byte ignored
  EXPECT_EQ(DescribePixels32(1, 2, xrgb, 2, PixelOrder::kXrgb, TrueColorDepth::k32).rows,
            (std::vector<uint8_t>{0x33, 0x22, 0x11, 0, 1, 0, 0, 0}));
  const uint8_t rgb[] = {0x11, 0x22, 0x33, 0xAA, 7, 8, 9, 0xAA};
  const auto fromRgb = DescribeRgbBytes(1, 2, rgb, 4, TrueColorDepth::k24);
  EXPECT_EQ(fromRgb.rows, (std::vector<uint8_t>{0x33, 0x22, 0x11, 9, 8, 7}));
  EXPECT_EQ(fromRgb.stride, 3u);
}

TEST(SurfaceBitmapTest, NoPixelsGiveABitmapTheWriterRefuses) {
  const auto nullRows = DescribeRgbBytes(4, 4, nullptr, 12, TrueColorDepth::k24);
  EXPECT_EQ(SaveBitmapAsBmp(nullRows, "/nonexistent/never.bmp").failedStep,
            SnapshotStep::kReadPixels);
}

using SurfaceRoundTripTest = ScratchFolder;

TEST_F(SurfaceRoundTripTest, ChartSurfaceReadsBackPixelForPixel) {
  const int width = 5, height = 3;  // odd width: every file row is padded
  std::vector<uint32_t> surface(width * height);
  for (int i = 0; i < width * height; ++i)
    surface[i] = (40u * i + 1) | (90u * i + 2) << 8 | (17u * i + 3) << 16;
  for (TrueColorDepth depth : {TrueColorDepth::k24, TrueColorDepth::k32}) {
    const std::string path = PathOf("chart.bmp");
    const auto bitmap =
        DescribePixels32(width, height, surface.data(), width, PixelOrder::kColorref, depth);
    ASSERT_TRUE(SaveBitmapAsBmp(bitmap, path).Succeeded());
    const ParsedBmp bmp = ReadBmp(path);
    ASSERT_EQ(bmp.BitCount(), static_cast<uint32_t>(depth));
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const uint32_t c = surface[y * width + x];  // 0x00BBGGRR
        EXPECT_EQ(bmp.Rgb(x, y), (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF))
            << x << "," << y << " at " << int(depth) << " bits";
      }
    }
  }
}

}  // namespace
