// nxt-gadget: the simulated brick behind a FunctionFS function, so that a
// USB host sees an NXT on its bus. It runs inside the rig's guest (see
// docs/usb-rig.md), where dummy_hcd joins the gadget side to the host side.
//
//   nxt-gadget --ffs DIR [--gadget DIR --udc NAME] [--options-file FILE]
//              [--delay-file FILE] [--check] [BRICK OPTION]...
//
// --ffs is where the function's FunctionFS is mounted. With --gadget (the
// gadget's configfs directory) and --udc, the gadget writes the brick's
// serial number into configfs and, once its descriptors are in place, binds
// the gadget to that device controller: the brick is plugged in. The brick
// options are those of nxt-bridge-sim (--port is accepted and ignored);
// --options-file adds more of them, separated by NUL bytes. --check only
// checks the options.
//
// Each telegram read from the OUT endpoint goes to the simulated brick and
// is traced; its reply, if any, is traced and queued for the IN endpoint,
// where it waits for the host's read at most 500 ms, as the firmware's
// does. A telegram of the no-reply type gets nothing.
//
// With --console, standard input is nxt-bridge-sim's console.
//
// Faults on demand: SIGUSR1 mutes the brick (telegrams are still read and
// traced, but none reaches the model and nothing is answered), SIGUSR2
// lets it answer again. SIGSTOP freezes it altogether. While the file named
// by --delay-file holds a number of milliseconds (at most 10000), every
// reply is held that long before it is written: a late brick.
#include <errno.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/transport.h"
#include "link/transport_sim.h"
#include "server/sim_console.h"
#include "server/sim_options.h"
#include "sim/sim_trace.h"
#include "tools/usb-rig/gadget_descriptors.h"

namespace {

using Clock = std::chrono::steady_clock;

// The firmware gives up a USB write that the host does not take in time.
constexpr auto kReplyWriteTimeout = std::chrono::milliseconds(500);
// While a reply write waits, SIGALRM comes this often, so that a write
// started just after one signal is still interrupted by the next.
constexpr long kAlarmIntervalUs = 20000;

volatile sig_atomic_t gMuted = 0;

void onMute(int) { gMuted = 1; }
void onUnmute(int) { gMuted = 0; }
void onAlarm(int) {}

struct GadgetOptions {
  std::string ffsDir;
  std::string delayFile;
  std::string gadgetDir;
  std::string udc;
  bool check = false;
  SimProgramOptions sim;
};

void say(const std::string& message) { std::cerr << "nxt-gadget: " << message << std::endl; }

std::string usage() {
  std::string text =
      "Usage: nxt-gadget --ffs DIR [--gadget DIR --udc NAME] [--options-file FILE]\n"
      "                  [--delay-file FILE] [--check] [BRICK OPTION]...\n"
      "Serves the simulated NXT brick through the FunctionFS function mounted at DIR.\n"
      "The brick options are those of nxt-bridge-sim:\n";
  return text + simOptionList();
}

// Reads NUL-separated words from `path` into `words`.
bool readOptionsFile(const std::string& path, std::vector<std::string>& words) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

// Splits our own options from the brick's; parses the brick's. False with
// `error` on a bad option.
bool parseGadgetOptions(int argc, char** argv, GadgetOptions& options, std::string& error) {
  std::vector<std::string> simArgs = {"nxt-gadget"};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) {
        error = "option " + arg + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (arg == "--ffs") {
      if (!value(options.ffsDir)) return false;
    } else if (arg == "--gadget") {
      if (!value(options.gadgetDir)) return false;
    } else if (arg == "--udc") {
      if (!value(options.udc)) return false;
    } else if (arg == "--delay-file") {
      if (!value(options.delayFile)) return false;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--options-file") {
      std::string path;
      if (!value(path)) return false;
      if (!readOptionsFile(path, simArgs)) {
        error = "cannot read " + path;
        return false;
      }
    } else {
      simArgs.push_back(arg);
    }
  }
  std::vector<const char*> simArgv;
  for (const std::string& a : simArgs) simArgv.push_back(a.c_str());
  if (!parseSimOptions(static_cast<int>(simArgv.size()), simArgv.data(), options.sim, error)) {
    return false;
  }
  if (!options.check && !options.sim.help && options.ffsDir.empty()) {
    error = "--ffs DIR is needed";
    return false;
  }
  if (options.gadgetDir.empty() != options.udc.empty()) {
    error = "--gadget and --udc go together";
    return false;
  }
  return true;
}

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool writeTextFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

const char* eventName(std::uint8_t type) {
  switch (type) {
    case FUNCTIONFS_BIND:
      return "bind";
    case FUNCTIONFS_UNBIND:
      return "unbind";
    case FUNCTIONFS_ENABLE:
      return "enable";
    case FUNCTIONFS_DISABLE:
      return "disable";
    case FUNCTIONFS_SETUP:
      return "setup";
    case FUNCTIONFS_SUSPEND:
      return "suspend";
    case FUNCTIONFS_RESUME:
      return "resume";
    default:
      return "unknown";
  }
}

// Serves ep0 until it fails: logs the function's events and stalls every
// control request addressed to the interface (a brick defines none).
void serveEp0(int ep0) {
  usb_functionfs_event events[4];
  for (;;) {
    const ssize_t n = ::read(ep0, events, sizeof events);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      say(std::string("ep0 closed: ") + std::strerror(errno));
      return;
    }
    const std::size_t count = static_cast<std::size_t>(n) / sizeof events[0];
    for (std::size_t i = 0; i < count; ++i) {
      const usb_functionfs_event& event = events[i];
      say(std::string("event ") + eventName(event.type));
      if (event.type != FUNCTIONFS_SETUP) continue;
      // Reading answers an IN request with a stall, writing an OUT one.
      if (event.u.setup.bRequestType & USB_DIR_IN) {
        [[maybe_unused]] const ssize_t r = ::read(ep0, nullptr, 0);
      } else {
        [[maybe_unused]] const ssize_t w = ::write(ep0, nullptr, 0);
      }
    }
  }
}

// Writes one reply to the IN endpoint, giving up when the host has not
// taken it within kReplyWriteTimeout. Returns whether it went out. Only the
// thread that writes replies takes SIGALRM.
bool writeReply(int in, const std::uint8_t* bytes, std::size_t length) {
  const auto deadline = Clock::now() + kReplyWriteTimeout;
  itimerval alarm{};
  alarm.it_value.tv_usec = kAlarmIntervalUs;
  alarm.it_interval.tv_usec = kAlarmIntervalUs;
  ::setitimer(ITIMER_REAL, &alarm, nullptr);
  bool sent = false;
  for (;;) {
    const ssize_t n = ::write(in, bytes, length);
    if (n == static_cast<ssize_t>(length)) {
      sent = true;
      break;
    }
    if (n >= 0 || errno != EINTR || Clock::now() >= deadline) break;
  }
  const itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  return sent;
}

// The reply delay that `path` holds now; zero without a file.
std::chrono::milliseconds replyDelay(const std::string& path) {
  if (path.empty()) return std::chrono::milliseconds(0);
  std::ifstream in(path);
  long ms = 0;
  if (!(in >> ms) || ms < 0) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(ms > 10000 ? 10000 : ms);
}

// Replies on their way to the IN endpoint, oldest first, each with the
// time it may go out. The brick goes on reading telegrams meanwhile, as a
// device controller takes OUT packets while IN data waits for the host.
struct ReplyQueue {
  struct Item {
    std::uint8_t bytes[kNxtPacketSize];
    std::size_t length;
    Clock::time_point due;
  };
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Item> items;
};

// Writes the queued replies to `in`, forever, each when it is due.
void writeReplies(ReplyQueue& queue, int in) {
  for (;;) {
    ReplyQueue::Item item;
    {
      std::unique_lock<std::mutex> lock(queue.mutex);
      queue.ready.wait(lock, [&] { return !queue.items.empty(); });
      item = queue.items.front();
      queue.items.pop_front();
    }
    std::this_thread::sleep_until(item.due);
    if (!writeReply(in, item.bytes, item.length)) say("a reply was not taken by the host");
  }
}

// Reads telegrams from `out` and queues their replies, forever. A read that
// fails while the host reconfigures or the device is unplugged (ESHUTDOWN)
// is retried: FunctionFS holds the next read until the endpoint is enabled
// again.
void serveTelegrams(int out, ReplyQueue& queue, const std::string& delayFile) {
  SimTrace& trace = simTransportTrace();
  std::int32_t result = kTransportOk;
  TransportDevice* brick = transportOpenFirstBrick(result);
  std::uint8_t telegram[kNxtPacketSize];
  int errorsInARow = 0;
  for (;;) {
    const ssize_t n = ::read(out, telegram, sizeof telegram);
    if (n < 0) {
      if (errno != EINTR && errno != ESHUTDOWN) {
        if (errorsInARow++ % 100 == 0) say(std::string("read: ") + std::strerror(errno));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      continue;
    }
    errorsInARow = 0;
    if (n == 0) continue;
    const std::size_t length = static_cast<std::size_t>(n);
    if (gMuted) {
      traceTelegram(trace, '>', telegram, length);
      continue;
    }
    // The simulated transport traces both ways and keeps the reply, as the
    // brick's IN endpoint does.
    transportSend(brick, telegram, length);
    ReplyQueue::Item item;
    if (transportReceive(brick, item.bytes, sizeof item.bytes, item.length) != kTransportOk) {
      continue;
    }
    item.due = Clock::now() + replyDelay(delayFile);
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.items.push_back(item);
    queue.ready.notify_one();
  }
}

int openEndpoint(const std::string& dir, const char* name, int flags) {
  const std::string path = dir + "/" + name;
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) say("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  GadgetOptions options;
  std::string error;
  if (!parseGadgetOptions(argc, argv, options, error)) {
    say(error + " (try --help)");
    return 2;
  }
  if (options.sim.help) {
    std::cout << usage();
    return 0;
  }
  if (options.check) return 0;

  // The brick's state, trace and latency are those of the simulated
  // transport, set up from the same options as in nxt-bridge-sim.
  if (!simTransportSetUp(options.sim.transport)) {
    say("cannot write the trace file " + options.sim.transport.traceFile);
    return 2;
  }
  // --console: lines on standard input change the brick's inputs, each
  // acknowledged on standard output, as in nxt-bridge-sim.
  if (options.sim.console) startSimConsole();
  if (!options.sim.transport.brickAttached) {
    say("no brick attached: nothing to serve");
    return 0;
  }

  struct sigaction action {};
  action.sa_handler = onMute;
  ::sigaction(SIGUSR1, &action, nullptr);
  action.sa_handler = onUnmute;
  ::sigaction(SIGUSR2, &action, nullptr);
  action.sa_handler = onAlarm;
  ::sigaction(SIGALRM, &action, nullptr);

  const int ep0 = openEndpoint(options.ffsDir, "ep0", O_RDWR);
  if (ep0 < 0) return 1;
  if (!writeAll(ep0, gadgetDescriptors()) || !writeAll(ep0, gadgetStrings())) {
    say(std::string("FunctionFS refused the descriptors: ") + std::strerror(errno));
    return 1;
  }
  const int out = openEndpoint(options.ffsDir, "ep1", O_RDONLY);
  const int in = openEndpoint(options.ffsDir, "ep2", O_WRONLY);
  if (out < 0 || in < 0) return 1;

  // ep0 is served on a thread of its own that takes none of our signals;
  // SIGALRM goes to the thread that writes replies, which it interrupts.
  sigset_t ours;
  sigemptyset(&ours);
  sigaddset(&ours, SIGUSR1);
  sigaddset(&ours, SIGUSR2);
  sigaddset(&ours, SIGALRM);
  ::pthread_sigmask(SIG_BLOCK, &ours, nullptr);
  std::thread ep0Thread(serveEp0, ep0);
  ep0Thread.detach();
  static ReplyQueue replies;
  sigset_t alarmOnly;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  std::thread writer([in, alarmOnly] {
    ::pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    writeReplies(replies, in);
  });
  writer.detach();
  sigset_t mutes;
  sigemptyset(&mutes);
  sigaddset(&mutes, SIGUSR1);
  sigaddset(&mutes, SIGUSR2);
  ::pthread_sigmask(SIG_UNBLOCK, &mutes, nullptr);

  if (!options.gadgetDir.empty()) {
    const std::string serial = gadgetSerialNumber(options.sim.transport.brick.bluetoothAddress);
    if (!writeTextFile(options.gadgetDir + "/strings/0x409/serialnumber", serial) ||
        !writeTextFile(options.gadgetDir + "/UDC", options.udc)) {
      say("cannot plug the gadget into " + options.udc + ": " + std::strerror(errno));
      return 1;
    }
  }
  say("serving");
  serveTelegrams(out, replies, options.delayFile);
  return 0;
}
