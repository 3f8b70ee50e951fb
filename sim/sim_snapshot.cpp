#include "sim/sim_snapshot.h"

#include <algorithm>
#include <cstring>

void simSnapshotTake(SimSnapshot& snapshot, const SimBrick& brick, bool linkOpen, SimTime now) {
  snapshot.linkOpen = linkOpen;
  snapshot.taken = now;
  snapshot.name = brick.config.name;
  snapshot.batteryMillivolts = brick.config.batteryMillivolts;
  snapshot.runningProgram = brick.runningProgram;
  snapshot.playingSound = brick.playingSound;
  snapshot.soundLoops = brick.soundLoops;
  snapshot.toneFrequencyHz = brick.toneFrequencyHz;
  snapshot.toneDurationMs = brick.toneDurationMs;
  snapshot.outputs = brick.outputs;
  snapshot.inputs = brick.inputs;
  snapshot.sensorRaw = brick.config.sensorRaw;
  snapshot.sonarCm = brick.config.sonarCm;
}

void simSnapshotRecord(SimSnapshot& snapshot, const std::uint8_t* telegram, std::size_t length,
                       const std::uint8_t* reply, std::size_t replyLength) {
  ++snapshot.telegramCount;
  length = std::min(length, nxt::kMaxTelegramLength);
  replyLength = std::min(replyLength, nxt::kMaxTelegramLength);
  const int kind = length > 0 ? telegram[0] & ~nxt::kNoReplyBit : -1;
  if (length >= 2 && kind == nxt::byteOf(nxt::TelegramType::kDirectReply) &&
      telegram[1] == nxt::byteOf(nxt::Opcode::kPlayTone)) {
    ++snapshot.toneCount;
  }
  SimTelegramRecord* record = nullptr;
  if (snapshot.recordCount > 0) {
    SimTelegramRecord& newest = snapshot.recent[(snapshot.recordCount - 1) % kSimSnapshotTelegrams];
    if (newest.telegramLength == length && std::memcmp(newest.telegram, telegram, length) == 0) {
      record = &newest;
      ++record->repeats;
    }
  }
  if (record == nullptr) {
    record = &snapshot.recent[snapshot.recordCount++ % kSimSnapshotTelegrams];
    record->repeats = 1;
    record->telegramLength = static_cast<std::uint8_t>(length);
    std::memcpy(record->telegram, telegram, length);
  }
  record->replyLength = static_cast<std::uint8_t>(replyLength);
  if (replyLength > 0) std::memcpy(record->reply, reply, replyLength);
}

const SimTelegramRecord& simSnapshotRecent(const SimSnapshot& snapshot, std::size_t age) {
  return snapshot.recent[(snapshot.recordCount - 1 - age) % kSimSnapshotTelegrams];
}

void simSnapshotAdvance(SimSnapshot& snapshot, SimTime now) {
  simWorldAdvance(snapshot.world, snapshot.outputs, now);
}
