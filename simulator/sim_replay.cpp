#include "simulator/sim_replay.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

std::string Key(const uint8_t* cdb, uint8_t length) {
  return std::string(reinterpret_cast<const char*>(cdb), length);
}

// A poll a program repeats as long as it waits; its last answer stands.
bool IsPoll(uint8_t opcode) { return opcode == kOpTestUnitReady || opcode == kOpRequestSense; }

// What a run asks a drive about itself: the long INQUIRY, the unit serial
// number page, the capabilities page, the profile list. Recordings made
// before runs asked hold none of them.
bool AsksDriveFacts(const ScsiExchange& exchange) {
  if (exchange.cdbLength < 6) return false;
  const uint8_t* cdb = exchange.cdb.data();
  switch (cdb[0]) {
    case kOpInquiry: return (cdb[1] & 0x01) != 0 ? cdb[2] == 0x80 : cdb[4] > 0x38;
    case kOpModeSense10: return (cdb[2] & 0x3F) == 0x2A;
    case kOpGetConfiguration: return (cdb[1] & 0x03) == 0x02 && cdb[2] == 0 && cdb[3] == 0;
    default: return false;
  }
}

}  // namespace

CReplayRecording::CReplayRecording(std::vector<TraceEntry> entries, bool recordedLatency,
                                   std::function<void(const std::string&)> notice)
    : m_entries(std::move(entries)),
      m_recordedLatency(recordedLatency),
      m_notice(std::move(notice)) {
  for (size_t i = 0; i < m_entries.size(); ++i) {
    const TraceEntry& entry = m_entries[i];
    m_queues[{entry.drive, Key(entry.cdb.data(), entry.cdbLength)}].entries.push_back(i);
  }
  m_aspi = !m_entries.empty() && m_entries.front().aspi;
}

std::vector<int> CReplayRecording::VolumeDrives() const {
  struct Inquiries {
    int failed = 0;  // before the first good one
    bool good = false;
  };
  std::map<int, Inquiries> drives;
  for (const TraceEntry& entry : m_entries) {
    Inquiries& inquiries = drives[entry.drive];
    if (entry.cdb[0] != kOpInquiry || inquiries.good) continue;
    if (entry.outcome == ExchangeOutcome::kDone && entry.scsiStatus == kScsiStatusGood) {
      inquiries.good = true;
    } else {
      ++inquiries.failed;
    }
  }
  std::vector<int> volumes;
  for (const auto& [drive, inquiries] : drives) {
    for (int i = 0; i < inquiries.failed; ++i) volumes.push_back(drive);
    volumes.push_back(drive);
  }
  return volumes;
}

const TraceEntry* CReplayRecording::Take(int drive, const std::string& key, uint8_t opcode) {
  auto it = m_queues.find({drive, key});
  if (it == m_queues.end()) return nullptr;
  Queue& queue = it->second;
  if (queue.next < queue.entries.size()) return &m_entries[queue.entries[queue.next++]];
  if (IsPoll(opcode)) return &m_entries[queue.entries.back()];
  return nullptr;
}

void CReplayRecording::Answer(int drive, ScsiExchange& exchange) {
  const std::string key = Key(exchange.cdb.data(), exchange.cdbLength);
  const TraceEntry* entry = nullptr;
  bool tell = false;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    entry = Take(drive, key, exchange.cdbLength > 0 ? exchange.cdb[0] : 0xFF);
    if (entry != nullptr && entry->outcome == ExchangeOutcome::kDriveGone) m_gone.insert(drive);
    if (entry == nullptr && m_gone.count(drive) == 0 && !AsksDriveFacts(exchange) &&
        m_told.insert(key).second) {
      m_unanswered.push_back(CdbText(exchange));
      tell = true;
    }
    if (entry == nullptr && m_gone.count(drive) != 0) {
      exchange.outcome = ExchangeOutcome::kDriveGone;
      return;
    }
  }
  if (entry == nullptr) {
    if (tell && m_notice)
      m_notice("the recording has no answer for CDB [" + CdbText(exchange) + "]");
    exchange.transferred = 0;
    exchange.AnswerNotRecorded();
    return;
  }
  if (m_recordedLatency && entry->durationUs > 0) {
    auto wait = std::chrono::microseconds(entry->durationUs);
    if (exchange.timeout.count() > 0)
      wait = std::min<std::chrono::microseconds>(wait, exchange.timeout);
    std::this_thread::sleep_for(wait);
  }
  exchange.outcome = entry->outcome;
  if (entry->outcome == ExchangeOutcome::kTransportError && !entry->aspi)
    exchange.hostError = entry->error;
  exchange.scsiStatus = entry->scsiStatus;
  if (entry->sense.valid) {
    const auto fixed = FixedSense({entry->sense.key, entry->sense.asc, entry->sense.ascq});
    exchange.SetSense(fixed.data(), fixed.size());
  }
  exchange.transferred = std::min(entry->moved, exchange.dataLength);
  if (exchange.direction == kDirectionIn && exchange.data != nullptr) {
    const size_t kept = std::min<size_t>(entry->data.size(), exchange.transferred);
    if (kept > 0) std::memcpy(exchange.data, entry->data.data(), kept);
    std::memset(exchange.data + kept, 0, exchange.transferred - kept);
  }
}

std::vector<std::string> CReplayRecording::Unanswered() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_unanswered;
}
