#include "results/cairo_drawing.h"

#include <cairo.h>

namespace {

constexpr char kFont[] = "Liberation Sans";

}  // namespace

void SetColour(cairo_t* cr, ReportColour c) {
  cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

void Font(cairo_t* cr, double size, bool bold) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

double TextWidth(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return extents.x_advance;
}

std::string Fit(cairo_t* cr, const std::string& text, double width) {
  if (TextWidth(cr, text) <= width) return text;
  std::string cut = text;
  while (!cut.empty()) {
    do {
      cut.pop_back();
    } while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80);
    if (!cut.empty()) cut.pop_back();  // the lead byte of what was removed
    if (TextWidth(cr, cut + "\u2026") <= width) return cut + "\u2026";
  }
  return "";
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double align) {
  cairo_move_to(cr, x - align * TextWidth(cr, text), y);
  cairo_show_text(cr, text.c_str());
}

void Line(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}
