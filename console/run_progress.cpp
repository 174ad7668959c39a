#include "console/run_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "console/disc_range.h"
#include "console/scan_run.h"

int CountScanSamples(uint8_t densityMode, int32_t densityStep, DiscTypeCode type, int32_t lastLba,
                     const ScanPart& part) {
  const std::vector<int32_t> positions = ScanPositions(densityMode, densityStep, type, lastLba);
  // A resumed run's earlier samples lie inside its part: counted as done.
  return static_cast<int>(std::count_if(positions.begin(), positions.end(), [&part](int32_t lba) {
    return lba >= part.from && lba < part.to;
  }));
}

ScanProgress ProgressOf(int done, int expected, double secondsSpent) {
  ScanProgress progress;
  progress.done = done;
  progress.total = std::max(expected, done);
  progress.percent = progress.total > 0 ? done * 100 / progress.total : 100;
  if (done >= progress.total) {
    progress.secondsLeft = 0;
  } else if (done > 0 && secondsSpent >= 1.0) {
    progress.secondsLeft = std::lround(secondsSpent * (progress.total - done) / done);
  }
  return progress;
}

std::string ProgressClock(long seconds) {
  if (seconds < 0) return "--:--";
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  }
  return text;
}
