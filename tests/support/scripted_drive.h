// A scripted device for transport and command tests: answers INQUIRY with a
// fixed identity, records every CDB it receives, and answers the opcodes it
// is told to with a chosen outcome. The simulated host puts it behind a
// volume or an ASPI target.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simulator/sim_host.h"

// The outcome a scripted exchange gets: the drive answered (kDone or
// kCheckCondition, with scsiStatus and, for status 2, fixed-format sense of
// the triple), or it timed out or is gone.
struct ScriptedReply {
  ExchangeOutcome outcome = ExchangeOutcome::kDone;
  uint8_t scsiStatus = 0;
  SenseTriple sense = kSenseNone;  // the key byte goes as scripted, unmasked
  std::vector<uint8_t> data;       // answered up to the length asked for
};

// A TE/FE sample as the drive answers it: status, then TE and FE big-endian.
inline ScriptedReply Reading(uint16_t te, uint16_t fe, uint8_t status = 0) {
  ScriptedReply reply;
  reply.data = {status, uint8_t(te >> 8), uint8_t(te), 0, 0, uint8_t(fe >> 8), uint8_t(fe), 0};
  return reply;
}

class ScriptedDrive {
 public:
  explicit ScriptedDrive(std::string vendorProduct = "TESTVEN TEST DRIVE MODEL",
                         std::string revision = "0.01")
      : m_vendorProduct(std::move(vendorProduct)), m_revision(std::move(revision)) {}

  void On(uint8_t opcode, ScriptedReply reply) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_replies[opcode] = std::move(reply);
  }

  // A reply computed from each command, for the opcode given.
  void OnEach(uint8_t opcode, std::function<ScriptedReply(const ScsiExchange&)> answer) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_computed[opcode] = std::move(answer);
  }

  struct Received {
    std::vector<uint8_t> cdb;  // the bytes sent, cdbLength of them
    uint8_t direction;
    uint32_t dataLength;
    uint32_t timeoutMs;
  };

  std::vector<Received> Commands() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_received;
  }
  Received Last() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_received.back();
  }
  int MaxInFlight() const { return m_maxInFlight.load(); }

  void Execute(ScsiExchange& exchange) {
    const int inFlight = ++m_inFlight;
    int seen = m_maxInFlight.load();
    while (inFlight > seen && !m_maxInFlight.compare_exchange_weak(seen, inFlight)) {
    }
    Answer(exchange);
    --m_inFlight;
  }

  SimDevice Device() {
    return [this](ScsiExchange& exchange) { Execute(exchange); };
  }

 private:
  void Answer(ScsiExchange& command) {
    ScriptedReply script;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_received.push_back(
          {std::vector<uint8_t>(command.cdb.begin(), command.cdb.begin() + command.cdbLength),
           command.direction, command.dataLength, static_cast<uint32_t>(command.timeout.count())});
      auto computed = m_computed.find(command.cdb[0]);
      auto it = m_replies.find(command.cdb[0]);
      if (computed != m_computed.end()) {
        script = computed->second(command);
      } else if (it != m_replies.end()) {
        script = it->second;
      } else if (command.cdb[0] == 0x12) {
        script.data.assign(56, 0);
        script.data[0] = 0x05;
        std::memcpy(script.data.data() + 8, m_vendorProduct.data(),
                    std::min<size_t>(24, m_vendorProduct.size()));
        std::memcpy(script.data.data() + 32, m_revision.data(),
                    std::min<size_t>(4, m_revision.size()));
      }
    }
    command.outcome = script.outcome;
    command.scsiStatus = script.scsiStatus;
    if (script.scsiStatus == kScsiStatusCheckCondition) {
      // Not FixedSense: that masks the key, and decoders must cope with any.
      std::array<uint8_t, kFixedSenseLength> sense{};
      sense[0] = 0x70;
      sense[2] = script.sense.key;
      sense[7] = 10;
      sense[12] = script.sense.asc;
      sense[13] = script.sense.ascq;
      command.SetSense(sense.data(), sense.size());
    }
    if (command.direction == kDirectionIn && command.data != nullptr) {
      const uint32_t n =
          std::min<uint32_t>(command.dataLength, static_cast<uint32_t>(script.data.size()));
      if (n > 0) std::memcpy(command.data, script.data.data(), n);  // data() may be null
      command.transferred = n;
    }
  }

  std::string m_vendorProduct;
  std::string m_revision;
  mutable std::mutex m_lock;
  std::map<uint8_t, ScriptedReply> m_replies;
  std::map<uint8_t, std::function<ScriptedReply(const ScsiExchange&)>> m_computed;
  std::vector<Received> m_received;
  std::atomic<int> m_inFlight{0};
  std::atomic<int> m_maxInFlight{0};
};

// A pass-through host with the given drives on d:, e:, ...
inline SimHostConfig PassThroughConfig(const std::vector<ScriptedDrive*>& drives) {
  SimHostConfig config;
  config.platformId = kPlatformWin32Nt;
  char letter = 'd';
  for (ScriptedDrive* drive : drives) {
    config.volumes.push_back(SimVolume{letter++, kDriveTypeCdRom, 0, drive->Device()});
  }
  return config;
}

// An ASPI host with the given drives on adapter 0, targets 0, 1, ...
inline SimHostConfig AspiConfig(const std::vector<ScriptedDrive*>& drives) {
  SimHostConfig config;
  config.platformId = kPlatformWin32Windows;
  uint8_t target = 0;
  for (ScriptedDrive* drive : drives) {
    config.targets.push_back(SimTarget{0, target++, 5, drive->Device()});
  }
  return config;
}
