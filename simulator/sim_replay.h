// A recorded drive (--simulate=replay:FILE): answers each command from a
// command trace, not from a model. The rules:
//   - a command is answered by the next recorded exchange of the same drive
//     with the same CDB bytes (each CDB keeps its own place in the
//     recording), with its outcome, SCSI status, sense, bytes moved and
//     data; data in beyond what was recorded (a cut or an older trace) is
//     zeros;
//   - TEST UNIT READY and REQUEST SENSE are polls: once their recorded
//     answers are used up, the last one is given again as often as asked;
//   - a drive whose recording answered "gone" stays gone for every command
//     it holds no answer for;
//   - any other command the recording holds no (more) answer for gets
//     CHECK CONDITION, ILLEGAL REQUEST (5/20/00), and the notice is told once
//     per CDB, except for the questions about the drive's own facts, which
//     recordings made before runs asked them lack: those are refused quietly
//     and the facts read unknown;
//   - with recorded latency each answer takes the recorded duration (never
//     longer than the command's time-out), else none.
//
// Threads: Answer may be called from any thread.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/trace_reader.h"

class CReplayRecording {
 public:
  // notice: told "the recording has no answer for CDB [..]"; may be empty.
  CReplayRecording(std::vector<TraceEntry> entries, bool recordedLatency,
                   std::function<void(const std::string&)> notice);
  CReplayRecording(const CReplayRecording&) = delete;
  CReplayRecording& operator=(const CReplayRecording&) = delete;

  // The drives a volume is needed for, in list order: each recorded drive
  // once, after one more for each INQUIRY it failed before its first good
  // one (a volume the recorded run skipped took its place then).
  std::vector<int> VolumeDrives() const;
  bool RecordedOnAspi() const { return m_aspi; }

  void Answer(int drive, ScsiExchange& exchange);

  // The CDBs told to the notice, in order.
  std::vector<std::string> Unanswered() const;

 private:
  struct Queue {
    std::vector<size_t> entries;  // indices into m_entries, file order
    size_t next = 0;
  };
  const TraceEntry* Take(int drive, const std::string& key, uint8_t opcode);

  const std::vector<TraceEntry> m_entries;
  const bool m_recordedLatency;
  const std::function<void(const std::string&)> m_notice;
  bool m_aspi = false;

  mutable std::mutex m_lock;
  std::map<std::pair<int, std::string>, Queue> m_queues;
  std::set<int> m_gone;
  std::set<std::string> m_told;
  std::vector<std::string> m_unanswered;
};
