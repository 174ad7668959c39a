// Whole numbers as Velmo's texts show them: thousands grouped with commas.
#pragma once

#include <string>

inline std::string GroupedDigits(long value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
  return (value < 0 ? "-" : "") + digits;
}
