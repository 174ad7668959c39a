// The command trace (--trace=FILE): one line for every command the device
// manager sends, so a user with a real drive can show what the drive answered.
// Each line is flushed as it is written; a crash keeps what came before.
//
// Threads: Record may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "device/scsi_exchange.h"

// One line of the trace: an exchange as it was sent, and where and when.
struct TraceRecord {
  std::chrono::system_clock::time_point when;
  int drive = -1;                          // row index, -1 when none was selected
  const char* transport = "";              // "spti" or "aspi"
  const ScsiExchange* exchange = nullptr;  // never null when recorded
  std::chrono::microseconds duration{0};
};

class CCommandTrace {
 public:
  CCommandTrace() = default;
  ~CCommandTrace();
  CCommandTrace(const CCommandTrace&) = delete;
  CCommandTrace& operator=(const CCommandTrace&) = delete;

  // Creates or empties the file; false when it cannot be opened.
  bool Open(const std::string& path);
  // Takes an open descriptor (whoever opened it chose how); false when it
  // cannot be used.
  bool Attach(int fd);
  void Record(const TraceRecord& record);

  // The line Record writes, without its line end.
  static std::string FormatLine(const TraceRecord& record);

  // The errno of the first line that could not be written; 0 while all were.
  // After a failure nothing more is written.
  int WriteError();

 private:
  std::mutex m_lock;
  std::FILE* m_file = nullptr;
  int m_writeError = 0;
};
