// A copy of the simulated brick's state as a watcher (the live page) sees
// it, with the last telegrams that reached the brick and their answers.
//
// The brick's thread takes a snapshot after every telegram into a copy
// that it owns (simSnapshotTake, simSnapshotRecord); another thread reads
// a whole copy at once and, since the model is evaluated lazily, moves the
// motors of its own copy up to the present (simSnapshotAdvance). Nothing
// here allocates once the strings have grown to their size, so taking a
// snapshot costs the brick's thread a few copies of fixed-size data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/sim_brick.h"
#include "sim/sim_world.h"

constexpr std::size_t kSimSnapshotTelegrams = 16;

// One exchange: the telegram as the host sent it (type byte first) and the
// brick's answer (0x02 first; length 0 when it sent none). The same telegram
// sent again at once (a poll) counts as a repeat of the record, which then
// keeps the newest answer.
struct SimTelegramRecord {
  std::uint32_t repeats = 1;
  std::uint8_t telegram[nxt::kMaxTelegramLength] = {};
  std::uint8_t telegramLength = 0;
  std::uint8_t reply[nxt::kMaxTelegramLength] = {};
  std::uint8_t replyLength = 0;
};

struct SimSnapshot {
  bool brickAttached = true;
  bool linkOpen = false;
  SimTime taken{};  // the time of the last telegram (or change) it shows

  std::string name;
  std::uint16_t batteryMillivolts = 0;
  std::string runningProgram;  // empty: none
  std::string playingSound;    // empty: silent
  bool soundLoops = false;
  std::uint16_t toneFrequencyHz = 0;  // the last tone played
  std::uint16_t toneDurationMs = 0;
  std::uint64_t toneCount = 0;  // PLAYTONE telegrams so far: a new one is a new tone

  SimOutputs outputs;
  SimInputs inputs;
  std::array<std::uint16_t, kSimInputPorts> sensorRaw{};
  std::array<std::int16_t, kSimInputPorts> sonarCm{};
  SimWorld world;  // the robot in its room; no map: none

  // Every telegram that reached the brick counts. The last
  // kSimSnapshotTelegrams records are kept, the newest at index
  // (recordCount - 1) % kSimSnapshotTelegrams.
  std::uint64_t telegramCount = 0;
  std::uint64_t recordCount = 0;
  std::array<SimTelegramRecord, kSimSnapshotTelegrams> recent{};
};

// Copies the brick's state into `snapshot` as of `now`; the telegram
// counters and records stay.
void simSnapshotTake(SimSnapshot& snapshot, const SimBrick& brick, bool linkOpen, SimTime now);

// Counts one exchange and keeps it among the recent records, or as a
// repeat of the newest one when the telegram is the same. Longer telegrams
// are cut at kMaxTelegramLength bytes.
void simSnapshotRecord(SimSnapshot& snapshot, const std::uint8_t* telegram, std::size_t length,
                       const std::uint8_t* reply, std::size_t replyLength);

// The `age`-th newest record kept (0: the newest). REQUIRES: age below
// min(recordCount, kSimSnapshotTelegrams).
const SimTelegramRecord& simSnapshotRecent(const SimSnapshot& snapshot, std::size_t age);

// Moves the snapshot's motors, and the robot with them, to `now`, as the
// brick would see them then.
void simSnapshotAdvance(SimSnapshot& snapshot, SimTime now);
