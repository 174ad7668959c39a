// The information block: depth buckets, block sizes, header bytes, and the
// descriptions it refuses.
#include "snapshot/bitmap_info.h"
#include "snapshot/dib_bits.h"

#include <gtest/gtest.h>

namespace {

BitmapDescription Described(int32_t width, int32_t height, uint16_t bits, uint16_t planes = 1) {
  BitmapDescription bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.planes = planes;
  bitmap.bitsPerPixel = bits;
  return bitmap;
}

TEST(BitmapInfoTest, DepthsFoldOntoTheSixBuckets) {
  const std::pair<uint16_t, uint16_t> cases[] = {
      {1, 1},   {2, 4},   {4, 4},   {5, 8},   {8, 8},   {9, 16},
      {16, 16}, {17, 24}, {24, 24}, {25, 32}, {48, 32},
  };
  for (auto [bits, bucket] : cases) EXPECT_EQ(BucketBitCount(bits), bucket) << bits;
}

TEST(BitmapInfoTest, BlockSizeFollowsTheBucketOfPlanesTimesBits) {
  struct Case {
    uint16_t planes, bits;
    size_t blockSize;
  };
  const Case cases[] = {{1, 1, 48},  {1, 4, 104}, {1, 8, 1064}, {1, 16, 262184},
                        {1, 24, 40}, {1, 32, 44}, {2, 4, 1064}};
  for (const Case& c : cases) {
    auto info = CreateBitmapInfo(Described(7, 3, c.bits, c.planes));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Size(), c.blockSize) << c.planes << " x " << c.bits;
    // Planes and depth are copied as the bitmap gives them.
    EXPECT_EQ(info->header.biPlanes, c.planes);
    EXPECT_EQ(info->header.biBitCount, c.bits);
  }
}

TEST(BitmapInfoTest, HeaderBytesAreLittleEndianInFieldOrder) {
  auto info = CreateBitmapInfo(Described(0x0102, 0x0304, 8));
  ASSERT_TRUE(info);
  std::vector<uint8_t> bytes(40);
  PutBitmapInfoHeader(bytes.data(), info->header);
  const uint32_t sizeImage = 0x104 * 0x0304;  // rows of 258 bytes padded to 260
  const std::vector<uint8_t> expected = {40,
                                         0,
                                         0,
                                         0,
                                         0x02,
                                         0x01,
                                         0,
                                         0,
                                         0x04,
                                         0x03,
                                         0,
                                         0,
                                         1,
                                         0,
                                         8,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         uint8_t(sizeImage),
                                         uint8_t(sizeImage >> 8),
                                         uint8_t(sizeImage >> 16),
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         1,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0,
                                         0};  // biClrUsed 256
  EXPECT_EQ(bytes, expected);
}

TEST(BitmapInfoTest, RefusesDescriptionsWithoutPixelsOrTooLargeForTheFile) {
  EXPECT_FALSE(CreateBitmapInfo(Described(0, 4, 24)));
  EXPECT_FALSE(CreateBitmapInfo(Described(-4, 4, 24)));
  EXPECT_FALSE(CreateBitmapInfo(Described(4, 0, 24)));
  EXPECT_FALSE(CreateBitmapInfo(Described(4, 4, 0)));
  EXPECT_FALSE(CreateBitmapInfo(Described(4, 4, 24, 0)));
  // 4 GiB of pixels would wrap biSizeImage and bfSize.
  EXPECT_FALSE(CreateBitmapInfo(Described(32768, 32768, 32)));
  EXPECT_TRUE(CreateBitmapInfo(Described(16384, 16384, 32)));
}

}  // namespace

// 65535 planes of 65535 bits is as deep as it gets: 32 bits, not the depth
// the low 16 bits of an overflowed product would give.
TEST(BitmapInfoTest, HugePlanesTimesDepthFoldsToThirtyTwoBits) {
  BitmapDescription bitmap;
  bitmap.width = 2;
  bitmap.height = 2;
  bitmap.planes = 0xFFFF;
  bitmap.bitsPerPixel = 0xFFFF;
  const std::optional<BitmapInfoBlock> info = CreateBitmapInfo(bitmap);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->header.biClrUsed, 0u);
  EXPECT_EQ(info->Size(), 44u);
  EXPECT_EQ(info->header.biSizeImage, 16u);
}

// A stride so large that stride x (height - 1) wraps to nothing must not
// pass for rows that are there.
TEST(BitmapInfoTest, PixelReadRefusesAStrideThatWrapsTheRowCheck) {
  BitmapDescription bitmap;
  bitmap.width = 1;
  bitmap.height = 3;
  bitmap.bitsPerPixel = 24;
  bitmap.stride = size_t{1} << 63;
  bitmap.rows.assign(3, 0x5A);
  std::optional<BitmapInfoBlock> info = CreateBitmapInfo(bitmap);
  ASSERT_TRUE(info.has_value());
  std::vector<uint8_t> pixels(info->header.biSizeImage);
  EXPECT_FALSE(ReadDibBits(bitmap, *info, pixels));
}
