// Printing the scan log: every line of TEFE.txt on one page, the first at
// y = 400 and each further one 150 device units lower, at the left edge of
// the drawing rectangle. There are no page breaks: lines that start below
// the printable height are not drawn. The page itself is the caller's: the
// GUI draws on its printout's device context, tests record what is drawn.
// UI thread in the GUI; a scan may be writing the log meanwhile, and the
// page then shows what the file holds so far.
#pragma once

#include <cstddef>
#include <string>

inline constexpr int kPrintFirstLineY = 400;
inline constexpr int kPrintLineSpacing = 150;
inline constexpr size_t kPrintLineBuffer = 600;  // at most 599 bytes per read
inline constexpr char kCannotOpenLogToPrint[] = "Cannot open file to print.";

// The page PrintLog draws on, in printer device units.
class LogPrintTarget {
 public:
  virtual ~LogPrintTarget() = default;
  // The printable height (VERTRES).
  virtual int PageHeight() const = 0;
  // text with its top-left corner at (x, y), in the device's default font.
  virtual void DrawTextLine(int x, int y, const std::string& text) = 0;
  // A message box for the user; the page stays as it is.
  virtual void ShowMessage(const std::string& text) = 0;
};

// Draws the lines of the log at logPath on target. A read longer than 599
// bytes continues as the next line; the line end (LF or CR LF) is not drawn.
// When the log cannot be opened, shows kCannotOpenLogToPrint, draws
// nothing and returns false; the job still prints its one empty page.
bool PrintLog(LogPrintTarget& target, const std::string& logPath);
