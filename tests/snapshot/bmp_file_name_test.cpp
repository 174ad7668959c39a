// The Save command's naming rule.
#include "snapshot/bmp_file_name.h"

#include <gtest/gtest.h>

namespace {

TEST(BmpFileNameTest, AppendsUnlessTheLastFourBytesAreLowerCaseDotBmp) {
  const std::pair<const char*, const char*> cases[] = {
      {"TEFE", "TEFE.bmp"},
      {"/home/u/scan.bmp", "/home/u/scan.bmp"},
      {"scan.BMP", "scan.BMP.bmp"},
      {"scan.Bmp", "scan.Bmp.bmp"},
      {"scan.bmpx", "scan.bmpx.bmp"},
      {"scanbmp", "scanbmp.bmp"},
      {".bmp", ".bmp"},
      {"", ".bmp"},
  };
  for (auto [chosen, saved] : cases) EXPECT_EQ(WithBmpExtension(chosen), saved) << chosen;
}

}  // namespace
