#include "console/disc_range.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "console/scan_run.h"

namespace {

constexpr int64_t kRangeSectorBytes = 2048;

struct RangeUnitName {
  const char* name;
  DiscPosition::Unit unit;
  double bytes;
};

constexpr RangeUnitName kRangeUnits[] = {{"%", DiscPosition::Unit::kPercent, 1},
                                         {"B", DiscPosition::Unit::kBytes, 1},
                                         {"kB", DiscPosition::Unit::kBytes, 1e3},
                                         {"KB", DiscPosition::Unit::kBytes, 1e3},
                                         {"MB", DiscPosition::Unit::kBytes, 1e6},
                                         {"GB", DiscPosition::Unit::kBytes, 1e9},
                                         {"KiB", DiscPosition::Unit::kBytes, 1024.0},
                                         {"MiB", DiscPosition::Unit::kBytes, 1048576.0},
                                         {"GiB", DiscPosition::Unit::kBytes, 1073741824.0}};

}  // namespace

std::optional<DiscPosition> ParseDiscPosition(const std::string& text) {
  size_t digits = 0;
  while (digits < text.size() &&
         (std::isdigit(static_cast<unsigned char>(text[digits])) != 0 || text[digits] == '.'))
    ++digits;
  const std::string number = text.substr(0, digits);
  const std::string unit = text.substr(digits);
  if (number.empty() || number.front() == '.' || number.back() == '.' ||
      number.find('.') != number.rfind('.'))
    return std::nullopt;
  const double value = std::strtod(number.c_str(), nullptr);
  if (!std::isfinite(value) || value > 1e15) return std::nullopt;
  if (unit.empty()) {
    // An LBA is a whole sector.
    if (number.find('.') != std::string::npos) return std::nullopt;
    return DiscPosition{value, DiscPosition::Unit::kLba};
  }
  for (const RangeUnitName& row : kRangeUnits) {
    if (unit != row.name) continue;
    if (row.unit == DiscPosition::Unit::kPercent)
      return DiscPosition{value, DiscPosition::Unit::kPercent};
    return DiscPosition{value * row.bytes, DiscPosition::Unit::kBytes};
  }
  return std::nullopt;
}

int64_t PlaceDiscPosition(const DiscPosition& position, int32_t lastLba) {
  const int64_t sectors = static_cast<int64_t>(lastLba) + 1;
  switch (position.unit) {
    case DiscPosition::Unit::kPercent:
      return static_cast<int64_t>(std::floor(position.value * static_cast<double>(sectors) / 100));
    case DiscPosition::Unit::kBytes:
      return static_cast<int64_t>(std::floor(position.value / kRangeSectorBytes));
    case DiscPosition::Unit::kLba: break;
  }
  return static_cast<int64_t>(position.value);
}

std::vector<int32_t> ScanPositions(uint8_t densityMode, int32_t densityStep, DiscTypeCode type,
                                   int32_t lastLba) {
  const ScanRange range = GetScanRange(densityMode, type, lastLba);
  std::vector<int32_t> positions;
  for (int32_t lba = range.start; lba < range.end;) {
    positions.push_back(lba);
    const int32_t step = GetSampleStep(lba, densityStep, type, lastLba);
    if (step <= 0) break;
    lba += step;
  }
  return positions;
}

std::string CheckDiscPart(int64_t from, int64_t to, int32_t lastLba,
                          const std::vector<int32_t>& positions) {
  const int64_t end = static_cast<int64_t>(lastLba) + 1;
  if (from >= end || to > end) {
    return "the range " + std::to_string(from) + " to " + std::to_string(to) +
           " lies outside the disc (LBA 0 to " + std::to_string(end) + ")";
  }
  if (from >= to) {
    return "the range " + std::to_string(from) + " to " + std::to_string(to) +
           " is empty: its start must lie below its end";
  }
  for (int32_t lba : positions) {
    if (lba >= from && lba < to) return "";
  }
  return "the range " + std::to_string(from) + " to " + std::to_string(to) +
         " holds no sample position of this density";
}
