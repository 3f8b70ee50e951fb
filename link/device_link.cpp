#include "link/device_link.h"

DeviceLink deviceLink;

bool linkOpenUsb() {
  deviceLink.iterator = driverCreateBrickIterator(false, 1, deviceLink.status);
  if (isFatal(deviceLink.status)) {
    // Nothing found: the brick held before stays in use.
    driverDestroyBrickIterator(deviceLink.iterator);
    deviceLink.iterator = nullptr;
    return false;
  }
  BrickHandle* taken = driverIteratorGetBrick(deviceLink.iterator, deviceLink.status);
  driverDestroyBrickIterator(deviceLink.iterator);
  deviceLink.iterator = nullptr;
  if (isFatal(deviceLink.status) || taken == nullptr) {
    driverDestroyBrick(taken);
    return false;
  }
  // Take the new brick first, then let the old one go: a second open of the
  // same brick must not drop the connection that the new handle shares.
  BrickHandle* previous = deviceLink.brick;
  deviceLink.brick = taken;
  driverDestroyBrick(previous);
  return true;
}

void linkClose() {
  driverDestroyBrick(deviceLink.brick);
  deviceLink.brick = nullptr;
}

std::uint32_t linkTransact(std::uint16_t expectReply, const std::uint8_t* directCommandBuffer,
                           std::uint32_t commandLength, std::uint8_t* responseBuffer,
                           std::uint32_t responseLength, CommandKind kind) {
  return driverSendCommand(deviceLink.brick, kind, expectReply != 0, directCommandBuffer,
                           commandLength, responseBuffer, responseLength, deviceLink.status);
}
