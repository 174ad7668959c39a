// Byte positions of the replies, as the program reads them.
#include "simulator/sim_replies.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "sim_test_util.h"
#include "simulator/sim_disc_catalogue.h"

namespace {

Exchange AskDisc(const char* discName, const std::vector<uint8_t>& cdb, uint32_t length) {
  CSimDrive drive(InstantConfig());
  const SimDisc* disc = FindSimDisc(discName);
  EXPECT_NE(disc, nullptr) << discName;
  if (disc != nullptr) drive.InsertDisc(*disc);
  return Send(drive, cdb, length, 2, 15000, 0);
}

bool Alnum(uint8_t byte) { return std::isalnum(byte) != 0; }

bool AnyAlnum(const std::vector<uint8_t>& d, size_t from, size_t to) {
  for (size_t i = from; i <= to; ++i)
    if (Alnum(d[i])) return true;
  return false;
}

TEST(SimInquiry, StandardLayout) {
  CSimDrive drive(InstantConfig());
  const Exchange inquiry = Send(drive, {0x12, 0, 0, 0, 0xFF, 0}, 255);
  ASSERT_TRUE(Good(inquiry.reply));
  const auto& d = inquiry.data;
  EXPECT_EQ(d[0], 0x05);
  EXPECT_EQ(d[1] & 0x80, 0x80);
  EXPECT_EQ(d[3] & 0x0F, 2);
  EXPECT_EQ(d[4] + 5u, inquiry.reply.transferred);
  EXPECT_EQ(Text(d, 8, 35), "VELMO   DVDRW VX-2016   1.02");
}

TEST(SimConfiguration, CurrentProfileOfEachMedium) {
  const std::pair<const char*, uint16_t> cases[] = {
      {"dvd+r-novadisc", 0x1B}, {"dvd+r-dl-strata", 0x2B}, {"dvd-r-magnat", 0x11},
      {"dvd+rw", 0x1A},         {"dvd-rw", 0x14},          {"dvd-rw-restricted", 0x13},
      {"cd-r", 0x09},           {"dvd-rom", 0x10},         {"no-profile", 0x00}};
  for (const auto& [disc, profile] : cases) {
    const Exchange header = AskDisc(disc, kGetConfiguration8, 8);
    ASSERT_TRUE(Good(header.reply)) << disc;
    EXPECT_EQ(header.reply.transferred, 8u);
    EXPECT_EQ(Be16(header.data, 6), profile) << disc;
  }
}

TEST(SimConfiguration, FullReplyListsProfilesWithTheCurrentOneFlagged) {
  const std::vector<uint8_t> reply = ConfigurationReply(0x1B, 0, 0);
  ASSERT_EQ(Be32(reply, 0), reply.size() - 4);
  ASSERT_EQ(Be16(reply, 8), 0x0000);  // profile list first
  const size_t count = reply[11] / 4;
  std::set<uint16_t> current;
  for (size_t i = 0; i < count; ++i)
    if (reply[12 + 4 * i + 2] & 1) current.insert(Be16(reply, 12 + 4 * i));
  EXPECT_EQ(current, std::set<uint16_t>{0x1B});

  const std::vector<uint8_t> one = ConfigurationReply(0x1B, 2, 0x0003);
  ASSERT_EQ(one.size(), 8u + 8);
  EXPECT_EQ(Be16(one, 8), 0x0003);
}

TEST(SimWriteSpeeds, DescriptorsInReplyOrderWithEndLba) {
  const Exchange reply = AskDisc("dvd+r-novadisc", kGetWriteSpeeds, 200);
  ASSERT_TRUE(Good(reply.reply));
  const auto& d = reply.data;
  const uint32_t n = (Be32(d, 0) - 4) / 16;
  ASSERT_EQ(n, 5u);
  EXPECT_EQ(reply.reply.transferred, 8 + 16 * n);
  std::vector<uint32_t> speeds;
  for (uint32_t i = 0; i < n; ++i) speeds.push_back(Be32(d, 8 + 16 * i + 12));
  EXPECT_EQ(speeds, (std::vector<uint32_t>{16620, 11080, 8310, 5540, 3324}));
  EXPECT_EQ(Be32(d, 8 + 16 * (n - 1) + 4), 2295103u);
  EXPECT_GT(Be32(d, 8 + 8), 0u);  // read speed filled in

  const Exchange dual = AskDisc("dvd+r-dl-strata", kGetWriteSpeeds, 200);
  const uint32_t m = (Be32(dual.data, 0) - 4) / 16;
  EXPECT_GT(Be32(dual.data, 8 + 16 * (m - 1) + 4), 3145728u);
}

TEST(SimWriteSpeeds, CatalogueCoversSpeedsOutsideTheTable) {
  const std::set<uint32_t> table{3324, 5540, 8310, 11080, 13850, 16620, 22160};
  const Exchange helix = AskDisc("dvd-r-helix", kGetWriteSpeeds, 200);
  const uint32_t n = (Be32(helix.data, 0) - 4) / 16;
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(table.count(Be32(helix.data, 8 + 12)), 0u);  // 2770 first
  const Exchange odd = AskDisc("dvd+r-odd-speeds", kGetWriteSpeeds, 200);
  for (uint32_t i = 0; i < (Be32(odd.data, 0) - 4) / 16; ++i)
    EXPECT_EQ(table.count(Be32(odd.data, 8 + 16 * i + 12)), 0u);
  const Exchange rom = AskDisc("dvd-rom", kGetWriteSpeeds, 200);
  EXPECT_EQ(Be32(rom.data, 0), 4u);
}

TEST(SimAdip, IdsWhereTheProgramLooks) {
  const Exchange nova = AskDisc("dvd+r-novadisc", kReadAdip, 300);
  ASSERT_TRUE(Good(nova.reply));
  EXPECT_EQ(Be16(nova.data, 0), nova.reply.transferred - 2);
  EXPECT_EQ(Text(nova.data, 23, 30), "NOVADISC");
  EXPECT_EQ(Text(nova.data, 31, 33), "R16");
  EXPECT_FALSE(Alnum(nova.data[22]));

  const Exchange orbtek = AskDisc("dvd+r-orbtek", kReadAdip, 300);
  EXPECT_EQ(Text(orbtek.data, 23, 24), "  ");
  EXPECT_EQ(Text(orbtek.data, 25, 30), "ORBTEK");

  const Exchange kairo = AskDisc("dvd+r-kairo", kReadAdip, 300);
  EXPECT_EQ(Text(kairo.data, 23, 27), "KAIRO");
  EXPECT_EQ(kairo.data[28], 0);

  const Exchange noname = AskDisc("dvd+r-noname", kReadAdip, 300);
  EXPECT_FALSE(AnyAlnum(noname.data, 23, 29));
  EXPECT_TRUE(Alnum(noname.data[30]));
  EXPECT_FALSE(AnyAlnum(noname.data, 31, 33));
}

TEST(SimPrerecorded, IdsWhereTheProgramLooks) {
  const Exchange magnat = AskDisc("dvd-r-magnat", kReadPrerecorded, 44);
  ASSERT_TRUE(Good(magnat.reply));
  EXPECT_EQ(magnat.reply.transferred, 44u);
  EXPECT_EQ(Be16(magnat.data, 0), 42);
  for (uint8_t field = 0; field < 5; ++field) EXPECT_EQ(magnat.data[4 + 8 * field], field + 1);
  EXPECT_EQ(Text(magnat.data, 21, 26), "MAGNAT");
  EXPECT_EQ(Text(magnat.data, 29, 32), "V16A");

  const Exchange helix = AskDisc("dvd-r-helix", kReadPrerecorded, 44);
  EXPECT_FALSE(AnyAlnum(helix.data, 21, 21));
  EXPECT_EQ(Text(helix.data, 22, 26), "HELIX");
  EXPECT_FALSE(AnyAlnum(helix.data, 29, 33));
  EXPECT_TRUE(Alnum(helix.data[34]));
}

TEST(SimCatalogue, NamesUniqueAndStructuresMatchTheMedium) {
  std::set<std::string> names;
  for (const SimDisc& disc : SimDiscCatalogue()) {
    EXPECT_TRUE(names.insert(disc.name).second) << disc.name;
    EXPECT_FALSE(disc.description.empty());
    const bool plus = disc.profile == 0x1B || disc.profile == 0x2B || disc.profile == 0x1A;
    const bool minus = disc.profile == 0x11 || disc.profile == 0x13 || disc.profile == 0x14;
    EXPECT_EQ(disc.adip.size(), plus ? 256u : 0u) << disc.name;
    EXPECT_EQ(disc.prerecorded.size(), minus ? 40u : 0u) << disc.name;
    EXPECT_EQ(disc.layers == 2, disc.profile == 0x2B) << disc.name;
  }
  EXPECT_EQ(FindSimDisc("no-such-disc"), nullptr);
}

}  // namespace

// What other programs read besides Velmo's own commands, disc by disc: the
// last recorded block, the disc's status, track 1's free blocks and size,
// the layers of the physical format, layer 0's capacity on a dual-layer
// disc and the capabilities page's write speeds. Every MMC drive answers
// these; a blank disc has nothing recorded and all its blocks free.
TEST(SimOtherProgramsReplies, EachDiscAsTheStandardCommandsReadIt) {
  struct Row {
    const char* disc;
    uint32_t lastRecordedLba;
    uint8_t discStatus;  // 0 blank, 2 complete
    uint32_t freeBlocks, trackSize;
    uint8_t layers;
    uint8_t bookType;        // and part version
    uint32_t layer0Sectors;  // 0: no layer boundary structure
    std::vector<uint16_t> writeKBps;
  };
  const Row rows[] = {
      {"dvd+r-novadisc", 0, 0, 2295104, 2295104, 1, 0xA1, 0, {16620, 11080, 8310, 5540, 3324}},
      {"dvd-r-magnat", 0, 0, 2295104, 2295104, 1, 0x25, 0, {22160, 16620, 11080, 8310, 5540, 3324}},
      {"dvd+r-dl-strata", 0, 0, 4173824, 4173824, 2, 0xE1, 2086912, {11080, 8310, 5540, 3324}},
      {"dvd+r-one-speed", 0, 0, 2295104, 2295104, 1, 0xA1, 0, {11080}},
      {"dvd-rom", 2295103, 2, 0, 2295104, 1, 0x01, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.disc);
    const Exchange capacity = AskDisc(row.disc, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    ASSERT_TRUE(Good(capacity.reply));
    EXPECT_EQ(Be32(capacity.data, 0), row.lastRecordedLba);
    EXPECT_EQ(Be32(capacity.data, 4), 2048u);

    const Exchange info = AskDisc(row.disc, {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34);
    ASSERT_TRUE(Good(info.reply));
    EXPECT_EQ(Be16(info.data, 0), 32);
    EXPECT_EQ(info.data[2] & 0x03, row.discStatus);

    const Exchange track = AskDisc(row.disc, {0x52, 1, 0, 0, 0, 1, 0, 0, 48, 0}, 48);
    ASSERT_TRUE(Good(track.reply));
    EXPECT_EQ(Be32(track.data, 16), row.freeBlocks);
    EXPECT_EQ(Be32(track.data, 24), row.trackSize);
    EXPECT_EQ((track.data[6] & 0x40) != 0, row.discStatus == 0) << "blank bit";

    const Exchange physical =
        AskDisc(row.disc, {0xAD, 0, 0, 0, 0, 0, 0, 0x00, 0x08, 0x04, 0, 0}, 2052);
    ASSERT_TRUE(Good(physical.reply));
    EXPECT_EQ(((physical.data[6] >> 5) & 0x03) + 1, row.layers);
    EXPECT_EQ(physical.data[4], row.bookType);

    const Exchange boundary = AskDisc(row.disc, {0xAD, 0, 0, 0, 0, 0, 0, 0x20, 0, 12, 0, 0}, 12);
    if (row.layer0Sectors != 0) {
      ASSERT_TRUE(Good(boundary.reply));
      EXPECT_EQ(Be32(boundary.data, 8), row.layer0Sectors);
    } else {
      EXPECT_TRUE(HasSense(boundary.reply, 0x05, 0x24, 0x00));
    }

    const Exchange page = AskDisc(row.disc, {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0}, 256);
    ASSERT_TRUE(Good(page.reply));
    EXPECT_EQ(Be16(page.data, 6), 0) << "no block descriptors";
    EXPECT_EQ(page.data[8] & 0x3F, 0x2A);
    std::vector<uint16_t> speeds;
    for (uint16_t i = 0; i < Be16(page.data, 8 + 30); ++i)
      speeds.push_back(Be16(page.data, 8 + 32 + 4 * i + 2));
    EXPECT_EQ(speeds, row.writeKBps);
  }
}
