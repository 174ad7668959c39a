// The start of a "since" filter as people write it: an ISO date or time
// (ParseIsoTime), "today" or "yesterday" (that day's local midnight), or
// "Nd" for the last N days (N times 24 hours before now).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Unix time; nothing when text is none of these. now: Unix time.
// *impossible as ParseIsoTime gives it: why a date of the right shape is
// no date.
std::optional<int64_t> ParseSinceTime(const std::string& text, int64_t now,
                                      std::string* impossible = nullptr);
