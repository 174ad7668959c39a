// A part of the disc as the user names it: each end an LBA ("1000000"), a
// size from the disc's start ("2.5GB", "700MiB") or a share of the disc
// ("50%"). Sizes and shares need the disc, so a position is read first and
// placed once the disc is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/disc_type.h"

struct DiscPosition {
  enum class Unit : uint8_t { kLba, kBytes, kPercent };
  double value = 0;
  Unit unit = Unit::kLba;
};

// Nothing for text that is no position (a negative one, an unknown unit).
std::optional<DiscPosition> ParseDiscPosition(const std::string& text);

// The LBA the position names on a disc of lastLba + 1 sectors; a size falls
// on the sector that holds its last byte's successor (rounded down).
int64_t PlaceDiscPosition(const DiscPosition& position, int32_t lastLba);

// The sample positions of a whole-disc run, in the order it takes them.
std::vector<int32_t> ScanPositions(uint8_t densityMode, int32_t densityStep, DiscTypeCode type,
                                   int32_t lastLba);

// Why a part [from, to) cannot be scanned: empty when it can. positions: those
// of the run (ScanPositions).
std::string CheckDiscPart(int64_t from, int64_t to, int32_t lastLba,
                          const std::vector<int32_t>& positions);
