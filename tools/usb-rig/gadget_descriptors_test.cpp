#include "tools/usb-rig/gadget_descriptors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    char item[4];
    std::snprintf(item, sizeof item, "%s%02x", text.empty() ? "" : " ", b);
    text += item;
  }
  return text;
}

TEST(GadgetDescriptors, OneVendorInterfaceWithTwoBulkEndpointsAtFullSpeed) {
  EXPECT_EQ(hex(gadgetDescriptors()),
            // magic 3, length 39, full-speed only, 3 descriptors
            "03 00 00 00 27 00 00 00 01 00 00 00 03 00 00 00 "
            // interface 0, 2 endpoints, class ff ff ff, no string
            "09 04 00 00 02 ff ff ff 00 "
            // bulk OUT 0x01 and bulk IN 0x82, 64 bytes
            "07 05 01 02 40 00 00 "
            "07 05 82 02 40 00 00");
}

TEST(GadgetDescriptors, NoStrings) {
  EXPECT_EQ(hex(gadgetStrings()), "02 00 00 00 10 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(GadgetDescriptors, SerialNumberIsTheBluetoothAddress) {
  const std::uint8_t address[6] = {0x00, 0x16, 0x53, 0x0a, 0x0b, 0xfc};
  EXPECT_EQ(gadgetSerialNumber(address), "0016530A0BFC");
}

}  // namespace
