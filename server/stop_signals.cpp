// What the stop signals of both systems share: the record of the first one
// caught, and their names.
#include "server/stop_signals.h"

#include <atomic>

namespace {

std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free, "the record is written in a signal handler");

}  // namespace

int recordStopSignal(int signal) {
  int earlier = 0;
  caught.compare_exchange_strong(earlier, signal);
  return earlier;
}

int caughtStopSignal() { return caught.load(); }

const char* stopSignalName(int signal) {
  const StopSignalName* entry = kStopSignalNames;
  while (entry->signal != 0 && entry->signal != signal) ++entry;
  return entry->name;
}
