// What each ending of a run is called where people read it: velmo-cli's
// messages, the window's box and status line for endings other than the
// firmware's, `show` and the reports. The firmware's own refusal keeps the
// window's words; every other cause is named as what it is, never as a
// reason to flash the drive.
#pragma once

#include <optional>
#include <string>

#include "commands/speed_codes.h"
#include "console/run_end.h"
#include "console/scan_verdict.h"

// One sentence without a final stop, starting lower case: "the drive could
// not take a reading at LBA 884,736 (1.81 GB) ...".
std::string DescribeRunEnd(RunOutcome outcome, const RunCause& cause);

// A few words for a status line, with a final stop: "No reading at LBA 884736.".
std::string RunEndStatus(RunOutcome outcome, const RunCause& cause);

// "5/24/00" for a sense triple.
std::string SenseText(const SenseTriple& sense);

// A Smart Scan's answer as one line: "Fit for writing up to 10X." or "No
// write speed is fit for writing.".
std::string SmartAnswerText(const std::optional<SpeedCode>& fitSpeed);

// A Smart Scan's answer in a listing's outcome column: "fit up to 10X", "no
// speed fit"; empty when it ended without one (its outcome's name stands).
std::string SmartAnswerWords(RunOutcome outcome, const std::string& fitSpeed);
