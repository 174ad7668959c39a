#include "console/run_end.h"

#include <chrono>
#include <thread>

namespace {

// An empty tray, a disc on its way in or out, or a changed disc.
bool NotReadyKey(const ScsiExchange& exchange) {
  const SenseInfo& sense = exchange.sense;
  return exchange.outcome == ExchangeOutcome::kCheckCondition && sense.valid &&
         (sense.key == kSenseKeyNotReady ||
          (sense.key == kSenseMediumChanged.key && sense.asc == kSenseMediumChanged.asc));
}

// After an answer without a reading that the drive's own state may explain:
// an empty tray (or a changed disc) or a drive that has gone. A drive being
// unplugged fails commands below SCSI for a moment before the system says
// it is gone, so such a failure is asked about again, a few times.
std::optional<RunOutcome> AskTheTray() {
  constexpr int kTries = 10;
  constexpr std::chrono::milliseconds kPause(200);
  ScsiExchange unitReady;
  for (int tries = 1;; ++tries) {
    unitReady = ScsiExchange{};
    DriveNotReady(&unitReady);
    if (unitReady.outcome != ExchangeOutcome::kTransportError || tries == kTries) break;
    std::this_thread::sleep_for(kPause);
  }
  if (unitReady.outcome == ExchangeOutcome::kDriveGone) return RunOutcome::kDriveGone;
  if (NotReadyKey(unitReady)) return RunOutcome::kDiscEjected;
  return std::nullopt;
}

}  // namespace

RunEnd JudgeFailedSample(const SampleEnd& sample, bool earlierReadings) {
  RunEnd end;
  const ScsiExchange& x = sample.exchange;
  // No drive answered: the refusal is the replay's own, for a command (another
  // speed, another place) its recording never saw.
  if (sample.answer == SampleAnswer::kCheckCondition && x.AnswerNotRecordedMarked()) {
    end.outcome = RunOutcome::kNotRecorded;
    return end;
  }
  if (x.outcome == ExchangeOutcome::kDone || x.outcome == ExchangeOutcome::kCheckCondition)
    end.cause.scsiStatus = x.scsiStatus;
  if (x.outcome == ExchangeOutcome::kCheckCondition && x.sense.valid)
    end.cause.sense = SenseTriple{x.sense.key, x.sense.asc, x.sense.ascq};

  switch (sample.answer) {
    case SampleAnswer::kReading: end.outcome = RunOutcome::kOk; return end;  // not a failure
    case SampleAnswer::kTimedOut: end.outcome = RunOutcome::kTimedOut; return end;
    case SampleAnswer::kDriveGone: end.outcome = RunOutcome::kDriveGone; return end;
    case SampleAnswer::kBusy: end.outcome = RunOutcome::kDriveBusy; return end;
    case SampleAnswer::kCheckCondition:
      if (!end.cause.sense) {
        end.outcome = RunOutcome::kDriveError;
        break;
      }
      if (end.cause.sense->key == kSenseKeyIllegalRequest) {
        // The drive does not take the command as sent: what old firmware does.
        end.outcome = RunOutcome::kFirmwareFailure;
        return end;
      }
      if (NotReadyKey(x)) {
        end.outcome = RunOutcome::kDiscEjected;
        return end;
      }
      if (end.cause.sense->key == kSenseKeyMediumError) {
        end.outcome = RunOutcome::kNoReading;
        end.cause.firstSample = !earlierReadings;
        return end;
      }
      end.outcome = RunOutcome::kDriveError;
      break;
    case SampleAnswer::kInvalidReading:
      end.cause.replyStatus = sample.reading.status;
      // Where earlier samples were read, the drive cannot track this place;
      // with none read, it takes the command but gives no reading at all:
      // the firmware's case, said without asking the drive anything more.
      if (!earlierReadings) {
        end.outcome = RunOutcome::kFirmwareFailure;
        return end;
      }
      end.outcome = RunOutcome::kNoReading;
      break;
    case SampleAnswer::kShortReply:
      end.cause.bytesMoved = x.Moved();
      end.outcome = RunOutcome::kDriveError;
      break;
    case SampleAnswer::kOtherStatus:
    case SampleAnswer::kTransportError: end.outcome = RunOutcome::kDriveError; break;
  }
  if (const auto tray = AskTheTray()) end.outcome = *tray;
  return end;
}
