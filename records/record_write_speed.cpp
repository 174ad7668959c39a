#include "records/record_write_speed.h"
#include "records/number_text.h"

#include <cstdio>
#include <cstdlib>

#include "console/disc_identification.h"

namespace {

std::string SpaceTrimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The table's label of a code: its entry format up to " =>".
std::string LabelOf(const WriteSpeedEntry& entry) {
  const std::string format = entry.format;
  return SpaceTrimmed(format.substr(0, format.find(" =>")));
}

}  // namespace

RecordWriteSpeed WriteSpeedOfEntry(const std::string& entry) {
  RecordWriteSpeed speed;
  const size_t arrow = entry.find("=>");
  speed.label = SpaceTrimmed(entry.substr(0, arrow));
  if (arrow != std::string::npos) {
    const size_t open = entry.find('(', arrow);
    if (open != std::string::npos) {
      // An older record's entry, edited or damaged: a rate out of range is
      // no rate, not a wrapped number.
      const long kBps = std::strtol(entry.c_str() + open + 1, nullptr, 10);
      if (kBps >= 0 && kBps <= kRecordMaxKBps) speed.kBps = static_cast<int>(kBps);
    }
  }
  for (const WriteSpeedEntry& known : kWriteSpeedTable) {
    if (LabelOf(known) != speed.label) continue;
    speed.code = known.code;
    if (arrow == std::string::npos) speed.kBps = static_cast<int>(known.kBps);
  }
  return speed;
}

std::string WriteSpeedListEntry(const RecordWriteSpeed& speed) {
  const std::string known = SpeedEntryText(
      DiscSpeed{static_cast<SpeedCode>(speed.code), static_cast<uint32_t>(speed.kBps)});
  if (!known.empty()) return known;
  char text[96];
  std::snprintf(text, sizeof text, "%s => (%5d Kb/Sec)  ", speed.label.c_str(), speed.kBps);
  return text;
}

std::string WriteSpeedText(const RecordWriteSpeed& speed) {
  if (speed.kBps <= 0) return speed.label;
  return speed.label + " (" + GroupedDigits(speed.kBps) + " kB/s)";
}
