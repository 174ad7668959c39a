// A 32-bit pixel surface: the bitmap behind a chart layer or a composed
// picture. Every write is clipped to the surface; reads outside it answer
// kClrInvalid. Not synchronised: the owner (CGraphModel) holds the lock.
#pragma once

#include <vector>

#include "chart/colorref.h"

// Raster operations of a block transfer.
enum class RasterOp {
  kSrcCopy,   // destination = source
  kSrcPaint,  // destination = destination OR source
};

class CSurface {
 public:
  CSurface() = default;
  CSurface(int width, int height, COLORREF fill = 0);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  bool IsEmpty() const { return m_width == 0 || m_height == 0; }

  // Resizes to width x height and fills with colour (negative sizes give an
  // empty surface).
  void Reset(int width, int height, COLORREF fill = 0);

  COLORREF GetPixel(int x, int y) const;
  void SetPixel(int x, int y, COLORREF colour);

  // Fills rect without its right column and bottom row. An inverted rect is
  // normalised first, as a pattern block transfer does, so (5, 0, 2, 1)
  // fills columns 2..4.
  void FillRect(const RECT& rect, COLORREF colour);

  // Transfers the width x height block at (srcX, srcY) of src to (x, y),
  // clipped to both surfaces. src may not be *this.
  void BitBlt(int x, int y, int width, int height, const CSurface& src, int srcX, int srcY,
              RasterOp op);

  // Row y, Width() pixels; y must be inside the surface.
  const COLORREF* Row(int y) const { return m_pixels.data() + y * m_width; }
  const std::vector<COLORREF>& Pixels() const { return m_pixels; }

  bool operator==(const CSurface& other) const = default;

 private:
  int m_width = 0;
  int m_height = 0;
  std::vector<COLORREF> m_pixels;
};
