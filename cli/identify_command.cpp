#include "cli/identify_command.h"

#include "cli/cli_options.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/terminal_text.h"

int RunIdentifyCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                       std::FILE* err, const DiscWait& wait) {
  // Ctrl-C while waiting for the disc still leaves the diagnostic mode.
  CInterruptWatch interrupt;
  CPreparedDisc disc;
  const int code = disc.Prepare(session, options.drive, err, wait, interrupt, DiscUse::kIdentify);
  if (code != kExitOk) return code;
  const DiscFields& fields = disc.Fields();
  disc.PrintDrive(out);
  PrintDiscFields(out, fields, true, true);
  // A refusing drive cannot scan whatever disc it holds: never "Ready." there.
  const bool readyButRefused = disc.Refused() && disc.Identity().end == IdentifyEnd::kReady;
  std::fprintf(out, "%-22s%s\n", "Status:",
               readyButRefused ? "The drive refuses the diagnostic mode." : fields.status.c_str());
  return fields.runControls && !disc.Refused() ? kExitOk : kExitNoDrive;
}
