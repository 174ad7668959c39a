// The trace reader and the replay over whatever a user's file holds: a
// trace it accepts holds only lines it can write again field for field, no
// NUL byte and no line past the cap, and
// replaying every recorded CDB never writes past the buffer it was given.
#include <algorithm>
#include <string_view>
#include <vector>

#include "device/command_trace.h"
#include "device/trace_reader.h"
#include "fuzz/fuzz_input.h"
#include "simulator/sim_replay.h"

namespace {

void RoundTrip(const TraceEntry& entry) {
  const uint32_t expected = entry.direction == kDirectionIn    ? entry.moved
                            : entry.direction == kDirectionOut ? entry.length
                                                               : 0;
  if (entry.data.size() != expected) return;  // cut, or a line of an older trace
  std::vector<uint8_t> buffer(entry.length);
  std::copy(entry.data.begin(), entry.data.end(), buffer.begin());
  ScsiExchange x;
  x.SetCdb(entry.cdb.data(), entry.cdbLength);
  x.direction = entry.direction;
  x.data = buffer.empty() ? nullptr : buffer.data();
  x.dataLength = entry.length;
  x.outcome = entry.outcome;
  x.scsiStatus = entry.scsiStatus;
  x.sense = entry.sense;
  x.transferred = entry.moved;
  x.hostError = entry.error;
  TraceRecord record;
  record.drive = entry.drive;
  record.transport = entry.aspi ? "aspi" : "spti";
  record.exchange = &x;
  record.duration = std::chrono::microseconds(entry.durationUs);
  TraceEntry again;
  std::string why;
  FUZZ_CHECK(ParseTraceLine(CCommandTrace::FormatLine(record), &again, &why));
  FUZZ_CHECK(again.drive == entry.drive && again.aspi == entry.aspi);
  FUZZ_CHECK(again.cdbLength == entry.cdbLength && again.cdb == entry.cdb);
  FUZZ_CHECK(again.direction == entry.direction && again.length == entry.length);
  FUZZ_CHECK(again.moved == entry.moved && again.scsiStatus == entry.scsiStatus);
  FUZZ_CHECK(again.outcome == entry.outcome && again.data == entry.data);
  FUZZ_CHECK(again.durationUs == entry.durationUs && again.error == entry.error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TraceReading reading =
      ReadTrace(std::string_view(reinterpret_cast<const char*>(data), size));
  FUZZ_CHECK(reading.ok == (reading.badLine == 0));
  FUZZ_CHECK(reading.ok || reading.entries.empty());
  // Binary data is never a trace, and no line, the last one included, is
  // taken past the cap.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (reading.ok) {
    FUZZ_CHECK(text.find('\0') == std::string_view::npos);
    const size_t lastEnd = text.rfind('\n');
    const size_t last = lastEnd == std::string_view::npos ? size : size - lastEnd - 1;
    FUZZ_CHECK(last <= kTraceMaxLineBytes + 1);
  }
  for (const TraceEntry& entry : reading.entries) {
    FUZZ_CHECK(entry.cdbLength >= 1 && entry.cdbLength <= 16);
    FUZZ_CHECK(entry.length <= kTraceMaxTransfer && entry.moved <= kTraceMaxTransfer);
    FUZZ_CHECK(entry.data.size() <= kTraceDataCap);
    RoundTrip(entry);
  }
  // Every recorded command asked once more than recorded: answers stay
  // within the buffer, and what has no answer is refused.
  CReplayRecording replay(reading.entries, false, nullptr);
  for (size_t pass = 0; pass < 2; ++pass) {
    for (const TraceEntry& entry : reading.entries) {
      const uint32_t length = std::min<uint32_t>(entry.length, 4096);
      std::vector<uint8_t> buffer(length + 16, 0x5A);
      ScsiExchange x;
      x.SetCdb(entry.cdb.data(), entry.cdbLength);
      x.direction = kDirectionIn;
      x.data = buffer.data();
      x.dataLength = length;
      replay.Answer(entry.drive, x);
      FUZZ_CHECK(x.transferred <= length);
      for (size_t i = length; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == 0x5A);
    }
  }
  return 0;
}
