// Company names for disc manufacturer IDs (DVD+R/+RW ADIP IDs, DVD-R/-RW
// pre-recorded IDs), from a table of ID prefixes built from public facts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct MediaCode {
  const char* prefix;  // the start of the ID as the window shows it
  const char* company;
  const char* source;  // where the fact is published
};

// The company for a manufacturer ID; none for an unknown ID, an empty one or "N/A".
// Blanks and NULs around the ID do not matter; the longest matching prefix wins.
std::optional<std::string> ManufacturerName(std::string_view manufacturerId);

// The name, or "unknown".
std::string ManufacturerNameOrUnknown(std::string_view manufacturerId);

// Every entry, for tests and listings.
const MediaCode* MediaCodes(size_t* count);
