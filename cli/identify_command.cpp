#include "cli/identify_command.h"

#include "cli/cli_options.h"
#include "commands/drive_facts.h"
#include "records/drive_facts_text.h"
#include "records/layer_break_text.h"
#include "records/media_codes.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/output_file.h"
#include "session/terminal_text.h"

namespace {

nlohmann::ordered_json IdentifyJson(const CPreparedDisc& disc, const DriveFacts& facts,
                                    const std::string& status) {
  const DiscFields& fields = disc.Fields();
  const DiscIdentity& identity = disc.Identity();
  nlohmann::ordered_json speeds = nlohmann::ordered_json::array();
  for (const DiscSpeed& speed : identity.speeds)
    speeds.push_back({{"code", speed.code}, {"kBps", speed.kBps}});
  const auto maker = ManufacturerName(fields.manufacturerId);
  nlohmann::ordered_json json = {
      {"drive",
       {{"name", disc.DriveName()}, {"node", disc.DrivePath()}, {"facts", DriveFactsJson(facts)}}},
      {"disc",
       {{"type", fields.discType},
        {"manufacturerId", fields.manufacturerId},
        {"manufacturerName", maker ? nlohmann::ordered_json(*maker) : nullptr},
        {"mediaTypeId", fields.mediaTypeId},
        {"capacity", fields.capacity},
        {"lastLba", identity.lastLba},
        {"writeSpeeds", speeds}}},
      {"status", status}};
  if (identity.type == kDiscDvdPlusRDl) {
    json["disc"]["layer0Sectors"] =
        identity.layer0Sectors ? nlohmann::ordered_json(*identity.layer0Sectors) : nullptr;
    json["disc"]["assumedLayer0Sectors"] = kAssumedLayer0Sectors;
  }
  return json;
}

}  // namespace

int RunIdentifyCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                       std::FILE* err, const DiscWait& wait) {
  COutputFile json;
  std::string error;
  if (!options.jsonFile.empty() && !json.Open(options.jsonFile, &error)) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  // Ctrl-C while waiting for the disc still leaves the diagnostic mode.
  CInterruptWatch interrupt;
  CPreparedDisc disc;
  const int code = disc.Prepare(session, options.drive, err, wait, interrupt, DiscUse::kIdentify);
  if (code != kExitOk) return code;
  const DiscFields& fields = disc.Fields();
  const DriveFacts facts = ReadDriveFacts();
  disc.PrintDrive(out);
  for (const DriveFactLine& line : DriveFactLines(facts))
    std::fprintf(out, "  %-20s%s\n", line.label, TerminalText(line.value).c_str());
  PrintDiscFields(out, fields, true, true);
  const DiscIdentity& identity = disc.Identity();
  // A refusing drive cannot scan whatever disc it holds: never "Ready." there.
  const bool readyButRefused = disc.Refused() && identity.end == IdentifyEnd::kReady;
  const std::string status =
      readyButRefused ? "The drive refuses the diagnostic mode." : fields.status;
  std::fprintf(out, "%-22s%s\n", "Status:", status.c_str());
  if (identity.type == kDiscDvdPlusRDl && identity.end == IdentifyEnd::kReady) {
    std::fprintf(out, "%-22s%s\n",
                 "Layer 1 Starts:", LayerBreakText(identity.layer0Sectors).c_str());
    const std::string warning = LayerBreakWarning(identity.layer0Sectors);
    if (!warning.empty()) std::fprintf(err, "velmo-cli: warning: %s\n", warning.c_str());
  }
  if (json.IsOpen()) {
    const std::string text =
        IdentifyJson(disc, facts, status)
            .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
        "\n";
    if (!json.Commit(text, &error)) {
      std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
      return kExitCannotWrite;
    }
  }
  return fields.runControls && !disc.Refused() ? kExitOk : kExitNoDrive;
}
