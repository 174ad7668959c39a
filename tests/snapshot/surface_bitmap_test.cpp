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

// 16-bit words keep each channel's top bits where the masks put them, for
// the 5-6-5 of a 16-bit X screen and the 5-5-5 some others use.
TEST(SurfaceBitmapTest, SixteenBitWordsFollowTheScreensMasks) {
  const uint8_t rgb[] = {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF,
                         0xFF, 0xFF, 0xFF, 0x08, 0x04, 0x08, 0x07, 0x03, 0x07};
  const auto word = [](const BitmapDescription& b, size_t i) {
    return static_cast<uint16_t>(b.rows[2 * i] | b.rows[2 * i + 1] << 8);
  };
  const auto b565 = DescribeRgbBytes16(6, 1, rgb, sizeof rgb, {0xF800, 0x07E0, 0x001F});
  ASSERT_EQ(b565.rows.size(), 12u);
  EXPECT_EQ(b565.bitsPerPixel, 16);
  EXPECT_EQ(b565.stride, 12u);
  const uint16_t expected565[] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0821, 0x0000};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(word(b565, i), expected565[i]) << i;
  const auto b555 = DescribeRgbBytes16(6, 1, rgb, sizeof rgb, {0x7C00, 0x03E0, 0x001F});
  const uint16_t expected555[] = {0x7C00, 0x03E0, 0x001F, 0x7FFF, 0x0401, 0x0000};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(word(b555, i), expected555[i]) << i;

  // Masks that are no 16-bit layout: nothing the writer would take.
  for (const std::array<uint32_t, 3> bad : {std::array<uint32_t, 3>{0, 0x07E0, 0x001F},
                                            {0xF800, 0xF800, 0x001F},
                                            {0xFF0000, 0xFF00, 0xFF},
                                            {0xF801, 0x07E0, 0x001E}}) {
    const auto b = DescribeRgbBytes16(6, 1, rgb, sizeof rgb, bad);
    EXPECT_FALSE(b.HasMasks());
    EXPECT_EQ(SaveBitmapAsBmp(b, "/nonexistent/never.bmp").failedStep, SnapshotStep::kReadPixels);
  }
}

TEST(SurfaceBitmapTest, NoPixelsGiveABitmapTheWriterRefuses) {
  const auto nullRows = DescribeRgbBytes(4, 4, nullptr, 12, TrueColorDepth::k24);
  EXPECT_EQ(SaveBitmapAsBmp(nullRows, "/nonexistent/never.bmp").failedStep,
            SnapshotStep::kReadPixels);
}

using SurfaceRoundTripTest = SnapshotFolderTest;

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
