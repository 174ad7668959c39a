#include "chart/surface.h"

#include <algorithm>

CSurface::CSurface(int width, int height, COLORREF fill) { Reset(width, height, fill); }

void CSurface::Reset(int width, int height, COLORREF fill) {
  if (width <= 0 || height <= 0) width = height = 0;
  m_width = width;
  m_height = height;
  m_pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
}

COLORREF CSurface::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return kClrInvalid;
  return m_pixels[static_cast<size_t>(y) * m_width + x];
}

void CSurface::SetPixel(int x, int y, COLORREF colour) {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
  m_pixels[static_cast<size_t>(y) * m_width + x] = colour;
}

void CSurface::FillRect(const RECT& rect, COLORREF colour) {
  const int left = std::max(std::min(rect.left, rect.right), 0);
  const int right = std::min(std::max(rect.left, rect.right), m_width);
  const int top = std::max(std::min(rect.top, rect.bottom), 0);
  const int bottom = std::min(std::max(rect.top, rect.bottom), m_height);
  if (left >= right) return;
  for (int y = top; y < bottom; ++y) {
    COLORREF* row = m_pixels.data() + static_cast<size_t>(y) * m_width;
    std::fill(row + left, row + right, colour);
  }
}

void CSurface::BitBlt(int x, int y, int width, int height, const CSurface& src, int srcX, int srcY,
                      RasterOp op) {
  // Clip in 64 bits: callers may pass far-off origins.
  long long dx = x, dy = y, sx = srcX, sy = srcY, w = width, h = height;
  if (w <= 0 || h <= 0) return;
  auto clipStart = [&](long long& d, long long& s, long long& len) {
    const long long cut = std::max(-d, -s);
    if (cut > 0) {
      d += cut;
      s += cut;
      len -= cut;
    }
  };
  clipStart(dx, sx, w);
  clipStart(dy, sy, h);
  w = std::min({w, m_width - dx, src.m_width - sx});
  h = std::min({h, m_height - dy, src.m_height - sy});
  if (w <= 0 || h <= 0) return;
  for (long long row = 0; row < h; ++row) {
    COLORREF* d = m_pixels.data() + (dy + row) * m_width + dx;
    const COLORREF* s = src.m_pixels.data() + (sy + row) * src.m_width + sx;
    if (op == RasterOp::kSrcCopy) {
      std::copy(s, s + w, d);
    } else {
      for (long long i = 0; i < w; ++i) d[i] |= s[i];
    }
  }
}
