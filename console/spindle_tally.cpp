#include "console/spindle_tally.h"

void SpindleTally::Count(SpindleDisc disc) {
  ++seen;
  switch (disc) {
    case SpindleDisc::kOk: ++ok; break;
    case SpindleDisc::kNotRecommended: ++notRecommended; break;
    case SpindleDisc::kFailed: ++failed; break;
    case SpindleDisc::kSkipped: ++skipped; break;
    case SpindleDisc::kAborted: ++aborted; break;
  }
}

SpindleDisc SpindleDiscOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kOk: return SpindleDisc::kOk;
    case RunOutcome::kNotRecommended: return SpindleDisc::kNotRecommended;
    case RunOutcome::kAborted: return SpindleDisc::kAborted;
    case RunOutcome::kSkipped: return SpindleDisc::kSkipped;
    default: return SpindleDisc::kFailed;
  }
}

std::string SpindleTallyText(const SpindleTally& tally) {
  return std::to_string(tally.seen) + " discs seen, " + std::to_string(tally.ok) + " ok, " +
         std::to_string(tally.notRecommended) + " not recommended, " +
         std::to_string(tally.failed) + " failed, " + std::to_string(tally.skipped) + " skipped, " +
         std::to_string(tally.aborted) + " aborted";
}
