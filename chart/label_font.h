// The chart's label font: a TrueType face found through fontconfig and
// rendered by FreeType, with GDI's sizing rules (a positive height is the
// cell height, ascent + descent) and monochrome glyphs.
//
// Monochrome on purpose: the labels stand on opaque boxes of the background
// colour and the chart is composed by OR, so a label must be exactly
// foreground on background. Grey edge pixels would OR into curve colours and
// make the saved picture depend on the rasteriser's smoothing.
//
// One object per chart; not synchronised (the chart's lock covers it).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "chart/colorref.h"

class CSurface;
struct FT_LibraryRec_;
struct FT_FaceRec_;

class CLabelFont {
 public:
  // The file fontconfig picks for family at a GDI weight (100..900), or ""
  // when fontconfig knows no font at all.
  static std::string LocateFile(const std::string& family, int weight);

  // Opens file with the given cell height in pixels; null when the file
  // cannot be read or scaled.
  static std::unique_ptr<CLabelFont> Open(const std::string& file, int height);

  ~CLabelFont();
  CLabelFont(const CLabelFont&) = delete;
  CLabelFont& operator=(const CLabelFont&) = delete;

  int Ascent() const { return m_ascent; }
  int Descent() const { return m_descent; }
  int Height() const { return m_ascent + m_descent; }

  // Sum of the hinted advances; no kerning, as GDI's text output.
  int TextWidth(std::string_view text);

  // Sets the glyph pixels of text in colour, pen position starting at x on
  // the given baseline. Clipped to the surface.
  void DrawGlyphs(CSurface& surface, int x, int baseline, std::string_view text, COLORREF colour);

 private:
  struct Glyph {
    bool loaded = false;
    int left = 0;  // from the pen position to the first bitmap column
    int top = 0;   // from the baseline up to the first bitmap row
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::vector<std::uint8_t> ink;  // width * rows, 1 where the glyph is set
  };

  CLabelFont() = default;
  const Glyph& GlyphOf(unsigned char c);

  FT_LibraryRec_* m_library = nullptr;
  FT_FaceRec_* m_face = nullptr;
  int m_ascent = 0;
  int m_descent = 0;
  std::array<Glyph, 256> m_glyphs;
};
