#include "chart/label_font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>

#include "chart/surface.h"

std::string CLabelFont::LocateFile(const std::string& family, int weight) {
  if (!FcInit()) return {};
  std::string file;
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return {};
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  if (match != nullptr) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr) {
      file = reinterpret_cast<const char*>(path);
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return file;
}

std::unique_ptr<CLabelFont> CLabelFont::Open(const std::string& file, int height) {
  if (file.empty() || height <= 0) return nullptr;
  std::unique_ptr<CLabelFont> font(new CLabelFont);
  if (FT_Init_FreeType(&font->m_library) != 0) {
    font->m_library = nullptr;
    return nullptr;
  }
  if (FT_New_Face(font->m_library, file.c_str(), 0, &font->m_face) != 0) {
    font->m_face = nullptr;
    return nullptr;
  }
  FT_Face face = font->m_face;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;

  // GDI maps a positive height onto usWinAscent + usWinDescent; fall back to
  // the horizontal header for fonts without an OS/2 table.
  double ascentUnits = face->ascender;
  double descentUnits = -face->descender;
  if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
      os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
    ascentUnits = os2->usWinAscent;
    descentUnits = os2->usWinDescent;
  }
  const double cellUnits = ascentUnits + descentUnits;
  if (cellUnits <= 0) return nullptr;
  const double scale = height / cellUnits;
  const double em = face->units_per_EM * scale;
  if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72) != 0) {
    return nullptr;
  }
  font->m_ascent = static_cast<int>(std::lround(ascentUnits * scale));
  font->m_descent = static_cast<int>(std::lround(descentUnits * scale));
  return font;
}

CLabelFont::~CLabelFont() {
  if (m_face != nullptr) FT_Done_Face(m_face);
  if (m_library != nullptr) FT_Done_FreeType(m_library);
}

const CLabelFont::Glyph& CLabelFont::GlyphOf(unsigned char c) {
  Glyph& glyph = m_glyphs[c];
  if (glyph.loaded) return glyph;
  glyph.loaded = true;
  if (FT_Load_Char(m_face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) {
    return glyph;  // an unknown character takes no room
  }
  const FT_GlyphSlot slot = m_face->glyph;
  glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
  glyph.left = slot->bitmap_left;
  glyph.top = slot->bitmap_top;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return glyph;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.rows = static_cast<int>(bitmap.rows);
  glyph.ink.assign(static_cast<size_t>(glyph.width) * glyph.rows, 0);
  for (int y = 0; y < glyph.rows; ++y) {
    const unsigned char* row = bitmap.buffer + y * bitmap.pitch;
    for (int x = 0; x < glyph.width; ++x) {
      glyph.ink[static_cast<size_t>(y) * glyph.width + x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
  }
  return glyph;
}

int CLabelFont::TextWidth(std::string_view text) {
  int width = 0;
  for (char c : text) width += GlyphOf(static_cast<unsigned char>(c)).advance;
  return width;
}

void CLabelFont::DrawGlyphs(CSurface& surface, int x, int baseline, std::string_view text,
                            COLORREF colour) {
  for (char c : text) {
    const Glyph& glyph = GlyphOf(static_cast<unsigned char>(c));
    const int left = x + glyph.left;
    const int top = baseline - glyph.top;
    for (int gy = 0; gy < glyph.rows; ++gy) {
      for (int gx = 0; gx < glyph.width; ++gx) {
        if (glyph.ink[static_cast<size_t>(gy) * glyph.width + gx] != 0) {
          surface.SetPixel(left + gx, top + gy, colour);
        }
      }
    }
    x += glyph.advance;
  }
}
