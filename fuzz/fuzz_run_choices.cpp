// The velmo.conf reader: any bytes as the file's text. What it accepts, put
// back into words as the window saves it, reads as the same choices; what it
// refuses leaves the defaults.
#include <string>

#include "app/run_choices.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  RunChoices choices;
  if (!ParseRunChoices(text, &choices)) {
    FUZZ_CHECK(choices == RunChoices{});
    return 0;
  }
  const std::optional<std::string> saved = RunChoicesText(choices);
  FUZZ_CHECK(saved.has_value());
  RunChoices again;
  FUZZ_CHECK(ParseRunChoices(*saved, &again));
  FUZZ_CHECK(again == choices);
  return 0;
}
