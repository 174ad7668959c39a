// Manufacturer names: known prefixes, blanks around IDs, unknown IDs.
#include "records/media_codes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(MediaCodes, KnownIdsNameTheirMakerAndUnknownOnesSaySo) {
  const struct {
    std::string id;
    const char* name;  // nullptr: unknown
  } cases[] = {
      {"YUDEN000", "Taiyo Yuden Co., Ltd."},
      {"MKM     ", "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)"},
      {"MCC 03", "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)"},
      {"RICOHJPN", "Ricoh Company, Ltd."},
      {std::string("\0TDK502", 7), "TDK Corporation"},
      {"TYG03", "Taiyo Yuden Co., Ltd."},
      {"ProdiscF01", "Prodisc Technology Inc."},  // case matters: not PRODISC's entry twice
      {"NOVADISC", nullptr},
      {"  ORBTEK", nullptr},
      {"N/A", nullptr},
      {"", nullptr},
      {"        ", nullptr},
      {"MC", nullptr},  // shorter than any prefix
  };
  for (const auto& c : cases) {
    const auto name = ManufacturerName(c.id);
    if (c.name == nullptr) {
      EXPECT_FALSE(name) << c.id << " -> " << name.value_or("");
      EXPECT_EQ(ManufacturerNameOrUnknown(c.id), "unknown");
    } else {
      EXPECT_EQ(name.value_or("(none)"), c.name) << c.id;
    }
  }
}

TEST(MediaCodes, EveryEntryHasACompanyAndASourceAndPrefixesAreUnique) {
  size_t count = 0;
  const MediaCode* codes = MediaCodes(&count);
  ASSERT_GT(count, 10u);
  std::set<std::string> prefixes;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(prefixes.insert(codes[i].prefix).second) << codes[i].prefix;
    EXPECT_NE(std::string(codes[i].company), "");
    EXPECT_EQ(std::string(codes[i].source).rfind("[", 0), 0u) << codes[i].prefix;
    EXPECT_EQ(ManufacturerName(codes[i].prefix).value_or(""), codes[i].company);
  }
}

}  // namespace
