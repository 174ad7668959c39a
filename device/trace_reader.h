// Reads a command trace back (the lines CCommandTrace writes) for replay.
// A line is taken whole or the trace is refused with its line number: a
// recording that says something other than what was recorded must not
// quietly answer a program. The one exception is a last line without its
// line end (the recording was cut while a line was written): the lines
// before it are kept and the cut is told. Binary data (a NUL byte) and a
// line over 256 KiB, the last one too, are refused as soon as they are met;
// a file is read a piece at a time, never held whole.
//
// Lines of older traces (no outcome, no data) are read too: their outcome
// follows from status, SCSI status and error, and data in is answered with
// zeros.
//
// Threads: plain functions over values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/scsi_exchange.h"

// Limits a hostile file meets before it costs much.
inline constexpr uint32_t kTraceMaxTransfer = 16u * 1024 * 1024;  // len and moved
inline constexpr size_t kTraceMaxLineBytes = 256 * 1024;
inline constexpr uint64_t kTraceMaxFileBytes = 1024ull * 1024 * 1024;

struct TraceEntry {
  uint8_t drive = 0;
  bool aspi = false;
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 0;
  uint8_t direction = kDirectionNone;
  uint32_t length = 0;
  uint32_t moved = 0;
  uint8_t scsiStatus = 0;
  SenseInfo sense;
  uint32_t error = 0;
  int64_t durationUs = 0;
  ExchangeOutcome outcome = ExchangeOutcome::kDone;
  std::vector<uint8_t> data;  // as recorded; fewer than moved when cut
};

struct TraceReading {
  std::vector<TraceEntry> entries;  // in file order
  bool ok = false;
  size_t badLine = 0;       // 1-based line refused, when !ok
  std::string why;          // what is wrong with it
  bool unreadable = false;  // missing, no regular file or unreadable (not refused for its content)
  size_t cutLine = 0;       // a last line without line end that was left out; 0 when none
};

// One line without its line end; false with *why when it is not a trace line.
bool ParseTraceLine(std::string_view line, TraceEntry* entry, std::string* why);

// A whole trace's text.
TraceReading ReadTrace(std::string_view text);

// A trace file; a file that cannot be read or is too large is refused with
// badLine 0.
TraceReading ReadTraceFile(const std::string& path);
