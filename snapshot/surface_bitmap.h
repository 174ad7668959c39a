// True-colour bitmap descriptions from the pixel surfaces the front ends
// hold, so that both save through the same BMP writer: velmo-cli from the
// chart's composed CSurface (COLORREF pixels), the GUI from its capture of
// the main dialog (RGB bytes). Any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "snapshot/bitmap_info.h"

// How a 32-bit pixel holds its channels; the top byte is ignored.
enum class PixelOrder {
  kColorref,  // 0x00BBGGRR, the chart raster's COLORREF
  kXrgb,      // 0x00RRGGBB
};

enum class TrueColorDepth : uint16_t { k24 = 24, k32 = 32 };

// width x height pixels, top row first, pixelsPerRow apart.
BitmapDescription DescribePixels32(int32_t width, int32_t height, const uint32_t* pixels,
                                   size_t pixelsPerRow, PixelOrder order, TrueColorDepth depth);

// width x height pixels of red, green, blue bytes, top row first,
// bytesPerRow apart (wxImage data: 3 x width).
BitmapDescription DescribeRgbBytes(int32_t width, int32_t height, const uint8_t* rgb,
                                   size_t bytesPerRow, TrueColorDepth depth);

// The same pixels as 16-bit words in the layout masks give (red, green,
// blue; a 16-bit screen's 5-6-5 is 0xF800, 0x07E0, 0x001F): each channel
// keeps its top bits. Masks of no channel (0) or overlapping ones give a
// description the writer refuses.
BitmapDescription DescribeRgbBytes16(int32_t width, int32_t height, const uint8_t* rgb,
                                     size_t bytesPerRow, const std::array<uint32_t, 3>& masks);
