#include "snapshot/bitmap_info.h"

#include <algorithm>

#include "snapshot/little_endian.h"

void PutBitmapInfoHeader(uint8_t* out, const BitmapInfoHeader& h) {
  PutLe32(out + 0, h.biSize);
  PutLe32(out + 4, static_cast<uint32_t>(h.biWidth));
  PutLe32(out + 8, static_cast<uint32_t>(h.biHeight));
  PutLe16(out + 12, h.biPlanes);
  PutLe16(out + 14, h.biBitCount);
  PutLe32(out + 16, h.biCompression);
  PutLe32(out + 20, h.biSizeImage);
  PutLe32(out + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  PutLe32(out + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  PutLe32(out + 32, h.biClrUsed);
  PutLe32(out + 36, h.biClrImportant);
}

uint16_t BucketBitCount(uint16_t bits) {
  if (bits == 1) return 1;
  if (bits <= 4) return 4;
  if (bits <= 8) return 8;
  if (bits <= 16) return 16;
  if (bits <= 24) return 24;
  return 32;
}

size_t InfoBlockSize(uint16_t bucketedBits) {
  switch (bucketedBits) {
    case 24: return kInfoHeaderSize;
    case 32: return kInfoHeaderSize + 4;
    default: return kInfoHeaderSize + 4 * (size_t{1} << bucketedBits);
  }
}

uint64_t PaddedRowBytes(int32_t width, uint16_t bits) {
  if (width <= 0) return 0;
  return ((static_cast<uint64_t>(width) * bits + 31) & ~uint64_t{31}) / 8;
}

uint32_t TableBytes(const BitmapInfoHeader& header) {
  return header.biCompression == kBiBitfields ? kMaskBytes : 4 * header.biClrUsed;
}

std::optional<BitmapInfoBlock> CreateBitmapInfo(const BitmapDescription& bitmap) {
  if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.planes == 0 || bitmap.bitsPerPixel == 0) {
    return std::nullopt;
  }
  // Saturated: 16-bit planes times 16-bit depth overflows an int.
  const uint32_t depth = std::min<uint32_t>(uint32_t{bitmap.planes} * bitmap.bitsPerPixel, 0xFFFF);
  const uint16_t bits = BucketBitCount(static_cast<uint16_t>(depth));
  // A 16-bit screen's pixels keep their format: the masks say it, no table.
  const bool masked = bits == 16 && bitmap.HasMasks();
  const uint32_t clrUsed = bits < 24 && !masked ? uint32_t{1} << bits : 0;
  const uint64_t sizeImage =
      PaddedRowBytes(bitmap.width, bits) * static_cast<uint64_t>(bitmap.height);
  // bfSize must fit too: 14 + 40 + table + pixels.
  if (sizeImage + 14 + kInfoHeaderSize + 4 * uint64_t{clrUsed} > UINT32_MAX) return std::nullopt;

  BitmapInfoBlock info;
  info.colorTable.assign(masked ? kMaskBytes : InfoBlockSize(bits) - kInfoHeaderSize, 0);
  if (masked) info.header.biCompression = kBiBitfields;
  info.header.biWidth = bitmap.width;
  info.header.biHeight = bitmap.height;
  info.header.biPlanes = bitmap.planes;
  info.header.biBitCount = bitmap.bitsPerPixel;
  info.header.biClrUsed = clrUsed;
  info.header.biSizeImage = static_cast<uint32_t>(sizeImage);
  return info;
}
