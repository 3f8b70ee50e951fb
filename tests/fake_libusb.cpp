#include "fake_libusb.h"

#include <libusb.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

namespace {

// A reply waiting in a device's IN endpoint, and what reading it does.
struct PendingReply {
  std::vector<std::uint8_t> bytes;
  FakeFault fault = FakeFault::kNone;
};

}  // namespace

struct libusb_context {
  int unused = 0;
};

struct libusb_device {
  int id = 0;
  FakeUsbDeviceSetup setup;
  SimBrick brick;
  bool plugged = true;
  int references = 0;
  std::deque<PendingReply> in;     // waiting in the IN endpoint
  std::vector<PendingReply> late;  // arrives with the next write
  FakeFault nextWrite = FakeFault::kNone;
  FakeFault nextReply = FakeFault::kNone;
  bool outHalted = false;
  bool inHalted = false;
};

struct libusb_device_handle {
  libusb_device* device = nullptr;
  bool claimed = false;
};

namespace {

// The configuration descriptor handed out, in one allocation.
struct FakeConfig {
  libusb_config_descriptor config{};
  libusb_interface interface {};
  libusb_interface_descriptor setting{};
  libusb_endpoint_descriptor endpoints[4]{};
};

struct FakeBus {
  std::vector<std::unique_ptr<libusb_device>> devices;         // ever plugged, by id
  std::vector<std::unique_ptr<libusb_device_handle>> handles;  // open
  std::vector<FakeUsbCall> calls;
  int initError = 0;
  int listError = 0;
  int contexts = 0;
  int deviceLists = 0;
  int configDescriptors = 0;
};

FakeBus& bus() {
  static FakeBus fake;
  return fake;
}

FakeUsbCall makeCall(const char* function, int device = 0, int value = -1, int length = 0,
                     unsigned int timeoutMs = 0) {
  FakeUsbCall call;
  call.function = function;
  call.device = device;
  call.value = value;
  call.length = length;
  call.timeoutMs = timeoutMs;
  return call;
}

int record(FakeUsbCall call) {
  bus().calls.push_back(call);
  return call.result;
}

int idOf(const libusb_device* device) { return device != nullptr ? device->id : 0; }

libusb_device& deviceById(int id) { return *bus().devices.at(static_cast<std::size_t>(id - 1)); }

void unplug(libusb_device& device) {
  device.plugged = false;
  device.in.clear();
  device.late.clear();
}

bool claimedByAnotherHandle(const libusb_device_handle* handle) {
  for (const auto& other : bus().handles) {
    if (other.get() != handle && other->device == handle->device && other->claimed) return true;
  }
  return false;
}

// The brick receives `length` bytes as one telegram; its reply, if any,
// waits in the IN endpoint.
void deliver(libusb_device& device, const unsigned char* data, int length) {
  SimReply reply;
  if (!simBrickReceive(device.brick, data, static_cast<std::size_t>(length), SimClock::now(),
                       reply)) {
    return;
  }
  PendingReply pending;
  pending.bytes.assign(reply.bytes, reply.bytes + reply.length);
  pending.fault = device.nextReply;
  device.nextReply = FakeFault::kNone;
  device.in.push_back(pending);
}

int writeOut(libusb_device& device, unsigned char* data, int length, int& actual) {
  // Replies that came late arrive now, ahead of this telegram's own.
  for (PendingReply& reply : device.late) device.in.push_back(reply);
  device.late.clear();
  if (device.outHalted) return LIBUSB_ERROR_PIPE;
  const FakeFault fault = device.nextWrite;
  device.nextWrite = FakeFault::kNone;
  switch (fault) {
    case FakeFault::kTimeout:
      return LIBUSB_ERROR_TIMEOUT;
    case FakeFault::kIoError:
      return LIBUSB_ERROR_IO;
    case FakeFault::kStall:
      device.outHalted = true;
      return LIBUSB_ERROR_PIPE;
    case FakeFault::kUnplug:
      unplug(device);
      return LIBUSB_ERROR_NO_DEVICE;
    case FakeFault::kShort:
      deliver(device, data, length - 1);
      actual = length - 1;
      return LIBUSB_SUCCESS;
    case FakeFault::kTimeoutAfterData:
      deliver(device, data, length);
      actual = length;
      return LIBUSB_ERROR_TIMEOUT;
    default:
      deliver(device, data, length);
      actual = length;
      return LIBUSB_SUCCESS;
  }
}

int copyReply(const std::vector<std::uint8_t>& bytes, unsigned char* data, int length,
              int& actual) {
  if (static_cast<int>(bytes.size()) > length) return LIBUSB_ERROR_OVERFLOW;
  std::memcpy(data, bytes.data(), bytes.size());
  actual = static_cast<int>(bytes.size());
  return LIBUSB_SUCCESS;
}

int readIn(libusb_device& device, unsigned char* data, int length, int& actual) {
  if (device.inHalted) return LIBUSB_ERROR_PIPE;
  if (device.in.empty()) return LIBUSB_ERROR_TIMEOUT;  // at once: nothing is coming
  PendingReply reply = device.in.front();
  if (reply.fault == FakeFault::kTimeout) {
    device.in.front().fault = FakeFault::kNone;  // it comes, just too late
    return LIBUSB_ERROR_TIMEOUT;
  }
  device.in.pop_front();
  switch (reply.fault) {
    case FakeFault::kLate:
      reply.fault = FakeFault::kNone;
      device.late.push_back(reply);
      return LIBUSB_ERROR_TIMEOUT;
    case FakeFault::kIoError:
      return LIBUSB_ERROR_IO;
    case FakeFault::kOverflow:
      return LIBUSB_ERROR_OVERFLOW;
    case FakeFault::kStall:
      device.inHalted = true;
      return LIBUSB_ERROR_PIPE;
    case FakeFault::kUnplug:
      unplug(device);
      return LIBUSB_ERROR_NO_DEVICE;
    case FakeFault::kShort:
      reply.bytes.resize(std::min<std::size_t>(reply.bytes.size(), 2));
      return copyReply(reply.bytes, data, length, actual);
    case FakeFault::kMalformed:
      reply.bytes[0] = 0x03;
      return copyReply(reply.bytes, data, length, actual);
    case FakeFault::kTimeoutAfterData: {
      const int rc = copyReply(reply.bytes, data, length, actual);
      return rc == LIBUSB_SUCCESS ? LIBUSB_ERROR_TIMEOUT : rc;
    }
    default:
      return copyReply(reply.bytes, data, length, actual);
  }
}

void addEndpoint(FakeConfig& fake, std::uint8_t address, std::uint8_t type) {
  libusb_endpoint_descriptor& endpoint = fake.endpoints[fake.setting.bNumEndpoints++];
  endpoint.bLength = LIBUSB_DT_ENDPOINT_SIZE;
  endpoint.bDescriptorType = LIBUSB_DT_ENDPOINT;
  endpoint.bEndpointAddress = address;
  endpoint.bmAttributes = type;
  endpoint.wMaxPacketSize = 64;
}

}  // namespace

// The stand-in's control functions.

void fakeUsbReset() {
  FakeBus& fake = bus();
  fake.handles.clear();
  fake.devices.clear();
  fake.calls.clear();
  fake.initError = 0;
  fake.listError = 0;
}

int fakeUsbPlug(const FakeUsbDeviceSetup& setup) {
  FakeBus& fake = bus();
  auto device = std::make_unique<libusb_device>();
  device->id = static_cast<int>(fake.devices.size()) + 1;
  device->setup = setup;
  simBrickReset(device->brick, setup.brick, SimClock::now());
  for (const auto& bytes : setup.staleReplies) device->in.push_back({bytes, FakeFault::kNone});
  fake.devices.push_back(std::move(device));
  return fake.devices.back()->id;
}

void fakeUsbUnplug(int device) { unplug(deviceById(device)); }

void fakeUsbFailInit(int error) { bus().initError = error; }
void fakeUsbFailDeviceList(int error) { bus().listError = error; }

void fakeUsbFailNextWrite(int device, FakeFault fault) { deviceById(device).nextWrite = fault; }
void fakeUsbFailNextReply(int device, FakeFault fault) { deviceById(device).nextReply = fault; }

SimBrick& fakeUsbBrick(int device) { return deviceById(device).brick; }

const std::vector<FakeUsbCall>& fakeUsbCalls() { return bus().calls; }

std::vector<FakeUsbCall> fakeUsbCallsTo(const std::string& function) {
  std::vector<FakeUsbCall> found;
  for (const FakeUsbCall& call : bus().calls) {
    if (call.function == function) found.push_back(call);
  }
  return found;
}

void fakeUsbClearCalls() { bus().calls.clear(); }

std::vector<FakeUsbCall> fakeUsbTransfers(int device, int endpoint) {
  std::vector<FakeUsbCall> found;
  for (const FakeUsbCall& call : bus().calls) {
    if (call.function == "libusb_bulk_transfer" && call.device == device &&
        call.value == endpoint) {
      found.push_back(call);
    }
  }
  return found;
}

FakeUsbLive fakeUsbLive() {
  const FakeBus& fake = bus();
  FakeUsbLive live;
  live.contexts = fake.contexts;
  live.deviceLists = fake.deviceLists;
  live.configDescriptors = fake.configDescriptors;
  live.openHandles = static_cast<int>(fake.handles.size());
  for (const auto& handle : fake.handles) live.claimedInterfaces += handle->claimed ? 1 : 0;
  for (const auto& device : fake.devices) live.deviceReferences += device->references;
  return live;
}

// The libusb functions, as libusb.h declares them.

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
  FakeBus& fake = bus();
  FakeUsbCall call = makeCall("libusb_init");
  if (fake.initError != 0) {
    call.result = fake.initError;
    fake.initError = 0;
    return record(call);
  }
  *ctx = new libusb_context;
  ++fake.contexts;
  return record(call);
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx) {
  record(makeCall("libusb_exit"));
  if (ctx == nullptr) return;
  delete ctx;
  --bus().contexts;
}

const char* LIBUSB_CALL libusb_error_name(int errcode) {
  switch (errcode) {
    case LIBUSB_SUCCESS:
      return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO:
      return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
      return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
      return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
      return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
      return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
      return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
      return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
      return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
      return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_NO_MEM:
      return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return "LIBUSB_ERROR_NOT_SUPPORTED";
    default:
      return "LIBUSB_ERROR_OTHER";
  }
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* /*ctx*/, libusb_device*** list) {
  FakeBus& fake = bus();
  FakeUsbCall call = makeCall("libusb_get_device_list");
  if (fake.listError != 0) {
    call.result = fake.listError;
    fake.listError = 0;
    return record(call);
  }
  std::vector<libusb_device*> plugged;
  for (const auto& device : fake.devices) {
    if (device->plugged) plugged.push_back(device.get());
  }
  auto** array = new libusb_device*[plugged.size() + 1];
  for (std::size_t i = 0; i < plugged.size(); ++i) {
    array[i] = plugged[i];
    ++plugged[i]->references;
  }
  array[plugged.size()] = nullptr;
  *list = array;
  ++fake.deviceLists;
  call.result = static_cast<int>(plugged.size());
  return record(call);
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unref_devices) {
  record(makeCall("libusb_free_device_list", 0, unref_devices));
  if (list == nullptr) return;
  if (unref_devices != 0) {
    for (libusb_device** device = list; *device != nullptr; ++device) --(*device)->references;
  }
  delete[] list;
  --bus().deviceLists;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev,
                                             struct libusb_device_descriptor* desc) {
  *desc = libusb_device_descriptor{};
  desc->bLength = LIBUSB_DT_DEVICE_SIZE;
  desc->bDescriptorType = LIBUSB_DT_DEVICE;
  desc->bcdUSB = 0x0200;
  desc->bMaxPacketSize0 = 8;
  desc->idVendor = dev->setup.vendorId;
  desc->idProduct = dev->setup.productId;
  desc->bNumConfigurations = 1;
  return record(makeCall("libusb_get_device_descriptor", dev->id));
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* dev, uint8_t config_index,
                                             struct libusb_config_descriptor** config) {
  FakeUsbCall call = makeCall("libusb_get_config_descriptor", dev->id, config_index);
  if (dev->setup.configDescriptorError != 0) {
    call.result = dev->setup.configDescriptorError;
    return record(call);
  }
  if (config_index != 0) {
    call.result = LIBUSB_ERROR_NOT_FOUND;
    return record(call);
  }
  auto* fake = new FakeConfig;
  fake->config.bLength = LIBUSB_DT_CONFIG_SIZE;
  fake->config.bDescriptorType = LIBUSB_DT_CONFIG;
  fake->config.bNumInterfaces = 1;
  fake->config.bConfigurationValue = dev->setup.configurationValue;
  fake->config.interface = &fake->interface;
  fake->interface.altsetting = &fake->setting;
  fake->interface.num_altsetting = 1;
  fake->setting.bLength = LIBUSB_DT_INTERFACE_SIZE;
  fake->setting.bDescriptorType = LIBUSB_DT_INTERFACE;
  fake->setting.bInterfaceNumber = 0;
  fake->setting.bInterfaceClass = LIBUSB_CLASS_VENDOR_SPEC;
  fake->setting.endpoint = fake->endpoints;
  if (dev->setup.interruptEndpoints) {
    addEndpoint(*fake, 0x83, LIBUSB_TRANSFER_TYPE_INTERRUPT);
    addEndpoint(*fake, 0x03, LIBUSB_TRANSFER_TYPE_INTERRUPT);
  }
  if (dev->setup.bulkEndpoints) {
    if (dev->setup.inEndpointFirst)
      addEndpoint(*fake, dev->setup.inEndpoint, LIBUSB_TRANSFER_TYPE_BULK);
    addEndpoint(*fake, dev->setup.outEndpoint, LIBUSB_TRANSFER_TYPE_BULK);
    if (!dev->setup.inEndpointFirst)
      addEndpoint(*fake, dev->setup.inEndpoint, LIBUSB_TRANSFER_TYPE_BULK);
  }
  *config = &fake->config;
  ++bus().configDescriptors;
  return record(call);
}

void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor* config) {
  record(makeCall("libusb_free_config_descriptor"));
  if (config == nullptr) return;
  // The descriptor is the first member of the FakeConfig it was made in.
  delete reinterpret_cast<FakeConfig*>(config);
  --bus().configDescriptors;
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** dev_handle) {
  FakeUsbCall call = makeCall("libusb_open", dev->id);
  if (!dev->plugged) {
    call.result = LIBUSB_ERROR_NO_DEVICE;
    return record(call);
  }
  if (dev->setup.openError != 0) {
    call.result = dev->setup.openError;
    return record(call);
  }
  auto handle = std::make_unique<libusb_device_handle>();
  handle->device = dev;
  ++dev->references;
  *dev_handle = handle.get();
  bus().handles.push_back(std::move(handle));
  return record(call);
}

void LIBUSB_CALL libusb_close(libusb_device_handle* dev_handle) {
  record(makeCall("libusb_close", idOf(dev_handle->device)));
  auto& handles = bus().handles;
  const auto it = std::find_if(handles.begin(), handles.end(),
                               [&](const auto& open) { return open.get() == dev_handle; });
  if (it == handles.end()) return;
  --dev_handle->device->references;
  handles.erase(it);  // closing gives up a claim that was not released
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* dev_handle, int configuration) {
  libusb_device& device = *dev_handle->device;
  FakeUsbCall call = makeCall("libusb_set_configuration", device.id, configuration);
  if (!device.plugged) {
    call.result = LIBUSB_ERROR_NO_DEVICE;
  } else if (device.setup.setConfigurationError != 0) {
    call.result = device.setup.setConfigurationError;
  } else if (claimedByAnotherHandle(dev_handle)) {
    call.result = LIBUSB_ERROR_BUSY;
  } else if (configuration != device.setup.configurationValue) {
    call.result = LIBUSB_ERROR_NOT_FOUND;
  }
  return record(call);
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* dev_handle, int interface_number) {
  libusb_device& device = *dev_handle->device;
  FakeUsbCall call = makeCall("libusb_claim_interface", device.id, interface_number);
  if (!device.plugged) {
    call.result = LIBUSB_ERROR_NO_DEVICE;
  } else if (device.setup.claimError != 0) {
    call.result = device.setup.claimError;
  } else if (interface_number != 0) {
    call.result = LIBUSB_ERROR_NOT_FOUND;
  } else if (claimedByAnotherHandle(dev_handle)) {
    call.result = LIBUSB_ERROR_BUSY;
  } else {
    dev_handle->claimed = true;
  }
  return record(call);
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* dev_handle, int interface_number) {
  libusb_device& device = *dev_handle->device;
  FakeUsbCall call = makeCall("libusb_release_interface", device.id, interface_number);
  if (!dev_handle->claimed || interface_number != 0) {
    call.result = LIBUSB_ERROR_NOT_FOUND;
  } else {
    dev_handle->claimed = false;
    if (!device.plugged) call.result = LIBUSB_ERROR_NO_DEVICE;
  }
  return record(call);
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle* dev_handle, unsigned char endpoint) {
  libusb_device& device = *dev_handle->device;
  FakeUsbCall call = makeCall("libusb_clear_halt", device.id, endpoint);
  if (!device.plugged) {
    call.result = LIBUSB_ERROR_NO_DEVICE;
  } else if (endpoint == device.setup.outEndpoint) {
    device.outHalted = false;
  } else if (endpoint == device.setup.inEndpoint) {
    device.inHalted = false;
  } else {
    call.result = LIBUSB_ERROR_NOT_FOUND;
  }
  return record(call);
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* dev_handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* actual_length,
                                     unsigned int timeout) {
  libusb_device& device = *dev_handle->device;
  FakeUsbCall call = makeCall("libusb_bulk_transfer", device.id, endpoint, length, timeout);
  const bool isIn = (endpoint & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
  if (!isIn) call.data.assign(data, data + length);
  int actual = 0;
  if (!device.plugged) {
    call.result = LIBUSB_ERROR_NO_DEVICE;
  } else if (!dev_handle->claimed) {
    call.result = LIBUSB_ERROR_IO;  // not through a claimed interface
  } else if (endpoint != (isIn ? device.setup.inEndpoint : device.setup.outEndpoint)) {
    call.result = LIBUSB_ERROR_NOT_FOUND;
  } else {
    call.result =
        isIn ? readIn(device, data, length, actual) : writeOut(device, data, length, actual);
  }
  *actual_length = actual;
  return record(call);
}
