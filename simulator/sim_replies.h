// The data a simulated drive returns, built whole; the drive cuts it to the
// allocation length and the host's buffer. Pure functions over the identity
// and the disc, so byte positions can be checked without a drive.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/mmc_vocabulary.h"
#include "simulator/sim_disc.h"
#include "simulator/tefe_model.h"

struct SimDriveConfig;

// Standard INQUIRY data: 36 bytes, vendor-specific bytes 36..55, version
// descriptors after them; 96 bytes in all.
std::vector<uint8_t> InquiryData(const SimDriveConfig& config);

// GET CONFIGURATION: the 8-byte header with the current profile, then the
// features the RT field (0 all, 1 current, 2 the one named) selects from
// startFeature on: profile list, core, removable medium.
std::vector<uint8_t> ConfigurationReply(uint16_t currentProfile, uint8_t rt, uint16_t startFeature);

// GET PERFORMANCE type 0x03: header (length = 4 + 16·n) and at most
// maxDescriptors write-speed descriptors in the disc's order.
std::vector<uint8_t> WriteSpeedReply(const SimDisc& disc, uint16_t maxDescriptors);

// READ DVD STRUCTURE: 4-byte header (length = payload + 2) and the payload.
std::vector<uint8_t> DvdStructureReply(const std::vector<uint8_t>& payload);

// The 8-byte sample reply: status, TE, layer, speed code echoed, FE, and a
// checksum of bytes 0..6. Readings are zero unless the status is valid.
std::array<uint8_t, 8> TefeReply(const SimTefeReading& reading, uint8_t speedCode);

// A text blank padded or cut to width bytes.
std::string PaddedField(const std::string& text, size_t width);
