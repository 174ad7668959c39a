#include "console/disc_identification.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "device/big_endian.h"

const WriteSpeedEntry kWriteSpeedTable[7] = {
    {3324, kSpeed2_4X, "2.4X => (%5ld Kb/Sec)  "}, {5540, kSpeed4X, " 4X => (%5ld Kb/Sec)  "},
    {8310, kSpeed6X, " 6X => (%5ld Kb/Sec)  "},    {11080, kSpeed8X, " 8X => (%5ld Kb/Sec)  "},
    {13850, kSpeed10X, "10X => (%5ld Kb/Sec)  "},  {16620, kSpeed12X, "12X => (%5ld Kb/Sec)  "},
    {22160, kSpeed16X, "16X => (%5ld Kb/Sec)  "},
};

namespace {

constexpr const char kNotSupportedStatus[] = "Not support for this disc.";
constexpr int kMaxDescriptors = 10;

// isalnum of the C locale, whatever locale the program runs in.
bool IsAsciiAlnum(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

struct IdRows {
  int first, last, end, max;
};

// Search range, run end and maximum length of each ID, by structure.
constexpr IdRows kAdipManufacturer{23, 29, 30, 8};
constexpr IdRows kAdipMediaType{31, 33, 33, 3};
constexpr IdRows kPrerecordedManufacturer{21, 26, 30, 6};
constexpr IdRows kPrerecordedMediaType{29, 34, 34, 6};

}  // namespace

namespace {

// A disc the drive names that the test does not take.
bool IsUntestableDisc(DiscTypeCode type) {
  switch (type) {
    case kDiscCdRom:
    case kDiscCdR:
    case kDiscCdRw:
    case kDiscDvdRom:
    case kDiscDvdPlusRw:
    case kDiscDvdMinusRw: return true;
    default: return false;
  }
}

}  // namespace

const char* DiscTypeText(DiscTypeCode type) {
  switch (type) {
    case kDiscDvdPlusRDl: return "DVD+R DL";
    case kDiscDvdPlusR: return "DVD+R";
    case kDiscDvdMinusR: return "DVD-R";
    default: return IsUntestableDisc(type) ? "Not Support." : "N/A";
  }
}

bool IsTestableDisc(DiscTypeCode type) {
  return type == kDiscDvdPlusRDl || type == kDiscDvdPlusR || type == kDiscDvdMinusR;
}

std::string ExtractDiscId(const uint8_t* reply, int searchFirst, int searchLast, int runEnd,
                          int maxLength) {
  int start = -1;
  for (int i = searchFirst; i <= searchLast; ++i) {
    if (IsAsciiAlnum(reply[i])) {
      start = i;
      break;
    }
  }
  if (start < 0) return "n/a";
  std::string id;
  for (int i = start; i <= runEnd && static_cast<int>(id.size()) < maxLength; ++i) {
    if (reply[i] == 0) break;
    id.push_back(static_cast<char>(reply[i]));
  }
  return id;
}

double CapacityMegabytes(int32_t lastLba) {
  return (static_cast<double>(lastLba) + 1) * 0.001953125;
}

std::string CapacityText(int32_t lastLba) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", CapacityMegabytes(lastLba));
  return text;
}

std::string SpeedEntryText(const DiscSpeed& speed) {
  for (const WriteSpeedEntry& entry : kWriteSpeedTable) {
    if (entry.code != speed.code) continue;
    char text[64];
    std::snprintf(text, sizeof text, entry.format, static_cast<long>(speed.kBps));
    return text;
  }
  return {};
}

int32_t LastLbaFromEndLba(int32_t endLba) {
  return endLba <= kDualLayerThreshold ? kAssumedSingleLayerLastLba : kAssumedDualLayerLastLba;
}

WriteSpeedList ParseWriteSpeeds(const uint8_t* reply, uint32_t bufferLength) {
  WriteSpeedList list;
  if (bufferLength < 8) return list;
  const uint32_t length = GetBe32(reply);
  uint32_t count = length >= 4 ? (length - 4) / 16 : 0;
  count = std::min<uint32_t>(count, kMaxDescriptors);
  count = std::min<uint32_t>(count, (bufferLength - 8) / 16);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* descriptor = reply + 8 + 16 * i;
    const uint32_t speed = GetBe32(descriptor + 12);
    for (const WriteSpeedEntry& entry : kWriteSpeedTable) {
      if (entry.kBps != speed) continue;
      const DiscSpeed known{entry.code, speed};
      list.entries.push_back(SpeedEntryText(known));
      list.codes.push_back(entry.code);
      list.speeds.push_back(known);
      break;
    }
  }
  if (count > 0) {
    list.hasLastEndLba = true;
    list.lastEndLba = static_cast<int32_t>(GetBe32(reply + 8 + 16 * (count - 1) + 4));
  }
  return list;
}

std::optional<int32_t> Layer0SectorsOf(const uint8_t* reply, uint32_t moved) {
  // A 4-byte header, then the structure: layers at byte 2 (bits 6-5: count
  // less one), the data area's start at 4..7, layer 0's end at 13..15.
  if (moved < 4 + 16) return std::nullopt;
  const uint8_t* format = reply + 4;
  if (((format[2] >> 5) & 0x03) == 0) return std::nullopt;
  const uint32_t start = GetBe24(format + 5);
  const uint32_t end = GetBe24(format + 13);
  if (end < start) return std::nullopt;
  return static_cast<int32_t>(end - start + 1);
}

DiscIdentity ReadDiscIdentity() {
  DiscIdentity identity;
  const DiscTypeCode type = GetCurrentProfile();
  g_discType = type;
  identity.type = type;
  {
    // Another disc's break must not follow this one into its record.
    std::lock_guard<std::mutex> hold(g_discLock);
    g_layer0Sectors = 0;
  }
  if (!IsTestableDisc(type)) {
    identity.end = IsUntestableDisc(type) ? IdentifyEnd::kNotSupported : IdentifyEnd::kNoDisc;
    return identity;
  }

  uint8_t reply[300] = {};
  const bool plusR = type != kDiscDvdMinusR;
  const bool read = plusR ? ReadAdipInformation(reply) : ReadPrerecordedInformation(reply);
  if (!read) {
    identity.end = IdentifyEnd::kNoDiscIds;
    return identity;
  }
  const IdRows& maker = plusR ? kAdipManufacturer : kPrerecordedManufacturer;
  const IdRows& media = plusR ? kAdipMediaType : kPrerecordedMediaType;
  identity.manufacturerId = ExtractDiscId(reply, maker.first, maker.last, maker.end, maker.max);
  identity.mediaTypeId = ExtractDiscId(reply, media.first, media.last, media.end, media.max);
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    std::snprintf(g_manufacturerId, sizeof g_manufacturerId, "%s", identity.manufacturerId.c_str());
    std::snprintf(g_mediaTypeId, sizeof g_mediaTypeId, "%s", identity.mediaTypeId.c_str());
  }

  std::memset(reply, 0, sizeof reply);
  uint32_t transferred = 0;
  if (!GetWriteSpeeds(reply, &transferred)) {
    identity.end = IdentifyEnd::kNoWriteSpeeds;
    return identity;
  }
  // Only what the drive sent counts: a reply cut short leaves zeros behind
  // it, and a zero end address would halve a DL disc.
  const WriteSpeedList speeds =
      ParseWriteSpeeds(reply, std::min(transferred, kGetWriteSpeedsLength));
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    std::memset(g_speedCodes, 0, sizeof g_speedCodes);
    g_speedCount = static_cast<int32_t>(speeds.codes.size());
    for (size_t i = 0; i < speeds.codes.size(); ++i) g_speedCodes[i] = speeds.codes[i];
  }
  identity.speeds = speeds.speeds;
  if (speeds.speeds.empty()) {
    identity.end = IdentifyEnd::kNoKnownSpeed;
    return identity;
  }

  identity.lastLba = LastLbaFromEndLba(speeds.lastEndLba);
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    g_lastLba = identity.lastLba;
  }
  if (type == kDiscDvdPlusRDl) {
    // Shown beside the sample positions, which keep their fixed layer
    // break; a drive that does not give it leaves it unknown.
    std::vector<uint8_t> format(kPhysicalFormatLength, 0);
    uint32_t moved = 0;
    if (ReadPhysicalFormat(format.data(), &moved))
      identity.layer0Sectors =
          Layer0SectorsOf(format.data(), std::min(moved, kPhysicalFormatLength));
    std::lock_guard<std::mutex> hold(g_discLock);
    g_layer0Sectors = identity.layer0Sectors.value_or(0);
  }
  identity.end = IdentifyEnd::kReady;
  return identity;
}

std::optional<int32_t> StoredLayer0Sectors() {
  std::lock_guard<std::mutex> hold(g_discLock);
  if (g_layer0Sectors <= 0) return std::nullopt;
  return g_layer0Sectors;
}

const char* UntestableDiscCause(IdentifyEnd end) {
  switch (end) {
    case IdentifyEnd::kReady: return "";
    case IdentifyEnd::kNoDisc: return "the drive named no disc type the test takes";
    case IdentifyEnd::kNotSupported: return "the test does not take this type of disc";
    case IdentifyEnd::kNoDiscIds: return "the disc's IDs could not be read";
    case IdentifyEnd::kNoWriteSpeeds: return "the drive listed no write speeds for the disc";
    case IdentifyEnd::kNoKnownSpeed: return "the disc offers no write speed the test knows";
  }
  return "";
}

DiscView DiscViewOf(const DiscIdentity& identity, bool diagMode) {
  DiscView view;
  view.untestable = UntestableDiscCause(identity.end);
  if (identity.end == IdentifyEnd::kNoWriteSpeeds) {
    // The window falls back to its empty state.
    view.resetDiscInfo = true;
    return view;
  }
  view.discType = DiscTypeText(identity.type);
  if (identity.end == IdentifyEnd::kNoDisc || identity.end == IdentifyEnd::kNotSupported) {
    view.status = kNotSupportedStatus;
    return view;
  }
  if (identity.end == IdentifyEnd::kNoDiscIds) {
    view.manufacturerId = "N/A";
    view.mediaTypeId = "N/A";
    view.status = kNotSupportedStatus;
    return view;
  }
  view.manufacturerId = identity.manufacturerId;
  view.mediaTypeId = identity.mediaTypeId;
  view.enableSpeedList = true;
  if (identity.end == IdentifyEnd::kNoKnownSpeed) {
    view.speedEntries = std::vector<std::string>{"N/A"};
    view.capacity = "N/A";
    view.status = kNotSupportedStatus;
    return view;
  }
  std::vector<std::string> entries;
  for (const DiscSpeed& speed : identity.speeds) entries.push_back(SpeedEntryText(speed));
  view.speedEntries = std::move(entries);
  view.speedCode = identity.speeds.front().code;
  view.chartLastLba = identity.lastLba;
  view.capacity = CapacityText(identity.lastLba);
  view.enableRunControls = diagMode;
  view.status = "Ready.";
  return view;
}

DiscView IdentifyDisc(bool diagMode) { return DiscViewOf(ReadDiscIdentity(), diagMode); }
