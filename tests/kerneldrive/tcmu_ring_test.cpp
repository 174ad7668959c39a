// The command ring as the kernel fills it, laid out in memory: commands
// reach the simulated drive and its answers land in the entries; padding,
// notices and entries that break the ring's rules are dealt with.
#include "kerneldrive/tcmu_ring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "kerneldrive/tcmu_drive.h"
#include "kerneldrive/tcmu_layout.h"
#include "simulator/sim_drive.h"
#include "simulator/sim_scenarios.h"

namespace {

constexpr uint32_t kRingOffset = 128;
constexpr uint32_t kRingSize = 1024;
constexpr uint32_t kDataOffset = kRingOffset + kRingSize;

// A mapping the way the kernel lays it out, with helpers that write entries
// as the kernel does.
class FakeMapping {
 public:
  FakeMapping() : bytes(kDataOffset + 8192, 0) {
    Put<uint16_t>(0, kTcmuLayout.mailboxVersion);  // version comes first
    Put<uint32_t>(kTcmuLayout.cmdrOff, kRingOffset);
    Put<uint32_t>(kTcmuLayout.cmdrSize, kRingSize);
  }

  template <typename T>
  void Put(size_t at, T value) {
    std::memcpy(&bytes[at], &value, sizeof value);
  }
  template <typename T>
  T Get(size_t at) const {
    T value;
    std::memcpy(&value, &bytes[at], sizeof value);
    return value;
  }
  uint32_t Head() const { return Get<uint32_t>(kTcmuLayout.cmdHead); }
  uint32_t Tail() const { return Get<uint32_t>(kTcmuLayout.cmdTail); }
  void SetTail(uint32_t tail) {
    Put<uint32_t>(kTcmuLayout.cmdTail, tail);
    Put<uint32_t>(kTcmuLayout.cmdHead, tail);
  }

  // Appends one entry at the head; returns its offset in the ring.
  uint32_t Entry(uint32_t op, uint32_t length) {
    const uint32_t at = Head();
    Put<uint32_t>(kRingOffset + at, length | op);
    Put<uint32_t>(kTcmuLayout.cmdHead, (at + length) % kRingSize);
    return at;
  }
  // A command with its CDB inside the entry and one buffer per length.
  uint32_t Command(const std::vector<uint8_t>& cdb,
                   const std::vector<std::pair<uint64_t, uint64_t>>& iov) {
    const uint32_t cdbAt =
        static_cast<uint32_t>(kTcmuLayout.entrySize + iov.size() * kTcmuLayout.iovSize);
    const uint32_t length = (cdbAt + 16 + 7) / 8 * 8;
    const uint32_t at = Entry(kTcmuLayout.opCmd, length);
    const size_t entry = kRingOffset + at;
    Put<uint16_t>(entry + kTcmuLayout.cmdId, static_cast<uint16_t>(at));
    Put<uint32_t>(entry + kTcmuLayout.iovCount, static_cast<uint32_t>(iov.size()));
    Put<uint64_t>(entry + kTcmuLayout.cdbOff, entry + cdbAt);
    for (size_t i = 0; i < iov.size(); ++i) {
      const size_t slot = entry + kTcmuLayout.iovArray + i * kTcmuLayout.iovSize;
      Put<uint64_t>(slot, iov[i].first);
      Put<uint64_t>(slot + 8, iov[i].second);
    }
    std::memcpy(&bytes[entry + cdbAt], cdb.data(), cdb.size());
    return at;
  }
  uint8_t Status(uint32_t at) const { return bytes[kRingOffset + at + kTcmuLayout.scsiStatus]; }
  const uint8_t* Sense(uint32_t at) const {
    return &bytes[kRingOffset + at + kTcmuLayout.senseBuffer];
  }

  CTcmuRing Ring() { return CTcmuRing(bytes.data(), bytes.size()); }

  std::vector<uint8_t> bytes;
};

std::shared_ptr<CSimDrive> Drive(SimDriveRole role) {
  SimDriveConfig config = SimDriveConfigFor(role);
  config.commandLatency = std::chrono::milliseconds(0);
  config.sampleLatency = std::chrono::milliseconds(0);
  return std::make_shared<CSimDrive>(config);
}

TEST(TcmuRing, CommandsReachTheDriveAndTheAnswersComeBack) {
  FakeMapping map;
  // INQUIRY for 36 bytes split over two buffers, as the kernel may.
  const uint32_t inquiry =
      map.Command({0x12, 0, 0, 0, 36, 0}, {{kDataOffset, 10}, {kDataOffset + 512, 26}});
  // The vendor "enter" on a drive that knows no vendor command.
  const uint32_t vendor = map.Command({0xFD, 0xF1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {});
  std::memset(&map.bytes[kDataOffset + 4096], 0xEE, 64);  // stale data of an earlier command
  const uint32_t tur = map.Command({0x00, 0, 0, 0, 0, 0}, {});
  const uint32_t sense = map.Command({0x03, 0, 0, 0, 18, 0}, {{kDataOffset + 4096, 64}});

  CTcmuDrive refusing(Drive(SimDriveRole::kRefusing), nullptr, std::chrono::milliseconds(0));
  const TcmuDrainResult result =
      map.Ring().Drain([&](const TcmuCommand& c) { return refusing.Serve(c); });
  EXPECT_EQ(result.commands, 4u);
  EXPECT_FALSE(result.malformed);
  EXPECT_EQ(map.Tail(), map.Head());

  EXPECT_EQ(map.Status(inquiry), 0);
  EXPECT_EQ(map.bytes[kDataOffset] & 0x1F, kSimDeviceTypeOptical);
  // Vendor identity at bytes 8..15: two in the first buffer, six in the second.
  const std::string vendorId =
      std::string(map.bytes.begin() + kDataOffset + 8, map.bytes.begin() + kDataOffset + 10) +
      std::string(map.bytes.begin() + kDataOffset + 512, map.bytes.begin() + kDataOffset + 518);
  EXPECT_EQ(
      vendorId,
      SimDriveConfigFor(SimDriveRole::kRefusing).vendor.substr(0, 8).append(8, ' ').substr(0, 8));

  EXPECT_EQ(map.Status(vendor), 2);
  EXPECT_EQ(map.Sense(vendor)[2] & 0x0F, 0x05);
  EXPECT_EQ(map.Sense(vendor)[12], 0x20);  // invalid command operation code
  EXPECT_EQ(map.Status(tur), 2);           // no disc in the tray
  EXPECT_EQ(map.Sense(tur)[2] & 0x0F, 0x02);
  EXPECT_EQ(map.Sense(tur)[12], 0x3A);
  EXPECT_EQ(map.Status(sense), 0);
  // Beyond what REQUEST SENSE returned the buffer is zeros, not stale bytes.
  EXPECT_EQ(map.bytes[kDataOffset + 4096 + 63], 0);
}

TEST(TcmuRing, PaddingNoticesAndUnknownEntries) {
  FakeMapping map;
  map.SetTail(kRingSize - 64);
  map.Entry(kTcmuLayout.opPad, 64);  // up to the ring's end
  const uint32_t tmr = map.Entry(kTcmuLayout.opTmr, 64);
  const uint32_t strange = map.Entry(5u, 32);
  const uint32_t tur = map.Command({0x00, 0, 0, 0, 0, 0}, {});
  EXPECT_EQ(tmr, 0u);
  int served = 0;
  const TcmuDrainResult result = map.Ring().Drain([&](const TcmuCommand& c) {
    ++served;
    EXPECT_EQ(c.cdbLength, 6);
    EXPECT_EQ(c.dataLength, 0u);
    return TcmuReply{};
  });
  EXPECT_EQ(served, 1);
  EXPECT_EQ(result.commands, 1u);
  EXPECT_EQ(result.taskManagement, 1u);
  EXPECT_EQ(result.skipped, 2u);
  EXPECT_FALSE(result.malformed);
  EXPECT_EQ(map.Tail(), map.Head());
  EXPECT_NE(map.bytes[kRingOffset + strange + kTcmuLayout.uflags] & kTcmuLayout.unknownOpFlag, 0);
  EXPECT_EQ(map.Status(tur), 0);
}

// Commands whose buffers or CDB lie where they must not are refused without
// reaching the drive; the ring goes on.
TEST(TcmuRing, CommandsThatPointOutsideAreRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> cdb;
    std::vector<std::pair<uint64_t, uint64_t>> iov;
    uint8_t asc;
  };
  const uint64_t end = kDataOffset + 8192;
  const std::vector<Case> cases = {
      {"buffer over the ring", {0x12, 0, 0, 0, 36, 0}, {{kRingOffset, 36}}, 0x24},
      {"buffer past the mapping", {0x12, 0, 0, 0, 36, 0}, {{end - 10, 36}}, 0x24},
      {"length that wraps", {0x12, 0, 0, 0, 36, 0}, {{kDataOffset, ~0ull - 4}}, 0x24},
      {"oversized transfer",
       {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},
       {{kDataOffset, kTcmuMaxTransfer + 1}},
       0x24},
      {"variable-length CDB", {0x7F, 0, 0, 0, 0, 0}, {}, 0x20},
  };
  for (const Case& c : cases) {
    FakeMapping map;
    const uint32_t at = map.Command(c.cdb, c.iov);
    int served = 0;
    const TcmuDrainResult result = map.Ring().Drain([&](const TcmuCommand&) {
      ++served;
      return TcmuReply{};
    });
    EXPECT_EQ(served, 0) << c.what;
    EXPECT_EQ(result.commands, 1u) << c.what;
    EXPECT_EQ(map.Status(at), 2) << c.what;
    EXPECT_EQ(map.Sense(at)[12], c.asc) << c.what;
    EXPECT_EQ(map.Tail(), map.Head()) << c.what;
  }
}

TEST(TcmuRing, ARingThatBreaksItsRulesIsLeftAlone) {
  struct Case {
    const char* what;
    void (*spoil)(FakeMapping&);
  };
  const std::vector<Case> cases = {
      {"ring beyond the mapping",
       [](FakeMapping& m) { m.Put<uint32_t>(kTcmuLayout.cmdrSize, 1u << 30); }},
      {"ring over the mailbox", [](FakeMapping& m) { m.Put<uint32_t>(kTcmuLayout.cmdrOff, 0); }},
      {"head outside the ring",
       [](FakeMapping& m) { m.Put<uint32_t>(kTcmuLayout.cmdHead, kRingSize + 8); }},
      {"entry of length zero",
       [](FakeMapping& m) {
         m.Entry(kTcmuLayout.opCmd, 0);
         m.Put<uint32_t>(kTcmuLayout.cmdHead, 64);
       }},
      {"entry past the ring's end",
       [](FakeMapping& m) {
         m.SetTail(kRingSize - 64);
         m.Entry(kTcmuLayout.opCmd, 128);
         m.Put<uint32_t>(kTcmuLayout.cmdHead, 64);
       }},
      {"command entry too short", [](FakeMapping& m) { m.Entry(kTcmuLayout.opCmd, 16); }},
      {"unaligned tail",
       [](FakeMapping& m) {
         m.SetTail(4);
         m.Put<uint32_t>(kTcmuLayout.cmdHead, 64);
       }},
  };
  for (const Case& c : cases) {
    FakeMapping map;
    c.spoil(map);
    int served = 0;
    const TcmuDrainResult result = map.Ring().Drain([&](const TcmuCommand&) {
      ++served;
      return TcmuReply{};
    });
    EXPECT_TRUE(result.malformed) << c.what;
    EXPECT_EQ(served, 0) << c.what;
  }
}

}  // namespace
