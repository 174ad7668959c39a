#include "records/media_codes.h"

#include <iterator>

namespace {

// Sources: manufacturer IDs are written into the disc's pre-groove by its
// maker and shown by every drive's media-information command; the pairs
// below are the ones documented in the public references named per entry.
//   [MID]  en.wikipedia.org/wiki/Media_Identification_Code (what the ID is,
//          example IDs of DVD-R/-RW and DVD+R)
//   [JPN]  dvd-r.jpn.org/help/qcheck4.htm (MCC 02RG20 = Mitsubishi Chemical
//          media, and the maker column of its MID listings)
//   [ECMA] ECMA-349 / ECMA-337 (DVD+R / DVD+RW): the ADIP manufacturer ID
//          is 8 bytes, the media type ID 3 bytes
//   [PKG]  the maker's own retail packaging and data sheets, which print
//          the MID with the product
constexpr MediaCode kCodes[] = {
    // DVD+R / DVD+RW / DVD+R DL (ADIP, 8-character IDs)
    {"YUDEN000", "Taiyo Yuden Co., Ltd.", "[MID] [PKG] DVD+R YUDEN000 T02/T03"},
    {"RICOHJPN", "Ricoh Company, Ltd.", "[MID] [PKG] DVD+R/+RW RICOHJPN R0x/W11"},
    {"MKM", "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)", "[JPN] [PKG] DVD+R DL MKM 003"},
    {"MCC", "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)",
     "[JPN] [PKG] DVD+R MCC 004, DVD-R MCC 03RG20"},
    {"CMC MAG", "CMC Magnetics Corporation", "[MID] DVD+R CMC MAG M01, DVD-R CMC MAG. AE1"},
    {"PHILIPS", "Philips", "[MID] DVD+R PHILIPS 041"},
    {"SONY", "Sony Corporation", "[MID] DVD+R SONY D21, DVD-R SONY16D1"},
    {"RITEK", "Ritek Corporation", "[MID] DVD+R RITEK R04, DVD-R RITEKG05"},
    {"PRODISC", "Prodisc Technology Inc.", "[MID] DVD+R PRODISC R03"},
    {"Prodisc", "Prodisc Technology Inc.", "[MID] DVD-R ProdiscF01"},
    {"OPTODISC", "Optodisc Technology Corporation", "[MID] DVD+R OPTODISC OR8"},
    {"MAXELL", "Hitachi Maxell, Ltd.", "[MID] [PKG] DVD+R MAXELL 002"},
    {"MXL", "Hitachi Maxell, Ltd.", "[MID] [PKG] DVD-R MXL RG04"},
    {"DAXON", "Daxon Technology Inc.", "[MID] DVD+R DAXON AZ3"},
    {"INFODISC", "Infodisc Technology Co., Ltd.", "[MID] DVD+R INFODISC R30"},
    {"MBIPG101", "Moser Baer India Ltd.", "[MID] DVD+R MBIPG101 R05"},
    // DVD-R / DVD-RW (pre-recorded, 6-character IDs)
    {"TYG", "Taiyo Yuden Co., Ltd.", "[MID] [PKG] DVD-R TYG02/TYG03"},
    {"TDK", "TDK Corporation", "[MID] DVD-RW TDK502sakuM3"},
    {"FUJIFILM", "Fujifilm Corporation", "[MID] DVD-R FUJIFILM03"},
    {"MBI", "Moser Baer India Ltd.", "[MID] DVD-R MBI 01RG40"},
};

std::string_view TrimmedId(std::string_view id) {
  const auto blank = [](char c) { return c == ' ' || c == '\0' || c == '\t'; };
  while (!id.empty() && blank(id.front())) id.remove_prefix(1);
  while (!id.empty() && blank(id.back())) id.remove_suffix(1);
  return id;
}

}  // namespace

std::optional<std::string> ManufacturerName(std::string_view manufacturerId) {
  const std::string_view id = TrimmedId(manufacturerId);
  if (id.empty() || id == "N/A") return std::nullopt;
  const MediaCode* best = nullptr;
  size_t bestLength = 0;
  for (const MediaCode& code : kCodes) {
    const std::string_view prefix = code.prefix;
    if (prefix.size() > bestLength && id.substr(0, prefix.size()) == prefix) {
      best = &code;
      bestLength = prefix.size();
    }
  }
  if (best == nullptr) return std::nullopt;
  return std::string(best->company);
}

std::string ManufacturerNameOrUnknown(std::string_view manufacturerId) {
  return ManufacturerName(manufacturerId).value_or("unknown");
}

const MediaCode* MediaCodes(size_t* count) {
  *count = std::size(kCodes);
  return kCodes;
}
