#include "link/driver.h"

#include <algorithm>
#include <cstring>

#include "link/transport.h"
#include "protocol/nxt_protocol.h"

struct BrickIterator {
  TransportDevice* device = nullptr;  // the brick found, until handed out
};

struct BrickHandle {
  TransportDevice* device = nullptr;
};

namespace {

// Late replies to earlier telegrams that one exchange drops before it gives
// up on its own.
constexpr int kMaxRepliesDropped = 2;

// One exchange: the telegram `type`, then `body`; when `wantReply`, reads
// the reply and checks that it is a reply to this opcode. `reply` receives
// the whole reply, 0x02 first; `replyLength` its length (0 on failure).
std::int32_t exchange(TransportDevice* device, nxt::TelegramType type, const std::uint8_t* body,
                      std::uint32_t bodyLength, bool wantReply, std::uint8_t* reply,
                      std::size_t& replyLength) {
  replyLength = 0;
  if (bodyLength == 0 || bodyLength + 1 > nxt::kMaxTelegramLength) return kDriverBadArgument;
  std::uint8_t telegram[nxt::kMaxTelegramLength];
  telegram[0] = nxt::byteOf(type);
  std::memcpy(telegram + 1, body, bodyLength);
  std::int32_t result = transportSend(device, telegram, bodyLength + 1);
  if (result < 0 || !wantReply) return result;
  // A well-formed reply to another opcode answers an earlier telegram whose
  // exchange had given up on it: it is dropped and the next one read.
  for (int dropped = 0; dropped <= kMaxRepliesDropped; ++dropped) {
    result = transportReceive(device, reply, nxt::kMaxTelegramLength, replyLength);
    if (result < 0) return result;
    const bool isReply = replyLength >= 3 && reply[0] == nxt::byteOf(nxt::TelegramType::kReply);
    if (isReply && reply[1] == body[0]) return kDriverSuccess;
    if (!isReply) break;
  }
  replyLength = 0;
  return kDriverBadReply;
}

}  // namespace

BrickIterator* driverCreateBrickIterator(bool /*searchBluetooth*/, std::uint32_t /*timeoutSeconds*/,
                                         DriverStatus& status) {
  std::int32_t result = kTransportOk;
  TransportDevice* device = transportOpenFirstBrick(result);
  if (device == nullptr) {
    status.code = result < 0 ? result : kTransportNoDevice;
    return nullptr;
  }
  status.code = kDriverSuccess;
  return new BrickIterator{device};
}

BrickHandle* driverIteratorGetBrick(BrickIterator* iterator, DriverStatus& status) {
  if (iterator == nullptr) {
    status.code = kDriverNullHandle;
    return nullptr;
  }
  if (iterator->device == nullptr) {
    status.code = kDriverIteratorEnd;
    return nullptr;
  }
  status.code = kDriverSuccess;
  BrickHandle* brick = new BrickHandle{iterator->device};
  iterator->device = nullptr;
  return brick;
}

void driverDestroyBrickIterator(BrickIterator* iterator) {
  if (iterator == nullptr) return;
  transportCloseBrick(iterator->device);
  delete iterator;
}

void driverDestroyBrick(BrickHandle* brick) {
  if (brick == nullptr) return;
  transportCloseBrick(brick->device);
  delete brick;
}

std::uint32_t driverSendCommand(BrickHandle* brick, CommandKind kind, bool expectReply,
                                const std::uint8_t* command, std::uint32_t commandLength,
                                std::uint8_t* response, std::uint32_t responseLength,
                                DriverStatus& status) {
  if (brick == nullptr) {
    status.code = kDriverNullHandle;
    return 0;
  }
  const bool system = kind == CommandKind::kSystem;
  const auto type =
      system ? (expectReply ? nxt::TelegramType::kSystemReply : nxt::TelegramType::kSystemNoReply)
             : (expectReply ? nxt::TelegramType::kDirectReply : nxt::TelegramType::kDirectNoReply);
  std::uint8_t reply[nxt::kMaxTelegramLength];
  std::size_t replyLength = 0;
  status.code =
      exchange(brick->device, type, command, commandLength, expectReply, reply, replyLength);
  if (status.code < 0 || !expectReply || response == nullptr) return 0;
  const std::size_t copied = std::min<std::size_t>(replyLength - 1, responseLength);
  std::memcpy(response, reply + 1, copied);
  return static_cast<std::uint32_t>(copied);
}
