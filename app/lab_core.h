// What the window uses of the lab history's core. Stand-ins until the core
// lands; replaced by history/lab_history.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/lab_settings.h"
#include "history/history.h"

enum class LabFailure { kNone, kNewer, kUnreachable, kRefused, kOther };

struct LabPush {
  int64_t pushed = 0;
  int64_t waiting = 0;
  LabFailure failure = LabFailure::kNone;
  std::string error;
};

inline LabPush PushPendingRuns(const std::string&, const std::string&, bool,
                               const std::atomic<bool>*, int) {
  LabPush push;
  push.failure = LabFailure::kOther;
  push.error = "this build keeps no lab history yet";
  return push;
}

inline std::string ShownUrl(const std::string& url) { return UrlWithPasswordHidden(url); }

inline std::string StationName() {
  const char* station = std::getenv("VELMO_STATION");
  return station != nullptr && station[0] != '\0' ? station : LocalHostName();
}
