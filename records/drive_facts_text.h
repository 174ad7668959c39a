// A drive's own facts as people and records read them: one labelled line a
// fact ("unknown" where the drive did not give it), and the record's JSON
// object (null where unknown), read back by the same code.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/drive_facts.h"

struct DriveFactLine {
  const char* label;  // "Firmware:", "Serial number:", ...
  std::string value;
};

std::vector<DriveFactLine> DriveFactLines(const DriveFacts& facts);

// The profiles' names, comma separated: every one (reads) or the writable
// ones; "unknown" without a profile list, "none" for an empty choice.
std::string ProfileListText(const DriveFacts& facts, bool writableOnly);

nlohmann::ordered_json DriveFactsJson(const DriveFacts& facts);
// Whatever of a facts object is there and of its type; the rest unknown.
DriveFacts DriveFactsFromJson(const nlohmann::ordered_json& json);
