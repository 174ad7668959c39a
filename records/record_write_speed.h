// A write speed the disc offers, as a record keeps it: its label ("16X"),
// the speed code the drive is sent, and the rate in kB/s. The speed list's
// entry (" 8X => (11080 Kb/Sec)  ") is made from these and read back into
// them, so records that kept the entries still read.
#pragma once

#include <string>

// The highest rate a record holds; a drive's real ones are far below.
inline constexpr int kRecordMaxKBps = 1000000;

struct RecordWriteSpeed {
  std::string label;  // "16X"
  int code = 0;       // the speed code; 0 when the list's table does not know the label
  int kBps = 0;       // 0 when the entry did not say, or said no rate a drive has
  bool operator==(const RecordWriteSpeed&) const = default;
};

// A speed list entry or a bare label ("16X") as a write speed.
RecordWriteSpeed WriteSpeedOfEntry(const std::string& entry);

// The speed list's entry for it, as the window lists it.
std::string WriteSpeedListEntry(const RecordWriteSpeed& speed);

// For people: "16X (22,160 kB/s)"; the label alone without a rate.
std::string WriteSpeedText(const RecordWriteSpeed& speed);
