#include "simulator/sim_disc_catalogue.h"

#include <algorithm>
#include <optional>
#include <string>

#include "device/big_endian.h"
#include "simulator/sim_replies.h"
#include "simulator/tefe_model.h"

namespace {

using namespace std::string_literals;

// Where real discs end (identification assumes other ends: see
// kAssumedSingleLayerLastLba).
constexpr uint32_t kDiscSingleLayerLastLba = 2295103;  // 4.7 GB
constexpr uint32_t kDualLayerLayer0 = 2086912;         // 0x1FD800
constexpr uint32_t kDiscDualLayerLastLba = 4173823;    // 8.5 GB
constexpr uint32_t kCdr80LastLba = 359846;             // 80 minutes

// ADIP of DVD+R / DVD+RW (256 bytes): disc category, layout, data zone,
// manufacturer ID at 19..26, media type ID at 27..29, product revision at 30,
// then the recording parameters the drive's write strategy uses.
struct AdipFields {
  uint8_t category;          // 0xA1 DVD+R, 0x92 DVD+RW, 0xE1 DVD+R DL
  std::string manufacturer;  // 8 bytes as on the disc
  std::string mediaType;     // 3 bytes
  uint8_t revision;
  uint8_t maxVelocity;  // recording velocity code of the top speed
};

// Pre-recorded lead-in information of DVD-R / DVD-RW (five 8-byte fields,
// each led by its field ID): the program reads field 3 as manufacturer and
// field 4 as media type.
struct PrerecordedFields {
  std::string manufacturer;  // 6 bytes of field 3
  std::string mediaType;     // 6 bytes of field 4
};

struct DiscEntry {
  const char* name;
  const char* description;
  uint16_t profile;
  uint8_t layers;
  uint32_t lastLba;
  std::vector<uint32_t> writeKBps;
  std::optional<AdipFields> adip;
  std::optional<PrerecordedFields> prerecorded;
  bool measurable;
  SimMediaQuality quality;
  double scratchRadiusMm = 0.0;
  double scratchWidthMm = 0.0;
  uint32_t layer0Sectors = 0;  // a DL disc's own layer 0; 0: the usual 2086912
};

const SimMediaQuality kGood = SimMediaQuality::kGood;
const SimMediaQuality kMarginal = SimMediaQuality::kMarginal;
const SimMediaQuality kBad = SimMediaQuality::kBad;

const std::vector<DiscEntry>& Specs() {
  // clang-format off: one disc per row group, fields as the struct orders them
  static const std::vector<DiscEntry> specs = {
      {"dvd+r-novadisc",
       "DVD+R 12X, NOVADISC R16, good",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {16620, 11080, 8310, 5540, 3324},
       AdipFields{0xA1, "NOVADISC"s, "R16"s, 0x01, 0x0E},
       std::nullopt,
       true,
       kGood},
      {"dvd+r-orbtek",
       "DVD+R 16X, ORBTEK S16 (ID two bytes in), marginal at the rim",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {22160, 16620, 13850, 11080, 8310, 5540, 3324},
       AdipFields{0xA1, "  ORBTEK"s, "S16"s, 0x02, 0x0E},
       std::nullopt,
       true,
       kMarginal},
      {"dvd+r-kairo",
       "DVD+R 12X, KAIRO R02, bad dye",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {16620, 8310, 5540, 2770},
       AdipFields{0xA1, "KAIRO\0\0\0"s, "R02"s, 0x01, 0x0C},
       std::nullopt,
       true,
       kBad},
      {"dvd+r-scratched",
       "DVD+R 12X, NOVADISC R16, scratched at 45 mm",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {16620, 11080, 8310, 5540, 3324},
       AdipFields{0xA1, "NOVADISC"s, "R16"s, 0x01, 0x0E},
       std::nullopt,
       true,
       kGood,
       45.0,
       1.2},
      {"dvd+r-noname",
       "DVD+R 8X without IDs (blank fields)",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {11080, 8310, 5540, 3324},
       AdipFields{0xA1, "       X"s, "   "s, 0x00, 0x0A},
       std::nullopt,
       true,
       kGood},
      {"dvd+r-odd-speeds",
       "DVD+R with no write speed the program knows",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {19390, 6925, 2770},
       AdipFields{0xA1, "NOVADISC"s, "R05"s, 0x01, 0x0B},
       std::nullopt,
       true,
       kGood},
      {"dvd+r-one-speed",
       "DVD+R 8X, NOVADISC R08, a single write speed",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {11080},
       AdipFields{0xA1, "NOVADISC"s, "R08"s, 0x01, 0x0A},
       std::nullopt,
       true,
       kGood},
      {"dvd+r-dl-strata",
       "DVD+R DL 8X, STRATA D08, good",
       kProfileDvdPlusRDl,
       2,
       kDiscDualLayerLastLba,
       {11080, 8310, 5540, 3324},
       AdipFields{0xE1, "STRATA\0\0"s, "D08"s, 0x01, 0x0A},
       std::nullopt,
       true,
       kGood},
      {"dvd+r-dl-early-break",
       "DVD+R DL 8X, STRATA D08, layer 0 ends 2048 sectors before the usual break",
       kProfileDvdPlusRDl,
       2,
       kDiscDualLayerLastLba,
       {11080, 8310, 5540, 3324},
       AdipFields{0xE1, "STRATA\0\0"s, "D08"s, 0x01, 0x0A},
       std::nullopt,
       true,
       kGood,
       0.0,
       0.0,
       2084864},
      {"dvd+r-dl-orbtek",
       "DVD+R DL 12X, ORBTEK D12, marginal at the rim",
       kProfileDvdPlusRDl,
       2,
       kDiscDualLayerLastLba,
       {16620, 11080, 8310, 5540, 3324},
       AdipFields{0xE1, "\0ORBTEK "s, "D12"s, 0x03, 0x0C},
       std::nullopt,
       true,
       kMarginal},
      // Real, publicly known IDs, so that the media-code names are exercised.
      {"dvd+r-yuden",
       "DVD+R 16X, YUDEN000 T03, good",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {22160, 16620, 11080, 8310, 5540, 3324},
       AdipFields{0xA1, "YUDEN000"s, "T03"s, 0x00, 0x0E},
       std::nullopt,
       true,
       kGood},
      {"dvd+r-dl-mkm",
       "DVD+R DL 8X, MKM 003, good",
       kProfileDvdPlusRDl,
       2,
       kDiscDualLayerLastLba,
       {11080, 8310, 5540, 3324},
       AdipFields{0xE1, "MKM     "s, "003"s, 0x00, 0x0A},
       std::nullopt,
       true,
       kGood},
      {"dvd-r-mcc",
       "DVD-R 16X, MCC 03RG20, good",
       kProfileDvdMinusR,
       1,
       kDiscSingleLayerLastLba,
       {22160, 16620, 11080, 8310, 5540, 3324},
       std::nullopt,
       PrerecordedFields{"MCC 03"s, "RG20\0\0"s},
       true,
       kGood},
      {"dvd-r-magnat",
       "DVD-R 16X, MAGNAT V16A1, good",
       kProfileDvdMinusR,
       1,
       kDiscSingleLayerLastLba,
       {22160, 16620, 11080, 8310, 5540, 3324},
       std::nullopt,
       PrerecordedFields{"MAGNAT"s, "V16A1\0"s},
       true,
       kGood},
      {"dvd-r-helix",
       "DVD-R 8X, HELIX, speeds 2770/5540/11080, one-letter media type",
       kProfileDvdMinusR,
       1,
       kDiscSingleLayerLastLba,
       {2770, 5540, 11080},
       std::nullopt,
       PrerecordedFields{" HELIX"s, "  \0  8"s},
       true,
       kGood},
      {"dvd+rw",
       "DVD+RW 4X (not testable)",
       kProfileDvdPlusRw,
       1,
       kDiscSingleLayerLastLba,
       {5540, 3324},
       AdipFields{0x92, "RICOHJPN"s, "W11"s, 0x01, 0x05},
       std::nullopt,
       true,
       kGood},
      {"dvd-rw",
       "DVD-RW 2X, sequential (not testable)",
       kProfileDvdMinusRwSequential,
       1,
       kDiscSingleLayerLastLba,
       {2770, 1385},
       std::nullopt,
       PrerecordedFields{"TDK502"s, "sakuM3"s},
       true,
       kGood},
      {"dvd-rw-restricted",
       "DVD-RW 2X, restricted overwrite (not testable)",
       kProfileDvdMinusRwRestricted,
       1,
       kDiscSingleLayerLastLba,
       {2770, 1385},
       std::nullopt,
       PrerecordedFields{"MAGNAT"s, "RW02\0\0"s},
       true,
       kGood},
      {"cd-r",
       "CD-R 48X, 80 min (not testable)",
       kProfileCdR,
       1,
       kCdr80LastLba,
       {8467, 7056, 5645, 4234},
       std::nullopt,
       std::nullopt,
       false,
       kGood},
      {"dvd-rom",
       "DVD-ROM, pressed (not testable)",
       kProfileDvdRom,
       1,
       kDiscSingleLayerLastLba,
       {},
       std::nullopt,
       std::nullopt,
       true,
       kGood},
      {"no-profile",
       "a medium the drive cannot classify (no current profile)",
       kProfileNone,
       1,
       0,
       {},
       std::nullopt,
       std::nullopt,
       false,
       kGood},
      // IDs that are terminal controls: a clear-screen sequence, an 8-bit
      // CSI, CR LF and BEL, as a hostile or broken disc could carry them.
      {"dvd+r-hostile-id",
       "DVD+R 12X whose manufacturer and media type IDs hold terminal controls",
       kProfileDvdPlusR,
       1,
       kDiscSingleLayerLastLba,
       {16620, 11080, 8310, 5540, 3324},
       AdipFields{0xA1, "K\x1b[2J\x9b\r\n"s, std::string{'1', '\x07', '6'}, 0x01, 0x0E},
       std::nullopt,
       true,
       kGood},
  };
  // clang-format on
  return specs;
}

uint32_t Layer0Of(const DiscEntry& entry) {
  if (entry.layers < 2) return entry.lastLba + 1;
  return entry.layer0Sectors != 0 ? entry.layer0Sectors : kDualLayerLayer0;
}

std::vector<uint8_t> AdipBytes(const AdipFields& entry, const DiscEntry& disc) {
  std::vector<uint8_t> adip(256, 0);
  adip[0] = entry.category;
  adip[1] = 0x0F;                           // 120 mm, no maximum read rate given
  adip[2] = disc.layers > 1 ? 0x32 : 0x02;  // layers, opposite track path, recordable
  const uint32_t endPsn =
      disc.layers > 1 ? kSimLayer1PsnOffset + disc.lastLba : kSimLayer0PsnStart + disc.lastLba;
  PutBe32(adip.data() + 4, kSimLayer0PsnStart);
  PutBe32(adip.data() + 8, endPsn);
  if (disc.layers > 1) PutBe32(adip.data() + 12, kSimLayer0PsnStart + Layer0Of(disc) - 1);
  std::copy(entry.manufacturer.begin(), entry.manufacturer.end(), adip.begin() + 19);
  std::copy(entry.mediaType.begin(), entry.mediaType.end(), adip.begin() + 27);
  adip[30] = entry.revision;
  adip[31] = 0x38;  // bytes in use
  adip[32] = 0x0E;  // reference recording velocity (3.49 m/s)
  adip[33] = entry.maxVelocity;
  // Write strategy: wavelength, powers, pulse widths; the values of a
  // typical dye, the same on every disc of a maker.
  const uint8_t strategy[] = {0x52, 0x14, 0x3C, 0x46, 0x0A, 0x8C, 0x0F, 0x12,
                              0x1E, 0x28, 0x0C, 0x10, 0x14, 0x0A, 0x08, 0x06};
  std::copy(std::begin(strategy), std::end(strategy), adip.begin() + 34);
  return adip;
}

std::vector<uint8_t> PrerecordedBytes(const PrerecordedFields& entry, const DiscEntry& disc) {
  std::vector<uint8_t> info(40, 0);
  for (uint8_t field = 0; field < 5; ++field) info[field * 8] = field + 1;
  // Field 1: application code, disc physical code, last recordable PSN.
  info[1] = 0x00;
  info[2] = 0xC0;
  PutBe24(info.data() + 3, kSimLayer0PsnStart + disc.lastLba);
  info[6] = 0x30;  // part version
  // Field 2: OPC suggestion, wavelength, write strategy.
  info[9] = 0x0F;
  info[10] = 0x41;
  info[11] = 0x22;
  info[12] = 0x5A;
  std::copy(entry.manufacturer.begin(), entry.manufacturer.end(), info.begin() + 17);
  std::copy(entry.mediaType.begin(), entry.mediaType.end(), info.begin() + 25);
  return info;
}

SimDisc Build(const DiscEntry& entry) {
  SimDisc disc;
  disc.name = entry.name;
  disc.description = entry.description;
  disc.profile = entry.profile;
  disc.layers = entry.layers;
  disc.lastLba = entry.lastLba;
  disc.layer0Sectors = Layer0Of(entry);
  for (uint32_t kbps : entry.writeKBps) disc.writeSpeeds.push_back({kbps, 0});
  if (entry.adip) disc.adip = AdipBytes(*entry.adip, entry);
  if (entry.prerecorded) disc.prerecorded = PrerecordedBytes(*entry.prerecorded, entry);
  disc.measurable = entry.measurable;
  disc.quality = entry.quality;
  disc.scratchRadiusMm = entry.scratchRadiusMm;
  disc.scratchWidthMm = entry.scratchWidthMm;
  return disc;
}

}  // namespace

const std::vector<SimDisc>& SimDiscCatalogue() {
  static const std::vector<SimDisc> discs = [] {
    std::vector<SimDisc> built;
    for (const DiscEntry& entry : Specs()) built.push_back(Build(entry));
    return built;
  }();
  return discs;
}

const SimDisc* FindSimDisc(std::string_view name) {
  const auto& discs = SimDiscCatalogue();
  const auto it =
      std::find_if(discs.begin(), discs.end(), [&](const SimDisc& d) { return d.name == name; });
  return it == discs.end() ? nullptr : &*it;
}
