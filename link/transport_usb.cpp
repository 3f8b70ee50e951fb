// The transport over libusb-1.0: a real NXT on USB.
//
// The brick is vendor 0x0694, product 0x0002. Opening it selects the
// configuration its descriptor names, claims interface 0 and takes the bulk
// OUT and IN endpoints listed in that interface's descriptor (0x01 and 0x82
// on a real brick). One telegram is one bulk transfer, with no length
// prefix; replies are read with a 64-byte buffer, because the firmware sends
// no zero-length packet after a full one and a larger buffer would wait for
// more.
//
// One connection is shared by every handle this process opens on the same
// brick: the interface is claimed once, and released with the device closed
// when the last handle goes. The libusb context lives as long as some
// connection does.
//
// Every transfer has a timeout. After any failed transfer the IN endpoint is
// drained before the next telegram goes out, so that a reply that comes late
// is not taken for the next one. A device that is gone (unplugged, switched
// off) makes every later call on its handles fail at once, and the next open
// searches the bus afresh.
#include <libusb.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

#include "link/transport.h"
#include "link/usb_advice.h"
#include "protocol/nxt_protocol.h"

namespace {

constexpr std::uint16_t kNxtVendorId = 0x0694;
constexpr std::uint16_t kNxtProductId = 0x0002;
constexpr int kNxtInterface = 0;

// The firmware gives up a USB write after 500 ms and answers a direct
// command within a few ms; a second is ample for both ways.
constexpr unsigned int kTransferTimeoutMs = 1000;
// Draining reads whatever is already waiting; nothing more is expected.
constexpr unsigned int kDrainTimeoutMs = 5;
constexpr int kMaxDrainReads = 8;

struct UsbConnection {
  libusb_device* device = nullptr;  // kept alive by the open handle
  libusb_device_handle* handle = nullptr;
  unsigned char outEndpoint = 0;
  unsigned char inEndpoint = 0;
  int handles = 0;            // TransportDevice objects sharing this connection
  bool gone = false;          // the device has left the bus
  bool drainPending = false;  // a transfer failed: drain before the next send
};

struct UsbState {
  libusb_context* context = nullptr;
  UsbConnection* current = nullptr;  // the brick that the next open shares
  int connections = 0;               // live connections, current or gone
};

UsbState& state() {
  static UsbState usb;
  return usb;
}

void tellOperator(const std::string& message) {
  std::cerr << "nxt-bridge: " << message << std::endl;
}

void tellOpenFailure(const std::string& reason) {
  tellOperator("cannot open the NXT brick: " + reason);
}

std::string usbErrorName(int error) { return libusb_error_name(error); }

std::int32_t resultOf(int usbError) {
  switch (usbError) {
    case LIBUSB_SUCCESS:
      return kTransportOk;
    case LIBUSB_ERROR_TIMEOUT:
      return kTransportTimeout;
    case LIBUSB_ERROR_NO_DEVICE:
      return kTransportGone;
    case LIBUSB_ERROR_ACCESS:
      return kTransportAccessDenied;
    case LIBUSB_ERROR_BUSY:
      return kTransportBusy;
    case LIBUSB_ERROR_OVERFLOW:
      return kTransportOverflow;
    default:
      return kTransportIoError;
  }
}

// Why a step of opening failed, in the operator's words.
std::string openFailureReason(const char* step, int usbError) {
  switch (usbError) {
    case LIBUSB_ERROR_ACCESS:
      return std::string("access denied (") + usbAdvice(UsbTrouble::kAccessDenied) + ")";
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return "no driver that libusb can use is bound to it (" + usbErrorName(usbError) +
             "): " + usbAdvice(UsbTrouble::kNoDriver);
    case LIBUSB_ERROR_BUSY:
      return "another program holds it (" + usbErrorName(usbError) + ")";
    case LIBUSB_ERROR_NO_DEVICE:
      return "it went away while being opened (" + usbErrorName(usbError) + ")";
    default:
      return std::string(step) + " failed (" + usbErrorName(usbError) + ")";
  }
}

void releaseContextIfUnused() {
  UsbState& usb = state();
  if (usb.connections > 0 || usb.context == nullptr) return;
  libusb_exit(usb.context);
  usb.context = nullptr;
}

// The device leaves the bus: its handles fail from now on, and the next open
// searches again. Said once to the operator when `tell` (an open that finds
// the held brick gone says what it does instead).
void markGone(UsbConnection& connection, bool tell = true) {
  if (tell && !connection.gone) {
    tellOperator("the NXT brick went away (unplugged or switched off); nxt;open takes it again");
  }
  connection.gone = true;
  connection.drainPending = false;
  if (state().current == &connection) state().current = nullptr;
}

// Reads and drops whatever waits in the IN endpoint. Marks the connection
// gone when the device has left.
void drain(UsbConnection& connection) {
  connection.drainPending = false;
  unsigned char buffer[nxt::kMaxTelegramLength];
  for (int i = 0; i < kMaxDrainReads; ++i) {
    int transferred = 0;
    const int rc = libusb_bulk_transfer(connection.handle, connection.inEndpoint, buffer,
                                        sizeof buffer, &transferred, kDrainTimeoutMs);
    if (rc == LIBUSB_ERROR_NO_DEVICE) {
      markGone(connection);
      return;
    }
    if (rc != LIBUSB_SUCCESS) return;  // empty (timeout) or unreadable: done
  }
}

// Settles a failed transfer on `endpoint` and returns the transport result.
std::int32_t failTransfer(UsbConnection& connection, int usbError, unsigned char endpoint) {
  if (usbError == LIBUSB_ERROR_NO_DEVICE) {
    markGone(connection);
    return kTransportGone;
  }
  if (usbError == LIBUSB_ERROR_PIPE) libusb_clear_halt(connection.handle, endpoint);
  connection.drainPending = true;
  // A transfer that reported success but moved too few bytes is a failure.
  return usbError == LIBUSB_SUCCESS ? kTransportIoError : resultOf(usbError);
}

bool isBrick(libusb_device* device) {
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return false;
  return descriptor.idVendor == kNxtVendorId && descriptor.idProduct == kNxtProductId;
}

bool isListed(libusb_device* const* list, ssize_t count, const libusb_device* device) {
  for (ssize_t i = 0; i < count; ++i) {
    if (list[i] == device) return true;
  }
  return false;
}

// The first bulk OUT and bulk IN endpoints of interface 0 (its first
// alternate setting) in `config`. False when either is missing.
bool findBulkEndpoints(const libusb_config_descriptor& config, unsigned char& out,
                       unsigned char& in) {
  out = 0;
  in = 0;
  for (int i = 0; i < config.bNumInterfaces; ++i) {
    const libusb_interface& interface = config.interface[i];
    if (interface.num_altsetting < 1) continue;
    const libusb_interface_descriptor& setting = interface.altsetting[0];
    if (setting.bInterfaceNumber != kNxtInterface) continue;
    for (int e = 0; e < setting.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
      if ((endpoint.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      const bool isIn =
          (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
      if (isIn && in == 0) in = endpoint.bEndpointAddress;
      if (!isIn && out == 0) out = endpoint.bEndpointAddress;
    }
  }
  return out != 0 && in != 0;
}

// Opens `device`, selects its configuration, claims interface 0 and drains
// the IN endpoint. Null with `result` set and the reason told on failure;
// nothing is left open then.
UsbConnection* openConnection(libusb_device* device, std::int32_t& result) {
  libusb_device_handle* handle = nullptr;
  int rc = libusb_open(device, &handle);
  if (rc != LIBUSB_SUCCESS) {
    result = resultOf(rc);
    tellOpenFailure(openFailureReason("libusb_open", rc));
    return nullptr;
  }
  libusb_config_descriptor* config = nullptr;
  rc = libusb_get_config_descriptor(device, 0, &config);
  if (rc != LIBUSB_SUCCESS) {
    libusb_close(handle);
    result = resultOf(rc);
    tellOpenFailure(openFailureReason("reading its configuration", rc));
    return nullptr;
  }
  const int configurationValue = config->bConfigurationValue;
  unsigned char out = 0;
  unsigned char in = 0;
  const bool haveEndpoints = findBulkEndpoints(*config, out, in);
  libusb_free_config_descriptor(config);
  if (!haveEndpoints) {
    libusb_close(handle);
    result = kTransportIoError;
    tellOpenFailure("its interface 0 has no bulk OUT and IN endpoints");
    return nullptr;
  }
  rc = libusb_set_configuration(handle, configurationValue);
  if (rc == LIBUSB_SUCCESS) rc = libusb_claim_interface(handle, kNxtInterface);
  if (rc != LIBUSB_SUCCESS) {
    libusb_close(handle);
    result = resultOf(rc);
    tellOpenFailure(openFailureReason("claiming interface 0", rc));
    return nullptr;
  }

  auto* connection = new UsbConnection;
  connection->device = device;
  connection->handle = handle;
  connection->outEndpoint = out;
  connection->inEndpoint = in;
  // Replies left over from an earlier run would be taken for ours.
  drain(*connection);
  if (connection->gone) {
    libusb_release_interface(handle, kNxtInterface);
    libusb_close(handle);
    delete connection;
    result = kTransportGone;
    return nullptr;
  }
  result = kTransportOk;
  return connection;
}

// The connection that an open takes, from a fresh device list: the brick
// already held, when it is still on the bus, or else the first brick found.
UsbConnection* connectFirstBrick(libusb_device* const* list, ssize_t count, std::int32_t& result) {
  UsbState& usb = state();
  if (usb.current != nullptr) {
    if (isListed(list, count, usb.current->device)) {
      result = kTransportOk;
      return usb.current;
    }
    markGone(*usb.current, false);
  }
  for (ssize_t i = 0; i < count; ++i) {
    if (!isBrick(list[i])) continue;
    UsbConnection* connection = openConnection(list[i], result);
    if (connection != nullptr) {
      ++usb.connections;
      usb.current = connection;
    }
    return connection;
  }
  result = kTransportNoDevice;
  // A machine with USB lists its root hubs at least: an empty list is no
  // USB at all, not a missing brick.
  tellOpenFailure(count == 0 ? std::string("no USB devices at all, not even a hub (") +
                                   usbAdvice(UsbTrouble::kNoDevices) + ")"
                             : std::string("no NXT found on USB (") +
                                   usbAdvice(UsbTrouble::kNoBrick) + ")");
  return nullptr;
}

}  // namespace

struct TransportDevice {
  UsbConnection* connection = nullptr;
};

TransportDevice* transportOpenFirstBrick(std::int32_t& result) {
  UsbState& usb = state();
  if (usb.context == nullptr) {
    const int rc = libusb_init(&usb.context);
    if (rc != LIBUSB_SUCCESS) {
      usb.context = nullptr;
      result = kTransportIoError;
      tellOpenFailure("no USB: libusb cannot start (" + usbErrorName(rc) + "; " +
                      usbAdvice(UsbTrouble::kCannotStart) + ")");
      return nullptr;
    }
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(usb.context, &list);
  if (count < 0) {
    result = resultOf(static_cast<int>(count));
    tellOpenFailure("cannot list the USB devices (" + usbErrorName(static_cast<int>(count)) + ")");
    releaseContextIfUnused();
    return nullptr;
  }
  UsbConnection* connection = connectFirstBrick(list, count, result);
  // An open handle keeps its device referenced; the list can go.
  libusb_free_device_list(list, 1);
  if (connection == nullptr) {
    releaseContextIfUnused();
    return nullptr;
  }
  ++connection->handles;
  return new TransportDevice{connection};
}

void transportCloseBrick(TransportDevice* device) {
  if (device == nullptr) return;
  UsbState& usb = state();
  UsbConnection* connection = transportDropHandle(device, usb.current);
  if (connection == nullptr) return;
  if (!connection->gone) libusb_release_interface(connection->handle, kNxtInterface);
  libusb_close(connection->handle);
  delete connection;
  --usb.connections;
  releaseContextIfUnused();
}

std::int32_t transportSend(TransportDevice* device, const std::uint8_t* telegram,
                           std::size_t length) {
  if (device == nullptr) return kTransportIoError;
  if (length == 0 || length > nxt::kMaxTelegramLength) return kTransportIoError;
  UsbConnection& connection = *device->connection;
  if (connection.gone) return kTransportGone;
  if (connection.drainPending) drain(connection);
  if (connection.gone) return kTransportGone;

  unsigned char buffer[nxt::kMaxTelegramLength];
  std::memcpy(buffer, telegram, length);
  const int wanted = static_cast<int>(length);
  int transferred = 0;
  const int rc = libusb_bulk_transfer(connection.handle, connection.outEndpoint, buffer, wanted,
                                      &transferred, kTransferTimeoutMs);
  // Every byte went out, even if the transfer then timed out: it was sent.
  if (transferred == wanted && (rc == LIBUSB_SUCCESS || rc == LIBUSB_ERROR_TIMEOUT)) {
    return kTransportOk;
  }
  return failTransfer(connection, rc, connection.outEndpoint);
}

TransportClock::duration transportReplyTimeout() {
  return std::chrono::milliseconds(kTransferTimeoutMs);
}

std::int32_t transportReceive(TransportDevice* device, std::uint8_t* buffer, std::size_t capacity,
                              std::size_t& received, TransportClock::time_point deadline) {
  received = 0;
  if (device == nullptr || capacity == 0) return kTransportIoError;
  UsbConnection& connection = *device->connection;
  if (connection.gone) return kTransportGone;

  // Never ask for more than one telegram: a larger read can wait for more.
  const int wanted =
      static_cast<int>(capacity < nxt::kMaxTelegramLength ? capacity : nxt::kMaxTelegramLength);
  // libusb takes 0 for no limit: at least 1 ms is asked for.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TransportClock::now());
  const unsigned int timeoutMs = static_cast<unsigned int>(std::max<long long>(left.count(), 1));
  int transferred = 0;
  const int rc = libusb_bulk_transfer(connection.handle, connection.inEndpoint, buffer, wanted,
                                      &transferred, timeoutMs);
  // Bytes that came before a timeout are a whole reply: a device with
  // packets smaller than the reply sends no zero-length packet to end it.
  if (transferred > 0 && (rc == LIBUSB_SUCCESS || rc == LIBUSB_ERROR_TIMEOUT)) {
    received = static_cast<std::size_t>(transferred);
    return kTransportOk;
  }
  return failTransfer(connection, rc, connection.inEndpoint);
}
