#include "snapshot/dib_bits.h"

#include <algorithm>
#include <cstring>

#include "snapshot/little_endian.h"

namespace {

bool IsRowDepth(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

bool ReadDibBits(const BitmapDescription& bitmap, BitmapInfoBlock& info,
                 std::span<uint8_t> pixels) {
  const BitmapInfoHeader& h = info.header;
  // Masks only for 16 bits, and only from a description that has them.
  const bool masked = h.biCompression == kBiBitfields;
  if (masked && (h.biBitCount != 16 || !bitmap.HasMasks() || info.colorTable.size() < kMaskBytes))
    return false;
  if (h.biSize != kInfoHeaderSize || (h.biCompression != kBiRgb && !masked) || h.biPlanes != 1 ||
      !IsRowDepth(h.biBitCount) || h.biWidth != bitmap.width || h.biHeight != bitmap.height ||
      h.biBitCount != bitmap.bitsPerPixel || h.biWidth <= 0 || h.biHeight <= 0) {
    return false;
  }
  const uint64_t padded = PaddedRowBytes(h.biWidth, h.biBitCount);
  const uint64_t used = (static_cast<uint64_t>(h.biWidth) * h.biBitCount + 7) / 8;
  const uint64_t height = static_cast<uint64_t>(h.biHeight);
  if (h.biSizeImage != padded * height || pixels.size() != h.biSizeImage) return false;
  // Compared without the product: a huge stride must not wrap it.
  if (bitmap.stride < used || bitmap.rows.size() < used ||
      (height > 1 && bitmap.stride > (bitmap.rows.size() - used) / (height - 1))) {
    return false;
  }
  if (uint64_t{h.biClrUsed} * 4 > info.colorTable.size()) return false;

  std::fill(pixels.begin(), pixels.end(), uint8_t{0});
  for (uint64_t line = 0; line < height; ++line) {
    // File line 0 is the picture's bottom row.
    const uint8_t* src = bitmap.rows.data() + (height - 1 - line) * bitmap.stride;
    std::memcpy(pixels.data() + line * padded, src, used);
  }

  if (masked) {
    for (size_t i = 0; i < 3; ++i) PutLe32(info.colorTable.data() + 4 * i, bitmap.masks[i]);
    return true;
  }
  const size_t entries = std::min<size_t>(h.biClrUsed, bitmap.palette.size());
  for (size_t i = 0; i < entries; ++i) {
    uint8_t* entry = info.colorTable.data() + 4 * i;
    entry[0] = bitmap.palette[i].blue;
    entry[1] = bitmap.palette[i].green;
    entry[2] = bitmap.palette[i].red;
    entry[3] = 0;
  }
  return true;
}
