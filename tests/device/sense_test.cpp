#include "device/sense.h"

#include <gtest/gtest.h>

namespace {

TEST(Sense, DecodesFixedAndDescriptorFormats) {
  uint8_t fixed[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01};
  SenseInfo info = DecodeSense(fixed, sizeof fixed);
  EXPECT_TRUE(info.valid);
  EXPECT_EQ(info.key, 5);
  EXPECT_EQ(info.asc, 0x24);
  EXPECT_EQ(info.ascq, 0x01);
  EXPECT_EQ(FormatSense(info), "5/24/01");

  uint8_t deferred[18] = {0xF1, 0, 0xE2, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
  info = DecodeSense(deferred, sizeof deferred);  // valid bit and flag bits ignored
  EXPECT_EQ(info.key, 2);
  EXPECT_EQ(info.asc, 0x3A);

  uint8_t descriptor[8] = {0x72, 0x06, 0x28, 0x00, 0, 0, 0, 0};
  info = DecodeSense(descriptor, sizeof descriptor);
  EXPECT_TRUE(info.valid);
  EXPECT_EQ(info.key, 6);
  EXPECT_EQ(info.asc, 0x28);
  EXPECT_EQ(info.ascq, 0x00);
}

TEST(Sense, ShortOrUnknownDataIsNotRead) {
  uint8_t shortFixed[3] = {0x70, 0, 0x03};
  SenseInfo info = DecodeSense(shortFixed, sizeof shortFixed);
  EXPECT_TRUE(info.valid);
  EXPECT_EQ(info.key, 3);
  EXPECT_EQ(info.asc, 0);  // not there to be read

  // An additional length that ends before the ASC leaves it unread.
  uint8_t truncated[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0x24, 0x01};
  EXPECT_EQ(DecodeSense(truncated, sizeof truncated).asc, 0);

  uint8_t vendor[18] = {0x7F, 0, 0x05};
  EXPECT_FALSE(DecodeSense(vendor, sizeof vendor).valid);
  EXPECT_FALSE(DecodeSense(nullptr, 18).valid);
  uint8_t shortDescriptor[3] = {0x72, 0x05, 0x24};
  EXPECT_FALSE(DecodeSense(shortDescriptor, sizeof shortDescriptor).valid);
  EXPECT_EQ(FormatSense(SenseInfo{}), "-");
}

}  // namespace
