// Disc identification against a scripted drive: what the window is told to
// show, what the disc globals hold, and which commands were sent.
#include "console/disc_identification.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "commands/disc_globals.h"
#include "device/big_endian.h"
#include "device/device_manager.h"
#include "tests/support/scripted_bus.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ProfileReply(uint16_t profile) {
  return {0, 0, 0, 4, 0, 0, uint8_t(profile >> 8), uint8_t(profile)};
}

struct Descriptor {
  uint32_t endLba;
  uint32_t writeKBps;
};

Bytes PerformanceReply(const std::vector<Descriptor>& descriptors, int claimed = -1) {
  Bytes reply(8 + 16 * descriptors.size(), 0);
  const uint32_t length = claimed >= 0 ? uint32_t(claimed) : uint32_t(4 + 16 * descriptors.size());
  PutBe32(reply.data(), length);
  for (size_t i = 0; i < descriptors.size(); ++i) {
    uint8_t* d = reply.data() + 8 + 16 * i;
    PutBe32(d + 4, descriptors[i].endLba);
    PutBe32(d + 8, 22160);  // read speed: never looked at
    PutBe32(d + 12, descriptors[i].writeKBps);
  }
  return reply;
}

// An ADIP reply (header + 256 bytes) with the given bytes from reply byte 23.
Bytes AdipReply(const std::string& fromByte23) {
  Bytes reply(260, 0);
  PutBe16(reply.data(), 258);
  std::memcpy(reply.data() + 23, fromByte23.data(), fromByte23.size());
  return reply;
}

// A pre-recorded reply (header + 40 bytes) with the given bytes from reply byte 21.
Bytes PrerecordedReply(const std::string& fromByte21) {
  Bytes reply(44, 0);
  PutBe16(reply.data(), 42);
  std::memcpy(reply.data() + 21, fromByte21.data(), fromByte21.size());
  return reply;
}

ScriptedReply Answer(Bytes data) { return {ExchangeOutcome::kDone, 0, 0, 0, 0, std::move(data)}; }
ScriptedReply Refuse() { return {ExchangeOutcome::kCheckCondition, 2, 5, 0x24, 0, {}}; }

class Identification : public ScriptedBusTest {
 protected:
  void LoadPlusR(const std::string& adipFrom23, std::vector<Descriptor> speeds,
                 uint16_t profile = 0x1B) {
    drive.On(0x46, Answer(ProfileReply(profile)));
    drive.On(0xAD, Answer(AdipReply(adipFrom23)));
    drive.On(0xAC, Answer(PerformanceReply(speeds)));
  }
  std::vector<uint8_t> Opcodes() const {
    std::vector<uint8_t> ops;
    for (const auto& c : drive.Commands()) ops.push_back(c.cdb[0]);
    return ops;
  }
};

TEST_F(Identification, ADvdPlusRWithFiveSpeeds) {
  LoadPlusR(
      "  NOVADISK"
      "R16",
      {{2295103, 16620}, {2295103, 11080}, {2295103, 8310}, {2295103, 5540}, {2295103, 3324}});
  const DiscView view = IdentifyDisc(true);

  EXPECT_EQ(view.discType, "DVD+R");
  EXPECT_EQ(view.manufacturerId, "NOVADI");  // starts two bytes in: cut at byte 30
  EXPECT_EQ(view.mediaTypeId, "SKR");
  ASSERT_TRUE(view.speedEntries);
  EXPECT_EQ(*view.speedEntries,
            (std::vector<std::string>{"12X => (16620 Kb/Sec)  ", " 8X => (11080 Kb/Sec)  ",
                                      " 6X => ( 8310 Kb/Sec)  ", " 4X => ( 5540 Kb/Sec)  ",
                                      "2.4X => ( 3324 Kb/Sec)  "}));
  EXPECT_EQ(view.speedCode, kSpeed12X);
  EXPECT_EQ(view.chartLastLba, 2086912);
  EXPECT_EQ(view.capacity, "4076.0 MB");
  EXPECT_TRUE(view.enableRunControls);
  EXPECT_TRUE(view.enableSpeedList);
  EXPECT_EQ(view.status, "Ready.");

  EXPECT_EQ(g_discType, kDiscDvdPlusR);
  EXPECT_STREQ(g_manufacturerId, "NOVADI");
  EXPECT_EQ(g_speedCount, 5);
  EXPECT_EQ(Bytes(g_speedCodes, g_speedCodes + 6), (Bytes{18, 16, 15, 14, 13, 0}));
  EXPECT_EQ(g_lastLba, 2086912);
  EXPECT_EQ(Opcodes(), (Bytes{0x12, 0x46, 0xAD, 0xAC}));
  EXPECT_EQ(drive.Commands()[2].cdb[7], 0x11);  // ADIP for DVD+R
}

TEST_F(Identification, SpeedsNotInTheTableAreSkipped) {
  LoadPlusR("ABCDEFGHXYZ", {{100, 2770}, {200, 5540}, {2295103, 11080}});
  const DiscView view = IdentifyDisc(true);
  ASSERT_TRUE(view.speedEntries);
  EXPECT_EQ(view.speedEntries->size(), 2u);
  EXPECT_EQ(g_speedCount, 2);
  EXPECT_EQ(g_speedCodes[0], kSpeed4X);
  EXPECT_EQ(g_speedCodes[1], kSpeed8X);
  EXPECT_EQ(view.manufacturerId, "ABCDEFGH");
  EXPECT_EQ(view.mediaTypeId, "XYZ");
}

TEST_F(Identification, EndAddressComesFromTheLastDescriptorWhateverItsSpeed) {
  const struct {
    uint32_t endLba;
    int32_t lastLba;
    const char* capacity;
  } cases[] = {{2295103, 2086912, "4076.0 MB"},
               {3145728, 2086912, "4076.0 MB"},
               {3145729, 4173824, "8152.0 MB"},
               {0x80000000u, 2086912, "4076.0 MB"}};  // negative as a signed number
  for (const auto& c : cases) {
    LoadPlusR("ABCDEFGHXYZ", {{5, 5540}, {c.endLba, 2770}}, 0x2B);
    const DiscView view = IdentifyDisc(true);
    EXPECT_EQ(view.chartLastLba, c.lastLba) << c.endLba;
    EXPECT_EQ(view.capacity, c.capacity) << c.endLba;
    EXPECT_EQ(view.discType, "DVD+R DL");
  }
}

TEST_F(Identification, NoTestableSpeedLeavesOnlyNA) {
  LoadPlusR("ABCDEFGHXYZ", {{2295103, 2770}, {2295103, 30000}});
  const DiscView view = IdentifyDisc(true);
  EXPECT_EQ(*view.speedEntries, std::vector<std::string>{"N/A"});
  EXPECT_EQ(view.status, "Not support for this disc.");
  EXPECT_FALSE(view.enableRunControls);
  EXPECT_FALSE(view.chartLastLba);
  EXPECT_EQ(g_speedCount, 0);
}

TEST_F(Identification, UntestableDiscsStopAfterTheProfile) {
  const struct {
    uint16_t profile;
    const char* text;
  } cases[] = {{0x1A, "Not Support."}, {0x13, "Not Support."}, {0x14, "Not Support."},
               {0x08, "Not Support."}, {0x09, "Not Support."}, {0x10, "Not Support."},
               {0x00, "N/A"},          {0x12, "N/A"}};
  for (const auto& c : cases) {
    drive.On(0x46, Answer(ProfileReply(c.profile)));
    const size_t before = drive.Commands().size();
    const DiscView view = IdentifyDisc(true);
    EXPECT_EQ(view.discType, c.text) << c.profile;
    EXPECT_EQ(view.status, "Not support for this disc.");
    EXPECT_FALSE(view.manufacturerId);
    EXPECT_EQ(drive.Commands().size(), before + 1) << "no command after the profile";
  }
  drive.On(0x46, Refuse());
  EXPECT_EQ(IdentifyDisc(true).discType, "N/A");
  EXPECT_EQ(g_discType, kDiscUnknown);
}

TEST_F(Identification, UnreadableStructureShowsTheTypeAndNoIds) {
  drive.On(0x46, Answer(ProfileReply(0x11)));
  drive.On(0xAD, Refuse());
  const DiscView view = IdentifyDisc(true);
  EXPECT_EQ(view.discType, "DVD-R");
  EXPECT_EQ(view.manufacturerId, "N/A");
  EXPECT_EQ(view.mediaTypeId, "N/A");
  EXPECT_EQ(view.status, "Not support for this disc.");
  EXPECT_EQ(drive.Last().cdb[7], 0x0E);  // pre-recorded information for DVD-R
  EXPECT_EQ(drive.Last().dataLength, 44u);
}

TEST_F(Identification, FailedWriteSpeedsResetsTheDiscInfo) {
  LoadPlusR("ABCDEFGHXYZ", {});
  drive.On(0xAC, Refuse());
  g_lastLba = 4173824;
  const DiscView view = IdentifyDisc(true);
  EXPECT_TRUE(view.resetDiscInfo);
  EXPECT_STREQ(g_manufacturerId, "ABCDEFGH");  // the IDs were already taken
  EXPECT_EQ(g_lastLba, 4173824);               // the end address was not
}

TEST_F(Identification, ADvdMinusRReadsItsPrerecordedFields) {
  drive.On(0x46, Answer(ProfileReply(0x11)));
  // Field 3 (bytes 20-27) and field 4 (28-35): ID byte, six data bytes, one spare.
  std::string fields(16, '\0');
  fields.replace(0, 6, " ARCL");   // bytes 21-26
  fields.replace(7, 1, "\x04");    // byte 28: field ID
  fields.replace(8, 6, "01RG20");  // bytes 29-34
  drive.On(0xAD, Answer(PrerecordedReply(fields)));
  drive.On(0xAC, Answer(PerformanceReply({{2295103, 22160}, {2295103, 8310}})));
  const DiscView view = IdentifyDisc(true);
  EXPECT_EQ(view.discType, "DVD-R");
  EXPECT_EQ(view.manufacturerId, "ARCL");
  EXPECT_EQ(view.mediaTypeId, "01RG20");
  EXPECT_EQ(view.speedCode, kSpeed16X);
  EXPECT_EQ(drive.Commands()[2].cdb[7], 0x0E);
}

TEST_F(Identification, WithoutDiagnosticModeTheRunStaysOff) {
  LoadPlusR("ABCDEFGHXYZ", {{2295103, 5540}});
  const DiscView view = IdentifyDisc(false);
  EXPECT_EQ(view.status, "Ready.");
  EXPECT_FALSE(view.enableRunControls);
}

// Where the identification ends, and what it found up to there.
TEST_F(Identification, TheIdentityTellsWhereItEnded) {
  const struct {
    const char* name;
    std::function<void()> load;
    IdentifyEnd end;
    DiscTypeCode type;
    const char* manufacturerId;
    size_t speeds;
    int32_t lastLba;
  } cases[] = {
      {"ready",
       [this] {
         LoadPlusR("ABCDEFGHXYZ", {{2295103, 16620}, {2295103, 3324}});
       },
       IdentifyEnd::kReady, kDiscDvdPlusR, "ABCDEFGH", 2, 2086912},
      {"no profile", [this] { drive.On(0x46, Refuse()); }, IdentifyEnd::kNoDisc, kDiscUnknown, "",
       0, 0},
      {"DVD+RW", [this] { drive.On(0x46, Answer(ProfileReply(0x1A))); }, IdentifyEnd::kNotSupported,
       kDiscDvdPlusRw, "", 0, 0},
      {"no ADIP",
       [this] {
         LoadPlusR("ABCDEFGHXYZ", {{2295103, 5540}});
         drive.On(0xAD, Refuse());
       },
       IdentifyEnd::kNoDiscIds, kDiscDvdPlusR, "", 0, 0},
      {"GET PERFORMANCE refused",
       [this] {
         LoadPlusR("ABCDEFGHXYZ", {});
         drive.On(0xAC, Refuse());
       },
       IdentifyEnd::kNoWriteSpeeds, kDiscDvdPlusR, "ABCDEFGH", 0, 0},
      {"unknown speeds",
       [this] {
         LoadPlusR("ABCDEFGHXYZ", {{2295103, 2770}}, 0x2B);
       },
       IdentifyEnd::kNoKnownSpeed, kDiscDvdPlusRDl, "ABCDEFGH", 0, 0},
  };
  for (const auto& c : cases) {
    ResetDiscGlobals();
    c.load();
    const DiscIdentity identity = ReadDiscIdentity();
    EXPECT_EQ(identity.end, c.end) << c.name;
    EXPECT_EQ(identity.type, c.type) << c.name;
    EXPECT_EQ(identity.manufacturerId, c.manufacturerId) << c.name;
    EXPECT_EQ(identity.speeds.size(), c.speeds) << c.name;
    EXPECT_EQ(identity.lastLba, c.lastLba) << c.name;
  }
  const DiscIdentity ready =
      (LoadPlusR("ABCDEFGHXYZ", {{2295103, 16620}, {2295103, 3324}}), ReadDiscIdentity());
  ASSERT_EQ(ready.speeds.size(), 2u);
  EXPECT_EQ(ready.speeds[0].code, kSpeed12X);
  EXPECT_EQ(ready.speeds[0].kBps, 16620u);
  EXPECT_EQ(ready.speeds[1].code, kSpeed2_4X);
  EXPECT_EQ(ready.speeds[1].kBps, 3324u);
  EXPECT_EQ(ready.mediaTypeId, "XYZ");
}

// Each end as the window shows it: the field texts, byte for byte.
TEST(DiscViewOfIdentity, EachEndHasTheWindowsTexts) {
  DiscIdentity found;
  found.type = kDiscDvdMinusR;
  found.manufacturerId = "ARCL";
  found.mediaTypeId = "01RG20";
  found.speeds = {{kSpeed16X, 22160}, {kSpeed6X, 8310}};
  found.lastLba = 2086912;
  using Entries = std::vector<std::string>;
  const struct {
    IdentifyEnd end;
    bool diagMode;
    std::optional<std::string> discType, manufacturerId, capacity, status;
    std::optional<Entries> speedEntries;
    bool reset, runControls;
  } cases[] = {
      {IdentifyEnd::kReady, true, "DVD-R", "ARCL", "4076.0 MB", "Ready.",
       Entries{"16X => (22160 Kb/Sec)  ", " 6X => ( 8310 Kb/Sec)  "}, false, true},
      {IdentifyEnd::kReady, false, "DVD-R", "ARCL", "4076.0 MB", "Ready.",
       Entries{"16X => (22160 Kb/Sec)  ", " 6X => ( 8310 Kb/Sec)  "}, false, false},
      {IdentifyEnd::kNoDisc, true, "DVD-R", std::nullopt, std::nullopt,
       "Not support for this disc.", std::nullopt, false, false},
      {IdentifyEnd::kNotSupported, true, "DVD-R", std::nullopt, std::nullopt,
       "Not support for this disc.", std::nullopt, false, false},
      {IdentifyEnd::kNoDiscIds, true, "DVD-R", "N/A", std::nullopt, "Not support for this disc.",
       std::nullopt, false, false},
      {IdentifyEnd::kNoKnownSpeed, true, "DVD-R", "ARCL", "N/A", "Not support for this disc.",
       Entries{"N/A"}, false, false},
      {IdentifyEnd::kNoWriteSpeeds, true, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
       std::nullopt, true, false},
  };
  for (const auto& c : cases) {
    DiscIdentity identity = found;
    identity.end = c.end;
    const DiscView view = DiscViewOf(identity, c.diagMode);
    const int end = static_cast<int>(c.end);
    EXPECT_EQ(view.discType, c.discType) << end;
    EXPECT_EQ(view.manufacturerId, c.manufacturerId) << end;
    EXPECT_EQ(view.capacity, c.capacity) << end;
    EXPECT_EQ(view.status, c.status) << end;
    EXPECT_EQ(view.speedEntries, c.speedEntries) << end;
    EXPECT_EQ(view.resetDiscInfo, c.reset) << end;
    EXPECT_EQ(view.enableRunControls, c.runControls) << end;
    EXPECT_EQ(view.chartLastLba.has_value(), c.end == IdentifyEnd::kReady) << end;
  }
  DiscIdentity none;
  none.end = IdentifyEnd::kNoDisc;
  EXPECT_EQ(DiscViewOf(none, true).discType, "N/A");
}

TEST(DiscIdRule, SearchRangesRunEndsAndLimits) {
  uint8_t reply[300] = {};
  auto put = [&](int at, const char* text) { std::memcpy(reply + at, text, std::strlen(text)); };

  put(23, "       Q");  // only byte 30 is a letter: outside the search range
  EXPECT_EQ(ExtractDiscId(reply, 23, 29, 30, 8), "n/a");
  std::memset(reply, 0, sizeof reply);
  put(23, "AB");
  reply[25] = 0;
  put(26, "CD");  // a NUL inside the run ends it
  EXPECT_EQ(ExtractDiscId(reply, 23, 29, 30, 8), "AB");
  std::memset(reply, 0, sizeof reply);
  put(23, "\xff-A B.C");  // blanks and punctuation inside the run are kept
  EXPECT_EQ(ExtractDiscId(reply, 23, 29, 30, 8), "A B.C");
  std::memset(reply, ' ', sizeof reply);
  reply[34] = '7';  // DVD-R media type: only its last byte
  EXPECT_EQ(ExtractDiscId(reply, 29, 34, 34, 6), "7");
  put(21, "MAKERXYZW");
  EXPECT_EQ(ExtractDiscId(reply, 21, 26, 30, 6), "MAKERX");
  reply[31] = 0xE9;  // not a letter in the C locale
  reply[32] = 0xC4;
  reply[33] = ' ';
  EXPECT_EQ(ExtractDiscId(reply, 31, 33, 33, 3), "n/a");
}

TEST_F(Identification, NothingOfThePreviousDiscRemains) {
  LoadPlusR(
      "LONGNAME"
      "M01",
      {{2295103, 5540}});
  IdentifyDisc(true);
  EXPECT_STREQ(g_manufacturerId, "LONGNAME");
  LoadPlusR(
      "  SHORT\0\0"
      "M02",
      {{2295103, 5540}});
  const DiscView view = IdentifyDisc(true);
  EXPECT_EQ(view.manufacturerId, "SHORT");
  EXPECT_STREQ(g_manufacturerId, "SHORT");
}

TEST(WriteSpeedReply, MalformedHeadersNeverReadPastTheData) {
  std::vector<Descriptor> twelve(12, {2295103, 5540});
  Bytes reply = PerformanceReply(twelve);
  reply.resize(200);
  WriteSpeedList list = ParseWriteSpeeds(reply.data(), 200);
  EXPECT_EQ(list.codes.size(), 10u);  // no more than were asked for

  reply = PerformanceReply({{7, 5540}}, 4 + 16 * 50);  // a length that lies
  reply.resize(200);
  list = ParseWriteSpeeds(reply.data(), 200);
  EXPECT_LE(list.codes.size(), 10u);
  EXPECT_EQ(list.codes.size(), 1u);  // the rest of the buffer is zero: no speed
  EXPECT_EQ(list.lastEndLba, 0);     // the tenth descriptor, all zero

  PutBe32(reply.data(), 0xFFFFFFF0);  // would overflow a signed count
  EXPECT_EQ(ParseWriteSpeeds(reply.data(), 200).codes.size(), 1u);

  for (uint32_t length : {0u, 1u, 3u}) {
    reply = PerformanceReply({{7, 5540}}, int(length));
    reply.resize(200);
    list = ParseWriteSpeeds(reply.data(), 200);
    EXPECT_TRUE(list.codes.empty()) << length;
    EXPECT_FALSE(list.hasLastEndLba) << length;
  }

  reply = PerformanceReply({{7, 5540}, {9, 8310}});
  list = ParseWriteSpeeds(reply.data(), 24);  // a buffer that holds one descriptor
  EXPECT_EQ(list.codes.size(), 1u);
  EXPECT_EQ(list.lastEndLba, 7);
}

// A reply whose header claims more than the drive sent: only the descriptors
// actually transferred count, so the end address is the last real one.
TEST_F(Identification, OnlyTransferredDescriptorsCount) {
  const struct {
    std::vector<Descriptor> sent;
    int claimed;
    int32_t lastLba;
    const char* capacity;
    size_t speeds;
  } cases[] = {
      {{{4173823, 11080}, {4173823, 8310}}, 4 + 16 * 4, 4173824, "8152.0 MB", 2},
      {{{4173823, 11080}}, 4 + 16 * 40, 4173824, "8152.0 MB", 1},
      {{{2295103, 16620}, {2295103, 5540}}, 4 + 16 * 9, 2086912, "4076.0 MB", 2},
  };
  for (const auto& c : cases) {
    drive.On(0x46, Answer(ProfileReply(0x2B)));
    drive.On(0xAD, Answer(AdipReply("STRATA  D08")));
    drive.On(0xAC, Answer(PerformanceReply(c.sent, c.claimed)));
    const DiscView view = IdentifyDisc(true);
    EXPECT_EQ(view.chartLastLba, c.lastLba) << c.claimed;
    EXPECT_EQ(view.capacity, c.capacity) << c.claimed;
    EXPECT_EQ(g_lastLba, c.lastLba);
    EXPECT_EQ(g_speedCount, static_cast<int32_t>(c.speeds));
  }
}

}  // namespace

namespace {

// Physical format information of a disc of `layers` whose layer 0 ends at
// PSN endL0 (data area from 0x30000), cut to `keep` bytes.
Bytes PhysicalFormatReply(int layers, uint32_t endL0, size_t keep = 2052) {
  Bytes reply(2052, 0);
  PutBe16(reply.data(), 2050);
  reply[4 + 2] = static_cast<uint8_t>(((layers - 1) << 5) | 0x12);
  PutBe32(reply.data() + 4 + 4, 0x30000);
  PutBe32(reply.data() + 4 + 12, endL0);
  reply.resize(keep);
  return reply;
}

// The disc's own layer break is read for a DL disc only, and whatever the
// drive answers, identification ends as before.
TEST_F(Identification, ADualLayerDiscsOwnLayerBreak) {
  const struct {
    const char* what;
    uint16_t profile;
    std::optional<ScriptedReply> format0;  // none: must not be asked
    std::optional<int32_t> layer0;
  } cases[] = {
      {"DL at the usual break", 0x2B, Answer(PhysicalFormatReply(2, 0x30000 + 2086912 - 1)),
       2086912},
      {"DL ending early", 0x2B, Answer(PhysicalFormatReply(2, 0x30000 + 2084864 - 1)), 2084864},
      {"DL refusing format 0", 0x2B, Refuse(), std::nullopt},
      {"DL reply cut before the end sector", 0x2B,
       Answer(PhysicalFormatReply(2, 0x30000 + 2086912 - 1, 18)), std::nullopt},
      {"DL reply saying one layer", 0x2B, Answer(PhysicalFormatReply(1, 0x30000 + 100)),
       std::nullopt},
      {"DL end before the start", 0x2B, Answer(PhysicalFormatReply(2, 0x2FFFF)), std::nullopt},
      {"single-layer DVD+R", 0x1B, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    drive.On(0x46, Answer(ProfileReply(c.profile)));
    drive.On(0xAC, Answer(PerformanceReply({{4173824, 8310}})));
    int format0Asked = 0;
    drive.OnEach(0xAD, [&](const ScsiExchange& command) {
      if (command.cdb[7] != 0x00) return Answer(AdipReply("STRATA  D08"));
      ++format0Asked;
      return c.format0 ? *c.format0 : Refuse();
    });
    const DiscIdentity identity = ReadDiscIdentity();
    EXPECT_EQ(identity.end, IdentifyEnd::kReady);
    EXPECT_EQ(identity.layer0Sectors, c.layer0);
    EXPECT_EQ(StoredLayer0Sectors(), c.layer0);  // what the window's runs keep
    EXPECT_EQ(format0Asked, c.format0 ? 1 : 0);
  }
}

}  // namespace
