// The device set-up both front ends share: the host (this machine's or the
// simulator's), the one device manager, the trace, and the drive list.
// While a session lives, g_pDeviceManager points at its manager.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/command_trace.h"
#include "device/device_manager.h"
#include "session/run_options.h"

class CSimDrive;

// How opening a session went: opened, or the one reason it did not.
enum class SessionOpenOutcome {
  kOpened,
  kUnknownScenario,
  kTraceNotWritable,  // the trace file, an output, cannot be written
  kReplayUnreadable,  // the recording of --simulate=replay:FILE: missing, no regular file
  kReplayRefused,     // ... read, but refused at a line
};

struct SessionOpening {
  SessionOpenOutcome outcome = SessionOpenOutcome::kOpened;
  std::string error;  // why, in the user's terms; empty when opened
  int traceError =
      0;  // kTraceNotWritable: errno (EINTR: a stop ended the wait for a FIFO's reader)
  bool Opened() const { return outcome == SessionOpenOutcome::kOpened; }
};

class CDriveSession {
 public:
  CDriveSession() = default;
  ~CDriveSession();
  CDriveSession(const CDriveSession&) = delete;
  CDriveSession& operator=(const CDriveSession&) = delete;

  // Builds the host, initialises and enumerates; not opened when the
  // options cannot be honoured (unknown scenario, trace file not writable,
  // a recording to replay that cannot be read or is refused).
  // A failed Initialize is not an error here: Initialized() tells.
  SessionOpening Open(const RunOptions& options, MessageHandler messages);

  bool Initialized() const { return m_initialized; }
  // errno of the first trace line that could not be written; 0 when none.
  int TraceWriteError() { return m_trace.WriteError(); }
  CDeviceManager& Manager() { return *m_manager; }
  IDeviceHost& Host() { return *m_host; }
  const std::vector<std::shared_ptr<CSimDrive>>& SimDrives() const { return m_simDrives; }
  // The simulator's tray, for the window's Simulator menu: drive is an index
  // in the drive list, disc one in SimDiscLabels(). Nothing happens on a
  // real session or for an index out of range.
  void EjectSimDisc(size_t drive);
  void InsertSimDisc(size_t drive, size_t disc, std::chrono::milliseconds delay);

 private:
  SessionOpening OpenReplay(const std::string& path, bool recordedLatency);

  std::shared_ptr<IDeviceHost> m_host;
  std::unique_ptr<CDeviceManager> m_manager;
  std::vector<std::shared_ptr<CSimDrive>> m_simDrives;
  CCommandTrace m_trace;
  bool m_initialized = false;
};

// The recording of --simulate=replay:FILE read ahead, so a window refuses a
// broken one before it opens: empty when it reads (or none is named), else
// why, with *unreadable set when it could not be read at all.
std::string CheckReplayRecording(const RunOptions& options, bool* unreadable);

// Advice for a drive the enumeration could not use, in the user's terms.
std::string DescribeSkippedVolume(const SkippedVolume& volume);

// Advice after a failed vendor command, from the transport error and the
// device node (empty when there is nothing more to say than "refused").
std::string DescribeVendorCommandFailure(uint32_t transportError, const std::string& devicePath);
