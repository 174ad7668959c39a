// The texts a failed open is explained with.
#include "links/open_error.h"

#include <gtest/gtest.h>

#include <set>

#include "links/link_platform.h"

namespace {

TEST(OpenErrorMessage, HeadingEmptyLineThenTheReason) {
  EXPECT_EQ(OpenErrorMessage(kOpenFileNotFound),
            "Can't open link:\n\nThe specified file was not found.");
  EXPECT_EQ(OpenErrorMessage(7), "Can't open link:\n\nUnknown Error (7) occurred.");
}

TEST(OpenErrorReason, CodesWithoutTextOfTheirOwn) {
  EXPECT_EQ(OpenErrorReason(1), "Unknown Error (1) occurred.");
  EXPECT_EQ(OpenErrorReason(33), "Unknown Error (33) occurred.");
  EXPECT_EQ(OpenErrorReason(-12), "Unknown Error (-12) occurred.");
  EXPECT_EQ(OpenErrorReason(234), "Unknown Error (234) occurred.");
}

TEST(OpenErrorReason, EveryTableCodeHasItsOwnText) {
  const int codes[] = {0, 2, 3, 5, 8, 11, 26, 27, 28, 29, 30, 31, 32};
  std::set<std::string> seen;
  for (int code : codes) {
    const std::string reason = OpenErrorReason(code);
    EXPECT_EQ(reason.find("Unknown"), std::string::npos) << code;
    EXPECT_TRUE(seen.insert(reason).second) << code << " shares its text";
  }
  // The one text that ends in a blank keeps it.
  EXPECT_EQ(OpenErrorReason(kOpenSharingViolation), "A sharing violation occurred. ");
}

}  // namespace
