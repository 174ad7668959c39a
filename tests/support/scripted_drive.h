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

struct ScriptedReply {
  SimTransport transport = SimTransport::kCompleted;
  uint8_t scsiStatus = 0;
  uint8_t senseKey = 0, asc = 0, ascq = 0;
  std::vector<uint8_t> data;  // answered up to the length asked for
};

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
  void OnEach(uint8_t opcode, std::function<ScriptedReply(const SimCommand&)> answer) {
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

  SimReply Execute(const SimCommand& command) {
    const int inFlight = ++m_inFlight;
    int seen = m_maxInFlight.load();
    while (inFlight > seen && !m_maxInFlight.compare_exchange_weak(seen, inFlight)) {
    }
    SimReply reply = Answer(command);
    --m_inFlight;
    return reply;
  }

  SimDevice Device() {
    return [this](const SimCommand& command) { return Execute(command); };
  }

 private:
  SimReply Answer(const SimCommand& command) {
    ScriptedReply script;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_received.push_back({std::vector<uint8_t>(command.cdb, command.cdb + command.cdbLength),
                            command.direction, command.dataLength, command.timeoutMs});
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
    SimReply reply;
    reply.transport = script.transport;
    reply.scsiStatus = script.scsiStatus;
    if (script.scsiStatus == 2) {
      reply.sense[0] = 0x70;
      reply.sense[2] = script.senseKey;
      reply.sense[7] = 10;
      reply.sense[12] = script.asc;
      reply.sense[13] = script.ascq;
      reply.senseLength = 18;
    }
    if (command.direction == 2 && command.data != nullptr) {
      const uint32_t n = std::min<uint32_t>(command.dataLength,
                                            static_cast<uint32_t>(script.data.size()));
      if (n > 0) std::memcpy(command.data, script.data.data(), n);  // data() may be null
      reply.transferred = n;
    }
    return reply;
  }

  std::string m_vendorProduct;
  std::string m_revision;
  mutable std::mutex m_lock;
  std::map<uint8_t, ScriptedReply> m_replies;
  std::map<uint8_t, std::function<ScriptedReply(const SimCommand&)>> m_computed;
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
