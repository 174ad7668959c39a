#include "cli/drives_command.h"

#include <string>

#include "cli/cli_options.h"
#include "commands/drive_commands.h"
#include "session/drive_session.h"
#include "session/terminal_text.h"

int RunDrivesCommand(CDriveSession& session, std::FILE* out, std::FILE* err) {
  if (!session.Initialized()) return kExitNoDrive;
  CDeviceManager& manager = session.Manager();
  const uint8_t count = manager.GetDriveCount();

  for (const SkippedVolume& skipped : manager.GetSkippedVolumes()) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(DescribeSkippedVolume(skipped)).c_str());
  }
  if (count == 0) {
    std::fprintf(err, "velmo-cli: No Device found!\n");
    return kExitNoDrive;
  }

  std::fprintf(out, "%-2s  %-28s  %-10s  %s\n", "#", "Drive", "Device", "Diagnostic mode");
  for (uint8_t i = 0; i < count; ++i) {
    manager.SelectDrive(i);
    char name[100] = {};
    manager.GetDriveName(name);
    const std::string path = manager.GetDrivePath(i);
    std::string verdict;
    ScsiExchange enter;
    if (SetDiagnosticMode(kDiagnosticEnter, &enter)) {
      verdict = SetDiagnosticMode(kDiagnosticLeave) ? "accepted" : "accepted (leave failed)";
    } else {
      const std::string why = DescribeVendorCommandFailure(enter.hostError, path);
      verdict = why.empty() ? "refused: not a supported drive" : "failed: " + TerminalText(why);
    }
    // The name is the drive's INQUIRY text, whatever bytes it holds.
    std::fprintf(out, "%-2u  %-28s  %-10s  %s\n", i, TerminalText(name).c_str(),
                 TerminalText(path).c_str(), verdict.c_str());
  }
  manager.SelectDrive(0);
  return kExitOk;
}
