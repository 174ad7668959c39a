#include "kerneldrive/tcmu_drive.h"

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "simulator/sim_drive.h"

bool TcmuDataOut(uint8_t operationCode) {
  switch (operationCode) {
    case 0x04:  // FORMAT UNIT
    case 0x0A:  // WRITE(6)
    case 0x15:  // MODE SELECT(6)
    case 0x2A:  // WRITE(10)
    case 0x2E:  // WRITE AND VERIFY(10)
    case 0x3B:  // WRITE BUFFER
    case 0x55:  // MODE SELECT(10)
    case 0x5D:  // SEND CUE SHEET
    case 0xA3:  // SEND KEY
    case 0xAA:  // WRITE(12)
    case 0xB6:  // SET STREAMING
    case 0xBF:  // SEND DVD STRUCTURE
      return true;
    default: return false;
  }
}

CTcmuDrive::CTcmuDrive(std::shared_ptr<CSimDrive> drive, std::FILE* log,
                       std::chrono::milliseconds hold)
    : m_drive(std::move(drive)), m_log(log), m_hold(hold) {}

TcmuReply CTcmuDrive::Serve(const TcmuCommand& command) {
  const auto started = std::chrono::steady_clock::now();
  const bool out = command.dataLength > 0 && TcmuDataOut(command.cdb[0]);
  std::vector<uint8_t> data(command.dataLength, 0);
  if (out) TcmuGather(command, data.data(), data.size());

  // Vendor commands of our drives are 12 bytes, but the kernel forwards
  // only the 10 it can size from the operation code: the rest reads as 0.
  std::array<uint8_t, 16> cdb{};
  std::copy_n(command.cdb, std::min<size_t>(command.cdbLength, cdb.size()), cdb.begin());
  const bool vendor = command.cdb[0] >= 0xC0;
  ScsiExchange sim;
  const auto sent = static_cast<uint8_t>(std::min<size_t>(command.cdbLength, cdb.size()));
  sim.SetCdb(cdb.data(), vendor ? 12 : sent);
  sim.direction = command.dataLength == 0 ? kDirectionNone : out ? kDirectionOut : kDirectionIn;
  sim.data = data.data();
  sim.dataLength = static_cast<uint32_t>(command.dataLength);
  sim.timeout = std::chrono::milliseconds(0);  // the kernel keeps the time, not the drive
  m_drive->Execute(sim);
  const ScsiExchange& result = sim;

  TcmuReply reply;
  const char* outcome = "done";
  switch (result.outcome) {
    case ExchangeOutcome::kDone:
    case ExchangeOutcome::kCheckCondition:
    case ExchangeOutcome::kTransportError:
      reply.scsiStatus = result.scsiStatus;
      reply.senseLength = std::min<uint8_t>(result.senseLength, reply.sense.size());
      std::copy_n(result.senseBytes.begin(), reply.senseLength, reply.sense.begin());
      // The whole buffer goes back: what the drive did not fill is zeros,
      // never the data of an earlier command.
      if (sim.direction == kDirectionIn) TcmuScatter(command, data.data(), data.size());
      break;
    case ExchangeOutcome::kTimedOut:
      outcome = "held";
      std::this_thread::sleep_until(started + m_hold);
      reply = TcmuCheckCondition(kSenseAbortedCommand);  // aborted command, if anyone still asks
      break;
    case ExchangeOutcome::kDriveGone:
      outcome = "gone";
      reply = TcmuCheckCondition(kSenseLunNotSupported);  // logical unit not supported
      break;
  }
  if (m_log != nullptr) {
    for (uint8_t i = 0; i < command.cdbLength; ++i) {
      std::fprintf(m_log, "%s%02X", i == 0 ? "" : " ", command.cdb[i]);
    }
    // For a vendor command, the ring bytes past what the kernel copied:
    // what the drive would read as bytes 10 and 11.
    if (vendor && command.cdbRoom >= 12) {
      std::fprintf(m_log, " ring=[%02X %02X]", command.cdb[10], command.cdb[11]);
    }
    std::fprintf(m_log, " len=%zu status=%u %s\n", command.dataLength, reply.scsiStatus, outcome);
    std::fflush(m_log);
  }
  return reply;
}
