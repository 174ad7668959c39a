#include "history/since_time.h"

#include <ctime>

#include "history/history.h"

namespace {

// Local midnight daysBack days before the day of now.
std::optional<int64_t> LocalMidnight(int64_t now, int daysBack) {
  const auto time = static_cast<std::time_t>(now);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return std::nullopt;
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_mday -= daysBack;
  local.tm_isdst = -1;  // the midnight's own, not now's
  const std::time_t midnight = std::mktime(&local);
  if (midnight == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(midnight);
}

}  // namespace

std::optional<int64_t> ParseSinceTime(const std::string& text, int64_t now,
                                      std::string* impossible) {
  if (impossible != nullptr) impossible->clear();
  if (text == "today") return LocalMidnight(now, 0);
  if (text == "yesterday") return LocalMidnight(now, 1);
  if (text.size() >= 2 && text.size() <= 6 && text.back() == 'd') {
    int64_t days = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      days = days * 10 + (text[i] - '0');
    }
    return now - days * 24 * 3600;
  }
  return ParseIsoTime(text, impossible);
}
