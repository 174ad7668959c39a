#include "records/run_end_text.h"

#include <cstdio>

#include "commands/drive_commands.h"
#include "console/smart_scan.h"
#include "device/sense.h"
#include "records/number_text.h"
#include "records/record_statistics.h"

namespace {

// What the drive answered, for the endings where it said something.
std::string Answer(const RunCause& cause) {
  std::string answer;
  const auto add = [&](const std::string& part) { answer += (answer.empty() ? "" : ", ") + part; };
  if (cause.sense) add("sense " + SenseText(*cause.sense));
  if (cause.scsiStatus && *cause.scsiStatus != kScsiStatusGood &&
      *cause.scsiStatus != kScsiStatusCheckCondition) {
    char status[32];
    std::snprintf(status, sizeof status, "SCSI status 0x%02X", *cause.scsiStatus);
    add(status);
  }
  if (cause.replyStatus) {
    char status[40];
    std::snprintf(status, sizeof status, "reading status 0x%02X", *cause.replyStatus);
    add(status);
  }
  if (cause.bytesMoved)
    add(std::to_string(*cause.bytesMoved) + " of " + std::to_string(kTefeReplyLength) + " bytes");
  return answer;
}

// " at LBA 1,179,648 (2.42 GB; sense 3/11/00)", or what of it is known.
std::string Where(const RunCause& cause, bool withAnswer = false) {
  const std::string answer = withAnswer ? Answer(cause) : "";
  if (!cause.lba) return answer.empty() ? "" : " (" + answer + ")";
  char gb[32];
  std::snprintf(gb, sizeof gb, "%.2f", LbaToGigabytes(*cause.lba));
  return " at LBA " + GroupedDigits(*cause.lba) + " (" + gb + " GB" +
         (answer.empty() ? "" : "; " + answer) + ")";
}

}  // namespace

std::string SenseText(const SenseTriple& sense) {
  return FormatSense(SenseInfo{true, sense.key, sense.asc, sense.ascq});
}

std::string DescribeRunEnd(RunOutcome outcome, const RunCause& cause) {
  switch (outcome) {
    case RunOutcome::kOk:
    case RunOutcome::kNotRecommended: return "the run ended with its verdict";
    case RunOutcome::kFirmwareFailure:
      return "the drive refused the TE/FE sample command" + Where(cause, true) +
             ": its firmware does not take it";
    case RunOutcome::kNoReading:
      return "the drive could not take a reading" + Where(cause, true) +
             (cause.firstSample ? " at the run's first sample"
                                : ", where it read the disc before") +
             ": the disc may be scratched, dirty or damaged there";
    case RunOutcome::kTimedOut:
      return "the drive did not answer the sample command" + Where(cause) + " within " +
             std::to_string(kSampleTimeoutSeconds) + " s";
    case RunOutcome::kDriveGone:
      return "the drive went away during the run" + Where(cause) + ": check its cable and power";
    case RunOutcome::kDiscEjected: return "the disc left the drive during the run" + Where(cause);
    case RunOutcome::kDriveBusy:
      return "the drive stayed busy" + Where(cause, true) + " through " +
             std::to_string(kBusyTries) + " tries: another program may be using it";
    case RunOutcome::kDriveError:
      return "the drive answered the sample command" + Where(cause, true) + " without a reading";
    case RunOutcome::kLogNotWritten: return "TEFE.txt could not be written";
    case RunOutcome::kAborted: return "the run was stopped before its verdict";
    case RunOutcome::kNotRecorded:
      return "the recording has no answer for the sample command" + Where(cause) +
             ": the recorded run did not send it";
    case RunOutcome::kSkipped: return "the disc could not be tested: nothing was run on it";
  }
  return "the run ended";
}

std::string RunEndStatus(RunOutcome outcome, const RunCause& cause) {
  // Grouped as the box's text has it, so both read the same number.
  const std::string at = cause.lba ? " at LBA " + GroupedDigits(*cause.lba) : "";
  switch (outcome) {
    case RunOutcome::kNoReading: return "No reading" + at + ".";
    case RunOutcome::kTimedOut: return "Drive timed out" + at + ".";
    case RunOutcome::kDriveGone: return "Drive gone" + at + ".";
    case RunOutcome::kDiscEjected: return "Disc ejected" + at + ".";
    case RunOutcome::kDriveBusy: return "Drive busy" + at + ".";
    case RunOutcome::kDriveError: return "Drive error" + at + ".";
    case RunOutcome::kNotRecorded: return "No recorded answer" + at + ".";
    case RunOutcome::kFirmwareFailure: return "Firmware not supported.";
    case RunOutcome::kLogNotWritten: return "Can't support to save log file.";
    case RunOutcome::kAborted: return "User abort!";
    case RunOutcome::kSkipped: return "Skipped.";
    case RunOutcome::kOk: return kVerdictOk;
    case RunOutcome::kNotRecommended: return kVerdictNotRecommended;
  }
  return "";
}

std::string SmartAnswerText(const std::optional<SpeedCode>& fitSpeed) {
  if (!fitSpeed) return "No write speed is fit for writing.";
  return std::string("Fit for writing up to ") + SpeedLabel(*fitSpeed) + ".";
}

std::string SmartAnswerWords(RunOutcome outcome, const std::string& fitSpeed) {
  if (outcome == RunOutcome::kOk && !fitSpeed.empty()) return "fit up to " + fitSpeed;
  if (outcome == RunOutcome::kNotRecommended) return "no speed fit";
  return "";
}
