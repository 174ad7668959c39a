// The pixel read of a snapshot: the bitmap's rows as the file stores them,
// bottom row first, each padded to whole 32-bit words, and its palette as
// the colour table the information block has room for. Any thread.
#pragma once

#include <cstdint>
#include <span>

#include "snapshot/bitmap_info.h"

// Fills pixels (exactly info.header.biSizeImage bytes) and info's colour
// table from bitmap. Padding bytes are 0; palette entries beyond the table
// are ignored, table entries beyond the palette stay 0; a BI_BITFIELDS
// block gets the description's masks instead. Fails, touching
// nothing, when info does not describe bitmap in a layout its rows can give:
// one plane of 1, 4, 8, 16, 24 or 32 bits, and enough row bytes.
bool ReadDibBits(const BitmapDescription& bitmap, BitmapInfoBlock& info, std::span<uint8_t> pixels);
