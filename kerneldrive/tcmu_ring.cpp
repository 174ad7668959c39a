#include "kerneldrive/tcmu_ring.h"

#include "kerneldrive/tcmu_layout.h"

#include "device/scsi_exchange.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

const TcmuLayout& L = kTcmuLayout;

template <typename T>
T Load(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void Store(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// [offset, offset + length) lies inside a region of size bytes.
bool Inside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

uint8_t TcmuCdbLength(uint8_t operationCode) {
  switch (operationCode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    // The vendor groups: the kernel knows no length for them and passes
    // the first 10 bytes, whatever the initiator sent.
    case 6:
    case 7: return 10;
    default: return 0;  // 3: variable length
  }
}

TcmuReply TcmuCheckCondition(SenseTriple sense) {
  TcmuReply reply;
  reply.scsiStatus = kScsiStatusCheckCondition;
  const auto fixed = FixedSense(sense);
  std::copy(fixed.begin(), fixed.end(), reply.sense.begin());
  reply.senseLength = static_cast<uint8_t>(fixed.size());
  return reply;
}

bool CTcmuRing::Valid() const {
  if (m_map == nullptr || m_size < L.mailboxSize) return false;
  const uint32_t offset = Load<uint32_t>(m_map + L.cmdrOff);
  const uint32_t size = Load<uint32_t>(m_map + L.cmdrSize);
  return offset >= L.mailboxSize && size >= L.entrySize && size % L.alignSize == 0 &&
         Inside(offset, size, m_size);
}

TcmuDrainResult CTcmuRing::Drain(const std::function<TcmuReply(const TcmuCommand&)>& serve) {
  TcmuDrainResult result;
  if (!Valid()) {
    result.malformed = true;
    return result;
  }
  const uint32_t ringOffset = Load<uint32_t>(m_map + L.cmdrOff);
  const uint32_t ringSize = Load<uint32_t>(m_map + L.cmdrSize);
  uint8_t* const ring = m_map + ringOffset;
  // Each full pass of the ring is bounded: a head that never comes round
  // must not keep us here.
  for (size_t steps = 0; steps <= ringSize / L.alignSize; ++steps) {
    const uint32_t head = Load<uint32_t>(m_map + L.cmdHead);
    std::atomic_thread_fence(std::memory_order_acquire);
    const uint32_t tail = Load<uint32_t>(m_map + L.cmdTail);
    if (head >= ringSize || tail >= ringSize || tail % L.alignSize != 0) {
      result.malformed = true;
      return result;
    }
    if (head == tail) return result;
    // Entries never wrap: the kernel pads up to the ring's end instead.
    if (ringSize - tail < L.headerSize) {
      result.malformed = true;
      return result;
    }
    uint8_t* const entry = ring + tail;
    const uint32_t lenOp = Load<uint32_t>(entry);
    const uint32_t length = lenOp & ~L.opMask;
    const uint32_t op = lenOp & L.opMask;
    if (length < L.headerSize || length % L.alignSize != 0 || length > ringSize - tail) {
      result.malformed = true;
      return result;
    }
    if (op == L.opPad) {
      ++result.skipped;
    } else if (op == L.opTmr) {
      // Commands are answered as they come, so there is never one left to
      // abort when the notice is read.
      ++result.taskManagement;
    } else if (op == L.opCmd) {
      if (length < L.entrySize) {
        result.malformed = true;
        return result;
      }
      const uint64_t iovCount = static_cast<uint64_t>(Load<uint32_t>(entry + L.iovCount)) +
                                Load<uint32_t>(entry + L.iovBidiCount) +
                                Load<uint32_t>(entry + L.iovDifCount);
      TcmuCommand command;
      command.id = Load<uint16_t>(entry + L.cmdId);
      TcmuReply reply;
      bool sound = Inside(L.iovArray, iovCount * L.iovSize, length);
      // Only the data buffers proper; the bidirectional and protection
      // ones follow them and no optical drive command uses them.
      const uint64_t dataBuffers = sound ? Load<uint32_t>(entry + L.iovCount) : 0;
      for (uint64_t i = 0; sound && i < dataBuffers; ++i) {
        const uint8_t* iov = entry + L.iovArray + i * L.iovSize;
        const uint64_t base = reinterpret_cast<uint64_t>(Load<void*>(iov));
        const uint64_t bytes = Load<size_t>(iov + sizeof(void*));
        // Buffers live after the ring, never over the mailbox or the ring.
        sound = base >= static_cast<uint64_t>(ringOffset) + ringSize &&
                Inside(base, bytes, m_size) && command.dataLength + bytes <= kTcmuMaxTransfer;
        if (sound && bytes > 0) {
          command.buffers.push_back({m_map + base, static_cast<size_t>(bytes)});
          command.dataLength += static_cast<size_t>(bytes);
        }
      }
      const uint64_t cdbOffset = Load<uint64_t>(entry + L.cdbOff);
      if (sound && Inside(cdbOffset, 1, m_size)) {
        command.cdb = m_map + cdbOffset;
        command.cdbLength = TcmuCdbLength(command.cdb[0]);
        command.cdbRoom = static_cast<size_t>(std::min<uint64_t>(16, m_size - cdbOffset));
        if (command.cdbLength == 0 || !Inside(cdbOffset, command.cdbLength, m_size)) {
          // Variable-length CDBs: no drive of ours has any.
          reply = TcmuCheckCondition(kSenseInvalidOpcode);
          command.cdb = nullptr;
        }
      } else {
        reply = TcmuCheckCondition(kSenseInvalidField);
        command.cdb = nullptr;
      }
      if (command.cdb != nullptr) reply = serve(command);
      entry[L.scsiStatus] = reply.scsiStatus;
      std::memset(entry + L.senseBuffer, 0, L.senseSize);
      std::memcpy(entry + L.senseBuffer, reply.sense.data(),
                  std::min<size_t>(reply.senseLength, L.senseSize));
      ++result.commands;
    } else {
      entry[L.uflags] |= L.unknownOpFlag;
      ++result.skipped;
    }
    std::atomic_thread_fence(std::memory_order_release);
    Store<uint32_t>(m_map + L.cmdTail, (tail + length) % ringSize);
  }
  return result;
}

void TcmuGather(const TcmuCommand& command, uint8_t* out, size_t size) {
  size_t done = 0;
  for (const TcmuBuffer& buffer : command.buffers) {
    if (done >= size) break;
    const size_t bytes = std::min(buffer.length, size - done);
    std::memcpy(out + done, buffer.data, bytes);
    done += bytes;
  }
}

void TcmuScatter(const TcmuCommand& command, const uint8_t* in, size_t size) {
  size_t done = 0;
  for (const TcmuBuffer& buffer : command.buffers) {
    if (done >= size) break;
    const size_t bytes = std::min(buffer.length, size - done);
    std::memcpy(buffer.data, in + done, bytes);
    done += bytes;
  }
}
