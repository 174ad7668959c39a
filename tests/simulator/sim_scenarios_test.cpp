#include "simulator/sim_scenarios.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "sim_test_util.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_replies.h"

namespace {

const SimOptions kInstant{0, 0, 1};

std::vector<std::shared_ptr<CSimDrive>> Drives(const char* name,
                                               const SimOptions& options = kInstant) {
  const SimScenario* scenario = FindSimScenario(name);
  EXPECT_NE(scenario, nullptr) << name;
  return scenario ? BuildSimDrives(*scenario, options) : std::vector<std::shared_ptr<CSimDrive>>{};
}

// Enters the diagnostic mode and takes samples until one does not come back
// good; returns how many came back good.
int GoodSamplesBeforeFailure(CSimDrive& drive, ScsiExchange* failure, int limit = 50) {
  EXPECT_TRUE(Good(Send(drive, VendorCdb(0xF1)).reply));
  for (int i = 0; i < limit; ++i) {
    const Exchange sample = Send(drive, SampleCdb(13, 0x30000 + 16384u * i), 8);
    if (!Good(sample.reply) || sample.data[0] != 0) {
      *failure = sample.reply;
      return i;
    }
  }
  return limit;
}

TEST(SimScenarioList, DefaultFirstNamesUniqueDiscsKnown) {
  const auto& list = SimScenarios();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front().name, "dvd+r-good");
  std::set<std::string> names;
  for (const SimScenario& scenario : list) {
    EXPECT_TRUE(names.insert(scenario.name).second) << scenario.name;
    EXPECT_FALSE(scenario.description.empty()) << scenario.name;
    if (!scenario.disc.empty()) {
      EXPECT_NE(FindSimDisc(scenario.disc), nullptr) << scenario.name;
    }
  }
  for (const char* required :
       {"dvd+r-marginal", "dvd+r-bad", "dvd-r-good", "dvd+rdl-good", "dvd+rdl-marginal", "dvd+rw",
        "dvd-rw", "cd-r", "dvd-rom", "no-profile", "empty", "old-firmware", "timeout", "drive-gone",
        "eject-mid-scan", "broken-lengths"})
    EXPECT_EQ(names.count(required), 1u) << required;
  EXPECT_EQ(FindSimScenario("no-such-scenario"), nullptr);
}

TEST(SimScenarioDrives, SupportedFirstRefusingSecond) {
  const auto drives = Drives("dvd+r-good");
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_TRUE(Good(Send(*drives[0], VendorCdb(0xF1)).reply));
  EXPECT_TRUE(HasSense(Send(*drives[1], VendorCdb(0xF1)).reply, 5, 0x20, 0));
  EXPECT_TRUE(HasSense(Send(*drives[1], SampleCdb(13, 0x100000), 8).reply, 5, 0x20, 0));
  const Exchange a = Send(*drives[0], {0x12, 0, 0, 0, 36, 0}, 36);
  const Exchange b = Send(*drives[1], {0x12, 0, 0, 0, 36, 0}, 36);
  EXPECT_NE(Text(a.data, 8, 31), Text(b.data, 8, 31));
  for (const auto& drive : drives) {
    EXPECT_TRUE(Good(Send(*drive, kTestUnitReady).reply));
    EXPECT_EQ(Be16(Send(*drive, kGetConfiguration8, 8).data, 6), 0x1B);
  }
  EXPECT_EQ(Drives("unsupported-drive").size(), 1u);
  EXPECT_TRUE(Drives("no-drive").empty());
}

TEST(SimScenarioDrives, DiscArrivesAfterTheInsertDelay) {
  const auto drives = Drives("dvd-r-good", SimOptions{0, 400, 1});
  EXPECT_FALSE(Good(Send(*drives[0], kTestUnitReady).reply));
  for (int i = 0; i < 300 && !drives[0]->DiscReady(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Good(Send(*drives[0], kTestUnitReady).reply));
  EXPECT_TRUE(HasSense(Send(*Drives("empty")[0], kTestUnitReady).reply, 2, 0x3A, 0));
}

TEST(SimScenarioFaults, SampleFaultsStrikeWhereTheyAreNamed) {
  ScsiExchange failure;
  EXPECT_EQ(GoodSamplesBeforeFailure(*Drives("dvd+r-good")[0], &failure), 50);

  EXPECT_EQ(GoodSamplesBeforeFailure(*Drives("old-firmware")[0], &failure), 0);
  EXPECT_EQ(failure.scsiStatus, 2);

  EXPECT_EQ(GoodSamplesBeforeFailure(*Drives("timeout")[0], &failure), 9);
  EXPECT_EQ(failure.outcome, ExchangeOutcome::kTimedOut);

  auto gone = Drives("drive-gone")[0];
  EXPECT_EQ(GoodSamplesBeforeFailure(*gone, &failure), 9);
  EXPECT_EQ(failure.outcome, ExchangeOutcome::kDriveGone);
  EXPECT_EQ(Send(*gone, kTestUnitReady).reply.outcome, ExchangeOutcome::kDriveGone);

  EXPECT_EQ(GoodSamplesBeforeFailure(*Drives("eject-mid-scan")[0], &failure), 9);
  EXPECT_TRUE(HasSense(failure, 2, 0x3A, 0));

  EXPECT_EQ(GoodSamplesBeforeFailure(*Drives("invalid-reading")[0], &failure), 19);
  EXPECT_TRUE(Good(failure));
}

TEST(SimScenarioFaults, BrokenLengthScenarios) {
  const Exchange overclaim = Send(*Drives("broken-lengths")[0], kGetWriteSpeeds, 200);
  EXPECT_GT((Be32(overclaim.data, 0) - 4) / 16, 10u);
  EXPECT_LT(overclaim.reply.transferred, 200u);
  EXPECT_LT(Be32(Send(*Drives("short-header")[0], kGetWriteSpeeds, 200).data, 0), 4u);
  const Exchange cut = Send(*Drives("short-transfer")[0], kGetWriteSpeeds, 200);
  EXPECT_LT(cut.reply.transferred, 8 + 16 * ((Be32(cut.data, 0) - 4) / 16));
  const Exchange ones = Send(*Drives("all-ones")[0], kReadAdip, 300);
  EXPECT_EQ(ones.data, std::vector<uint8_t>(300, 0xFF));
}

// Every DVD write speed a description names ("16X", "2.4X") is one the disc
// offers: a menu entry or a scenario must not promise a speed the list will
// not show. CD multiples are not DVD ones and are left out.
TEST(SimScenarioList, DescriptionsNameOnlySpeedsTheDiscOffers) {
  // The multiples a text names: digits, an optional ".d", then "X" ending a word.
  auto multiples = [](const std::string& text) {
    std::vector<std::string> found;
    for (size_t i = 0; i < text.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i])) ||
          (i > 0 && std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
        continue;
      }
      size_t end = i;
      while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
      if (end + 1 < text.size() && text[end] == '.' &&
          std::isdigit(static_cast<unsigned char>(text[end + 1]))) {
        end += 2;
      }
      const bool wordEnds =
          end + 1 >= text.size() || !std::isalnum(static_cast<unsigned char>(text[end + 1]));
      if (end < text.size() && text[end] == 'X' && wordEnds)
        found.push_back(text.substr(i, end - i));
      i = end;
    }
    return found;
  };
  auto check = [&](const std::string& owner, const std::string& text, const SimDisc& disc) {
    if (disc.profile < kProfileDvdRom) return;
    for (const std::string& multiple : multiples(text)) {
      const double times = std::stod(multiple);
      const uint32_t kBps = times == 2.4 ? 3324u : static_cast<uint32_t>(times * 1385);
      bool offered = false;
      for (const SimWriteSpeed& speed : disc.writeSpeeds) offered |= speed.writeKBps == kBps;
      EXPECT_TRUE(offered) << owner << ": \"" << text << "\" names " << multiple << "X (" << kBps
                           << " kB/s)";
    }
  };
  for (const SimScenario& scenario : SimScenarios()) {
    if (const SimDisc* disc = FindSimDisc(scenario.disc)) {
      check(scenario.name, scenario.description, *disc);
    }
  }
  for (const SimDisc& disc : SimDiscCatalogue()) check(disc.name, disc.description, disc);
}

TEST(SimScenarioFaults, DualLayerShortTransferKeepsItsHeader) {
  const Exchange cut = Send(*Drives("dvd+rdl-short-reply")[0], kGetWriteSpeeds, 200);
  EXPECT_EQ(cut.reply.transferred, 8u + 16 * 2);
  EXPECT_EQ((Be32(cut.data, 0) - 4) / 16, 4u);  // the header still claims all four
}

}  // namespace
