// A spindle's discs as they are counted wherever discs follow one another
// unattended: velmo-cli watch's summary and the window's running tally.
// A disc that cannot be tested is skipped: it is counted, never run.
//
// Threads: a plain value.
#pragma once

#include <string>

#include "console/run_end.h"

enum class SpindleDisc { kOk, kNotRecommended, kFailed, kSkipped, kAborted };

struct SpindleTally {
  int seen = 0;
  int ok = 0;
  int notRecommended = 0;
  int failed = 0;
  int skipped = 0;
  int aborted = 0;  // stopped before its verdict

  // One more disc seen, counted as disc.
  void Count(SpindleDisc disc);
};

// How a disc that was run counts, by how its run ended.
SpindleDisc SpindleDiscOf(RunOutcome outcome);

// "5 discs seen, 2 ok, 2 not recommended, 0 failed, 1 skipped, 0 aborted".
std::string SpindleTallyText(const SpindleTally& tally);
