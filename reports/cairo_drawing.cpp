#include "reports/cairo_drawing.h"

#include <algorithm>

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

namespace {

// Bytes of text from at that fit width, at least one character.
size_t FittingBytes(cairo_t* cr, const std::string& text, size_t at, double width) {
  size_t end = at;
  while (end < text.size()) {
    size_t next = end + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    if (end > at && TextWidth(cr, text.substr(at, next - at)) > width) break;
    end = next;
  }
  return end - at;
}

}  // namespace

std::vector<std::string> Wrap(cairo_t* cr, const std::string& text, double width) {
  // Words are split at blanks outside parentheses, so that "16X (22,160
  // kB/s)" stays one piece; a group wider than a line falls back to its
  // own blanks.
  std::vector<std::string> words;
  std::string word;
  int depth = 0;
  auto endWord = [&] {
    if (TextWidth(cr, word) > width && word.find(' ') != std::string::npos) {
      size_t at = 0;
      while (at <= word.size()) {
        const size_t blank = std::min(word.find(' ', at), word.size());
        words.push_back(word.substr(at, blank - at));
        at = blank + 1;
      }
    } else {
      words.push_back(word);
    }
    word.clear();
  };
  for (const char c : text) {
    if (c == '(') ++depth;
    if (c == ')' && depth > 0) --depth;
    if (c == ' ' && depth == 0) {
      endWord();
    } else {
      word += c;
    }
  }
  endWord();

  std::vector<std::string> lines;
  std::string line;
  for (std::string& piece : words) {
    const std::string joined = line.empty() ? piece : line + " " + piece;
    if (TextWidth(cr, joined) <= width) {
      line = joined;
      continue;
    }
    if (!line.empty()) lines.push_back(line);
    line.clear();
    // A word wider than the line is broken where it must be.
    while (TextWidth(cr, piece) > width) {
      const size_t fit = FittingBytes(cr, piece, 0, width);
      lines.push_back(piece.substr(0, fit));
      piece.erase(0, fit);
    }
    line = piece;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

std::vector<DrawnText>*& DrawnTextNotes() {
  thread_local std::vector<DrawnText>* notes = nullptr;
  return notes;
}

int& DrawnTextPage() {
  thread_local int page = 0;
  return page;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double align) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  const double left = x - align * extents.x_advance;
  cairo_move_to(cr, left, y);
  cairo_show_text(cr, text.c_str());
  if (DrawnTextNotes() == nullptr || extents.width <= 0) return;
  double x0 = left + extents.x_bearing, y0 = y + extents.y_bearing;
  double x1 = x0 + extents.width, y1 = y0 + extents.height;
  cairo_user_to_device(cr, &x0, &y0);
  cairo_user_to_device(cr, &x1, &y1);
  DrawnTextNotes()->push_back({text, DrawnTextPage(), std::min(x0, x1), std::min(y0, y1),
                               std::max(x0, x1), std::max(y0, y1)});
}

void Line(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}
