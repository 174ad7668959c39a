// Sending CDBs to a simulated drive the way the hosts do.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "commands/vendor_code.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_drive.h"

// TEST UNIT READY.
inline const std::vector<uint8_t> kTur = {0, 0, 0, 0, 0, 0};

// A disc of the catalogue by name; a name it lacks fails the test.
inline const SimDisc& Disc(const char* name) {
  const SimDisc* disc = FindSimDisc(name);
  EXPECT_NE(disc, nullptr) << name;
  return *disc;
}

struct Exchange {
  ScsiExchange reply;
  std::vector<uint8_t> data;  // the whole buffer handed to the drive
};

inline Exchange Send(CSimDrive& drive, std::vector<uint8_t> cdb, uint32_t dataLength = 0,
                     uint8_t direction = 2, uint32_t timeoutMs = 15000, uint8_t fill = 0xA5) {
  Exchange exchange;
  exchange.data.assign(dataLength, fill);
  ScsiExchange& command = exchange.reply;
  command.SetCdb(cdb.data(), static_cast<uint8_t>(cdb.size()));
  command.direction = dataLength > 0 ? direction : 0;
  command.data = dataLength > 0 ? exchange.data.data() : nullptr;
  command.dataLength = dataLength;
  command.timeout = std::chrono::milliseconds(timeoutMs);
  drive.Execute(command);
  command.data = nullptr;  // the buffer moves with the returned Exchange
  return exchange;
}

inline bool HasSense(const ScsiExchange& reply, uint8_t key, uint8_t asc, uint8_t ascq) {
  return reply.outcome == ExchangeOutcome::kCheckCondition && reply.scsiStatus == 2 &&
         reply.senseLength == 18 && reply.senseBytes[0] == 0x70 && reply.senseBytes[7] == 10 &&
         (reply.senseBytes[2] & 0x0F) == key && reply.senseBytes[12] == asc &&
         reply.senseBytes[13] == ascq;
}

inline bool Good(const ScsiExchange& reply) {
  return reply.outcome == ExchangeOutcome::kDone && reply.scsiStatus == 0 && reply.senseLength == 0;
}

inline std::vector<uint8_t> VendorCdb(uint8_t subcode, const char* code = kVendorAccessCode) {
  std::vector<uint8_t> cdb(12, 0);
  cdb[0] = 0xFD;
  cdb[1] = subcode;
  for (int i = 0; i < 4; ++i) cdb[2 + i] = static_cast<uint8_t>(code[i]);
  return cdb;
}

inline std::vector<uint8_t> SampleCdb(uint8_t speed, uint32_t psn) {
  std::vector<uint8_t> cdb = VendorCdb(0xFB);
  cdb[6] = 0x05;
  cdb[7] = speed;
  cdb[8] = static_cast<uint8_t>(psn >> 16);
  cdb[9] = static_cast<uint8_t>(psn >> 8);
  cdb[10] = static_cast<uint8_t>(psn);
  return cdb;
}

inline const std::vector<uint8_t> kTestUnitReady{0, 0, 0, 0, 0, 0};
inline const std::vector<uint8_t> kGetConfiguration8{0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0};
inline const std::vector<uint8_t> kGetWriteSpeeds{0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 10, 3, 0};
inline const std::vector<uint8_t> kReadAdip{0xAD, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0x2C, 0, 0};
inline const std::vector<uint8_t> kReadPrerecorded{0xAD, 0, 0, 0, 0, 0, 0, 0x0E, 0, 0x2C, 0, 0};

// A drive with no latency and, when given, a disc present at once.
inline SimDriveConfig InstantConfig() {
  SimDriveConfig config;
  config.sampleLatency = std::chrono::milliseconds(0);
  config.commandLatency = std::chrono::milliseconds(0);
  return config;
}

inline uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
  return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 | d[at + 3];
}
inline uint16_t Be16(const std::vector<uint8_t>& d, size_t at) {
  return static_cast<uint16_t>(d[at] << 8 | d[at + 1]);
}
inline std::string Text(const std::vector<uint8_t>& d, size_t from, size_t to) {
  return std::string(d.begin() + from, d.begin() + to + 1);
}
