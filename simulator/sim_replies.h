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

// An INQUIRY vital product data page: the supported pages (0x00) and the
// unit serial number (0x80, when the drive has one); empty for any other.
std::vector<uint8_t> VitalProductPage(const SimDriveConfig& config, uint8_t page);

// GET CONFIGURATION: the 8-byte header with the current profile, then the
// features the RT field (0 all, 1 current, 2 the one named) selects from
// startFeature on: profile list, core, removable medium.
std::vector<uint8_t> ConfigurationReply(uint16_t currentProfile, uint8_t rt, uint16_t startFeature);

// GET PERFORMANCE type 0x03: header (length = 4 + 16·n for all n of the
// disc's speeds) and at most maxDescriptors write-speed descriptors in the
// disc's order.
std::vector<uint8_t> WriteSpeedReply(const SimDisc& disc, uint16_t maxDescriptors);

// READ DVD STRUCTURE: 4-byte header (length = payload + 2) and the payload.
std::vector<uint8_t> DvdStructureReply(const std::vector<uint8_t>& payload);

// MODE SENSE (10) of the capabilities and mechanical status page (0x2A):
// the 8-byte header without block descriptors, then the page with the
// loaded disc's write speeds as its write speed descriptors (none without a
// disc, or for a disc the drive cannot write), a tray loader and the buffer.
std::vector<uint8_t> CapabilitiesPageReply(const SimDisc* disc, uint16_t bufferKiB = 0);

// READ CAPACITY (10): the last recorded LBA (0 on a blank disc) and 2048.
std::vector<uint8_t> CapacityReply(const SimDisc& disc);

// READ DISC INFORMATION (standard, 34 bytes): one session of one track,
// blank and appendable, or complete for a pressed disc.
std::vector<uint8_t> DiscInformationReply(const SimDisc& disc);

// READ TRACK INFORMATION of track 1 (48 bytes): on a blank disc the
// invisible track, its free blocks the whole disc.
std::vector<uint8_t> TrackInformationReply(const SimDisc& disc);

// READ DVD STRUCTURE payloads besides ADIP and pre-recorded information:
// physical format information (2048 bytes: book type, layers, data zone),
// the layer boundary of a dual-layer disc (8 bytes: layer 0's capacity),
// and the list of structures the disc has (format 0xFF).
std::vector<uint8_t> PhysicalFormatPayload(const SimDisc& disc);
std::vector<uint8_t> LayerBoundaryPayload(const SimDisc& disc);
std::vector<uint8_t> StructureListPayload(const SimDisc& disc);

// The 8-byte sample reply: status, TE, layer, speed code echoed, FE, and a
// checksum of bytes 0..6. Readings are zero unless the status is valid.
std::array<uint8_t, 8> TefeReply(const SimTefeReading& reading, uint8_t speedCode);

// A text blank padded or cut to width bytes.
std::string PaddedField(const std::string& text, size_t width);
