// What a drive tells of itself beside its name: firmware revision and date
// (standard INQUIRY; the date from the vendor-specific bytes where they hold
// one), serial number (the unit serial number page), loader type and buffer
// size (the capabilities mode page) and the profiles it knows (GET
// CONFIGURATION's profile list). Each fact a drive does not give, or gives
// cut short, stays unknown; reading them never fails anything else. No state
// of their own: any thread may call ReadDriveFacts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Loading mechanism types of the capabilities page (byte 6, bits 7-5).
enum class LoaderType : uint8_t {
  kCaddy = 0,
  kTray = 1,
  kPopUp = 2,
  kChangerSingle = 4,
  kChangerMagazine = 5,
};

struct DriveFacts {
  std::optional<std::string> revision;            // INQUIRY bytes 32..35, trimmed
  std::optional<std::string> firmwareDate;        // vendor-specific INQUIRY bytes 36..55
  std::optional<std::string> serial;              // unit serial number page
  std::optional<uint8_t> loader;                  // a LoaderType value, or another code as read
  std::optional<uint32_t> bufferKiB;              // the drive's buffer, KiB
  std::optional<std::vector<uint16_t>> profiles;  // in the drive's order
  bool operator==(const DriveFacts&) const = default;
};

// The reply readers, over the bytes the drive moved.
struct InquiryFacts {
  std::optional<std::string> revision;
  std::optional<std::string> firmwareDate;
};
InquiryFacts InquiryFactsOf(const uint8_t* reply, uint32_t moved);
std::optional<std::string> SerialOf(const uint8_t* reply, uint32_t moved, uint32_t asked);
struct CapabilityFacts {
  std::optional<uint8_t> loader;
  std::optional<uint32_t> bufferKiB;
};
CapabilityFacts CapabilityFactsOf(const uint8_t* reply, uint32_t moved, uint32_t asked);
std::optional<std::vector<uint16_t>> ProfilesOf(const uint8_t* reply, uint32_t moved,
                                                uint32_t asked);

// Asks the selected drive (through g_pDeviceManager) for each fact.
DriveFacts ReadDriveFacts();

// Names for the front ends: "DVD+R DL", "tray", ...; a profile or loader
// code without a name gives an empty text.
const char* ProfileName(uint16_t profile);
// A profile of a medium a drive writes (recordable or rewritable).
bool IsWritableProfile(uint16_t profile);
const char* LoaderName(uint8_t loader);
