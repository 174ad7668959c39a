#include "cli/recover_command.h"

#include <algorithm>

#include "cli/cli_options.h"
#include "cli/disc_preparation.h"
#include "commands/drive_commands.h"
#include "session/drive_session.h"
#include "session/terminal_text.h"

namespace {

// What the drive made of a command, for its line.
std::string AnswerText(const ScsiExchange& sent, const std::string& path) {
  switch (sent.outcome) {
    case ExchangeOutcome::kDone:
      return sent.scsiStatus == kScsiStatusBusy ? "BUSY, not done" : "done";
    case ExchangeOutcome::kCheckCondition: {
      if (!sent.sense.valid) return "CHECK CONDITION, no sense data";
      const std::string meaning = SenseMeaning(sent.sense);
      return "CHECK CONDITION, sense " + FormatSense(sent.sense) +
             (meaning.empty() ? "" : " (" + meaning + ")");
    }
    default: break;
  }
  const std::string why = DescribeVendorCommandFailure(sent.hostError, path);
  if (!why.empty()) return why;
  if (sent.outcome == ExchangeOutcome::kTimedOut) return "the drive did not answer in time";
  if (sent.outcome == ExchangeOutcome::kDriveGone) return "the drive is no longer attached";
  return "transport failure";
}

bool TookIt(const ScsiExchange& sent) { return sent.Done() && sent.scsiStatus != kScsiStatusBusy; }

// A drive that does not know the leave command (ILLEGAL REQUEST) has no
// diagnostic mode: no Velmo run ever put it there, or locked its tray.
bool RefusesTheMode(const ScsiExchange& leave) {
  return leave.outcome == ExchangeOutcome::kCheckCondition && leave.sense.valid &&
         leave.sense.key == kSenseKeyIllegalRequest;
}

// One drive, selected: the leave, then the tray freed, whatever the leave
// answered (a drive gone for a moment may still hold its tray locked),
// unless the leave showed the drive has no diagnostic mode at all.
int Recover(CDeviceManager& manager, uint8_t index, std::FILE* out, std::FILE* err,
            const std::function<std::string(const std::string&)>& lockPathOf) {
  manager.SelectDrive(index);
  char name[100] = {};
  manager.GetDriveName(name);
  const std::string path = manager.GetDrivePath(index);
  // Another run's commands are still going to the drive: leaving its
  // diagnostic mode now would fail that run's samples.
  CRunLock lock;
  if (CRunLock::Refuses(lock.Take(lockPathOf(path)))) {
    std::fprintf(err, "velmo-cli: drive %u: %s; it is not touched\n", index,
                 TerminalText(lock.Refusal(path)).c_str());
    return kExitBusy;
  }
  std::fprintf(out, "drive %u: %s (%s)\n", index, TerminalText(name).c_str(),
               TerminalText(path).c_str());
  ScsiExchange leave;
  SetDiagnosticMode(kDiagnosticLeave, &leave);
  std::fprintf(out, "  leave diagnostic mode (%s): %s\n", CdbText(leave).c_str(),
               AnswerText(leave, path).c_str());
  if (RefusesTheMode(leave)) {
    std::fprintf(out,
                 "  not a supported drive: it refuses the diagnostic mode, so it was never in "
                 "it; nothing more sent\n");
    return kExitOk;
  }
  ScsiExchange allow;
  PreventMediumRemoval(false, &allow);
  std::fprintf(out, "  allow medium removal (%s): %s\n", CdbText(allow).c_str(),
               AnswerText(allow, path).c_str());
  return TookIt(leave) && TookIt(allow) ? kExitOk : kExitDriveFailure;
}

}  // namespace

int RunRecoverCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                      std::FILE* err,
                      const std::function<std::string(const std::string&)>& lockPathOf) {
  if (!DriveLayerReady(session, err)) return kExitNoDrive;
  CDeviceManager& manager = session.Manager();
  const uint8_t count = manager.GetDriveCount();
  if (count == 0) {
    std::fprintf(err, "velmo-cli: No Device found!\n");
    return kExitNoDrive;
  }
  if (!options.driveAll && options.drive >= count) {
    std::fprintf(err, "velmo-cli: there is no drive %d ('velmo-cli drives' lists them)\n",
                 options.drive);
    return kExitNoDrive;
  }
  const int first = options.driveAll ? 0 : options.drive;
  const int last = options.driveAll ? count - 1 : first;
  int worst = kExitOk;
  for (int i = first; i <= last; ++i) {
    worst = std::max(worst, Recover(manager, static_cast<uint8_t>(i), out, err, lockPathOf));
  }
  manager.SelectDrive(0);
  return worst;
}

std::string RecoverUsage() {
  return "usage: velmo-cli [options] recover [--drive N|all]\n"
         "\n"
         "Takes a drive out of the diagnostic mode a run left it in (killed, crashed,\n"
         "or the computer lost power) and lets its tray open again: sends the leave\n"
         "command, then PREVENT ALLOW MEDIUM REMOVAL allowing removal, and prints each\n"
         "command with what the drive answered. A drive another Velmo run is using is\n"
         "left alone (exit 75). A drive that refuses the leave as a command it does not\n"
         "know (ILLEGAL REQUEST) has no diagnostic mode: it is said and nothing more is\n"
         "sent to it. Exit 0 when every drive took both commands or has no diagnostic\n"
         "mode, 2 when one refused or failed one, 3 without a drive.\n"
         "\n"
         "  --drive N              the drive, by its index in 'drives' (default 0)\n"
         "  --drive all            every drive, one after the other\n";
}
