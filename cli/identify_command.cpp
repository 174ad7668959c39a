#include "cli/identify_command.h"

#include "cli/cli_options.h"
#include "cli/interrupt_watch.h"
#include "results/terminal_text.h"
#include "session/drive_session.h"

int RunIdentifyCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                       std::FILE* err, const DiscWait& wait) {
  // Ctrl-C while waiting for the disc still leaves the diagnostic mode.
  CInterruptWatch interrupt;
  DiscWait discWait = wait;
  discWait.stopped = [&interrupt] { return interrupt.Interrupted(); };
  CPreparedDisc disc;
  const int code = disc.Prepare(session, options.drive, err, discWait, true);
  if (code == kExitInterrupted && interrupt.Interrupted()) return interrupt.ExitCode();
  if (code != kExitOk) return code;
  const DiscFields& fields = disc.Fields();
  std::fprintf(out, "%-22s%s (%s)\n", "Drive:", TerminalText(disc.DriveName()).c_str(),
               TerminalText(disc.DrivePath()).c_str());
  PrintDiscFields(out, fields, true, true);
  // A refusing drive cannot scan whatever disc it holds: never "Ready." there.
  const bool readyButRefused = disc.Refused() && disc.Identity().end == IdentifyEnd::kReady;
  std::fprintf(out, "%-22s%s\n", "Status:",
               readyButRefused ? "The drive refuses the diagnostic mode." : fields.status.c_str());
  return fields.runControls && !disc.Refused() ? kExitOk : kExitNoDrive;
}
