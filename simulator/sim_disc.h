// A disc the simulated drive can hold: what the drive reads off it (profile,
// ADIP or pre-recorded lead-in bytes, write-speed table, capacity) and how
// well it tracks and focuses (the TE/FE model's quality class). Plain data;
// the catalogue (sim_disc_catalogue.h) holds the named ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How the disc behaves under the TE/FE measurement (tefe_model.h).
enum class SimMediaQuality : uint8_t {
  kGood,      // within the limits at every speed and radius
  kMarginal,  // over the limits only at 12X and 16X near the rim
  kBad,       // over the limits over most of the disc at every speed
};

// One write-speed descriptor as GET PERFORMANCE type 0x03 reports it.
struct SimWriteSpeed {
  uint32_t writeKBps = 0;
  uint32_t readKBps = 0;  // 0: the drive fills in its own read speed
};

struct SimDisc {
  std::string name;         // catalogue key, e.g. "dvd+r-novadisc"
  std::string description;  // one line for menus and listings
  uint16_t profile = 0;     // MMC current profile; 0: none

  // Geometry. Single layer: LBA 0 is PSN 0x30000. Dual layer (opposite
  // track path): layer 0 holds layer0Sectors sectors from PSN 0x30000,
  // layer 1 the rest from PSN 0xBD5000 + layer0Sectors, rim to centre.
  uint8_t layers = 1;
  uint32_t layer0Sectors = 0;  // single layer: the whole disc
  uint32_t lastLba = 0;        // last addressable LBA, the descriptors' end LBA

  // In the order the drive reports them.
  std::vector<SimWriteSpeed> writeSpeeds;

  // READ DVD STRUCTURE payloads (after the 4-byte header); empty when the
  // medium has no such structure. ADIP: 256 bytes. Pre-recorded: 40 bytes.
  std::vector<uint8_t> adip;
  std::vector<uint8_t> prerecorded;

  // False for media the drive cannot measure (CD, unknown): every sample
  // then answers with a non-zero status byte.
  bool measurable = true;
  SimMediaQuality quality = SimMediaQuality::kGood;

  // A scratch: a band of radius where the servo loses the track and the
  // readings leave the range the drive can report. Width 0: no scratch.
  double scratchRadiusMm = 0.0;
  double scratchWidthMm = 0.0;
};
