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

#include "device/sense.h"

struct TraceRecord {
  std::chrono::system_clock::time_point when;
  int drive = -1;  // row index, -1 when none was selected
  std::string transport;  // "spti" or "aspi"
  const uint8_t* cdb = nullptr;
  uint8_t cdbLength = 0;
  uint8_t direction = 0;
  uint32_t length = 0;
  uint32_t transferred = 0;  // as far as the transport reports it
  uint8_t status = 0;  // ExecuteCommand's result: 0, 1 or 255
  uint8_t scsiStatus = 0;
  SenseInfo sense;
  uint32_t hostError = 0;  // error of a failed pass-through call, ASPI status otherwise
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
