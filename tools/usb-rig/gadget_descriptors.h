// What the rig's gadget tells the USB host about itself through FunctionFS:
// the descriptors of one NXT interface and its (empty) string table, in the
// byte layout that FunctionFS reads from ep0, and the serial number string
// that tells bricks apart.
//
// The interface is the NXT's: number 0, vendor class 0xFF, a bulk OUT
// endpoint then a bulk IN endpoint, 64 bytes each, full speed only. The
// endpoint numbers written here (0x01, 0x82, as on a brick) are requests:
// the device controller numbers the endpoints itself, and the host reads
// the real ones from the configuration descriptor. FunctionFS creates the
// endpoint files in the order of the descriptors: ep1 is OUT, ep2 is IN.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t kNxtVendorId = 0x0694;
constexpr std::uint16_t kNxtProductId = 0x0002;
constexpr std::uint16_t kNxtPacketSize = 64;
constexpr std::uint8_t kNxtOutEndpoint = 0x01;
constexpr std::uint8_t kNxtInEndpoint = 0x82;

// The descriptors blob (FunctionFS v2 layout, full-speed descriptors only).
std::vector<std::uint8_t> gadgetDescriptors();

// The strings blob: no strings, no languages (the interface names none).
std::vector<std::uint8_t> gadgetStrings();

// The USB serial number of a brick: its Bluetooth address as 12 hex digits,
// upper case, in display order ("0016530A0B0C").
std::string gadgetSerialNumber(const std::uint8_t bluetoothAddress[6]);
