// How far a scan has got, worked out once for velmo-cli's progress line and
// the window's title: the samples a run with its settings takes, and the
// time left at the run's own pace so far.
//
// Threads: plain functions.
#pragma once

#include <cstdint>
#include <string>

#include "commands/disc_type.h"
#include "console/scan_run.h"

// How many samples a run with these settings takes: the run's own range and
// steps, walked without a drive; of a part, those inside it (a resumed run's
// earlier ones with them).
int CountScanSamples(uint8_t densityMode, int32_t densityStep, DiscTypeCode type, int32_t lastLba,
                     const ScanPart& part = {});

struct ScanProgress {
  int done = 0;
  int total = 0;  // never below done: a density changed mid-run takes more
  int percent = 0;
  long secondsLeft = -1;  // -1: not known yet (less than a second spent)
};

// Where a run stands after done samples of expected, secondsSpent since it
// started.
ScanProgress ProgressOf(int done, int expected, double secondsSpent);

// "0:42", "1:02:05"; "--:--" for a time not known.
std::string ProgressClock(long seconds);
