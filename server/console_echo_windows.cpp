// The console on Windows, where neither a console nor a pipe can be asked
// whether a write would wait: a writer thread of its own takes the echo's
// bytes through a bounded queue and may wait on the console as long as it
// must; the request loop only queues, and a full queue is a full console.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "server/console_echo.h"

namespace {

// The most bytes of echo that wait for the console.
constexpr std::size_t kQueueBound = 8 * 1024;
// How long closeConsole waits for the writer to get the rest out.
constexpr DWORD kDrainBoundMs = 500;

struct ConsoleWriter {
  std::mutex mutex;
  std::condition_variable changed;
  std::string queued;
  bool writing = false;

  ConsoleWriter() {
    std::thread([this] { run(); }).detach();
  }

  std::size_t queue(const char* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::size_t taken = std::min(size, kQueueBound - queued.size());
    queued.append(data, taken);
    if (taken > 0) changed.notify_all();
    return taken;
  }

  // Lines end with CR LF, as everything written to a Windows console in
  // text mode does. A console that is gone takes everything: it is dropped.
  void run() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return !queued.empty(); });
      std::string bytes;
      bytes.swap(queued);
      writing = true;
      lock.unlock();
      std::string text;
      for (char c : bytes) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
      for (std::size_t done = 0; done < text.size();) {
        DWORD n = 0;
        if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &n,
                       nullptr) ||
            n == 0) {
          break;
        }
        done += n;
      }
      lock.lock();
      writing = false;
      changed.notify_all();
    }
  }

  void drain() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(kDrainBoundMs),
                     [this] { return queued.empty() && !writing; });
  }
};

ConsoleWriter& writer() {
  static ConsoleWriter* const theWriter = new ConsoleWriter;  // lives until the process ends
  return *theWriter;
}

}  // namespace

void openConsole(ConsoleEcho& console, int fd) {
  console.fd = fd;
  console.way = ConsoleEcho::Way::kNonBlocking;
  writer();
}

void closeConsole(ConsoleEcho& console) {
  flushConsole(console);
  writer().drain();
}

ConsoleWrite writeConsoleSome(const ConsoleEcho&, const char* data, std::size_t size,
                              std::size_t& written) {
  written = writer().queue(data, size);
  return written > 0 ? ConsoleWrite::kWritten : ConsoleWrite::kFull;
}
