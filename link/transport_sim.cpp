// The transport into the simulated brick. Each telegram sent is handed to
// the model as a brick on USB would receive it; its answer waits, as in the
// brick's IN endpoint, until it is received.
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "link/transport.h"
#include "link/transport_sim.h"

struct TransportDevice {
  int id = 0;
};

namespace {

// Replies not yet received, oldest first, in place: a client that sends
// more than it reads loses the oldest.
struct PendingReplies {
  static constexpr std::size_t kCapacity = 16;
  SimReply replies[kCapacity];
  std::size_t first = 0;
  std::size_t count = 0;

  bool empty() const { return count == 0; }
  void clear() { count = 0; }
  void push_back(const SimReply& reply) {
    if (count == kCapacity) pop_front();
    replies[(first + count) % kCapacity] = reply;
    ++count;
  }
  const SimReply& front() const { return replies[first]; }
  void pop_front() {
    first = (first + 1) % kCapacity;
    --count;
  }
};

struct SimTransport {
  SimTransportSettings settings;
  SimBrick brick;
  SimWorld world;  // no map: no world
  SimTrace trace;
  PendingReplies pending;
  SimReply scriptReply;  // the script's answer to the telegram in hand
  // Injected replies: `scripted`, `scriptedCount` of them, in the caller's
  // keeping or in `scriptedCopies`.
  const SimScriptedReply* scripted = nullptr;
  std::size_t scriptedCount = 0;
  std::size_t scriptedNext = 0;  // the next one to hand back
  std::vector<std::vector<std::uint8_t>> scriptedCopies;
  std::vector<SimScriptedReply> scriptedCopyViews;
  int openHandles = 0;
  int nextId = 1;
};

SimTransport& state() {
  static SimTransport transport = [] {
    SimTransport t;
    simBrickReset(t.brick, t.settings.brick, SimClock::now());
    return t;
  }();
  return transport;
}

// Changes posted from other threads. Never destroyed, so that a thread
// still posting while the program ends finds it in place.
struct PostedChanges {
  std::mutex mutex;
  std::vector<std::function<void(SimBrick&)>> changes;
  bool placed = false;  // the robot was put down at `placement`
  SimPose placement;
};

PostedChanges& posted() {
  static PostedChanges* changes = new PostedChanges;
  return *changes;
}

// Makes the posted changes, then brings the robot in its world up to
// `now` and lets the sensors read it.
void applyPostedChanges(SimBrick& brick, SimWorld& world, SimTime now) {
  std::vector<std::function<void(SimBrick&)>> changes;
  bool placed = false;
  SimPose placement;
  {
    std::lock_guard<std::mutex> lock(posted().mutex);
    changes.swap(posted().changes);
    std::swap(placed, posted().placed);
    placement = posted().placement;
  }
  for (const auto& change : changes) change(brick);
  if (!world.map) return;
  simWorldAdvance(world, brick.outputs, now);
  if (placed) simWorldPlace(world, placement);
  simWorldSense(world, brick.inputs, brick.config);
}

// The snapshot that watchers read. Never destroyed, as the changes above.
struct PublishedSnapshot {
  std::mutex mutex;
  SimSnapshot snapshot;
};

PublishedSnapshot& published() {
  static PublishedSnapshot* snapshot = new PublishedSnapshot;
  return *snapshot;
}

// Publishes the brick's state, with the exchange just made when `telegram`
// is not null.
void publish(const std::uint8_t* telegram = nullptr, std::size_t length = 0,
             const SimReply* reply = nullptr) {
  SimTransport& t = state();
  std::lock_guard<std::mutex> lock(published().mutex);
  SimSnapshot& s = published().snapshot;
  s.brickAttached = t.settings.brickAttached;
  simSnapshotTake(s, t.brick, t.openHandles > 0, SimClock::now());
  s.world = t.world;
  if (telegram != nullptr) {
    simSnapshotRecord(s, telegram, length, reply->bytes, reply->length);
  }
}

void spendLatency() {
  const auto latency = state().settings.latency;
  if (latency.count() > 0) std::this_thread::sleep_for(latency);
}

}  // namespace

bool simTransportSetUp(const SimTransportSettings& settings) {
#ifdef __linux__
  // The kernel may wake a sleeper up to its timer slack (50 us by default)
  // late; the link's latency should be what was asked for.
  if (settings.latency.count() > 0) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  SimTransport& t = state();
  t.settings = settings;
  const SimTime now = SimClock::now();
  simBrickReset(t.brick, settings.brick, now);
  t.world = SimWorld{};
  if (settings.world) {
    simWorldStart(t.world, settings.world, t.brick.outputs, now);
    simWorldSense(t.world, t.brick.inputs, t.brick.config);
  }
  {
    std::lock_guard<std::mutex> lock(posted().mutex);
    posted().placed = false;
  }
  t.pending.clear();
  simTransportScriptReplies(nullptr, 0);
  traceClose(t.trace);
  t.trace.lines.clear();
  t.trace.keepLines = settings.keepTrace;
  t.trace.programName = settings.programName;
  {
    std::lock_guard<std::mutex> lock(published().mutex);
    published().snapshot = SimSnapshot{};
  }
  publish();
  if (!settings.traceFile.empty()) return traceOpenFile(t.trace, settings.traceFile);
  return true;
}

SimBrick& simTransportBrick() { return state().brick; }
SimTrace& simTransportTrace() { return state().trace; }
int simTransportOpenHandles() { return state().openHandles; }

void simTransportScriptReplies(std::vector<std::vector<std::uint8_t>> replies) {
  SimTransport& t = state();
  t.scriptedCopies = std::move(replies);
  t.scriptedCopyViews.clear();
  for (const std::vector<std::uint8_t>& reply : t.scriptedCopies) {
    t.scriptedCopyViews.push_back(SimScriptedReply{reply.data(), reply.size()});
  }
  t.scripted = t.scriptedCopyViews.data();
  t.scriptedCount = t.scriptedCopyViews.size();
  t.scriptedNext = 0;
}

void simTransportScriptReplies(const SimScriptedReply* replies, std::size_t count) {
  SimTransport& t = state();
  t.scripted = replies;
  t.scriptedCount = count;
  t.scriptedNext = 0;
  t.scriptedCopies.clear();
  t.scriptedCopyViews.clear();
}

void simTransportSnapshot(SimSnapshot& snapshot) {
  std::lock_guard<std::mutex> lock(published().mutex);
  snapshot = published().snapshot;
}

bool simTransportPlaceRobot(const SimPose& pose, std::string& error) {
  std::lock_guard<std::mutex> lock(published().mutex);
  SimWorld& shown = published().snapshot.world;
  if (!shown.map) {
    error = "there is no world (--world)";
    return false;
  }
  if (!simWorldPlace(shown, pose)) {
    error = "the robot would overlap a wall there";
    return false;
  }
  std::lock_guard<std::mutex> postLock(posted().mutex);
  posted().placed = true;
  posted().placement = pose;
  return true;
}

bool simTransportRobotPose(SimPose& pose) {
  SimSnapshot snapshot;
  simTransportSnapshot(snapshot);
  if (!snapshot.world.map) return false;
  simSnapshotAdvance(snapshot, SimClock::now());
  pose = snapshot.world.pose;
  return true;
}

void simTransportPost(std::function<void(SimBrick&)> change) {
  std::lock_guard<std::mutex> lock(posted().mutex);
  posted().changes.push_back(std::move(change));
}

TransportDevice* transportOpenFirstBrick(std::int32_t& result) {
  SimTransport& t = state();
  if (!t.settings.brickAttached) {
    // As the other links tell the operator why "open" failed.
    std::cerr << "nxt-bridge-sim: cannot open the NXT brick: no brick is attached (--no-brick)"
              << std::endl;
    result = kTransportNoDevice;
    return nullptr;
  }
  result = kTransportOk;
  ++t.openHandles;
  // A fresh connection starts with nothing left in the IN endpoint.
  t.pending.clear();
  publish();
  return new TransportDevice{t.nextId++};
}

void transportCloseBrick(TransportDevice* device) {
  if (device == nullptr) return;
  --state().openHandles;
  publish();
  delete device;
}

std::int32_t transportSend(TransportDevice* device, const std::uint8_t* telegram,
                           std::size_t length) {
  if (device == nullptr) return kTransportIoError;
  if (length == 0 || length > nxt::kMaxTelegramLength) return kTransportIoError;
  SimTransport& t = state();
  spendLatency();
  const bool traced = t.trace.file != nullptr || t.trace.keepLines;
  if (traced) traceTelegram(t.trace, '>', telegram, length);
  if (t.settings.script) {
    // Only the length of the script's answer tells what it holds: the
    // reply kept for it is not cleared on every telegram.
    SimReply& scripted = t.scriptReply;
    scripted.length = 0;
    if (t.settings.script(telegram, length, scripted)) {
      if (scripted.length > 0) {
        if (traced) traceTelegram(t.trace, '<', scripted.bytes, scripted.length);
        t.pending.push_back(scripted);
      }
      return kTransportOk;
    }
  }
  SimReply reply;
  const SimTime now = SimClock::now();
  applyPostedChanges(t.brick, t.world, now);
  if (simBrickReceive(t.brick, telegram, length, now, reply)) {
    if (traced) traceTelegram(t.trace, '<', reply.bytes, reply.length);
    t.pending.push_back(reply);
  }
  // An event's text is made only for a trace that takes it.
  for (std::size_t i = 0; traced && i < t.brick.eventCount; ++i) {
    traceEvent(t.trace, simBrickEventText(t.brick.events[i]));
  }
  t.brick.eventCount = 0;
  publish(telegram, length, &reply);
  return kTransportOk;
}

// The simulated brick answers at once: a reply is there or never comes.
TransportClock::duration transportReplyTimeout() { return TransportClock::duration::zero(); }

std::int32_t transportReceive(TransportDevice* device, std::uint8_t* buffer, std::size_t capacity,
                              std::size_t& received, TransportClock::time_point /*deadline*/) {
  received = 0;
  if (device == nullptr) return kTransportIoError;
  SimTransport& t = state();
  if (t.scriptedNext < t.scriptedCount) {
    const SimScriptedReply& scripted = t.scripted[t.scriptedNext];
    std::int32_t result = kTransportOk;
    if (scripted.length == 0) {
      result = kTransportTimeout;
    } else if (scripted.length > capacity) {
      result = kTransportOverflow;
    } else {
      std::memcpy(buffer, scripted.bytes, scripted.length);
      received = scripted.length;
    }
    ++t.scriptedNext;
    if (!t.pending.empty()) t.pending.pop_front();
    return result;
  }
  if (t.pending.empty()) return kTransportTimeout;
  const SimReply reply = t.pending.front();
  t.pending.pop_front();
  if (reply.length > capacity) return kTransportOverflow;
  std::memcpy(buffer, reply.bytes, reply.length);
  received = reply.length;
  return kTransportOk;
}
