// What identify, scan and smart do before their own work, as the window does
// at start-up and in its media poll: select the drive, put it in diagnostic
// mode, wait until a disc is ready and identify it. The diagnostic mode is
// left again when the object goes, on every path.
//
// Threads: one command's thread; nothing else may use the drive meanwhile.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "console/disc_identification.h"
#include "records/run_record.h"
#include "session/run_lock.h"

class CDeviceManager;
class CDriveSession;
class CInterruptWatch;

struct DiscFields;

// The drive layer is up: false (said on err) when it is not; the drives
// that exist but could not be opened are named on err either way.
bool DriveLayerReady(CDriveSession& session, std::FILE* err);

// Selects drive driveIndex; false (said on err, with where the drives are
// listed) when there is none of that index.
bool SelectDriveOrSay(CDeviceManager& manager, int driveIndex, std::FILE* err);

// How the disc wait polls: the window's 600 ms tick, and how long a user is
// given to close the tray.
struct DiscWait {
  std::chrono::milliseconds period{600};
  std::chrono::milliseconds limit{15000};
  std::function<bool()> stopped;  // asked between polls: true gives up (Ctrl-C)
  // After the identification: the window's fields and what they came from.
  std::function<void(const DiscFields&, const DiscIdentity&)> identified;
};

// The window's disc fields after an identification, starting from what
// ResetDiscInfo leaves in them.
struct DiscFields {
  std::string discType = "N/A";
  std::string manufacturerId = "N/A";
  std::string mediaTypeId = "N/A";
  std::string capacity = "N/A";
  std::vector<std::string> speedEntries{"N/A"};
  std::string status = "Please insert blank disc...";
  bool runControls = false;  // START and Smart Scan enabled: the disc can be tested

  void Apply(const DiscView& view);
};

// The window's labels and texts, one field a line; the speed list entries
// verbatim, blanks included. withManufacturer: the maker's name from the
// media-code table (or "unknown") after the manufacturer ID.
void PrintDiscFields(std::FILE* out, const DiscFields& fields, bool withSpeedList,
                     bool withManufacturer = false);

// What the disc is prepared for: a run needs a testable disc; identify
// still asks a drive that refuses the diagnostic mode what disc it holds
// (and shows that before giving up), with the refusal written to err and
// Refused() telling it.
enum class DiscUse { kRun, kIdentify };

class CPreparedDisc {
 public:
  CPreparedDisc() = default;
  ~CPreparedDisc();  // leaves the diagnostic mode if still in it
  CPreparedDisc(const CPreparedDisc&) = delete;
  CPreparedDisc& operator=(const CPreparedDisc&) = delete;

  // The run is over: the drive leaves the diagnostic mode now, before the
  // outputs are written (a FIFO nobody reads must not keep it there).
  void LeaveDiagnosticMode();

  // kExitOk once a disc has been identified (for kRun: one that can be
  // scanned); otherwise the exit code, with the reason written to err
  // (kExitBusy when another Velmo process holds the drive, 128+N when
  // interrupt's signal ended the wait for the disc).
  int Prepare(CDriveSession& session, int driveIndex, std::FILE* err, const DiscWait& wait,
              const CInterruptWatch& interrupt, DiscUse use);

  // The "Drive:" line every command that prepared a disc starts with.
  void PrintDrive(std::FILE* out) const;

  const DiscFields& Fields() const { return m_fields; }
  // What the identification found, and where it ended.
  const DiscIdentity& Identity() const { return m_identity; }
  bool Refused() const { return m_refused; }
  const std::string& DriveName() const { return m_driveName; }
  const std::string& DrivePath() const { return m_drivePath; }
  // What a run on this disc starts from: the drive's identity and the disc
  // as identified, for program; its start time is the caller's to set.
  RunStart RunStartOf(CDriveSession& session, int driveIndex, const char* program) const;

 private:
  int TakeDrive(CDriveSession& session, int driveIndex, std::FILE* err);
  int EnterDiagnosticMode(std::FILE* err, DiscUse use);
  int WaitForDisc(std::FILE* err, const DiscWait& wait);
  int RequireTestable(std::FILE* err) const;

  CRunLock m_driveLock;  // released after the diagnostic mode is left
  bool m_diagnosticMode = false;
  bool m_refused = false;
  DiscIdentity m_identity;
  DiscFields m_fields;
  std::optional<DriveFacts> m_driveFacts;  // read once for a run, kept in its record
  std::string m_driveName;
  std::string m_drivePath;
};
