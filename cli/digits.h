// A command-line value made of digits only (a run id, a count), short
// enough to fit a 64-bit number.
#pragma once

#include <string>

inline bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 18) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}
