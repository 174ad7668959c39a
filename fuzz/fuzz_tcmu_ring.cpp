// The command ring of velmo-tcmu as the kernel might fill it, or as a broken
// kernel or a stray writer might: the mailbox's head and tail, the entries
// and the data area all come from the input. Every buffer handed out must
// lie inside the mapping's data area, and the drive behind it (the
// simulator, fed whatever CDBs come) must answer without crashing.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "kerneldrive/tcmu_drive.h"
#include "kerneldrive/tcmu_layout.h"
#include "kerneldrive/tcmu_ring.h"
#include "simulator/sim_drive.h"
#include "simulator/sim_scenarios.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  const uint32_t ringSize = (2u + in.Byte()) * 64u;
  const uint32_t ringOffset = 128;
  std::vector<uint8_t> map(ringOffset + ringSize + 4096, 0);
  const TcmuLayout& L = kTcmuLayout;
  auto put32 = [&](size_t at, uint32_t value) { std::memcpy(&map[at], &value, 4); };
  put32(L.cmdrOff, ringOffset);
  put32(L.cmdrSize, ringSize);
  put32(L.cmdHead, in.U32() % (ringSize + 16));
  put32(L.cmdTail, (in.U32() % ringSize) & ~7u);
  // The rest of the input fills the ring and the data area; with bit 0 of
  // the mode it overwrites the mailbox too.
  const size_t from = (mode & 1) ? 0 : ringOffset;
  for (size_t i = from; i < map.size() && !in.Empty(); ++i) map[i] = in.Byte();

  const uint8_t* const lo = map.data() + ringOffset + ringSize;
  const uint8_t* const hi = map.data() + map.size();
  std::shared_ptr<CSimDrive> drive;
  std::unique_ptr<CTcmuDrive> served;
  if (mode & 2) {
    SimDriveConfig config =
        SimDriveConfigFor((mode & 4) ? SimDriveRole::kRefusing : SimDriveRole::kSupported);
    config.commandLatency = std::chrono::milliseconds(0);
    config.sampleLatency = std::chrono::milliseconds(0);
    drive = std::make_shared<CSimDrive>(config);
    served = std::make_unique<CTcmuDrive>(drive, nullptr, std::chrono::milliseconds(0));
  }
  CTcmuRing ring(map.data(), map.size());
  for (int pass = 0; pass < 2; ++pass) {
    const TcmuDrainResult result = ring.Drain([&](const TcmuCommand& command) {
      FUZZ_CHECK(command.cdb != nullptr && command.cdbLength > 0);
      FUZZ_CHECK(command.cdb >= map.data() && command.cdb + command.cdbRoom <= hi);
      FUZZ_CHECK(command.cdbRoom >= command.cdbLength);
      size_t total = 0;
      for (const TcmuBuffer& buffer : command.buffers) {
        FUZZ_CHECK(buffer.data >= lo && buffer.data + buffer.length <= hi);
        total += buffer.length;
      }
      FUZZ_CHECK(total == command.dataLength && total <= kTcmuMaxTransfer);
      if (served) return served->Serve(command);
      std::vector<uint8_t> reply(command.dataLength, 0xA5);
      TcmuScatter(command, reply.data(), reply.size());
      TcmuReply answer = TcmuCheckCondition(kSenseInvalidField);
      answer.senseLength = 255;  // more than the entry holds: must be cut
      return answer;
    });
    FUZZ_CHECK(result.commands + result.skipped + result.taskManagement <= ringSize / 8 + 1);
  }
  return 0;
}
