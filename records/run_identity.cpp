#include "records/run_identity.h"

#include <cstring>

#include "device/device_manager.h"
#include "records/media_codes.h"

namespace {

std::string TrimmedText(const char* bytes, size_t size) {
  std::string text(bytes, size);
  const size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  const size_t last = text.find_last_not_of(' ');
  text.resize(last == std::string::npos ? 0 : last + 1);
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first);
}

}  // namespace

const char* VelmoVersion() { return VELMO_RECORDS_VERSION; }

RecordDrive RecordDriveOf(const CDeviceManager& manager, uint8_t index) {
  RecordDrive drive;
  if (index >= manager.GetDriveCount()) return drive;
  const DriveEntry& entry = manager.GetDriveEntry(index);
  // INQUIRY: vendor 8 bytes, product 16, revision 4.
  drive.vendor = TrimmedText(entry.vendorProduct, 8);
  drive.product = TrimmedText(entry.vendorProduct + 8, 16);
  drive.revision = TrimmedText(entry.revision, 4);
  // The name as the drive list shows it: vendor, product and revision as sent.
  drive.name =
      std::string(entry.vendorProduct, strnlen(entry.vendorProduct, sizeof entry.vendorProduct)) +
      std::string(entry.revision, strnlen(entry.revision, sizeof entry.revision));
  drive.node = manager.GetDrivePath(index);
  return drive;
}

RecordDisc RecordDiscOf(const std::string& type, const std::string& manufacturerId,
                        const std::string& mediaTypeId, const std::string& capacity,
                        int32_t lastLba, const std::vector<std::string>& writeSpeeds) {
  RecordDisc disc;
  disc.type = type;
  disc.manufacturerId = manufacturerId;
  disc.manufacturerName = ManufacturerName(manufacturerId);
  disc.mediaTypeId = mediaTypeId;
  disc.capacity = capacity;
  disc.lastLba = lastLba;
  for (const std::string& entry : writeSpeeds) disc.writeSpeeds.push_back(WriteSpeedOfEntry(entry));
  return disc;
}
