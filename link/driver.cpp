#include "link/driver.h"

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "link/transport.h"
#include "protocol/nxt_protocol.h"
#include "protocol/program_name.h"
#include "protocol/reply_shape.h"

struct BrickIterator {
  TransportDevice* device = nullptr;  // the brick found, until handed out
};

struct BrickHandle {
  TransportDevice* device = nullptr;
};

namespace {

// Late answers to earlier telegrams that one exchange drops, at most,
// before it gives up on its own reply (its deadline comes first as a rule).
constexpr int kMaxRepliesDropped = 16;

enum class Fit { kAnswers, kLate, kMalformed };

// Whether `reply` answers `body` (the telegram without its type byte): a
// reply of the firmware's shape to the same opcode and, where the reply
// names a port, for the same port. A well-formed reply to another of our
// telegrams is an earlier exchange's late answer. An opcode that we never
// ask a reply for is answered by 0x02, the opcode and a status at least.
Fit fitOf(const std::uint8_t* reply, std::size_t length, const std::uint8_t* body,
          std::size_t bodyLength) {
  const nxt::ReplyShape* asked = nxt::replyShapeOf(body[0]);
  if (asked == nullptr) {
    const bool echoes =
        length >= 3 && reply[0] == nxt::byteOf(nxt::TelegramType::kReply) && reply[1] == body[0];
    return echoes ? Fit::kAnswers : Fit::kMalformed;
  }
  if (!nxt::isWellFormedReply(reply, length)) return Fit::kMalformed;
  if (reply[1] != body[0]) return Fit::kLate;
  // Same opcode: the reply has the shape asked for.
  const bool samePort = bodyLength >= 2 && reply[3] == body[1];
  if (asked->namesPort && !samePort) return Fit::kLate;
  return Fit::kAnswers;
}

// Tells the operator, in one line and one write, that `reply` came too
// late and was dropped. The unbuffered stream writes each piece of a
// composed line on its own, and lines of other threads could come between.
// Made in place, without allocating.
void tellDropped(const std::uint8_t* reply) {
  static constexpr char kLate[] = ": a late reply to ";
  static constexpr char kDropped[] = " was dropped\n";
  constexpr std::size_t kMaxProgramName = 64;
  char line[kMaxProgramName + sizeof kLate + nxt::kReplyAnswersRoom + sizeof kDropped];
  const char* program = runningProgramName();
  std::size_t length = std::min(std::strlen(program), kMaxProgramName);
  std::memcpy(line, program, length);
  std::memcpy(line + length, kLate, sizeof kLate - 1);
  length += sizeof kLate - 1;
  char answers[nxt::kReplyAnswersRoom];
  const std::size_t answersLength = nxt::replyAnswers(reply, answers);
  std::memcpy(line + length, answers, answersLength);
  length += answersLength;
  std::memcpy(line + length, kDropped, sizeof kDropped - 1);
  length += sizeof kDropped - 1;
  std::cerr.write(line, static_cast<std::streamsize>(length)).flush();
}

// One exchange: the telegram `type`, then `body`; when `wantReply`, reads
// replies until one answers this telegram or the transport's deadline for
// it passes. `reply` receives the whole reply, 0x02 first; `replyLength`
// its length (0 on failure).
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
  // A transport whose replies are there at once (no timeout) reads no
  // clock: its deadline has passed when the telegram is sent.
  const TransportClock::duration timeout = transportReplyTimeout();
  const TransportClock::time_point deadline = timeout > TransportClock::duration::zero()
                                                  ? TransportClock::now() + timeout
                                                  : TransportClock::time_point{};
  bool told = false;
  for (int dropped = 0; dropped <= kMaxRepliesDropped; ++dropped) {
    result = transportReceive(device, reply, nxt::kMaxTelegramLength, replyLength, deadline);
    if (result < 0) return result;
    const Fit fit = fitOf(reply, replyLength, body, bodyLength);
    if (fit == Fit::kAnswers) return kDriverSuccess;
    if (fit == Fit::kMalformed) break;
    if (!told) {
      tellDropped(reply);
      told = true;
    }
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
