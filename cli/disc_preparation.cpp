#include "cli/disc_preparation.h"

#include <thread>

#include "cli/cli_options.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "commands/drive_facts.h"
#include "records/media_codes.h"
#include "records/run_identity.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/terminal_text.h"

void DiscFields::Apply(const DiscView& view) {
  if (view.resetDiscInfo) {
    *this = DiscFields{};
    return;
  }
  if (view.discType) discType = *view.discType;
  if (view.manufacturerId) manufacturerId = *view.manufacturerId;
  if (view.mediaTypeId) mediaTypeId = *view.mediaTypeId;
  if (view.capacity) capacity = *view.capacity;
  if (view.speedEntries) speedEntries = *view.speedEntries;
  if (view.status) status = *view.status;
  runControls = view.enableRunControls;
}

void PrintDiscFields(std::FILE* out, const DiscFields& fields, bool withSpeedList,
                     bool withManufacturer) {
  // The IDs are the disc's own bytes.
  std::fprintf(out, "%-22s%s\n", "Disc Type:", TerminalText(fields.discType).c_str());
  std::fprintf(out, "%-22s%s\n", "Manufacture ID:", TerminalText(fields.manufacturerId).c_str());
  if (withManufacturer) {
    std::fprintf(out, "%-22s%s\n", "Manufacturer:",
                 TerminalText(ManufacturerNameOrUnknown(fields.manufacturerId)).c_str());
  }
  std::fprintf(out, "%-22s%s\n", "Media Type ID:", TerminalText(fields.mediaTypeId).c_str());
  std::fprintf(out, "%-22s%s\n", "Blank Disc Capacity:", TerminalText(fields.capacity).c_str());
  if (!withSpeedList) return;
  std::fprintf(out, "Disc Speed:\n");
  for (const std::string& entry : fields.speedEntries)
    std::fprintf(out, "  %s\n", TerminalText(entry).c_str());
}

bool DriveLayerReady(CDriveSession& session, std::FILE* err) {
  if (!session.Initialized()) {
    std::fprintf(err, "velmo-cli: the drive layer could not be initialised\n");
    return false;
  }
  for (const SkippedVolume& skipped : session.Manager().GetSkippedVolumes()) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(DescribeSkippedVolume(skipped)).c_str());
  }
  return true;
}

RunStart CPreparedDisc::RunStartOf(CDriveSession& session, int driveIndex,
                                   const char* program) const {
  RunStart start;
  start.program = program;
  start.drive = RecordDriveOf(session.Manager(), static_cast<uint8_t>(driveIndex));
  start.drive.facts = m_driveFacts;
  start.discType = g_discType.load();
  int32_t lastLba = 0;
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    lastLba = g_lastLba;
  }
  start.disc = RecordDiscOf(m_fields.discType, m_fields.manufacturerId, m_fields.mediaTypeId,
                            m_fields.capacity, lastLba, m_fields.speedEntries);
  start.disc.layer0Sectors = m_identity.layer0Sectors;
  return start;
}

CPreparedDisc::~CPreparedDisc() { LeaveDiagnosticMode(); }

void CPreparedDisc::LeaveDiagnosticMode() {
  if (m_diagnosticMode) SetDiagnosticMode(kDiagnosticLeave);
  m_diagnosticMode = false;
}

bool SelectDriveOrSay(CDeviceManager& manager, int driveIndex, std::FILE* err) {
  if (manager.SelectDrive(static_cast<uint8_t>(driveIndex))) return true;
  std::fprintf(err, "velmo-cli: there is no drive %d ('velmo-cli drives' lists them)\n",
               driveIndex);
  return false;
}

void CPreparedDisc::PrintDrive(std::FILE* out) const {
  std::fprintf(out, "%-22s%s (%s)\n", "Drive:", TerminalText(m_driveName).c_str(),
               TerminalText(m_drivePath).c_str());
}

int CPreparedDisc::Prepare(CDriveSession& session, int driveIndex, std::FILE* err,
                           const DiscWait& wait, const CInterruptWatch& interrupt, DiscUse use) {
  DiscWait stoppable = wait;
  stoppable.stopped = [&interrupt] { return interrupt.Interrupted(); };
  int code = TakeDrive(session, driveIndex, err);
  // Once a run, before the diagnostic mode: what is not answered stays
  // unknown and the run goes on.
  if (code == kExitOk && use == DiscUse::kRun) m_driveFacts = ReadDriveFacts();
  if (code == kExitOk) code = EnterDiagnosticMode(err, use);
  if (code == kExitOk) code = WaitForDisc(err, stoppable);
  if (code == kExitOk && use == DiscUse::kRun) code = RequireTestable(err);
  if (code == kExitInterrupted && interrupt.Interrupted()) return interrupt.ExitCode();
  return code;
}

int CPreparedDisc::TakeDrive(CDriveSession& session, int driveIndex, std::FILE* err) {
  if (!DriveLayerReady(session, err)) return kExitNoDrive;
  CDeviceManager& manager = session.Manager();
  if (manager.GetDriveCount() == 0) {
    std::fprintf(err, "velmo-cli: No Device found!\n");
    return kExitNoDrive;
  }
  if (!SelectDriveOrSay(manager, driveIndex, err)) return kExitNoDrive;
  char name[100] = {};
  manager.GetDriveName(name);
  m_driveName = name;
  m_drivePath = manager.GetDrivePath(static_cast<uint8_t>(driveIndex));
  // Two processes' commands interleaved on one drive would confuse both.
  if (CRunLock::Refuses(m_driveLock.Take(DriveLockPath(m_drivePath)))) {
    std::fprintf(err, "velmo-cli: %s\n", TerminalText(m_driveLock.Refusal(m_drivePath)).c_str());
    return kExitBusy;
  }
  return kExitOk;
}

int CPreparedDisc::EnterDiagnosticMode(std::FILE* err, DiscUse use) {
  // Start values, as the window's construction sets them: nothing of an
  // earlier identification in this process may show through.
  ResetDiscGlobals();
  ScsiExchange enter;
  m_diagnosticMode = SetDiagnosticMode(kDiagnosticEnter, &enter);
  if (m_diagnosticMode) return kExitOk;
  const std::string why = DescribeVendorCommandFailure(enter.hostError, m_drivePath);
  std::fprintf(err, "velmo-cli: %s (%s) %s\n", TerminalText(m_driveName).c_str(),
               TerminalText(m_drivePath).c_str(),
               why.empty() ? "is not a supported drive: it refuses the diagnostic mode"
                           : ("cannot be used: " + TerminalText(why)).c_str());
  // Only a drive's own refusal is worth a look at its disc; a transport
  // failure would fail the same way again.
  if (use != DiscUse::kIdentify || !why.empty()) return kExitNoDrive;
  m_refused = true;
  return kExitOk;
}

int CPreparedDisc::WaitForDisc(std::FILE* err, const DiscWait& wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait.limit;
  ScsiExchange unitReady;
  while (DriveNotReady(&unitReady)) {
    if (wait.stopped && wait.stopped()) {
      std::fprintf(err, "velmo-cli: User abort!\n");
      return kExitInterrupted;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      const std::string why = DescribeVendorCommandFailure(unitReady.hostError, m_drivePath);
      if (!why.empty()) {
        std::fprintf(err, "velmo-cli: %s (%s): %s\n", TerminalText(m_driveName).c_str(),
                     TerminalText(m_drivePath).c_str(), TerminalText(why).c_str());
      } else {
        std::fprintf(err,
                     "velmo-cli: no disc in the drive (waited %lld s); insert a blank DVD-R, "
                     "DVD+R or DVD+R DL\n",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::seconds>(wait.limit).count()));
      }
      return kExitNoDrive;
    }
    std::this_thread::sleep_for(wait.period);
  }
  m_identity = ReadDiscIdentity();
  m_fields.Apply(DiscViewOf(m_identity, m_diagnosticMode));
  if (wait.identified) wait.identified(m_fields, m_identity);
  return kExitOk;
}

int CPreparedDisc::RequireTestable(std::FILE* err) const {
  if (m_fields.runControls) return kExitOk;
  if (m_identity.end == IdentifyEnd::kNoWriteSpeeds) {
    // The window falls back to its empty state: its fields say nothing.
    std::fprintf(err, "velmo-cli: the drive did not report the disc's write speeds\n");
  } else {
    std::fprintf(err,
                 "velmo-cli: %s (Disc Type: %s) Only blank DVD-R, DVD+R and DVD+R DL with a "
                 "known write speed can be tested\n",
                 m_fields.status.c_str(), TerminalText(m_fields.discType).c_str());
  }
  return kExitNoDrive;
}
