// How a run ended, decided once by the run itself from the exchange that
// ended it: the window, velmo-cli, the record, the history and the reports
// only read it, so they cannot disagree.
//
// Threads: a plain value.
#pragma once

#include <cstdint>
#include <optional>

#include "commands/drive_commands.h"

// Every way a run ends, in the enum's order; the count follows from the list.
#define VELMO_RUN_OUTCOMES(X)                                                                   \
  X(kOk)                                                                                        \
  X(kNotRecommended)                                                                            \
  X(kFirmwareFailure) /* the drive refused the sample command: the one case for new firmware */ \
  X(kTimedOut)        /* the drive did not answer in time */                                    \
  X(kDriveGone)       /* the drive went away during the run */                                  \
  X(kDiscEjected)     /* the disc left the drive during the run */                              \
  X(kLogNotWritten)   /* TEFE.txt could not be opened or written */                             \
  X(kAborted)         /* stopped by the user; no verdict */                                     \
  X(kNoReading)       /* the drive could not take a reading where earlier ones succeeded */     \
  X(kDriveBusy)       /* the drive stayed busy through every retry */                           \
  X(kDriveError)      /* any other answer without a reading: status, sense, a short reply */    \
  X(kNotRecorded)     /* a replayed drive's recording holds no answer for the sample command */ \
  X(kSkipped)         /* an unattended disc that could not be tested: never run */

enum class RunOutcome : uint8_t {
#define VELMO_RUN_OUTCOME_VALUE(name) name,
  VELMO_RUN_OUTCOMES(VELMO_RUN_OUTCOME_VALUE)
#undef VELMO_RUN_OUTCOME_VALUE
};

#define VELMO_RUN_OUTCOME_ONE(name) +1
inline constexpr int kRunOutcomeCount = 0 VELMO_RUN_OUTCOMES(VELMO_RUN_OUTCOME_ONE);
#undef VELMO_RUN_OUTCOME_ONE

// A run that ended with a verdict (ok or not recommended).
constexpr bool HasVerdict(RunOutcome outcome) {
  return outcome == RunOutcome::kOk || outcome == RunOutcome::kNotRecommended;
}

// What caused an ending, as far as the ending exchange told it.
struct RunCause {
  std::optional<int32_t> lba;  // the sample where the run ended (a scan's)
  std::optional<uint32_t> psn;
  std::optional<uint8_t> scsiStatus;   // the drive's status, when it answered
  std::optional<SenseTriple> sense;    // of a CHECK CONDITION
  std::optional<uint8_t> replyStatus;  // the reply's own status byte, when it said no reading
  std::optional<uint32_t> bytesMoved;  // of a reply shorter than asked for
  std::optional<int> logError;         // errno of a log that failed
  bool firstSample = false;            // no reading: the run had read nothing before
  bool operator==(const RunCause&) const = default;
};

struct RunEnd {
  RunOutcome outcome = RunOutcome::kAborted;
  RunCause cause;
  bool operator==(const RunEnd&) const = default;
};

// How one sample command ended, with the exchange's evidence.
struct SampleEnd {
  SampleAnswer answer = SampleAnswer::kReading;
  ScsiExchange exchange;
  TefeReading reading;
};

// The run's ending for a sample that gave no reading. earlierReadings: the
// run has taken readings before this one (an invalid reading is then a
// place the drive cannot track, not a refusal). After an answer that may
// mean an empty tray, one TEST UNIT READY tells an ejected disc from a drive
// fault.
RunEnd JudgeFailedSample(const SampleEnd& sample, bool earlierReadings);
