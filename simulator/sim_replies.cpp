#include "simulator/sim_replies.h"

#include <algorithm>

#include "device/big_endian.h"
#include "simulator/sim_drive.h"

namespace {

constexpr size_t kInquiryLength = 96;
constexpr uint8_t kInquiryVersionSpc3 = 0x05;
constexpr uint8_t kResponseFormat = 0x02;
constexpr uint8_t kRemovable = 0x80;
// Version descriptors: MMC-5, SPC-3, ATA/ATAPI-7.
constexpr uint16_t kVersionDescriptors[] = {0x05A0, 0x0300, 0x1760};

// Profiles listed by the profile list feature, highest first as drives do.
constexpr uint16_t kDriveProfiles[] = {kProfileDvdPlusRDl,
                                       kProfileDvdPlusR,
                                       kProfileDvdPlusRw,
                                       kProfileDvdMinusRwSequential,
                                       kProfileDvdMinusRwRestricted,
                                       kProfileDvdMinusR,
                                       kProfileDvdRom,
                                       kProfileCdRw,
                                       kProfileCdR,
                                       kProfileCdRom};

// A drive's top read speeds, reported beside each write speed.
constexpr uint32_t kDvdReadKBps = 22160;
constexpr uint32_t kCdReadKBps = 7056;

constexpr uint16_t kFeatureProfileList = 0x0000;
constexpr uint16_t kFeatureCore = 0x0001;
constexpr uint16_t kFeatureRemovableMedium = 0x0003;

struct Feature {
  uint16_t code;
  bool current;
  std::vector<uint8_t> bytes;  // whole descriptor, header included
};

Feature MakeFeature(uint16_t code, uint8_t version, const std::vector<uint8_t>& body) {
  Feature feature{code, true, std::vector<uint8_t>(4)};
  PutBe16(feature.bytes.data(), code);
  feature.bytes[2] = static_cast<uint8_t>(version << 2 | 0x03);  // persistent, current
  feature.bytes[3] = static_cast<uint8_t>(body.size());
  feature.bytes.insert(feature.bytes.end(), body.begin(), body.end());
  return feature;
}

std::vector<Feature> DriveFeatures(uint16_t currentProfile) {
  std::vector<uint8_t> profiles;
  for (uint16_t profile : kDriveProfiles) {
    const uint8_t entry[4] = {static_cast<uint8_t>(profile >> 8), static_cast<uint8_t>(profile),
                              static_cast<uint8_t>(profile == currentProfile ? 0x01 : 0x00), 0};
    profiles.insert(profiles.end(), entry, entry + 4);
  }
  // Core: ATAPI physical interface; removable medium: tray, eject, lock.
  return {MakeFeature(kFeatureProfileList, 0, profiles),
          MakeFeature(kFeatureCore, 2, {0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}),
          MakeFeature(kFeatureRemovableMedium, 0, {0x29, 0x00, 0x00, 0x00})};
}

}  // namespace

std::string PaddedField(const std::string& text, size_t width) {
  std::string field = text.substr(0, width);
  field.resize(width, ' ');
  return field;
}

std::vector<uint8_t> InquiryData(const SimDriveConfig& config) {
  std::vector<uint8_t> data(kInquiryLength, 0);
  data[0] = config.deviceType & 0x1F;
  data[1] = kRemovable;
  data[2] = kInquiryVersionSpc3;
  data[3] = kResponseFormat;
  data[4] = static_cast<uint8_t>(kInquiryLength - 5);
  const std::string identity = PaddedField(config.vendor, 8) + PaddedField(config.product, 16) +
                               PaddedField(config.revision, 4) +
                               PaddedField(config.firmwareDate, 20);
  std::copy(identity.begin(), identity.end(), data.begin() + 8);
  uint8_t* descriptor = data.data() + 58;
  for (uint16_t version : kVersionDescriptors) {
    PutBe16(descriptor, version);
    descriptor += 2;
  }
  return data;
}

std::vector<uint8_t> VitalProductPage(const SimDriveConfig& config, uint8_t page) {
  std::vector<uint8_t> reply(4, 0);
  reply[0] = config.deviceType & 0x1F;
  reply[1] = page;
  if (page == 0x00) {
    reply.push_back(0x00);
    if (!config.serial.empty()) reply.push_back(0x80);
  } else if (page == 0x80 && !config.serial.empty()) {
    reply.insert(reply.end(), config.serial.begin(), config.serial.end());
  } else {
    return {};
  }
  PutBe16(reply.data() + 2, static_cast<uint16_t>(reply.size() - 4));
  return reply;
}

std::vector<uint8_t> ConfigurationReply(uint16_t currentProfile, uint8_t rt,
                                        uint16_t startFeature) {
  std::vector<uint8_t> reply(8, 0);
  PutBe16(reply.data() + 6, currentProfile);
  for (const Feature& feature : DriveFeatures(currentProfile)) {
    const bool wanted = rt == 2 ? feature.code == startFeature
                                : feature.code >= startFeature && (rt == 0 || feature.current);
    if (wanted) reply.insert(reply.end(), feature.bytes.begin(), feature.bytes.end());
  }
  PutBe32(reply.data(), static_cast<uint32_t>(reply.size() - 4));
  return reply;
}

std::vector<uint8_t> WriteSpeedReply(const SimDisc& disc, uint16_t maxDescriptors) {
  // The length counts every descriptor there is, as the data available;
  // the maximum cuts only what is sent. Programs ask for one descriptor
  // first and size their second request by this length.
  const size_t count = std::min<size_t>(disc.writeSpeeds.size(), maxDescriptors);
  std::vector<uint8_t> reply(8 + 16 * count, 0);
  PutBe32(reply.data(), static_cast<uint32_t>(4 + 16 * disc.writeSpeeds.size()));
  const uint32_t driveRead = disc.profile >= kProfileDvdRom ? kDvdReadKBps : kCdReadKBps;
  for (size_t i = 0; i < count; ++i) {
    const SimWriteSpeed& speed = disc.writeSpeeds[i];
    uint8_t* descriptor = reply.data() + 8 + 16 * i;
    PutBe32(descriptor + 4, disc.lastLba);
    PutBe32(descriptor + 8, speed.readKBps != 0 ? speed.readKBps : driveRead);
    PutBe32(descriptor + 12, speed.writeKBps);
  }
  return reply;
}

std::vector<uint8_t> DvdStructureReply(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> reply(4, 0);
  PutBe16(reply.data(), static_cast<uint16_t>(payload.size() + 2));
  reply.insert(reply.end(), payload.begin(), payload.end());
  return reply;
}

namespace {

// Pressed discs hold data; every other disc the drive takes comes blank.
bool SimDiscIsPressed(const SimDisc& disc) {
  return disc.profile == kProfileDvdRom || disc.profile == kProfileCdRom;
}

uint32_t SimDiscSectors(const SimDisc& disc) {
  return disc.profile == kProfileNone ? 0 : disc.lastLba + 1;
}

uint32_t SimTopWriteSpeed(const SimDisc& disc) {
  uint32_t top = 0;
  for (const SimWriteSpeed& speed : disc.writeSpeeds) top = std::max(top, speed.writeKBps);
  return top;
}

// Book type and part version of the physical format information by profile.
uint8_t SimBookType(uint16_t profile) {
  switch (profile) {
    case kProfileDvdPlusR: return 0xA1;
    case kProfileDvdPlusRDl: return 0xE1;
    case kProfileDvdPlusRw: return 0x92;
    case kProfileDvdMinusR: return 0x25;
    case kProfileDvdMinusRwRestricted:
    case kProfileDvdMinusRwSequential: return 0x32;
    default: return 0x01;  // DVD-ROM
  }
}

}  // namespace

std::vector<uint8_t> CapabilitiesPageReply(const SimDisc* disc, uint16_t bufferKiB) {
  const size_t count = disc != nullptr ? std::min<size_t>(disc->writeSpeeds.size(), 30) : 0;
  const size_t pageLength = 32 + 4 * count;
  std::vector<uint8_t> reply(8 + pageLength, 0);
  PutBe16(reply.data(), static_cast<uint16_t>(reply.size() - 2));
  uint8_t* page = reply.data() + 8;
  page[0] = kModePageCapabilities;
  page[1] = static_cast<uint8_t>(pageLength - 2);
  page[2] = 0x1B;  // reads CD-R, CD-RW, DVD-ROM, DVD-R
  page[3] = 0x13;  // writes CD-R, CD-RW, DVD-R
  page[6] = 0x29;  // tray, eject, lock
  PutBe16(page + 12, bufferKiB);
  const uint32_t top = disc != nullptr ? SimTopWriteSpeed(*disc) : 0;
  PutBe16(page + 8, static_cast<uint16_t>(kDvdReadKBps));   // maximum read speed
  PutBe16(page + 14, static_cast<uint16_t>(kDvdReadKBps));  // current read speed
  PutBe16(page + 18, static_cast<uint16_t>(top));           // maximum write speed
  PutBe16(page + 20, static_cast<uint16_t>(top));           // current write speed
  PutBe16(page + 28, static_cast<uint16_t>(top));           // current write speed selected
  PutBe16(page + 30, static_cast<uint16_t>(count));
  for (size_t i = 0; i < count; ++i)
    PutBe16(page + 32 + 4 * i + 2, static_cast<uint16_t>(disc->writeSpeeds[i].writeKBps));
  return reply;
}

std::vector<uint8_t> CapacityReply(const SimDisc& disc) {
  std::vector<uint8_t> reply(8, 0);
  PutBe32(reply.data(), SimDiscIsPressed(disc) ? disc.lastLba : 0);
  PutBe32(reply.data() + 4, 2048);
  return reply;
}

std::vector<uint8_t> DiscInformationReply(const SimDisc& disc) {
  std::vector<uint8_t> reply(34, 0);
  PutBe16(reply.data(), 32);
  const bool pressed = SimDiscIsPressed(disc);
  const bool rewritable =
      disc.profile == kProfileDvdPlusRw || disc.profile == kProfileDvdMinusRwRestricted ||
      disc.profile == kProfileDvdMinusRwSequential || disc.profile == kProfileCdRw;
  // Erasable, state of the last session, disc status: empty/blank or complete.
  reply[2] = static_cast<uint8_t>((rewritable ? 0x10 : 0x00) | (pressed ? 0x0E : 0x00));
  reply[3] = 1;                            // first track
  reply[4] = 1;                            // sessions
  reply[5] = 1;                            // first track of the last session
  reply[6] = 1;                            // last track of the last session
  reply[7] = 0x20;                         // unrestricted use
  PutBe32(reply.data() + 16, 0xFFFFFFFF);  // no lead-in of a next session
  PutBe32(reply.data() + 20, 0xFFFFFFFF);
  return reply;
}

std::vector<uint8_t> TrackInformationReply(const SimDisc& disc) {
  std::vector<uint8_t> reply(48, 0);
  PutBe16(reply.data(), 46);
  reply[2] = 1;  // track
  reply[3] = 1;  // session
  const bool pressed = SimDiscIsPressed(disc);
  const uint32_t sectors = SimDiscSectors(disc);
  reply[5] = 0x04;                                    // data track, recorded uninterrupted
  reply[6] = pressed ? 0x01 : 0x41;                   // blank (the invisible track), data mode 1
  reply[7] = pressed ? 0x00 : 0x01;                   // next writable address valid
  PutBe32(reply.data() + 16, pressed ? 0 : sectors);  // free blocks
  PutBe32(reply.data() + 20, 16);                     // ECC block
  PutBe32(reply.data() + 24, sectors);                // track size
  if (pressed) PutBe32(reply.data() + 28, disc.lastLba);
  return reply;
}

std::vector<uint8_t> PhysicalFormatPayload(const SimDisc& disc) {
  std::vector<uint8_t> payload(2048, 0);
  const bool pressed = SimDiscIsPressed(disc);
  payload[0] = SimBookType(disc.profile);
  payload[1] = 0x0F;  // 120 mm, no maximum read rate given
  payload[2] = static_cast<uint8_t>((disc.layers > 1 ? 0x30 : 0x00) | (pressed ? 0x01 : 0x02));
  payload[3] = 0x10;
  const uint32_t endPsn =
      disc.layers > 1 ? kSimLayer1PsnOffset + disc.lastLba : kSimLayer0PsnStart + disc.lastLba;
  PutBe32(payload.data() + 4, kSimLayer0PsnStart);
  PutBe32(payload.data() + 8, endPsn);
  if (disc.layers > 1) PutBe32(payload.data() + 12, kSimLayer0PsnStart + disc.layer0Sectors - 1);
  return payload;
}

std::vector<uint8_t> LayerBoundaryPayload(const SimDisc& disc) {
  std::vector<uint8_t> payload(8, 0);
  PutBe32(payload.data() + 4, disc.layer0Sectors);
  return payload;
}

std::vector<uint8_t> StructureListPayload(const SimDisc& disc) {
  std::vector<uint8_t> payload;
  const auto add = [&](uint8_t format, size_t length) {
    payload.insert(payload.end(),
                   {format, 0x40, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  };
  add(kStructurePhysical, 2048 + 4);
  if (!disc.prerecorded.empty()) add(kStructurePrerecorded, disc.prerecorded.size() + 4);
  if (!disc.adip.empty()) add(kStructureAdip, disc.adip.size() + 4);
  if (disc.layers > 1) add(kStructureLayerBoundary, 8 + 4);
  add(kStructureList, 0);
  return payload;
}

std::array<uint8_t, 8> TefeReply(const SimTefeReading& reading, uint8_t speedCode) {
  std::array<uint8_t, 8> reply{};
  reply[0] = reading.status;
  if (reading.status == kTefeStatusValid) {
    PutBe16(reply.data() + 1, reading.te);
    PutBe16(reply.data() + 5, reading.fe);
  }
  reply[3] = reading.layer;
  reply[4] = speedCode;
  uint8_t sum = 0;
  for (size_t i = 0; i < 7; ++i) sum = static_cast<uint8_t>(sum + reply[i]);
  reply[7] = sum;
  return reply;
}
