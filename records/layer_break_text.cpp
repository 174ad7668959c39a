#include "records/layer_break_text.h"

#include <cstdlib>

#include "console/disc_identification.h"

namespace {

std::string LayerBreakDifference(int32_t layer0Sectors) {
  const int32_t difference = layer0Sectors - kAssumedLayer0Sectors;
  return std::to_string(std::abs(difference)) +
         (std::abs(difference) == 1 ? " sector " : " sectors ") +
         (difference < 0 ? "before" : "after") + " sector " + std::to_string(kAssumedLayer0Sectors);
}

}  // namespace

std::string LayerBreakText(std::optional<int32_t> layer0Sectors) {
  if (!layer0Sectors) return "unknown";
  const std::string text = "sector " + std::to_string(*layer0Sectors);
  if (*layer0Sectors == kAssumedLayer0Sectors) return text;
  return text + " (" + LayerBreakDifference(*layer0Sectors) +
         ", where the sample positions place it)";
}

std::string LayerBreakWarning(std::optional<int32_t> layer0Sectors) {
  if (!layer0Sectors || *layer0Sectors == kAssumedLayer0Sectors) return "";
  return "this disc's layer 1 starts at sector " + std::to_string(*layer0Sectors) + ", " +
         LayerBreakDifference(*layer0Sectors) +
         "; the sample positions and their physical sectors keep sector " +
         std::to_string(kAssumedLayer0Sectors) + " as the start of layer 1";
}
