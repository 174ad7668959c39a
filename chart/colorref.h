// Colour and rectangle values of the chart raster, with the meanings the
// drawing code was designed on: COLORREF is 0x00BBGGRR, a rectangle excludes
// its right column and bottom row.
#pragma once

#include <cstdint>

using COLORREF = std::uint32_t;

// What GetPixel answers outside a surface.
inline constexpr COLORREF kClrInvalid = 0xFFFFFFFFu;

constexpr COLORREF Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}
constexpr std::uint8_t RedOf(COLORREF c) { return c & 0xFF; }
constexpr std::uint8_t GreenOf(COLORREF c) { return (c >> 8) & 0xFF; }
constexpr std::uint8_t BlueOf(COLORREF c) { return (c >> 16) & 0xFF; }

struct RECT {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};
