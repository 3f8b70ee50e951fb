#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "server/console_echo.h"

namespace {

// The most bytes of echo lines that wait for the console.
constexpr std::size_t kQueueBound = 8 * 1024;

// The one writer of standard output's echo lines. Its thread writes one
// line after another and may wait on the console as long as it likes; the
// request loop only queues.
struct ConsoleWriter {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  std::size_t queuedBytes = 0;
  bool writing = false;

  ConsoleWriter() {
    std::thread([this] { run(); }).detach();
  }

  // False when the queue has no room for `line`.
  // Lines end with CR LF, as everything else written to a Windows console
  // in text mode does.
  bool queue(std::string line) {
    if (!line.empty() && line.back() == '\n') line.insert(line.size() - 1, 1, '\r');
    std::lock_guard<std::mutex> lock(mutex);
    if (queuedBytes + line.size() > kQueueBound) return false;
    queuedBytes += line.size();
    lines.push_back(std::move(line));
    changed.notify_all();
    return true;
  }

  void run() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return !lines.empty(); });
      const std::string line = std::move(lines.front());
      lines.pop_front();
      writing = true;
      lock.unlock();
      // A console that is gone takes everything: the line is dropped.
      for (std::size_t written = 0; written < line.size();) {
        DWORD n = 0;
        if (!WriteFile(out, line.data() + written, static_cast<DWORD>(line.size() - written), &n,
                       nullptr) ||
            n == 0) {
          break;
        }
        written += n;
      }
      lock.lock();
      writing = false;
      queuedBytes -= line.size();
      changed.notify_all();
    }
  }

  void drain(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, bound, [this] { return lines.empty() && !writing; });
  }
};

ConsoleWriter& writer() {
  static ConsoleWriter* const theWriter = new ConsoleWriter;  // lives until the process ends
  return *theWriter;
}

void queueDroppedCount(ConsoleEcho& console) {
  if (console.dropped != 0 && writer().queue(droppedEchoLine(console.dropped))) {
    console.dropped = 0;
  }
}

}  // namespace

void echoRequest(ConsoleEcho& console, const std::string& request) {
  queueDroppedCount(console);
  if (console.dropped != 0 || !writer().queue(consoleEcho(request) + "\n")) ++console.dropped;
}

void flushConsole(ConsoleEcho& console) {
  queueDroppedCount(console);
  writer().drain(kConsoleDrainBound);
}
