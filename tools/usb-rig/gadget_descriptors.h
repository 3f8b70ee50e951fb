// What the rig's gadget tells the USB host about itself through GadgetFS:
// the device and configuration descriptors written to the controller's
// ep0 file, the endpoint descriptors written to each endpoint's file, and
// the string descriptors it answers on ep0, with the serial number that
// tells bricks apart.
//
// The device is an NXT's: vendor 0x0694, product 0x0002, one configuration
// with one interface, number 0, vendor class 0xFF, and its two bulk
// endpoints of 64 bytes, OUT 0x01 and IN 0x82, full speed only. GadgetFS
// hands these numbers to the host as they are written, and the controller
// endpoints that carry them are named for them (dummy_hcd's "ep1out-bulk"
// and "ep2in-bulk"), so a host sees what it sees on a brick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t kNxtVendorId = 0x0694;
constexpr std::uint16_t kNxtProductId = 0x0002;
constexpr std::uint16_t kNxtPacketSize = 64;
constexpr std::uint8_t kNxtOutEndpoint = 0x01;
constexpr std::uint8_t kNxtInEndpoint = 0x82;

// The controller endpoints (GadgetFS file names) that carry the NXT's.
constexpr const char* kNxtOutEndpointFile = "ep1out-bulk";
constexpr const char* kNxtInEndpointFile = "ep2in-bulk";

// What is written to the ep0 file: tag 0, the full-speed configuration with
// its interface and endpoints, the device descriptor.
std::vector<std::uint8_t> gadgetDeviceDescriptors();

// What is written to an endpoint's file: tag 1, its endpoint descriptor.
std::vector<std::uint8_t> gadgetEndpointDescriptor(std::uint8_t address);

// String descriptor `index`: 0 the languages (US English), 1 "LEGO",
// 2 "NXT", 3 `serial`. Empty for any other index.
std::vector<std::uint8_t> gadgetString(std::uint8_t index, const std::string& serial);

// The USB serial number of a brick: its Bluetooth address as 12 hex digits,
// upper case, in display order ("0016530A0B0C").
std::string gadgetSerialNumber(const std::uint8_t bluetoothAddress[6]);
