// A stand-in for the libusb functions that transport_usb.cpp calls, linked
// into the tests in place of libusb. It plays a bus of USB devices; each
// NXT on it has a simulated brick (sim_brick.h) behind its bulk endpoints,
// which answers the telegrams written to it. Nothing ever waits: a read with
// nothing to deliver times out at once.
//
// Tests plug and unplug devices, script failures of opening and of single
// transfers, and read back the log of calls and the objects still alive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_brick.h"

struct FakeUsbDeviceSetup {
  std::uint16_t vendorId = 0x0694;  // an NXT running its firmware
  std::uint16_t productId = 0x0002;
  std::uint8_t configurationValue = 1;
  std::uint8_t outEndpoint = 0x01;
  std::uint8_t inEndpoint = 0x82;
  bool inEndpointFirst = false;     // the IN endpoint is listed before OUT
  bool interruptEndpoints = false;  // interrupt IN and OUT endpoints listed first
  bool bulkEndpoints = true;        // false: interface 0 has no bulk endpoints
  // libusb errors (0: none) that these calls answer for this device.
  int openError = 0;
  int configDescriptorError = 0;
  int setConfigurationError = 0;
  int claimError = 0;
  // Replies waiting in the IN endpoint when the device is plugged in.
  std::vector<std::vector<std::uint8_t>> staleReplies;
  SimBrickConfig brick;
};

// What one scripted transfer does instead of its normal work.
enum class FakeFault {
  kNone,
  kTimeout,           // nothing moves; LIBUSB_ERROR_TIMEOUT. A reply stays waiting
  kTimeoutAfterData,  // all bytes move, then LIBUSB_ERROR_TIMEOUT all the same
  kShort,             // write: the last byte does not go out; read: 2 bytes come
  kMalformed,         // read: the reply comes with byte 0 changed to 0x03
  kLate,              // read: times out; the reply comes after the next write
  kStall,             // LIBUSB_ERROR_PIPE until the endpoint's halt is cleared
  kIoError,           // LIBUSB_ERROR_IO; nothing moves, a reply is lost
  kOverflow,          // read: LIBUSB_ERROR_OVERFLOW; the reply is lost
  kUnplug,            // the device leaves the bus: LIBUSB_ERROR_NO_DEVICE
};

// One call into the stand-in, in order.
struct FakeUsbCall {
  std::string function;  // "libusb_open", "libusb_bulk_transfer", ...
  int device = 0;        // the device's id, 0 for calls on no device
  int value = -1;        // endpoint, configuration or interface number
  int length = 0;        // bulk transfers: the length asked for
  unsigned int timeoutMs = 0;
  std::vector<std::uint8_t> data;  // bulk OUT: the bytes offered
  int result = 0;                  // what the call returned
};

// Objects that the code under test has not given back yet.
struct FakeUsbLive {
  int contexts = 0;
  int deviceLists = 0;
  int configDescriptors = 0;
  int openHandles = 0;
  int claimedInterfaces = 0;
  int deviceReferences = 0;  // references taken by lists and handles
};

// Removes every device, fault and log entry. REQUIRES: nothing is open.
void fakeUsbReset();

// Plugs in a device; returns its id (1, 2, ... in plugging order). Devices
// are listed in plugging order.
int fakeUsbPlug(const FakeUsbDeviceSetup& setup = {});

// The device leaves the bus: it is no longer listed, and every call on its
// handles answers LIBUSB_ERROR_NO_DEVICE.
void fakeUsbUnplug(int device);

// The next libusb_init answers `error`.
void fakeUsbFailInit(int error);
// The next libusb_get_device_list answers `error`.
void fakeUsbFailDeviceList(int error);

// The next bulk write to `device` does `fault`.
void fakeUsbFailNextWrite(int device, FakeFault fault);
// The reply to the next telegram that `device`'s brick answers does `fault`
// when it is read (reads made before that telegram are not affected).
void fakeUsbFailNextReply(int device, FakeFault fault);

// The simulated brick behind `device`.
SimBrick& fakeUsbBrick(int device);

const std::vector<FakeUsbCall>& fakeUsbCalls();
// The calls to `function`, in order.
std::vector<FakeUsbCall> fakeUsbCallsTo(const std::string& function);
void fakeUsbClearCalls();

// The bulk transfers on `endpoint` of `device`.
std::vector<FakeUsbCall> fakeUsbTransfers(int device, int endpoint);

FakeUsbLive fakeUsbLive();
