#include "tools/usb-rig/gadget_descriptors.h"

#include <linux/usb/ch9.h>

#include "protocol/little_endian.h"

namespace {

void putU8(std::vector<std::uint8_t>& out, std::uint8_t value) { out.push_back(value); }

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  std::uint8_t bytes[2];
  nxt::writeU16(bytes, value);
  out.insert(out.end(), bytes, bytes + sizeof bytes);
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  std::uint8_t bytes[4];
  nxt::writeU32(bytes, value);
  out.insert(out.end(), bytes, bytes + sizeof bytes);
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

std::vector<std::uint8_t> gadgetDeviceDescriptors() {
  std::vector<std::uint8_t> out;
  putLe32(out, 0);  // tag: device configuration

  const std::uint16_t total = USB_DT_CONFIG_SIZE + USB_DT_INTERFACE_SIZE + 2 * USB_DT_ENDPOINT_SIZE;
  putU8(out, USB_DT_CONFIG_SIZE);
  putU8(out, USB_DT_CONFIG);
  putLe16(out, total);
  putU8(out, 1);  // bNumInterfaces
  putU8(out, 1);  // bConfigurationValue
  putU8(out, 0);  // iConfiguration: no string
  putU8(out, USB_CONFIG_ATT_ONE | USB_CONFIG_ATT_SELFPOWER);
  putU8(out, 0);  // bMaxPower

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

  putU8(out, USB_DT_DEVICE_SIZE);
  putU8(out, USB_DT_DEVICE);
  putLe16(out, 0x0200);  // bcdUSB
  putU8(out, 0);         // class, subclass, protocol: by interface
  putU8(out, 0);
  putU8(out, 0);
  putU8(out, kNxtPacketSize);  // bMaxPacketSize0 (the controller's is used)
  putLe16(out, kNxtVendorId);
  putLe16(out, kNxtProductId);
  putLe16(out, 0x0000);  // bcdDevice
  putU8(out, 1);         // iManufacturer
  putU8(out, 2);         // iProduct
  putU8(out, 3);         // iSerialNumber
  putU8(out, 1);         // bNumConfigurations
  return out;
}

std::vector<std::uint8_t> gadgetEndpointDescriptor(std::uint8_t address) {
  std::vector<std::uint8_t> out;
  putLe32(out, 1);  // tag: endpoint configuration
  putBulkEndpoint(out, address);
  return out;
}

std::vector<std::uint8_t> gadgetString(std::uint8_t index, const std::string& serial) {
  std::vector<std::uint8_t> out;
  if (index == 0) {
    putU8(out, 4);
    putU8(out, USB_DT_STRING);
    putLe16(out, 0x0409);  // US English
    return out;
  }
  const char* const texts[] = {"LEGO", "NXT", serial.c_str()};
  if (index > 3) return out;
  const std::string text = texts[index - 1];
  putU8(out, static_cast<std::uint8_t>(2 + 2 * text.size()));
  putU8(out, USB_DT_STRING);
  for (char c : text) putLe16(out, static_cast<std::uint8_t>(c));  // UTF-16LE of ASCII
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
