// Identification of a newly ready disc: its type, manufacturer and media type
// IDs, the write speeds it can be tested at, its end address and blank
// capacity. Runs on the poll worker, writes the disc globals, and returns the
// disc's identity as data; DiscViewOf turns it into what the window shows,
// which the window applies on the UI thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/disc_type.h"
#include "commands/speed_codes.h"

// The main window's disc fields and run controls after an identification.
// A field left empty is not touched.
struct DiscView {
  std::optional<std::string> discType;        // 1006
  std::optional<std::string> manufacturerId;  // 1007
  std::optional<std::string> mediaTypeId;     // 1008
  std::optional<std::string> capacity;        // 1012
  std::optional<std::string> status;          // 1025
  // The write-speed list's new entries; the first is selected.
  std::optional<std::vector<std::string>> speedEntries;
  bool enableSpeedList = false;
  bool resetDiscInfo = false;           // apply ResetDiscInfo instead of the fields above
  std::optional<SpeedCode> speedCode;   // new m_speedCode
  std::optional<int32_t> chartLastLba;  // SetRange(0, 600, 0, lastLba, 0)
  bool enableRunControls = false;       // START on, STOP off, Smart Scan, TE, FE on
  std::string untestable;               // why the disc cannot be tested; empty when it can
};

// The last LBA identification assigns a disc by its layers, whatever the
// disc itself holds: one layer of a dual-layer disc (0x1FD800 sectors) for a
// single-layer disc, a whole dual-layer disc's sector count for a dual-layer
// one. Scan range and chart run to it. A real 4.7 GB disc ends later (the
// simulator's discs end where real ones do).
inline constexpr int32_t kAssumedSingleLayerLastLba = 2086912;  // 0x1FD800
inline constexpr int32_t kAssumedDualLayerLastLba = 4173824;    // 0x3FB000
// Where the sample positions of a dual-layer disc place layer 1, whatever
// the disc says: its first LBA, layer 0's sector count.
inline constexpr int32_t kAssumedLayer0Sectors = 2086912;
// A data zone ending above this LBA is taken for a dual-layer disc.
inline constexpr int32_t kDualLayerThreshold = 3145728;  // 0x300000

struct WriteSpeedEntry {
  uint32_t kBps;
  SpeedCode code;
  const char* format;
};

// The write speeds the list accepts, with their list entry formats.
extern const WriteSpeedEntry kWriteSpeedTable[7];

// Where an identification ended.
enum class IdentifyEnd : uint8_t {
  kReady,          // a testable disc: IDs, known write speeds and end address read
  kNoDisc,         // the drive named no disc type (no disc, or a profile not in the table)
  kNotSupported,   // a disc the test does not take: CD, DVD-ROM, rewritable DVD
  kNoDiscIds,      // the ADIP or pre-recorded structure could not be read
  kNoWriteSpeeds,  // GET PERFORMANCE failed
  kNoKnownSpeed,   // the drive listed no write speed of kWriteSpeedTable
};

// One write speed of the disc, as the drive reported it.
struct DiscSpeed {
  SpeedCode code;
  uint32_t kBps;  // the descriptor's write speed, kB/s
};

// What an identification found. What lies past its end stays empty: no IDs
// before they were read, no speeds before GET PERFORMANCE, lastLba 0 unless
// kReady.
struct DiscIdentity {
  IdentifyEnd end = IdentifyEnd::kNoDisc;
  DiscTypeCode type = kDiscUnknown;
  std::string manufacturerId;  // "n/a" when the structure holds none
  std::string mediaTypeId;
  std::vector<DiscSpeed> speeds;  // the known speeds, in the drive's order; at most 10
  int32_t lastLba = 0;
  // A dual-layer disc's own layer 0 sector count (its physical format
  // information); none for other discs or when the drive did not give it.
  std::optional<int32_t> layer0Sectors;
};

// Why a disc that identification ended at end cannot be tested, as a
// skipped disc's history entry keeps it; empty for kReady.
const char* UntestableDiscCause(IdentifyEnd end);

// Runs the identification against the selected drive (through
// g_pDeviceManager) and leaves its results in the disc globals.
DiscIdentity ReadDiscIdentity();

// The window's fields for an identity. diagMode: the selected drive is in
// diagnostic mode (the run controls go on only then).
DiscView DiscViewOf(const DiscIdentity& identity, bool diagMode);

// ReadDiscIdentity, then DiscViewOf: the window's call.
DiscView IdentifyDisc(bool diagMode);

// Pieces of the identification, apart for tests and for Smart Scan.
const char* DiscTypeText(DiscTypeCode type);  // "DVD+R DL", ..., "Not Support.", "N/A"
bool IsTestableDisc(DiscTypeCode type);
// The ID in reply bytes [searchFirst, searchLast] up to runEnd (inclusive),
// at most maxLength characters; "n/a" when no byte of the search range is a
// letter or digit.
std::string ExtractDiscId(const uint8_t* reply, int searchFirst, int searchLast, int runEnd,
                          int maxLength);
double CapacityMegabytes(int32_t lastLba);  // blank capacity up to lastLba, in MB
std::string CapacityText(int32_t lastLba);  // "%.1f MB"
// A write-speed list entry: " 8X => (11080 Kb/Sec)  "; empty for a code not in the table.
std::string SpeedEntryText(const DiscSpeed& speed);
int32_t LastLbaFromEndLba(int32_t endLba);

struct WriteSpeedList {
  std::vector<std::string> entries;
  std::vector<SpeedCode> codes;   // one per entry, at most 10
  std::vector<DiscSpeed> speeds;  // one per entry
  bool hasLastEndLba = false;
  int32_t lastEndLba = 0;  // end LBA of the reply's last descriptor
};

// Reads a GET PERFORMANCE reply of which bufferLength bytes are data (the
// bytes the drive transferred). The descriptor count comes from the header,
// cut to the 10 asked for and to the whole descriptors among those bytes; a
// length below 4 means no descriptor.
WriteSpeedList ParseWriteSpeeds(const uint8_t* reply, uint32_t bufferLength);

// Layer 0's sector count from a physical format information reply of which
// moved bytes came: its end sector less the data area's start, plus one;
// none for a single-layer disc, a reply cut before the end sector, or an
// end before the start.
std::optional<int32_t> Layer0SectorsOf(const uint8_t* reply, uint32_t moved);

// The last identified DL disc's own layer 0, from the disc globals alone.
std::optional<int32_t> StoredLayer0Sectors();
