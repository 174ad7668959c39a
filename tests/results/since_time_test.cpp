// "since" as people write it, against a fixed now in a zone with daylight
// saving, so that a midnight is the day's own and not now's offset moved.
#include "results/since_time.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "results/history.h"

namespace {

// The local time zone set for one test, put back after it.
class SinceTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/share/zoneinfo/Europe/Berlin", R_OK) != 0) GTEST_SKIP() << "no tzdata";
    const char* tz = std::getenv("TZ");
    m_hadTz = tz != nullptr;
    if (m_hadTz) m_savedTz = tz;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    if (m_hadTz) {
      setenv("TZ", m_savedTz.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  bool m_hadTz = false;
  std::string m_savedTz;
};

int64_t At(const char* iso) { return ParseIsoTime(iso).value(); }

TEST_F(SinceTimeTest, TodayYesterdayAndDaysBack) {
  // 2026-03-30 10:15 in Berlin (summer time, +02:00); the night before it
  // turned from +01:00 to +02:00.
  const int64_t now = At("2026-03-30T10:15:00+02:00");
  EXPECT_EQ(ParseSinceTime("today", now), At("2026-03-30T00:00:00+02:00"));
  EXPECT_EQ(ParseSinceTime("yesterday", now), At("2026-03-29T00:00:00+01:00"));
  EXPECT_EQ(ParseSinceTime("7d", now), now - 7 * 86400);
  EXPECT_EQ(ParseSinceTime("0d", now), now);
  EXPECT_EQ(ParseSinceTime("365d", now), now - 365 * 86400);
  // Just after midnight, today is still that day.
  const int64_t early = At("2026-12-08T00:00:30+01:00");
  EXPECT_EQ(ParseSinceTime("today", early), At("2026-12-08T00:00:00+01:00"));
  EXPECT_EQ(ParseSinceTime("yesterday", early), At("2026-12-07T00:00:00+01:00"));
}

TEST_F(SinceTimeTest, IsoTimesAsBeforeAndNothingElse) {
  const int64_t now = At("2026-12-08T12:00:00Z");
  EXPECT_EQ(ParseSinceTime("2026-12-01", now), ParseIsoTime("2026-12-01"));
  EXPECT_EQ(ParseSinceTime("2026-12-01T10:00:00+01:00", now), At("2026-12-01T09:00:00Z"));
  for (const char* bad : {"", "d", "7", "-7d", "7 d", "7days", "1234567d", "Today", "tomorrow",
                          "2026-13-01", "x7d"}) {
    EXPECT_FALSE(ParseSinceTime(bad, now)) << bad;
  }
}

}  // namespace
