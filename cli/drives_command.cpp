#include "cli/drives_command.h"

#include <string>

#include "cli/cli_options.h"
#include "commands/drive_commands.h"
#include "commands/drive_facts.h"
#include "records/drive_facts_text.h"
#include "session/drive_session.h"
#include "session/output_file.h"
#include "session/terminal_text.h"

int RunDrivesCommand(CDriveSession& session, std::FILE* out, std::FILE* err,
                     const DrivesListing& listing) {
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
  // Known unwritable before any drive is asked.
  COutputFile json;
  std::string error;
  if (!listing.jsonFile.empty() && !json.Open(listing.jsonFile, &error)) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  const bool facts = listing.facts || !listing.jsonFile.empty();

  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  std::fprintf(out, "%-2s  %-28s  %-10s  %s\n", "#", "Drive", "Device", "Diagnostic mode");
  for (uint8_t i = 0; i < count; ++i) {
    manager.SelectDrive(i);
    char name[100] = {};
    manager.GetDriveName(name);
    const std::string path = manager.GetDrivePath(i);
    std::string verdict;
    const char* mode = "accepted";
    ScsiExchange enter;
    if (SetDiagnosticMode(kDiagnosticEnter, &enter)) {
      verdict = SetDiagnosticMode(kDiagnosticLeave) ? "accepted" : "accepted (leave failed)";
    } else {
      const std::string why = DescribeVendorCommandFailure(enter.hostError, path);
      verdict = why.empty() ? "refused: not a supported drive" : "failed: " + TerminalText(why);
      mode = why.empty() ? "refused" : "failed";
    }
    // The name is the drive's INQUIRY text, whatever bytes it holds.
    std::fprintf(out, "%-2u  %-28s  %-10s  %s\n", i, TerminalText(name).c_str(),
                 TerminalText(path).c_str(), verdict.c_str());
    if (!facts) continue;
    const DriveFacts driveFacts = ReadDriveFacts();
    if (listing.facts) {
      for (const DriveFactLine& line : DriveFactLines(driveFacts))
        std::fprintf(out, "    %-16s%s\n", line.label, TerminalText(line.value).c_str());
    }
    list.push_back({{"index", i},
                    {"name", name},
                    {"node", path},
                    {"diagnosticMode", mode},
                    {"facts", DriveFactsJson(driveFacts)}});
  }
  manager.SelectDrive(0);
  if (json.IsOpen()) {
    const std::string text =
        nlohmann::ordered_json({{"drives", list}})
            .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
        "\n";
    if (!json.Commit(text, &error)) {
      std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
      return kExitCannotWrite;
    }
  }
  return kExitOk;
}
