// The command trace (--trace=FILE): one line for every command the device
// manager sends, so a user with a real drive can show what the drive answered.
// Each line is flushed as it is written; a crash keeps what came before.
// After the fields older traces had, a line carries the exchange's outcome
// and the data moved (data in: the bytes that came, data out: the bytes
// sent), so a recording can be replayed (--simulate=replay:FILE). A transfer
// longer than kTraceDataCap keeps its first kTraceDataCap bytes and ends its
// data with " ...".
//
// Threads: Record may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "device/scsi_exchange.h"

inline constexpr uint32_t kTraceDataCap = 64 * 1024;

// The outcome as a trace line names it: done, check, timeout, gone, transport.
const char* TraceOutcomeName(ExchangeOutcome outcome);

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
