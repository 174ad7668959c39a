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
  const size_t count = std::min<size_t>(disc.writeSpeeds.size(), maxDescriptors);
  std::vector<uint8_t> reply(8 + 16 * count, 0);
  PutBe32(reply.data(), static_cast<uint32_t>(4 + 16 * count));
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
