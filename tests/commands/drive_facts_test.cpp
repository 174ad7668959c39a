// The drive's own facts: the commands that ask for them, and each fact
// answered, refused and cut short (the others stay as answered).
#include "commands/drive_facts.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "device/big_endian.h"
#include "tests/support/scripted_bus.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes StandardInquiry() {
  Bytes data(96, 0);
  data[0] = 0x05;
  data[4] = 91;
  const std::string text = "VELMO   DVDRW VX-2016   1.022016/05/23          ";
  std::copy(text.begin(), text.end(), data.begin() + 8);
  return data;
}

Bytes SerialPage() {
  Bytes data = {0x05, 0x80, 0x00, 0x0C};
  const std::string serial = "  VX16A0417 ";
  data.insert(data.end(), serial.begin(), serial.end());
  return data;
}

Bytes CapabilitiesPage() {
  Bytes data(8 + 32, 0);
  PutBe16(data.data(), static_cast<uint16_t>(data.size() - 2));
  data[8] = 0x2A;
  data[9] = 30;
  data[8 + 6] = 0x29;  // tray
  PutBe16(data.data() + 8 + 12, 2048);
  return data;
}

Bytes ProfileList() {
  Bytes data = {0,    0,    0,    0, 0,    0,    0x00, 0x2B, 0x00, 0x00, 0x03, 12,
                0x00, 0x2B, 0x01, 0, 0x00, 0x1B, 0x00, 0,    0x00, 0x08, 0x00, 0};
  PutBe32(data.data(), static_cast<uint32_t>(data.size() - 4));
  return data;
}

ScriptedReply Data(Bytes bytes) {
  ScriptedReply reply;
  reply.data = std::move(bytes);
  return reply;
}

ScriptedReply Refused() {
  ScriptedReply reply;
  reply.outcome = ExchangeOutcome::kCheckCondition;
  reply.scsiStatus = kScsiStatusCheckCondition;
  reply.sense = kSenseInvalidField;
  return reply;
}

Bytes Cut(Bytes bytes, size_t keep) {
  bytes.resize(keep);
  return bytes;
}

DriveFacts AllAnswered() {
  DriveFacts facts;
  facts.revision = "1.02";
  facts.firmwareDate = "2016/05/23";
  facts.serial = "VX16A0417";
  facts.loader = static_cast<uint8_t>(LoaderType::kTray);
  facts.bufferKiB = 2048;
  facts.profiles = std::vector<uint16_t>{0x2B, 0x1B, 0x08};
  return facts;
}

class DriveFactsTest : public ScriptedBusTest {
 public:
  // Each command's reply; a test replaces one.
  ScriptedReply standard = Data(StandardInquiry());
  ScriptedReply serial = Data(SerialPage());
  ScriptedReply capabilities = Data(CapabilitiesPage());
  ScriptedReply profiles = Data(ProfileList());

 protected:
  DriveFacts Read() {
    drive.OnEach(0x12, [this](const ScsiExchange& command) {
      return (command.cdb[1] & 1) != 0 ? serial : standard;
    });
    drive.On(0x5A, capabilities);
    drive.On(0x46, profiles);
    return ReadDriveFacts();
  }
};

TEST_F(DriveFactsTest, AsksEachFactWithItsOwnCommand) {
  const size_t before = drive.Commands().size();  // the enumeration's
  Read();
  auto commands = drive.Commands();
  ASSERT_EQ(commands.size(), before + 4);
  commands.erase(commands.begin(), commands.begin() + static_cast<long>(before));
  EXPECT_EQ(commands[0].cdb, (Bytes{0x12, 0, 0, 0, 96, 0}));
  EXPECT_EQ(commands[1].cdb, (Bytes{0x12, 0x01, 0x80, 0, 252, 0}));
  EXPECT_EQ(commands[2].cdb, (Bytes{0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0}));
  EXPECT_EQ(commands[3].cdb, (Bytes{0x46, 0x02, 0, 0, 0, 0, 0, 0x02, 0x00, 0}));
  for (const auto& command : commands) EXPECT_EQ(command.direction, kDirectionIn);
}

TEST_F(DriveFactsTest, EachFactAnsweredRefusedOrCutShort) {
  struct Case {
    const char* what;
    std::function<void(DriveFactsTest&)> change;
    std::function<void(DriveFacts&)> unknown;  // what the change leaves unknown
  };
  const auto noInquiry = [](DriveFacts& f) { f.revision.reset(), f.firmwareDate.reset(); };
  const auto noSerial = [](DriveFacts& f) { f.serial.reset(); };
  const auto noPage = [](DriveFacts& f) { f.loader.reset(), f.bufferKiB.reset(); };
  const auto noProfiles = [](DriveFacts& f) { f.profiles.reset(); };
  const std::vector<Case> cases = {
      {"all answered", [](DriveFactsTest&) {}, [](DriveFacts&) {}},
      {"INQUIRY refused", [](DriveFactsTest& t) { t.standard = Refused(); }, noInquiry},
      {"INQUIRY cut before the revision",
       [](DriveFactsTest& t) { t.standard = Data(Cut(StandardInquiry(), 34)); }, noInquiry},
      {"INQUIRY without the vendor bytes",
       [](DriveFactsTest& t) { t.standard = Data(Cut(StandardInquiry(), 36)); },
       [](DriveFacts& f) { f.firmwareDate.reset(); }},
      {"vendor bytes that are no date",
       [](DriveFactsTest& t) {
         Bytes data = StandardInquiry();
         std::fill(data.begin() + 36, data.begin() + 56, ' ');
         std::copy_n("(c) maker", 9, data.begin() + 36);
         t.standard = Data(data);
       },
       [](DriveFacts& f) { f.firmwareDate.reset(); }},
      {"serial page refused", [](DriveFactsTest& t) { t.serial = Refused(); }, noSerial},
      {"serial page cut short", [](DriveFactsTest& t) { t.serial = Data(Cut(SerialPage(), 9)); },
       noSerial},
      {"serial page of another page code",
       [](DriveFactsTest& t) {
         Bytes data = SerialPage();
         data[1] = 0x83;
         t.serial = Data(data);
       },
       noSerial},
      {"capabilities page refused", [](DriveFactsTest& t) { t.capabilities = Refused(); }, noPage},
      {"capabilities page cut short",
       [](DriveFactsTest& t) { t.capabilities = Data(Cut(CapabilitiesPage(), 20)); }, noPage},
      {"another mode page",
       [](DriveFactsTest& t) {
         Bytes data = CapabilitiesPage();
         data[8] = 0x01;
         t.capabilities = Data(data);
       },
       noPage},
      {"no buffer size given",
       [](DriveFactsTest& t) {
         Bytes data = CapabilitiesPage();
         PutBe16(data.data() + 8 + 12, 0);
         t.capabilities = Data(data);
       },
       [](DriveFacts& f) { f.bufferKiB.reset(); }},
      {"profile list refused", [](DriveFactsTest& t) { t.profiles = Refused(); }, noProfiles},
      {"profile list cut short",
       [](DriveFactsTest& t) { t.profiles = Data(Cut(ProfileList(), 16)); }, noProfiles},
      {"a feature other than the profile list",
       [](DriveFactsTest& t) {
         Bytes data = ProfileList();
         data[9] = 0x01;
         t.profiles = Data(data);
       },
       noProfiles},
      {"every command refused",
       [](DriveFactsTest& t) { t.standard = t.serial = t.capabilities = t.profiles = Refused(); },
       [&](DriveFacts& f) { f = DriveFacts{}; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    standard = Data(StandardInquiry());
    serial = Data(SerialPage());
    capabilities = Data(CapabilitiesPage());
    profiles = Data(ProfileList());
    c.change(*this);
    DriveFacts expected = AllAnswered();
    c.unknown(expected);
    EXPECT_EQ(Read(), expected);
  }
}

}  // namespace
