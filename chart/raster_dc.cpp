#include "chart/raster_dc.h"

#include <algorithm>
#include <cstdlib>

#include "chart/label_font.h"
#include "chart/surface.h"

namespace {

// Cosmetic PS_DOT: 3 on, 3 off.
constexpr long long kDotOn = 3;
constexpr long long kDotPeriod = 6;

// GDI's octants of a line in device coordinates (y down), numbered 1..8.
int OctantOf(long long dx, long long dy) {
  if (dy > 0) {
    if (dx > 0) return dx > dy ? 1 : 2;
    return -dx > dy ? 4 : 3;
  }
  if (dx < 0) return -dx > -dy ? 5 : 6;
  return dx > -dy ? 8 : 7;
}

// Octants 3, 5, 6 and 8 step the minor axis on an exact tie.
bool TakesBias(int octant) { return octant == 3 || octant == 5 || octant == 6 || octant == 8; }

}  // namespace

CPen CRasterDC::SelectPen(const CPen& pen) {
  const CPen old = m_pen;
  m_pen = pen;
  return old;
}

CLabelFont* CRasterDC::SelectFont(CLabelFont* font) {
  CLabelFont* old = m_font;
  m_font = font;
  return old;
}

void CRasterDC::MoveTo(int x, int y) {
  m_x = x;
  m_y = y;
}

void CRasterDC::LineTo(int x, int y) {
  DrawLine(m_x, m_y, x, y);
  m_x = x;
  m_y = y;
}

void CRasterDC::SetPixel(int x, int y, COLORREF colour) { m_surface.SetPixel(x, y, colour); }

void CRasterDC::FillRect(const RECT& rect, COLORREF colour) { m_surface.FillRect(rect, colour); }

void CRasterDC::DrawLine(long long x0, long long y0, long long x1, long long y1) {
  const long long dx = x1 - x0;
  const long long dy = y1 - y0;
  const long long adx = std::llabs(dx);
  const long long ady = std::llabs(dy);
  if (adx == 0 && ady == 0) return;

  const int octant = OctantOf(dx, dy);
  const long long bias = TakesBias(octant) ? 1 : 0;
  const bool xMajor = octant == 1 || octant == 4 || octant == 5 || octant == 8;
  const long long majorLen = xMajor ? adx : ady;  // pixels, end omitted
  const long long minorLen = xMajor ? ady : adx;
  const long long major0 = xMajor ? x0 : y0;
  const long long minor0 = xMajor ? y0 : x0;
  const long long majorInc = (xMajor ? dx : dy) > 0 ? 1 : -1;
  const long long minorInc = (xMajor ? dy : dx) > 0 ? 1 : -1;
  const long long majorLimit = xMajor ? m_surface.Width() : m_surface.Height();
  const long long minorLimit = xMajor ? m_surface.Height() : m_surface.Width();

  // Steps whose major coordinate lies on the surface.
  long long first = 0;
  long long last = majorLen;  // exclusive
  if (majorInc > 0) {
    first = std::max(first, -major0);
    last = std::min(last, majorLimit - major0);
  } else {
    first = std::max(first, major0 - majorLimit + 1);
    last = std::min(last, major0 + 1);
  }

  for (long long i = first; i < last; ++i) {
    // Minor steps taken before step i of the error-term loop, in closed form
    // so the clipped part costs nothing. 128 bits: int endpoints can be 2^32
    // apart on both axes.
    const auto k = static_cast<long long>(
        (static_cast<__int128>(2 * i) * minorLen + majorLen + bias - 1) / (2 * majorLen));
    const long long minor = minor0 + minorInc * k;
    if (minor < 0 || minor >= minorLimit) continue;
    COLORREF colour = m_pen.colour;
    if (m_pen.style == PenStyle::kDot && i % kDotPeriod >= kDotOn) {
      if (!m_bkOpaque) continue;
      colour = m_bkColour;
    }
    const long long major = major0 + majorInc * i;
    if (xMajor) {
      m_surface.SetPixel(static_cast<int>(major), static_cast<int>(minor), colour);
    } else {
      m_surface.SetPixel(static_cast<int>(minor), static_cast<int>(major), colour);
    }
  }
}

void CRasterDC::TextOut(int x, int y, std::string_view text) {
  if (m_font == nullptr) return;
  const int width = m_font->TextWidth(text);
  int left = x;
  if ((m_textAlign & kTaCenter) == kTaCenter) {
    left = x - width / 2;
  } else if ((m_textAlign & kTaRight) == kTaRight) {
    left = x - width;
  }
  int top = y;
  if ((m_textAlign & kTaBaseline) == kTaBaseline) {
    top = y - m_font->Ascent();
  } else if ((m_textAlign & kTaBottom) == kTaBottom) {
    top = y - m_font->Height();
  }
  if (m_bkOpaque) {
    m_surface.FillRect({left, top, left + width, top + m_font->Height()}, m_bkColour);
  }
  m_font->DrawGlyphs(m_surface, left, top + m_font->Ascent(), text, m_textColour);
}
