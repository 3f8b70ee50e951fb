// nxt-bench: what one request costs in nxt-bridge, on loopback against
// nxt-bridge-sim, beside a bare loopback server that answers each read
// with one line (the floor that the network stack sets) and beside the
// simulated link's own time.
//
//   nxt-bench [--sim PATH] [--bt-pty PATH | --no-bt] [--csv FILE] [--requests N] [--quick]
//
// On the instant link also nxt-bridge-sim with one page open on its live
// page (--view), and with the robot driving in the built-in room
// (--world default), beside the same server without either.
//
// Then the same server and nxt-bridge-bt (through nxt-bridge-bt-pty, over
// the simulated brick on a pseudo-terminal) at 30 ms a telegram, as a
// Bluetooth link: round trips and the overshoot of goto.
//
// Prints a table and writes the same figures to a CSV file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "server/program_start.h"
#include "tools/loopback_sockets.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

struct Row {
  std::string target;  // "nxt-bridge-sim" or "bare loopback"
  std::string kind;    // action, query, error, goto, sonar
  std::string request;
  int latencyUs = 0;
  int count = 0;
  double perSecond = 0;
  double p50Us = 0;
  double p99Us = 0;
  double maxUs = 0;
  double meanUs = 0;
  std::string note;
};

struct Child {
  pid_t pid = -1;
  int sock = -1;
};

int connectWithRetry(int port) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (connectLoopback(fd, port)) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// The floor: accepts one client and answers every read with one line,
// after sleeping `sleepUs` as the simulated link does (0: at once).
[[noreturn]] void bareServer(int port, int sleepUs) {
  if (sleepUs > 0) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  const int listener = listeningSocket(INADDR_LOOPBACK, port);
  if (listener < 0) ::_exit(1);
  const int client = ::accept(listener, nullptr, nullptr);
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(client, buffer, sizeof buffer);
    if (n <= 0) ::_exit(0);
    if (sleepUs > 0) std::this_thread::sleep_for(microseconds(sleepUs));
    static const char kLine[] = "ok\n";
    if (::write(client, kLine, 3) != 3) ::_exit(0);
  }
}

Child startBare(int sleepUs = 0) {
  Child c;
  const int port = freeLoopbackPort();
  c.pid = ::fork();
  if (c.pid == 0) bareServer(port, sleepUs);
  c.sock = connectWithRetry(port);
  return c;
}

Child startSim(const std::string& path, int latencyUs, const std::vector<std::string>& extra) {
  Child c;
  const int port = freeLoopbackPort();
  c.pid = ::fork();
  if (c.pid == 0) {
    // The echo goes nowhere, as when the console is not watched.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(127);
    std::vector<std::string> args = {path, "--port", std::to_string(port), "--latency-us",
                                     std::to_string(latencyUs)};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  c.sock = connectWithRetry(port);
  return c;
}

void stop(Child& c) {
  if (c.sock >= 0) {
    static const char kBye[] = "bye\n";
    ::send(c.sock, kBye, 4, MSG_NOSIGNAL);
    ::close(c.sock);
  }
  if (c.pid > 0) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (::waitpid(c.pid, nullptr, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        ::kill(c.pid, SIGKILL);
        ::waitpid(c.pid, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  c = Child{};
}

// One request and its reply line; "" when the connection fails.
std::string exchange(int sock, const std::string& line) {
  const std::string out = line + "\n";
  if (::send(sock, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
    return "";
  }
  std::string reply;
  char buffer[256];
  for (;;) {
    pollfd p{sock, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return "";
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) return "";
    reply.append(buffer, static_cast<std::size_t>(n));
    if (!reply.empty() && reply.back() == '\n') {
      reply.pop_back();
      return reply;
    }
  }
}

// One page open on the live page at `port`: reads every state message on
// a thread of its own, as a browser's page does, until stopped.
struct PageWatcher {
  int fd = -1;
  std::atomic<long> messages{0};
  std::thread thread;

  explicit PageWatcher(int port) : fd(port > 0 ? liveViewSocket(port, 0) : -1) {
    if (fd < 0) return;
    thread = std::thread([this] {
      std::string payload;
      while (readWebSocketFrame(fd, payload)) ++messages;
    });
  }
  PageWatcher(const PageWatcher&) = delete;  // owns the socket and the thread
  PageWatcher& operator=(const PageWatcher&) = delete;
  ~PageWatcher() {
    if (fd < 0) return;
    ::shutdown(fd, SHUT_RDWR);  // ends the blocked read
    thread.join();
    ::close(fd);
  }
};

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5));
  return v[i];
}

Row measure(int sock, const std::string& target, const std::string& kind, const std::string& line,
            int latencyUs, int count) {
  for (int i = 0; i < std::min(count / 10 + 1, 200); ++i) exchange(sock, line);  // warm up
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(count));
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    if (exchange(sock, line).empty()) break;
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  Row r;
  r.target = target;
  r.kind = kind;
  r.request = line;
  r.latencyUs = latencyUs;
  r.count = static_cast<int>(us.size());
  r.perSecond = total > 0 ? us.size() / total : 0;
  r.p50Us = percentile(us, 0.50);
  r.p99Us = percentile(us, 0.99);
  r.maxUs = us.empty() ? 0 : *std::max_element(us.begin(), us.end());
  double sum = 0;
  for (double x : us) sum += x;
  r.meanUs = us.empty() ? 0 : sum / us.size();
  return r;
}

// CPU seconds (user + system) that process `pid` has used.
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::size_t i = close + 2;
  while (i < text.size()) {
    const std::size_t j = text.find(' ', i);
    fields.push_back(text.substr(i, j - i));
    if (j == std::string::npos) break;
    i = j + 1;
  }
  // Fields after the name: state is [0]; utime [11], stime [12].
  if (fields.size() < 13) return 0;
  const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
  return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
}

std::string fixed(double v, int digits = 1) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
  return buffer;
}

// The CPU time that the server burns while it serves one `request` that
// waits on the link (1000 us of latency).
Row cpuDuring(const Child& sim, const std::string& kind, const std::string& request) {
  const double cpu0 = cpuSeconds(sim.pid);
  const auto t0 = Clock::now();
  const std::string reply = exchange(sim.sock, request);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = cpuSeconds(sim.pid) - cpu0;
  Row r;
  r.target = "nxt-bridge-sim";
  r.kind = kind;
  r.request = request;
  r.latencyUs = 1000;
  r.count = 1;
  r.meanUs = wall * 1e6;
  r.note = "reply " + reply + "; cpu " + fixed(cpu * 1000, 1) + " ms in " + fixed(wall, 2) +
           " s = " + fixed(100 * cpu / wall, 1) + "%";
  return r;
}

// goto to 720 at powers 30, 75 and 100, braked and coasting, on the server
// at `path` with `latencyUs` of link latency: the time to the reply and the
// overshoot once the motor has settled.
void gotoOvershoot(std::vector<Row>& rows, const std::string& path, const std::string& target,
                   int latencyUs) {
  Child sim = startSim(path, latencyUs, {});
  if (sim.sock < 0 || exchange(sim.sock, "nxt;open") != "ok") {
    stop(sim);
    return;
  }
  for (const std::string brake : {"true", "false"}) {
    for (int power : {30, 75, 100}) {
      // From rest: held, settled (the braked stop pulls back for about half
      // a second), the count reset.
      exchange(sim.sock, "motor;stop;out_a;true");
      std::this_thread::sleep_for(std::chrono::milliseconds(800));
      exchange(sim.sock, "motor;resetrotationcount;out_a;false");
      const std::string request = "motor;goto;out_a;" + std::to_string(power) + ";720;" + brake;
      const auto t0 = Clock::now();
      const std::string reply = exchange(sim.sock, request);
      const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
      std::this_thread::sleep_for(std::chrono::milliseconds(800));  // let it settle
      const std::string count = exchange(sim.sock, "motor;getrotationcount;out_a");
      Row r;
      r.target = target;
      r.kind = brake == "true" ? "goto braked" : "goto coasting";
      r.request = request;
      r.latencyUs = latencyUs;
      r.count = 1;
      r.meanUs = std::atof(count.c_str()) - 720;
      r.note = "reply " + reply + " in " + fixed(seconds, 2) + " s; final count " + count +
               "; overshoot " + fixed(r.meanUs, 0) + " degrees";
      rows.push_back(r);
    }
  }
  stop(sim);
}

struct BenchOptions {
  std::string simPath = NXT_BRIDGE_SIM_PATH;
  std::string btPtyPath = NXT_BT_PTY_PATH;  // empty: no Bluetooth rows
  std::string csvPath = "nxt-bench.csv";
  int requests = 20000;
};

// False for any word that is not one of the options.
bool parseBenchOptions(int argc, const char* const* argv, BenchOptions& o) {
  const CommandLineTable table = {
      {"--sim", "PATH", nullptr, keepValue(o.simPath)},
      {"--bt-pty", "PATH", nullptr, keepValue(o.btPtyPath)},
      {"--no-bt", nullptr, nullptr,
       [&o](const std::string&) {
         o.btPtyPath.clear();
         return true;
       }},
      {"--csv", "FILE", nullptr, keepValue(o.csvPath)},
      {"--requests", "N", nullptr,
       [&o](const std::string& v) {
         long long n = 0;
         if (!parseDecimal(v, 0, 100000000, n)) return false;
         o.requests = std::max(100, static_cast<int>(n));
         return true;
       }},
      {"--quick", nullptr, nullptr,
       [&o](const std::string&) {
         o.requests = 2000;
         return true;
       }},
  };
  return parseCommandLine(argc, argv, table).empty();
}

const std::vector<std::pair<std::string, std::string>> kKinds = {
    {"action", "motor;setforward;out_a;50"}, {"query", "nxt;batterylevel"}, {"error", "robot;x"}};

// Each kind of request against the bare floor, on the instant link (also
// with the live page open) and at 1000 us; false when a server does not
// start.
bool measureRequests(std::vector<Row>& rows, const std::string& simPath, int requests) {
  const auto& kinds = kKinds;
  for (int latency : {0, 1000}) {
    const int count = latency == 0 ? requests : std::max(200, requests / 10);
    Child bare = startBare();
    Child pacedBare = latency > 0 ? startBare(latency) : Child{};
    Child sim = startSim(simPath, latency, {});
    // On the instant link, the same server again with one page open on its
    // live page: the request path must not notice it.
    const int viewPort = freeLoopbackPort();
    Child viewed =
        latency == 0 ? startSim(simPath, 0, {"--view", std::to_string(viewPort)}) : Child{};
    // And with the robot in the built-in room, driving (into a wall, where
    // every step meets it), its sensors reading the room.
    Child worlded = latency == 0 ? startSim(simPath, 0, {"--world", "default"}) : Child{};
    if (bare.sock < 0 || sim.sock < 0 || exchange(sim.sock, "nxt;open") != "ok" ||
        (latency == 0 && (viewed.sock < 0 || exchange(viewed.sock, "nxt;open") != "ok")) ||
        (latency == 0 && (worlded.sock < 0 || exchange(worlded.sock, "nxt;open") != "ok"))) {
      std::cerr << "nxt-bench: cannot start the servers\n";
      stop(bare);
      stop(sim);
      stop(viewed);
      stop(worlded);
      return false;
    }
    if (worlded.sock >= 0) {
      for (const char* line :
           {"sensor;settouch;in_1", "sensor;setlight;in_3;true", "sensor;setsonar;in_4",
            "motor;setforward;out_b;75", "motor;setforward;out_c;75"}) {
        exchange(worlded.sock, line);
      }
    }
    PageWatcher page(latency == 0 ? viewPort : -1);
    for (const auto& [kind, line] : kinds) {
      // Alternate in halves so that all see the same machine conditions.
      auto merge = [](Row a, const Row& b) {
        a.count += b.count;
        a.perSecond = (a.perSecond + b.perSecond) / 2;
        a.p50Us = (a.p50Us + b.p50Us) / 2;
        a.p99Us = (a.p99Us + b.p99Us) / 2;
        a.maxUs = std::max(a.maxUs, b.maxUs);
        a.meanUs = (a.meanUs + b.meanUs) / 2;
        return a;
      };
      Row floor;
      Row ours;
      Row watched;
      Row roomed;
      for (int half = 0; half < 2; ++half) {
        const Row f = measure(bare.sock, "bare loopback", kind, line, latency, count / 2);
        const Row o = measure(sim.sock, "nxt-bridge-sim", kind, line, latency, count / 2);
        floor = half == 0 ? f : merge(floor, f);
        ours = half == 0 ? o : merge(ours, o);
        if (viewed.sock >= 0) {
          const Row w = measure(viewed.sock, "sim + page", kind, line, latency, count / 2);
          watched = half == 0 ? w : merge(watched, w);
        }
        if (worlded.sock >= 0) {
          const Row w = measure(worlded.sock, "sim + world", kind, line, latency, count / 2);
          roomed = half == 0 ? w : merge(roomed, w);
        }
      }
      // Medians: a compile or a page fault elsewhere on the machine moves the
      // mean by more than the server costs.
      ours.note = "x" + fixed(ours.p50Us / floor.p50Us, 2) + " floor (p50)";
      rows.push_back(floor);
      const bool usesLink = kind != "error";
      if (latency > 0 && usesLink) {
        // The link's time as the client sees it: a bare server that sleeps
        // the link's latency before each answer, less the bare floor. The
        // sleep leaves the machine idle, and waking from idle costs the
        // client and the network stack too; that is the link's, not ours.
        Row paced = measure(pacedBare.sock, "bare + sleep", kind, line, latency, count);
        paced.note = "the floor, sleeping the link's latency per read";
        const double link = paced.p50Us - floor.p50Us;
        const double own = ours.p50Us - paced.p50Us;
        ours.note += "; own " + fixed(own, 1) + " us = " + fixed(100.0 * own / link, 2) +
                     "% of the link's " + fixed(link, 1) + " us";
        rows.push_back(paced);
      }
      rows.push_back(ours);
      if (viewed.sock >= 0) {
        watched.note = "x" + fixed(watched.p50Us / floor.p50Us, 2) +
                       " floor (p50), one page open; " + std::to_string(page.messages.load()) +
                       " state messages read so far";
        rows.push_back(watched);
      }
      if (worlded.sock >= 0) {
        roomed.note = "x" + fixed(roomed.p50Us / floor.p50Us, 2) +
                      " floor (p50), the robot in the built-in room, driving";
        rows.push_back(roomed);
      }
    }
    stop(bare);
    stop(pacedBare);
    stop(sim);
    stop(viewed);
    stop(worlded);
  }
  return true;
}

// A goto and a sonar wait at 1000 us of link latency: CPU burnt; the
// overshoot of goto on the instant link and on a brick's (2000 us).
void measureWaits(std::vector<Row>& rows, const std::string& simPath) {
  Child sim = startSim(simPath, 1000, {});
  if (sim.sock >= 0 && exchange(sim.sock, "nxt;open") == "ok") {
    // Power 50 turns about 500 degrees a second: 900 degrees is 2 s.
    exchange(sim.sock, "motor;resetrotationcount;out_a;false");
    rows.push_back(cpuDuring(sim, "goto", "motor;goto;out_a;50;900;true"));
    rows.push_back(cpuDuring(sim, "sonar wait", "sensor;getsonarvalue;in_4"));
  }
  stop(sim);
  for (int latency : {0, 2000}) gotoOvershoot(rows, simPath, "nxt-bridge-sim", latency);
}

// A Bluetooth link: 30 ms a telegram, through the simulated link and
// through nxt-bridge-bt over the simulated brick on a pseudo-terminal.
void measureBluetooth(std::vector<Row>& rows, const std::string& simPath,
                      const std::string& btPtyPath, int requests) {
  const auto& kinds = kKinds;
  const int btLatency = 30000;
  const int btCount = std::max(20, requests / 400);
  for (const auto& [target, path] : {std::make_pair(std::string("nxt-bridge-sim"), simPath),
                                     std::make_pair(std::string("nxt-bridge-bt pty"), btPtyPath)}) {
    Child server = startSim(path, btLatency, {});
    if (server.sock < 0 || exchange(server.sock, "nxt;open") != "ok") {
      std::cerr << "nxt-bench: cannot start " << path << "\n";
      stop(server);
      continue;
    }
    for (const auto& [kind, line] : kinds) {
      if (kind != "error")
        rows.push_back(measure(server.sock, target, kind, line, btLatency, btCount));
    }
    stop(server);
    gotoOvershoot(rows, path, target, btLatency);
  }
}

// The rows as a table on standard output and in the CSV file `csvPath`.
void report(const std::vector<Row>& rows, const std::string& csvPath) {
  std::printf("%-17s %-14s %-8s %7s %9s %9s %9s %10s  %s\n", "target", "kind", "link us", "count",
              "req/s", "p50 us", "p99 us", "max us", "note");
  for (const Row& r : rows) {
    std::printf("%-17s %-14s %-8d %7d %9.0f %9.1f %9.1f %10.1f  %s\n", r.target.c_str(),
                r.kind.c_str(), r.latencyUs, r.count, r.perSecond, r.p50Us, r.p99Us, r.maxUs,
                r.note.c_str());
  }
  std::ofstream csv(csvPath);
  csv << "target,kind,request,link_latency_us,count,requests_per_s,p50_us,p99_us,max_us,mean_us,"
         "note\n";
  for (const Row& r : rows) {
    csv << r.target << ',' << r.kind << ",\"" << r.request << "\"," << r.latencyUs << ',' << r.count
        << ',' << fixed(r.perSecond, 0) << ',' << fixed(r.p50Us) << ',' << fixed(r.p99Us) << ','
        << fixed(r.maxUs) << ',' << fixed(r.meanUs) << ",\"" << r.note << "\"\n";
  }
  std::printf("\nwritten to %s\n", csvPath.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  BenchOptions options;
  if (!parseBenchOptions(argc, argv, options)) {
    std::cerr << "usage: nxt-bench [--sim PATH] [--bt-pty PATH | --no-bt] [--csv FILE] "
                 "[--requests N] [--quick]\n";
    return 2;
  }
  std::vector<Row> rows;
  if (!measureRequests(rows, options.simPath, options.requests)) return 1;
  measureWaits(rows, options.simPath);
  if (!options.btPtyPath.empty()) {
    measureBluetooth(rows, options.simPath, options.btPtyPath, options.requests);
  }
  report(rows, options.csvPath);
  return 0;
}
