// The record's identity parts, as both front ends fill them: the program's
// version, the drive's INQUIRY identity, the disc fields with the
// manufacturer's name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/scan_record.h"

class CDeviceManager;

const char* VelmoVersion();

// Drive index's identity: the name as listed, vendor/product/revision from
// INQUIRY (blanks trimmed), and the node.
RecordDrive RecordDriveOf(const CDeviceManager& manager, uint8_t index);

RecordDisc RecordDiscOf(const std::string& type, const std::string& manufacturerId,
                        const std::string& mediaTypeId, const std::string& capacity,
                        int32_t lastLba, const std::vector<std::string>& writeSpeeds);
