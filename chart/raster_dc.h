// A drawing context over a CSurface with the GDI rules the chart relies on:
//   - a line from A to B sets every pixel of the Bresenham run except B, with
//     GDI's tie-break per octant (so A->B and B->A may differ by a pixel);
//   - the cosmetic dotted pen is 3 pixels on, 3 off, counted from the start
//     of each line; in opaque mode the gaps are set to the background colour;
//   - text is placed from the font's real metrics by the alignment flags and,
//     in opaque mode, stands on a box of the background colour one cell high
//     and one advance sum wide.
// Everything is clipped to the surface. Coordinates may be far outside it:
// clipping is done before stepping, so a long off-surface line costs no
// more than the surface is wide or high.
#pragma once

#include <string_view>

#include "chart/colorref.h"

class CSurface;
class CLabelFont;

enum class PenStyle { kSolid, kDot };

// A cosmetic (one pixel wide) pen.
struct CPen {
  PenStyle style = PenStyle::kSolid;
  COLORREF colour = Rgb(0, 0, 0);
};

// Text alignment flags, GDI values.
inline constexpr unsigned kTaLeft = 0;
inline constexpr unsigned kTaRight = 2;
inline constexpr unsigned kTaCenter = 6;
inline constexpr unsigned kTaTop = 0;
inline constexpr unsigned kTaBottom = 8;
inline constexpr unsigned kTaBaseline = 24;

class CRasterDC {
 public:
  explicit CRasterDC(CSurface& surface) : m_surface(surface) {}

  // Each returns what was selected before.
  CPen SelectPen(const CPen& pen);
  CLabelFont* SelectFont(CLabelFont* font);

  void SetBkColor(COLORREF colour) { m_bkColour = colour; }
  void SetTextColor(COLORREF colour) { m_textColour = colour; }
  void SetBkOpaque(bool opaque) { m_bkOpaque = opaque; }
  void SetTextAlign(unsigned align) { m_textAlign = align; }

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void SetPixel(int x, int y, COLORREF colour);
  void FillRect(const RECT& rect, COLORREF colour);

  // Draws nothing without a font.
  void TextOut(int x, int y, std::string_view text);

 private:
  void DrawLine(long long x0, long long y0, long long x1, long long y1);

  CSurface& m_surface;
  CPen m_pen;
  CLabelFont* m_font = nullptr;
  COLORREF m_bkColour = Rgb(255, 255, 255);
  COLORREF m_textColour = Rgb(0, 0, 0);
  bool m_bkOpaque = true;
  unsigned m_textAlign = kTaLeft | kTaTop;
  int m_x = 0;
  int m_y = 0;
};
