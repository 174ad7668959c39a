// The paper a report is laid out for: Letter where the locale's country uses
// it, A4 everywhere else.
#pragma once

#include <string_view>

enum class PaperSize { kA4, kLetter };

struct PaperPoints {
  double width;  // in points (1/72 inch), portrait
  double height;
};

PaperPoints PaperSizePoints(PaperSize paper);
const char* PaperSizeName(PaperSize paper);  // "A4", "Letter"

// The paper of a locale name such as "en_US.UTF-8" or "fr_CA"; A4 for "C",
// "POSIX", an empty name and every country that does not use Letter.
PaperSize PaperSizeForLocale(std::string_view locale);

// The paper of this process's locale: LC_ALL, else LC_PAPER, else LANG.
PaperSize PaperSizeFromEnvironment();
