// The bitmap a snapshot saves, and the information block that describes it
// in the BMP file: the 40-byte information header followed by room for the
// colour table, both sized by the bucketed pixel depth. Nothing here needs a
// window: the GUI fills a BitmapDescription from its capture of the main
// dialog, velmo-cli from the chart's composed surface. Any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct BitmapColor {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const BitmapColor&) const = default;
};

// What the capture hands over: the bitmap's own description and its pixels.
// rows holds height rows, top row first, stride bytes apart, each in the
// layout of a BMP pixel row of bitsPerPixel: 1, 4 and 8 bits are palette
// indices packed from the high bit; 16 bits little-endian 5-5-5 words;
// 24 bits blue, green, red; 32 bits blue, green, red, unused. A 16-bit
// bitmap with colour masks holds words in the layout the masks give (a
// 16-bit screen's 5-6-5) and is written with them (BI_BITFIELDS).
struct BitmapDescription {
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bitsPerPixel = 0;
  std::vector<BitmapColor> palette;  // depths below 24; missing entries are black
  size_t stride = 0;
  std::vector<uint8_t> rows;
  // Red, green and blue masks of a 16-bit pixel; all 0: 5-5-5 without masks.
  std::array<uint32_t, 3> masks{};
  bool HasMasks() const { return masks[0] != 0 || masks[1] != 0 || masks[2] != 0; }
};

inline constexpr uint32_t kInfoHeaderSize = 40;
inline constexpr uint32_t kBiRgb = 0;        // uncompressed
inline constexpr uint32_t kBiBitfields = 3;  // uncompressed, colour masks after the header
inline constexpr uint32_t kMaskBytes = 12;   // the three masks

struct BitmapInfoHeader {
  uint32_t biSize = kInfoHeaderSize;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: bottom row first
  uint16_t biPlanes = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = kBiRgb;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

// The 40 header bytes at out, little-endian, in the published field order.
void PutBitmapInfoHeader(uint8_t* out, const BitmapInfoHeader& header);

// One block per snapshot: the header, then zero-filled room for the colour
// table (entries blue, green, red, 0). Size() is the block size of the
// depth table: 48, 104, 1064, 262184, 40 or 44 bytes; 52 for a 16-bit
// bitmap with masks, whose room holds the three masks and no table.
struct BitmapInfoBlock {
  BitmapInfoHeader header;
  std::vector<uint8_t> colorTable;
  size_t Size() const { return kInfoHeaderSize + colorTable.size(); }
};

// planes x bits per pixel folded onto 1, 4, 8, 16, 24 or 32.
uint16_t BucketBitCount(uint16_t bits);

// Information block size for a bucketed depth.
size_t InfoBlockSize(uint16_t bucketedBits);

// Bytes of one pixel row padded to whole 32-bit words.
uint64_t PaddedRowBytes(int32_t width, uint16_t bits);

// Bytes written after the information header: the colour table's entries,
// or the masks of a BI_BITFIELDS bitmap.
uint32_t TableBytes(const BitmapInfoHeader& header);

// The block for bitmap, or nothing when its description cannot be used:
// no pixels (width or height not positive, no planes or depth), or a file
// whose sizes would not fit the 32-bit header fields.
std::optional<BitmapInfoBlock> CreateBitmapInfo(const BitmapDescription& bitmap);
