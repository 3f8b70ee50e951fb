#include "tools/usb-rig/gadget_descriptors.h"

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

namespace {

void putU8(std::vector<std::uint8_t>& out, std::uint8_t value) { out.push_back(value); }

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xff));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xff));
  }
}

// Overwrites the 32-bit little-endian field at `offset`.
void setLe32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out[offset + static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>((value >> (8 * i)) & 0xff);
  }
}

void putBulkEndpoint(std::vector<std::uint8_t>& out, std::uint8_t address) {
  putU8(out, USB_DT_ENDPOINT_SIZE);
  putU8(out, USB_DT_ENDPOINT);
  putU8(out, address);
  putU8(out, USB_ENDPOINT_XFER_BULK);
  putLe16(out, kNxtPacketSize);
  putU8(out, 0);  // bInterval: unused for bulk at full speed
}

}  // namespace

std::vector<std::uint8_t> gadgetDescriptors() {
  std::vector<std::uint8_t> out;
  putLe32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  putLe32(out, 0);  // total length, set below
  putLe32(out, FUNCTIONFS_HAS_FS_DESC);
  putLe32(out, 3);  // full-speed descriptors: the interface, two endpoints

  putU8(out, USB_DT_INTERFACE_SIZE);
  putU8(out, USB_DT_INTERFACE);
  putU8(out, 0);  // bInterfaceNumber
  putU8(out, 0);  // bAlternateSetting
  putU8(out, 2);  // bNumEndpoints
  putU8(out, USB_CLASS_VENDOR_SPEC);
  putU8(out, USB_SUBCLASS_VENDOR_SPEC);
  putU8(out, 0xff);  // bInterfaceProtocol: vendor
  putU8(out, 0);     // iInterface: no string
  putBulkEndpoint(out, kNxtOutEndpoint);
  putBulkEndpoint(out, kNxtInEndpoint);

  setLe32(out, 4, static_cast<std::uint32_t>(out.size()));
  return out;
}

std::vector<std::uint8_t> gadgetStrings() {
  std::vector<std::uint8_t> out;
  putLe32(out, FUNCTIONFS_STRINGS_MAGIC);
  putLe32(out, 16);  // length of this header, all there is
  putLe32(out, 0);   // str_count
  putLe32(out, 0);   // lang_count
  return out;
}

std::string gadgetSerialNumber(const std::uint8_t bluetoothAddress[6]) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string serial;
  for (int i = 0; i < 6; ++i) {
    serial += kHex[bluetoothAddress[i] >> 4];
    serial += kHex[bluetoothAddress[i] & 0x0f];
  }
  return serial;
}
