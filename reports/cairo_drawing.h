// The few drawing steps a report page and a chart share, on any cairo
// context: colour, the one font in its sizes, text that fits, lines.
#pragma once

#include <string>
#include <vector>

#include "reports/run_colours.h"

typedef struct _cairo cairo_t;

// A text as drawn: its ink's box in device units, and the page it is on.
struct DrawnText {
  std::string text;
  int page = 0;
  double left = 0, top = 0, right = 0, bottom = 0;
};

// Where Text notes what it draws on this thread; null, the usual, notes
// nothing. The pages set the page number.
std::vector<DrawnText>*& DrawnTextNotes();
int& DrawnTextPage();

void SetColour(cairo_t* cr, ReportColour c);
void Font(cairo_t* cr, double size, bool bold = false);
double TextWidth(cairo_t* cr, const std::string& text);
// The text cut (at a UTF-8 boundary) with an ellipsis so that it fits width.
std::string Fit(cairo_t* cr, const std::string& text, double width);
// The text in lines that fit width: broken after blanks outside
// parentheses (a group wider than a line at its own blanks), and inside a
// word (at a UTF-8 boundary) only where one word alone is wider. Nothing is
// cut.
std::vector<std::string> Wrap(cairo_t* cr, const std::string& text, double width);
// Text with its baseline at y; align 0 left, 0.5 centre, 1 right of x.
void Text(cairo_t* cr, double x, double y, const std::string& text, double align = 0);
void Line(cairo_t* cr, double x0, double y0, double x1, double y1);
