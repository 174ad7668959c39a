#include "commands/drive_facts.h"

#include <algorithm>

#include "commands/drive_commands.h"
#include "device/big_endian.h"
#include "device/mmc_vocabulary.h"

namespace {

constexpr uint32_t kFactsInquiryLength = 96;
constexpr uint32_t kSerialPageLength = 252;
constexpr uint32_t kCapabilitiesLength = 256;
constexpr uint32_t kProfileListLength = 512;
constexpr uint8_t kSerialPage = 0x80;

// Printable ASCII of bytes [first, last), blanks and NULs trimmed at both
// ends; empty when a byte within is not printable.
std::string PrintableField(const uint8_t* reply, uint32_t first, uint32_t last) {
  std::string text;
  for (uint32_t i = first; i < last; ++i) {
    const uint8_t c = reply[i];
    if (c == 0) break;
    if (c < 0x20 || c > 0x7E) return {};
    text.push_back(static_cast<char>(c));
  }
  const size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// A reply cut short: fewer bytes than it says it holds, and fewer than asked.
bool CutShort(uint32_t moved, uint32_t holds, uint32_t asked) {
  return moved < std::min(holds, asked);
}

}  // namespace

InquiryFacts InquiryFactsOf(const uint8_t* reply, uint32_t moved) {
  InquiryFacts facts;
  if (moved >= 36) {
    std::string revision = PrintableField(reply, 32, 36);
    if (!revision.empty()) facts.revision = std::move(revision);
  }
  if (moved > 36) {
    // Drives that keep a date there write it as text: digits with
    // separators. Anything else there is not taken for one.
    std::string date = PrintableField(reply, 36, std::min<uint32_t>(moved, 56));
    const auto digits =
        std::count_if(date.begin(), date.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits >= 4) facts.firmwareDate = std::move(date);
  }
  return facts;
}

std::optional<std::string> SerialOf(const uint8_t* reply, uint32_t moved, uint32_t asked) {
  if (moved < 4 || reply[1] != kSerialPage) return std::nullopt;
  const uint32_t holds = 4 + GetBe16(reply + 2);
  if (CutShort(moved, holds, asked)) return std::nullopt;
  std::string serial = PrintableField(reply, 4, std::min(holds, moved));
  if (serial.empty()) return std::nullopt;
  return serial;
}

CapabilityFacts CapabilityFactsOf(const uint8_t* reply, uint32_t moved, uint32_t asked) {
  CapabilityFacts facts;
  if (moved < 8) return facts;
  const uint32_t holds = 2 + GetBe16(reply);
  if (CutShort(moved, holds, asked)) return facts;
  const uint32_t page = 8 + GetBe16(reply + 6);  // after any block descriptors
  if (moved < page + 2 || (reply[page] & 0x3F) != kModePageCapabilities) return facts;
  const uint32_t end = std::min(moved, page + 2 + reply[page + 1]);
  if (end > page + 6) facts.loader = static_cast<uint8_t>(reply[page + 6] >> 5);
  if (end > page + 13) {
    const uint16_t buffer = GetBe16(reply + page + 12);
    if (buffer != 0) facts.bufferKiB = buffer;
  }
  return facts;
}

std::optional<std::vector<uint16_t>> ProfilesOf(const uint8_t* reply, uint32_t moved,
                                                uint32_t asked) {
  if (moved < 8) return std::nullopt;
  const uint32_t holds = 4 + GetBe32(reply);
  if (CutShort(moved, holds, asked) || moved < 12) return std::nullopt;
  if (GetBe16(reply + 8) != 0x0000) return std::nullopt;  // not the profile list feature
  const uint32_t end = std::min(moved, 12u + reply[11]);
  if (CutShort(moved, 12u + reply[11], asked)) return std::nullopt;
  std::vector<uint16_t> profiles;
  for (uint32_t at = 12; at + 4 <= end; at += 4) profiles.push_back(GetBe16(reply + at));
  return profiles;
}

DriveFacts ReadDriveFacts() {
  DriveFacts facts;
  std::vector<uint8_t> reply(kProfileListLength);
  ScsiExchange sent;
  const auto ask = [&](const uint8_t* cdb, uint32_t length) {
    std::fill(reply.begin(), reply.end(), 0);
    return SendDriveCommand(cdb, kDirectionIn, reply.data(), length, &sent) == kStatusDone
               ? sent.Moved()
               : 0u;
  };

  const uint8_t inquiry[12] = {kOpInquiry, 0, 0, 0, kFactsInquiryLength, 0};
  const InquiryFacts fromInquiry = InquiryFactsOf(reply.data(), ask(inquiry, kFactsInquiryLength));
  facts.revision = fromInquiry.revision;
  facts.firmwareDate = fromInquiry.firmwareDate;

  const uint8_t serial[12] = {kOpInquiry, 0x01, kSerialPage, 0, kSerialPageLength, 0};
  facts.serial = SerialOf(reply.data(), ask(serial, kSerialPageLength), kSerialPageLength);

  uint8_t modeSense[12] = {kOpModeSense10, 0, kModePageCapabilities};
  PutBe16(modeSense + 7, kCapabilitiesLength);
  const CapabilityFacts capabilities =
      CapabilityFactsOf(reply.data(), ask(modeSense, kCapabilitiesLength), kCapabilitiesLength);
  facts.loader = capabilities.loader;
  facts.bufferKiB = capabilities.bufferKiB;

  // RT 2: the one feature named, the profile list (0000h).
  uint8_t configuration[12] = {kOpGetConfiguration, 0x02, 0x00, 0x00};
  PutBe16(configuration + 7, kProfileListLength);
  facts.profiles =
      ProfilesOf(reply.data(), ask(configuration, kProfileListLength), kProfileListLength);
  return facts;
}

const char* ProfileName(uint16_t profile) {
  switch (profile) {
    case 0x0001: return "non-removable disk";
    case 0x0002: return "removable disk";
    case kProfileCdRom: return "CD-ROM";
    case kProfileCdR: return "CD-R";
    case kProfileCdRw: return "CD-RW";
    case kProfileDvdRom: return "DVD-ROM";
    case kProfileDvdMinusR: return "DVD-R";
    case 0x0012: return "DVD-RAM";
    case kProfileDvdMinusRwRestricted: return "DVD-RW (restricted overwrite)";
    case kProfileDvdMinusRwSequential: return "DVD-RW (sequential)";
    case 0x0015: return "DVD-R DL";
    case 0x0016: return "DVD-R DL (layer jump)";
    case kProfileDvdPlusRw: return "DVD+RW";
    case kProfileDvdPlusR: return "DVD+R";
    case 0x002A: return "DVD+RW DL";
    case kProfileDvdPlusRDl: return "DVD+R DL";
    case 0x0040: return "BD-ROM";
    case 0x0041: return "BD-R (sequential)";
    case 0x0042: return "BD-R (random)";
    case 0x0043: return "BD-RE";
    default: return "";
  }
}

bool IsWritableProfile(uint16_t profile) {
  switch (profile) {
    case kProfileCdR:
    case kProfileCdRw:
    case kProfileDvdMinusR:
    case 0x0012:
    case kProfileDvdMinusRwRestricted:
    case kProfileDvdMinusRwSequential:
    case 0x0015:
    case 0x0016:
    case kProfileDvdPlusRw:
    case kProfileDvdPlusR:
    case 0x002A:
    case kProfileDvdPlusRDl:
    case 0x0041:
    case 0x0042:
    case 0x0043: return true;
    default: return false;
  }
}

const char* LoaderName(uint8_t loader) {
  switch (static_cast<LoaderType>(loader)) {
    case LoaderType::kCaddy: return "caddy";
    case LoaderType::kTray: return "tray";
    case LoaderType::kPopUp: return "pop-up";
    case LoaderType::kChangerSingle: return "changer (single discs)";
    case LoaderType::kChangerMagazine: return "changer (magazine)";
  }
  return "";
}
