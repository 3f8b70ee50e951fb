// nxt-gadget: the simulated brick as a USB device through GadgetFS, so
// that a USB host sees an NXT on its bus, with the brick's own endpoint
// numbers (0x01 OUT, 0x82 IN). It runs inside the rig's guest (see
// docs/usb-rig.md), where dummy_hcd joins the device side to the host side.
//
//   nxt-gadget --gadgetfs DIR [--options-file FILE] [--delay-file FILE]
//              [--check] [BRICK OPTION]...
//
// --gadgetfs is where GadgetFS is mounted. Writing the descriptors to the
// controller's file there plugs the brick in; the gadget answers the
// host's string requests (the serial number is the brick's Bluetooth
// address) and, at the first SET_CONFIGURATION, sets up the controller's
// endpoints "ep1out-bulk" and "ep2in-bulk" as the brick's 0x01 and 0x82.
// The brick options are those of nxt-bridge-sim (--port is accepted and
// ignored); --options-file adds more of them, separated by NUL bytes.
// --check only checks the options.
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
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
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
#include <functional>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/transport.h"
#include "link/transport_sim.h"
#include "protocol/little_endian.h"
#include "protocol/write_all_posix.h"
#include "server/program_start.h"
#include "sim/sim_trace.h"
#include "sim_programs/sim_program.h"
#include "tools/text_lines.h"
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
  std::string gadgetfsDir;
  std::string delayFile;
  bool check = false;
  SimProgramOptions sim;
};

void say(const std::string& message) { std::cerr << "nxt-gadget: " << message << std::endl; }

// The head of --help; the brick options follow it.
const char kUsageHead[] =
    "Usage: nxt-gadget --gadgetfs DIR [--options-file FILE] [--delay-file FILE]\n"
    "                  [--check] [BRICK OPTION]...\n"
    "Serves the simulated NXT brick as a USB device through GadgetFS mounted at DIR.\n"
    "The brick options are those of nxt-bridge-sim:\n";

// Reads NUL-separated words from `path` into `words`.
bool readOptionsFile(const std::string& path, std::vector<std::string>& words) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<std::string> read = splitAt(text, '\0');
  words.insert(words.end(), read.begin(), read.end());
  return true;
}

// Our own options, ahead of the brick's; the words of --options-file go
// to `fileWords`.
CommandLineTable optionTable(GadgetOptions& o, std::vector<std::string>& fileWords) {
  return {
      {"--gadgetfs", "DIR", nullptr, keepValue(o.gadgetfsDir)},
      {"--delay-file", "FILE", nullptr, keepValue(o.delayFile)},
      {"--options-file", "FILE", nullptr,
       [&fileWords](const std::string& v) { return readOptionsFile(v, fileWords); }},
      {"--check", nullptr, nullptr, [&o](const std::string&) { return o.check = true; }},
  };
}

// Parses our own options and the brick's, from one table, then the brick's
// options from --options-file. False with `error` on a bad option: a missing
// or bad value of ours first, as ours are taken before the brick's.
bool parseGadgetOptions(int argc, const char* const* argv, GadgetOptions& options,
                        std::string& error) {
  std::vector<std::string> fileWords = {"nxt-gadget"};
  CommandLineTable table = optionTable(options, fileWords);
  const std::size_t own = table.size();
  const CommandLineTable brick = simOptionTable(options.sim);
  table.insert(table.end(), brick.begin(), brick.end());
  std::vector<CommandLineFault> faults = parseCommandLine(argc, argv, table);
  for (const CommandLineFault& fault : faults) {
    const bool ours = fault.option != nullptr && fault.option < table.data() + own;
    if (!ours || fault.kind == CommandLineFault::kTakesNoValue) continue;
    error = fault.kind == CommandLineFault::kNeedsValue ? "option " + fault.name + " needs a value"
                                                        : "cannot read " + fault.value;
    return false;
  }
  if (!faults.empty()) {
    // "--check=1" is none of ours.
    const CommandLineFault& fault = faults.front();
    const bool ours = fault.option != nullptr && fault.option < table.data() + own;
    error = ours ? "unknown option '" + fault.name + "'" : simFaultText(fault);
    return false;
  }
  std::vector<const char*> words;
  for (const std::string& w : fileWords) words.push_back(w.c_str());
  faults = parseCommandLine(static_cast<int>(words.size()), words.data(), brick);
  if (!faults.empty()) {
    error = simFaultText(faults.front());
    return false;
  }
  if (!finishSimOptions(options.sim, error)) return false;
  if (!options.check && !options.sim.help && !options.sim.version && options.gadgetfsDir.empty()) {
    error = "--gadgetfs DIR is needed";
    return false;
  }
  return true;
}

const char* eventName(int type) {
  static constexpr struct {
    int type;
    const char* name;
  } kNames[] = {{GADGETFS_CONNECT, "connect"},
                {GADGETFS_DISCONNECT, "disconnect"},
                {GADGETFS_SETUP, "setup"},
                {GADGETFS_SUSPEND, "suspend"}};
  for (const auto& known : kNames) {
    if (known.type == type) return known.name;
  }
  return "unknown";
}

int openEndpoint(const std::string& dir, const char* name) {
  const std::string path = dir + "/" + name;
  const int fd = ::open(path.c_str(), O_RDWR);
  if (fd < 0) say("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

// The brick's two endpoints, set up by the thread that serves ep0 at the
// first SET_CONFIGURATION; the telegram loop waits for them.
struct Endpoints {
  std::mutex mutex;
  std::condition_variable ready;
  int out = -1;
  int in = -1;
};

bool setUpEndpoints(const std::string& dir, Endpoints& endpoints) {
  const int out = openEndpoint(dir, kNxtOutEndpointFile);
  const int in = openEndpoint(dir, kNxtInEndpointFile);
  const bool ok = out >= 0 && in >= 0 &&
                  nxt::writeAll(out, gadgetEndpointDescriptor(kNxtOutEndpoint)) &&
                  nxt::writeAll(in, gadgetEndpointDescriptor(kNxtInEndpoint));
  if (!ok) {
    // Tried again at the next SET_CONFIGURATION.
    say(std::string("GadgetFS refused the endpoints: ") + std::strerror(errno));
    if (out >= 0) ::close(out);
    if (in >= 0) ::close(in);
    return false;
  }
  std::lock_guard<std::mutex> lock(endpoints.mutex);
  endpoints.out = out;
  endpoints.in = in;
  endpoints.ready.notify_all();
  return true;
}

// Serves ep0 until it fails: answers the string requests, acknowledges
// SET_CONFIGURATION and SET_INTERFACE (setting the endpoints up the first
// time), and stalls every other request that reaches it (a brick defines
// none).
void serveEp0(int ep0, std::string dir, std::string serial, Endpoints& endpoints) {
  usb_gadgetfs_event events[4];
  bool configured = false;
  for (;;) {
    const ssize_t n = ::read(ep0, events, sizeof events);
    if (n < 0 && (errno == EINTR || errno == EIDRM)) continue;
    if (n <= 0) {
      say(std::string("ep0 closed: ") + std::strerror(errno));
      return;
    }
    const std::size_t count = static_cast<std::size_t>(n) / sizeof events[0];
    for (std::size_t i = 0; i < count; ++i) {
      const usb_gadgetfs_event& event = events[i];
      if (event.type != GADGETFS_SETUP) {
        say(std::string("event ") + eventName(event.type));
        continue;
      }
      const usb_ctrlrequest& setup = event.u.setup;
      const std::uint16_t value = setup.wValue;
      const std::uint16_t length = setup.wLength;
      std::vector<std::uint8_t> answer;
      bool acknowledge = false;
      if (setup.bRequestType == USB_DIR_IN && setup.bRequest == USB_REQ_GET_DESCRIPTOR &&
          nxt::highByte(value) == USB_DT_STRING) {
        answer = gadgetString(nxt::lowByte(value), serial);
      } else if (setup.bRequestType == USB_RECIP_DEVICE &&
                 setup.bRequest == USB_REQ_SET_CONFIGURATION) {
        if (value != 0 && !configured) configured = setUpEndpoints(dir, endpoints);
        acknowledge = true;
      } else if (setup.bRequestType == USB_RECIP_INTERFACE &&
                 setup.bRequest == USB_REQ_SET_INTERFACE && value == 0) {
        acknowledge = true;
      }
      if (!answer.empty()) {
        if (answer.size() > length) answer.resize(length);
        [[maybe_unused]] const ssize_t w = ::write(ep0, answer.data(), answer.size());
      } else if (acknowledge) {
        [[maybe_unused]] const ssize_t r = ::read(ep0, nullptr, 0);
      } else if (setup.bRequestType & USB_DIR_IN) {
        // Reading stalls an IN request, writing an OUT one.
        [[maybe_unused]] const ssize_t r = ::read(ep0, nullptr, 0);
      } else {
        [[maybe_unused]] const ssize_t w = ::write(ep0, nullptr, 0);
      }
    }
  }
}

// The one file GadgetFS shows before the device is set up: the controller's
// ep0. Empty when there is none.
std::string controllerFile(const std::string& dir) {
  std::string found;
  if (DIR* folder = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      if (entry->d_name[0] != '.') found = entry->d_name;
    }
    ::closedir(folder);
  }
  return found;
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
      if (errno == EINTR) continue;
      // Unplugged (ESHUTDOWN) or not yet configured again: try again soon.
      if (errno != ESHUTDOWN && errorsInARow++ % 100 == 0) {
        say(std::string("read: ") + std::strerror(errno));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

}  // namespace

int main(int argc, char** argv) {
  GadgetOptions options;
  std::string error;
  const bool parsed = parseGadgetOptions(argc, argv, options, error);

  // The brick's state, trace and latency are those of the simulated
  // transport, set up from the same options as in nxt-bridge-sim; so are
  // the live page (--view) and the console (--console), whose lines are
  // acknowledged on standard output.
  const int status = startSimProgram("nxt-gadget", parsed, error, options.sim, options.check,
                                     kUsageHead + simOptionList(false));
  if (status != kGoOn) return status;
  if (!startSimWatchers("nxt-gadget", options.sim, std::cerr)) return kExitCannotServe;
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

  // Writing the descriptors to the controller's file plugs the brick in.
  const std::string controller = controllerFile(options.gadgetfsDir);
  const int ep0 = controller.empty() ? -1 : openEndpoint(options.gadgetfsDir, controller.c_str());
  if (ep0 < 0) {
    say("no device controller in " + options.gadgetfsDir);
    return 1;
  }
  if (!nxt::writeAll(ep0, gadgetDeviceDescriptors())) {
    say(std::string("GadgetFS refused the descriptors: ") + std::strerror(errno));
    return 1;
  }
  const std::string serial = gadgetSerialNumber(options.sim.transport.brick.bluetoothAddress);
  static Endpoints endpoints;

  // ep0 is served on a thread of its own that takes none of our signals;
  // SIGALRM goes to the thread that writes replies, which it interrupts.
  sigset_t ours;
  sigemptyset(&ours);
  sigaddset(&ours, SIGUSR1);
  sigaddset(&ours, SIGUSR2);
  sigaddset(&ours, SIGALRM);
  ::pthread_sigmask(SIG_BLOCK, &ours, nullptr);
  std::thread ep0Thread(serveEp0, ep0, options.gadgetfsDir, serial, std::ref(endpoints));
  ep0Thread.detach();
  int in = -1;
  int out = -1;
  {
    std::unique_lock<std::mutex> lock(endpoints.mutex);
    endpoints.ready.wait(lock, [] { return endpoints.in >= 0; });
    in = endpoints.in;
    out = endpoints.out;
  }
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

  say("serving");
  serveTelegrams(out, replies, options.delayFile);
  return 0;
}
