// The words Velmo and its drives share on the wire, named once: operation
// codes, the vendor command's sub-codes, the CDB group-length rule, MMC
// profiles, SCSI status bytes, sense triples and data directions. The
// commands build their CDBs with these, the device manager sizes CDBs with
// them and the simulated drive answers by them, so the two sides of the
// wire cannot drift apart. Header only: the device layer and the simulator
// use it without linking the commands.
#pragma once

#include <cstdint>

// Operation codes.
inline constexpr uint8_t kOpTestUnitReady = 0x00;
inline constexpr uint8_t kOpRequestSense = 0x03;
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpStartStopUnit = 0x1B;
inline constexpr uint8_t kOpPreventAllow = 0x1E;
inline constexpr uint8_t kOpReadCapacity = 0x25;
inline constexpr uint8_t kOpGetConfiguration = 0x46;
inline constexpr uint8_t kOpReadDiscInformation = 0x51;
inline constexpr uint8_t kOpReadTrackInformation = 0x52;
inline constexpr uint8_t kOpModeSense10 = 0x5A;
inline constexpr uint8_t kOpGetPerformance = 0xAC;
inline constexpr uint8_t kOpReadDvdStructure = 0xAD;
inline constexpr uint8_t kOpVendor = 0xFD;  // the supported drives' vendor command
// Every operation code above: the simulated drive answers each (its opcode
// table follows this list) and its test sends each. Velmo itself sends no
// READ CAPACITY or disc or track information, and MODE SENSE only for the
// drive's own facts; the drive answers them as every MMC drive does, for
// the disc tools that read it beside Velmo.
inline constexpr uint8_t kOperationCodes[] = {kOpTestUnitReady,
                                              kOpRequestSense,
                                              kOpInquiry,
                                              kOpStartStopUnit,
                                              kOpPreventAllow,
                                              kOpReadCapacity,
                                              kOpGetConfiguration,
                                              kOpReadDiscInformation,
                                              kOpReadTrackInformation,
                                              kOpModeSense10,
                                              kOpGetPerformance,
                                              kOpReadDvdStructure,
                                              kOpVendor};

// Sub-codes of the vendor command (CDB byte 1), and the sample command's
// mode byte (CDB byte 6).
inline constexpr uint8_t kVendorEnterDiagnostic = 0xF1;
inline constexpr uint8_t kVendorLeaveDiagnostic = 0xF2;
inline constexpr uint8_t kVendorTefeSample = 0xFB;
inline constexpr uint8_t kTefeSampleMode = 0x05;

// GET PERFORMANCE type and READ DVD STRUCTURE formats Velmo asks for.
inline constexpr uint8_t kPerformanceWriteSpeed = 0x03;
inline constexpr uint8_t kStructurePhysical = 0x00;  // a DL disc's end of layer 0
inline constexpr uint8_t kStructurePrerecorded = 0x0E;
inline constexpr uint8_t kStructureAdip = 0x11;
// What the simulated drive also answers, for other programs.
inline constexpr uint8_t kStructureLayerBoundary = 0x20;
inline constexpr uint8_t kStructureList = 0xFF;
inline constexpr uint8_t kModePageCapabilities = 0x2A;
inline constexpr uint8_t kModePageAll = 0x3F;

// The CDB length an operation code's group gives: 6 for group 0, 10 for
// groups 1 and 2, 16 for group 4, 12 for the rest (group 3, and the
// vendor-specific groups 5 to 7).
constexpr uint8_t CdbGroupLength(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    default: return 12;
  }
}

// MMC profiles (GET CONFIGURATION's current profile).
inline constexpr uint16_t kProfileNone = 0x0000;
inline constexpr uint16_t kProfileCdRom = 0x0008;
inline constexpr uint16_t kProfileCdR = 0x0009;
inline constexpr uint16_t kProfileCdRw = 0x000A;
inline constexpr uint16_t kProfileDvdRom = 0x0010;
inline constexpr uint16_t kProfileDvdMinusR = 0x0011;
inline constexpr uint16_t kProfileDvdMinusRwRestricted = 0x0013;
inline constexpr uint16_t kProfileDvdMinusRwSequential = 0x0014;
inline constexpr uint16_t kProfileDvdPlusRw = 0x001A;
inline constexpr uint16_t kProfileDvdPlusR = 0x001B;
inline constexpr uint16_t kProfileDvdPlusRDl = 0x002B;

// SCSI status bytes.
inline constexpr uint8_t kScsiStatusGood = 0x00;
inline constexpr uint8_t kScsiStatusCheckCondition = 0x02;
inline constexpr uint8_t kScsiStatusBusy = 0x08;
inline constexpr uint8_t kScsiStatusTaskSetFull = 0x28;

// Sense key, additional sense code and qualifier.
struct SenseTriple {
  uint8_t key, asc, ascq;
  bool operator==(const SenseTriple&) const = default;
};
// Sense keys a run tells apart.
inline constexpr uint8_t kSenseKeyNotReady = 0x02;
inline constexpr uint8_t kSenseKeyMediumError = 0x03;
inline constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
inline constexpr SenseTriple kSenseNone{0x00, 0x00, 0x00};
inline constexpr SenseTriple kSenseNoMedium{0x02, 0x3A, 0x00};
inline constexpr SenseTriple kSenseBecomingReady{0x02, 0x04, 0x01};
inline constexpr SenseTriple kSenseInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr SenseTriple kSenseInvalidField{0x05, 0x24, 0x00};
inline constexpr SenseTriple kSenseSequenceError{0x05, 0x2C, 0x00};
inline constexpr SenseTriple kSenseIncompatibleMedium{0x05, 0x30, 0x02};
inline constexpr SenseTriple kSenseMediumChanged{0x06, 0x28, 0x00};
inline constexpr SenseTriple kSenseRemovalPrevented{0x05, 0x53, 0x02};
inline constexpr SenseTriple kSenseLunNotSupported{0x05, 0x25, 0x00};
inline constexpr SenseTriple kSenseAbortedCommand{0x0B, 0x00, 0x00};

// Data directions of an exchange.
inline constexpr uint8_t kDirectionNone = 0;
inline constexpr uint8_t kDirectionOut = 1;
inline constexpr uint8_t kDirectionIn = 2;
