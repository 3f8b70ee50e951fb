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

TEST(GadgetDescriptors, AnNxtWithItsEndpointNumbersAtFullSpeed) {
  EXPECT_EQ(hex(gadgetDeviceDescriptors()),
            // tag 0; configuration 1 of 32 bytes, self-powered, one interface
            "00 00 00 00 09 02 20 00 01 01 00 c0 00 "
            // interface 0, 2 endpoints, class ff ff ff, no string
            "09 04 00 00 02 ff ff ff 00 "
            // bulk OUT 0x01 and bulk IN 0x82, 64 bytes
            "07 05 01 02 40 00 00 "
            "07 05 82 02 40 00 00 "
            // device: USB 2.0, 0694:0002, strings 1-3, one configuration
            "12 01 00 02 00 00 00 40 94 06 02 00 00 00 01 02 03 01");
  EXPECT_EQ(hex(gadgetEndpointDescriptor(0x82)), "01 00 00 00 07 05 82 02 40 00 00");
}

TEST(GadgetDescriptors, Strings) {
  EXPECT_EQ(hex(gadgetString(0, "0016530A0B0C")), "04 03 09 04");
  EXPECT_EQ(hex(gadgetString(2, "0016530A0B0C")), "08 03 4e 00 58 00 54 00");
  EXPECT_EQ(gadgetString(3, "0016530A0B0C").size(), 2u + 2 * 12);
  EXPECT_TRUE(gadgetString(4, "0016530A0B0C").empty());
}

TEST(GadgetDescriptors, SerialNumberIsTheBluetoothAddress) {
  const std::uint8_t address[6] = {0x00, 0x16, 0x53, 0x0a, 0x0b, 0xfc};
  EXPECT_EQ(gadgetSerialNumber(address), "0016530A0BFC");
}

}  // namespace
