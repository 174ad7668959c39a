// Request blocks of the two Windows transports, byte for byte as the 32-bit
// drivers read them. The pointer fields are 32 bits wide because that is the
// layout the blocks travel in; on a 64-bit host an address does not fit, so the
// data buffer and the completion event are handed to the host beside the
// block (see host.h) and only the 32-bit Windows host writes them in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/mmc_vocabulary.h"

#pragma pack(push, 1)

// SCSI_PASS_THROUGH_DIRECT (44 bytes) followed by padding and the sense area.
struct ScsiPassThroughDirect {
  uint16_t Length;
  uint8_t ScsiStatus;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t CdbLength;
  uint8_t SenseInfoLength;
  uint8_t DataIn;
  uint8_t Reserved[3];  // natural alignment of the next field
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;
  uint32_t DataBuffer;
  uint32_t SenseInfoOffset;
  uint8_t Cdb[16];
};

struct SptdWithSense {
  ScsiPassThroughDirect sptd;
  uint32_t Filler;
  uint8_t SenseBuf[32];
};

// ASPI request block header shared by every SRB.
struct SrbHeader {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
};

struct SrbHaInquiry {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t HA_Count;
  uint8_t HA_SCSI_ID;
  uint8_t HA_ManagerId[16];
  uint8_t HA_Identifier[16];
  uint8_t HA_Unique[16];
  uint16_t HA_Rsvd1;
};

struct SrbGdevBlock {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint8_t SRB_DeviceType;
  uint8_t SRB_Rsvd1;
};

struct SrbExecScsiCmd {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint16_t SRB_Rsvd1;
  uint32_t SRB_BufLen;
  uint32_t SRB_BufPointer;
  uint8_t SRB_SenseLen;
  uint8_t SRB_CDBLen;
  uint8_t SRB_HaStat;
  uint8_t SRB_TargStat;
  uint32_t SRB_PostProc;
  uint8_t SRB_Rsvd2[20];
  uint8_t CDBByte[16];
  uint8_t SenseArea[16];  // SENSE_LEN 14 + 2
};

struct SrbGetSetTimeouts {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint32_t SRB_Timeout;
};

#pragma pack(pop)

static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28);
static_assert(sizeof(SptdWithSense) == 80);
static_assert(offsetof(SptdWithSense, SenseBuf) == 48);
static_assert(sizeof(SrbHaInquiry) == 60);
static_assert(offsetof(SrbHaInquiry, HA_Unique) == 42);
static_assert(sizeof(SrbGdevBlock) == 12);
static_assert(sizeof(SrbExecScsiCmd) == 80);
static_assert(offsetof(SrbExecScsiCmd, CDBByte) == 48);
static_assert(offsetof(SrbExecScsiCmd, SenseArea) == 64);
static_assert(sizeof(SrbGetSetTimeouts) == 14);

// Pass-through constants.
inline constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
inline constexpr uint8_t kScsiIoctlDataOut = 0;
inline constexpr uint8_t kScsiIoctlDataIn = 1;
inline constexpr uint8_t kScsiIoctlDataUnspecified = 2;

// ASPI commands, flags and status values.
inline constexpr uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr uint8_t SC_GETSET_TIMEOUTS = 0x08;

inline constexpr uint8_t SRB_DIR_IN = 0x08;
inline constexpr uint8_t SRB_DIR_OUT = 0x10;
inline constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

inline constexpr uint8_t SS_PENDING = 0x00;
inline constexpr uint8_t SS_COMP = 0x01;
inline constexpr uint8_t SS_ERR = 0x04;
inline constexpr uint8_t SS_INVALID_HA = 0x81;
inline constexpr uint8_t SS_NO_DEVICE = 0x82;
inline constexpr uint8_t SS_NO_ADAPTERS = 0xE8;

inline constexpr uint8_t HASTAT_OK = 0x00;
inline constexpr uint8_t HASTAT_TIMEOUT = 0x09;
inline constexpr uint8_t HASTAT_SEL_TO = 0x11;

inline constexpr uint8_t kAspiSenseLength = 14;
inline constexpr uint8_t kDeviceTypeCdRom = 5;
