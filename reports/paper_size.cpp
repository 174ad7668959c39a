#include "reports/paper_size.h"

#include <array>
#include <cstdlib>

namespace {

// The countries whose locales use US Letter.
constexpr std::array<std::string_view, 15> kLetterCountries = {
    "US", "CA", "MX", "PR", "PH", "CL", "CO", "CR", "DO", "GT", "NI", "PA", "SV", "VE", "BZ"};

}  // namespace

PaperPoints PaperSizePoints(PaperSize paper) {
  if (paper == PaperSize::kLetter) return {612.0, 792.0};
  return {595.276, 841.89};  // 210 x 297 mm
}

const char* PaperSizeName(PaperSize paper) { return paper == PaperSize::kLetter ? "Letter" : "A4"; }

PaperSize PaperSizeForLocale(std::string_view locale) {
  // language[_COUNTRY][.codeset][@modifier]
  const size_t underscore = locale.find('_');
  if (underscore == std::string_view::npos) return PaperSize::kA4;
  std::string_view country = locale.substr(underscore + 1);
  country = country.substr(0, country.find_first_of(".@"));
  for (std::string_view letter : kLetterCountries) {
    if (country == letter) return PaperSize::kLetter;
  }
  return PaperSize::kA4;
}

PaperSize PaperSizeFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_PAPER", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return PaperSizeForLocale(value);
  }
  return PaperSize::kA4;
}
