// A table of text columns as velmo-cli prints it. In a pipe (or asked for
// wide) every column is there and every value whole, aligned as far as the
// widths allow. On a terminal the columns are taken by priority while the
// line fits the terminal's width, and a value longer than its column is
// shortened with "…".
#pragma once

#include <string>
#include <vector>

#include "cli/terminal_style.h"

struct TextColumn {
  std::string head;
  int width = 0;       // the room its values have
  int priority = 0;    // lower is kept first
  bool right = false;  // numbers, right-aligned
};

class TextTable {
 public:
  TextTable(std::vector<TextColumn> columns, const TerminalStyle& style, bool wide);

  // The heads' line, and a row of values (one a column); both end in '\n'.
  std::string Head() const;
  std::string Row(const std::vector<std::string>& values) const;
  // Every column is shown.
  bool Whole() const;

 private:
  std::vector<TextColumn> m_columns;
  std::vector<bool> m_shown;
  bool m_shorten = false;
  int m_room = 0;
};

// How many columns text takes on a terminal: one a character.
int TextColumnsOf(const std::string& text);
// The text in at most width columns, its end replaced by "…" when cut.
std::string ShortenedText(const std::string& text, int width);
