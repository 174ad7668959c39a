#include "snapshot/surface_bitmap.h"

#include <bit>

#include "snapshot/little_endian.h"

namespace {

// The description's shape, with rows left empty when there are no pixels:
// the writer then refuses it instead of reading through a null pointer.
BitmapDescription Shape(int32_t width, int32_t height, const void* source, TrueColorDepth depth) {
  BitmapDescription bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bitsPerPixel = static_cast<uint16_t>(depth);
  if (width > 0 && height > 0 && source != nullptr) {
    bitmap.stride = static_cast<size_t>(width) * (depth == TrueColorDepth::k24 ? 3 : 4);
    bitmap.rows.resize(bitmap.stride * static_cast<size_t>(height));
  }
  return bitmap;
}

// One pixel in row order: blue, green, red, and 0 for the fourth byte at 32 bits.
uint8_t* PutPixel(uint8_t* out, uint8_t red, uint8_t green, uint8_t blue, TrueColorDepth depth) {
  *out++ = blue;
  *out++ = green;
  *out++ = red;
  if (depth == TrueColorDepth::k32) *out++ = 0;
  return out;
}

}  // namespace

BitmapDescription DescribePixels32(int32_t width, int32_t height, const uint32_t* pixels,
                                   size_t pixelsPerRow, PixelOrder order, TrueColorDepth depth) {
  BitmapDescription bitmap = Shape(width, height, pixels, depth);
  if (bitmap.rows.empty()) return bitmap;
  uint8_t* out = bitmap.rows.data();
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* row = pixels + static_cast<size_t>(y) * pixelsPerRow;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t p = row[x];
      const auto low = static_cast<uint8_t>(p);
      const auto mid = static_cast<uint8_t>(p >> 8);
      const auto high = static_cast<uint8_t>(p >> 16);
      out = order == PixelOrder::kColorref ? PutPixel(out, low, mid, high, depth)
                                           : PutPixel(out, high, mid, low, depth);
    }
  }
  return bitmap;
}

BitmapDescription DescribeRgbBytes(int32_t width, int32_t height, const uint8_t* rgb,
                                   size_t bytesPerRow, TrueColorDepth depth) {
  BitmapDescription bitmap = Shape(width, height, rgb, depth);
  if (bitmap.rows.empty()) return bitmap;
  uint8_t* out = bitmap.rows.data();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = rgb + static_cast<size_t>(y) * bytesPerRow;
    for (int32_t x = 0; x < width; ++x, in += 3) out = PutPixel(out, in[0], in[1], in[2], depth);
  }
  return bitmap;
}

BitmapDescription DescribeRgbBytes16(int32_t width, int32_t height, const uint8_t* rgb,
                                     size_t bytesPerRow, const std::array<uint32_t, 3>& masks) {
  BitmapDescription bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bitsPerPixel = 16;
  bitmap.masks = masks;
  // Each mask one run of bits within the word, none sharing a bit.
  for (size_t i = 0; i < 3; ++i) {
    const uint32_t mask = masks[i];
    const int shift = std::countr_zero(mask);
    if (mask == 0 || mask > 0xFFFF || ((mask >> shift) & ((mask >> shift) + 1)) != 0 ||
        (mask & masks[(i + 1) % 3]) != 0) {
      bitmap.masks = {};
      return bitmap;  // no masks at 16 bits: 5-5-5 rows were promised, none given
    }
  }
  if (width <= 0 || height <= 0 || rgb == nullptr) return bitmap;
  bitmap.stride = static_cast<size_t>(width) * 2;
  bitmap.rows.resize(bitmap.stride * static_cast<size_t>(height));
  uint8_t* out = bitmap.rows.data();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = rgb + static_cast<size_t>(y) * bytesPerRow;
    for (int32_t x = 0; x < width; ++x, in += 3, out += 2) {
      uint32_t word = 0;
      for (size_t i = 0; i < 3; ++i) {
        const int shift = std::countr_zero(masks[i]);
        const int bits = std::popcount(masks[i]);
        const uint32_t value = bits >= 8 ? uint32_t{in[i]} << (bits - 8) : in[i] >> (8 - bits);
        word |= (value << shift) & masks[i];
      }
      PutLe16(out, static_cast<uint16_t>(word));
    }
  }
  return bitmap;
}
