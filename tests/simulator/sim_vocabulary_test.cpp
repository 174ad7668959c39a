// The simulated drive and the program share one vocabulary: the drive takes
// each command at exactly the length its group gives (the length the device
// manager sends) and counts it under the class its opcode table names.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/device_manager.h"
#include "device/mmc_vocabulary.h"
#include "sim_test_util.h"
#include "simulator/sim_disc_catalogue.h"

namespace {

struct Known {
  std::vector<uint8_t> cdb;  // at its group length
  SimCommandClass commandClass;
};

std::vector<Known> KnownCommands() {
  return {
      {kTestUnitReady, SimCommandClass::kTestUnitReady},
      {{kOpRequestSense, 0, 0, 0, 18, 0}, SimCommandClass::kRequestSense},
      {{kOpInquiry, 0, 0, 0, 36, 0}, SimCommandClass::kInquiry},
      {kGetConfiguration8, SimCommandClass::kGetConfiguration},
      {kGetWriteSpeeds, SimCommandClass::kGetPerformance},
      {kReadAdip, SimCommandClass::kReadDvdStructure},
      {VendorCdb(kVendorEnterDiagnostic), SimCommandClass::kDiagnosticMode},
      {SampleCdb(13, 0x30000), SimCommandClass::kTefeSample},
      {{kOpPreventAllow, 0, 0, 0, 0, 0}, SimCommandClass::kOther},
      {{kOpStartStopUnit, 0, 0, 0, 0x01, 0}, SimCommandClass::kOther},  // start, no eject
      {{kOpReadCapacity, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SimCommandClass::kOther},
      {{kOpReadDiscInformation, 0, 0, 0, 0, 0, 0, 0, 34, 0}, SimCommandClass::kOther},
      {{kOpReadTrackInformation, 1, 0, 0, 0, 1, 0, 0, 48, 0}, SimCommandClass::kOther},
      {{kOpModeSense10, 0x08, kModePageCapabilities, 0, 0, 0, 0, 0, 64, 0},
       SimCommandClass::kOther},
  };
}

// The vocabulary's list is what the drive's opcode table follows: each code
// in it is sent below.
TEST(SimVocabulary, EveryOperationCodeIsSent) {
  const std::vector<Known> known = KnownCommands();
  for (const uint8_t opcode : kOperationCodes) {
    EXPECT_TRUE(
        std::any_of(known.begin(), known.end(), [&](const Known& k) { return k.cdb[0] == opcode; }))
        << "operation code " << int(opcode);
  }
}

TEST(SimVocabulary, EachCommandAtItsGroupLengthOnly) {
  for (const Known& k : KnownCommands()) {
    SCOPED_TRACE(int(k.cdb[0]));
    const uint8_t length = CdbGroupLength(k.cdb[0]);
    ASSERT_EQ(k.cdb.size(), length);
    EXPECT_EQ(CDeviceManager::CdbLengthFor(k.cdb[0]), length);
    for (const uint8_t other : {6, 10, 12, 16}) {
      CSimDrive drive(InstantConfig());
      drive.InsertDisc(*FindSimDisc("dvd+r-novadisc"));
      Send(drive, VendorCdb(kVendorEnterDiagnostic));
      std::vector<uint8_t> cdb = k.cdb;
      cdb.resize(other, 0);
      const Exchange sent = Send(drive, cdb, 64);
      if (other == length) {
        EXPECT_FALSE(HasSense(sent.reply, 0x05, 0x24, 0x00)) << "length " << int(other);
        EXPECT_FALSE(HasSense(sent.reply, 0x05, 0x20, 0x00)) << "length " << int(other);
      } else {
        EXPECT_TRUE(HasSense(sent.reply, 0x05, 0x24, 0x00)) << "length " << int(other);
      }
    }
  }
}

TEST(SimVocabulary, CountersFollowTheOpcodeTable) {
  CSimDrive drive(InstantConfig());
  drive.InsertDisc(*FindSimDisc("dvd+r-novadisc"));
  Send(drive, VendorCdb(kVendorEnterDiagnostic));
  drive.ClearCommandLog();
  const std::vector<Known> known = KnownCommands();
  for (const Known& k : known) Send(drive, k.cdb, 64);
  Send(drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 64);  // unknown: counted as other
  for (size_t c = 1; c < kSimCommandClassCount; ++c) {
    const auto commandClass = static_cast<SimCommandClass>(c);
    uint32_t expected = commandClass == SimCommandClass::kOther ? 1 : 0;
    for (const Known& k : known) expected += k.commandClass == commandClass ? 1 : 0;
    EXPECT_EQ(drive.CommandCount(commandClass), expected) << "class " << c;
  }
  EXPECT_EQ(drive.CommandCount(SimCommandClass::kAny), known.size() + 1);
  EXPECT_EQ(drive.OpcodeCount(kOpVendor), 2u);
}

}  // namespace
