// How a session ends other than by "bye", and what never holds a client up:
// nxt-bridge-sim over a real socket, its trace telling what the brick got.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "e2e_harness.h"
#include "tools/text_lines.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A target that power 50 reaches in about 27 days.
const char kEndlessGoTo[] = "motor;goto;out_a;50;99999999999999999999;true\n";

// Opens the link and starts motor B, so that there is something to stop.
void openAndRun(SimServer& s) {
  ASSERT_TRUE(startServer(s, {"--latency-us", "1000"})) << s.stderrText;
  ASSERT_EQ(request(s, "nxt;open"), "ok");
  ASSERT_EQ(request(s, "motor;setforward;out_b;30"), "ok");
}

TEST(SessionEnd, AClientThatLeavesLeavesEveryMotorCoasting) {
  struct Case {
    const char* name;
    const char* pending;  // a request in progress when the client leaves
    bool reset;           // the connection breaks instead of ending
  } cases[] = {
      {"between requests", nullptr, false},
      {"reset between requests", nullptr, true},
      {"mid-goto", kEndlessGoTo, false},
      // The sonar's own wait would end 900 ms after the close.
      {"mid-sonar", "sensor;getsonarvalue;in_1\n", false},
  };
  for (const Case& c : cases) {
    SimServer s;
    openAndRun(s);
    if (c.pending != nullptr) {
      ASSERT_TRUE(sendRaw(s, c.pending));
      ASSERT_TRUE(nothingArrives(s, milliseconds(100))) << c.name;
    }
    if (c.reset) {
      linger hard{1, 0};
      ::setsockopt(s.sock, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    const auto closed = Clock::now();
    closeClient(s);
    EXPECT_EQ(waitForExit(s), 0) << c.name;
    // Below the sonar's own 900 ms wait, with room for a loaded machine.
    EXPECT_LT(Clock::now() - closed, milliseconds(850)) << c.name;
    EXPECT_EQ(lastSent(s, 3), kEveryMotorCoasts) << c.name;
    EXPECT_NE(s.stderrText.find(": the client went away without bye; motors A, B and C coast\n"),
              std::string::npos)
        << c.name << ": " << s.stderrText;
  }
}

TEST(SessionEnd, AStopSignalMidGoToCoastsEveryMotorAndEndsByTheSignal) {
  const bool windows = serverIsWindowsProgram();
  for (int signal :
       windows ? std::vector<int>{SIGINT} : std::vector<int>{SIGTERM, SIGINT, SIGHUP}) {
    SimServer s;
    openAndRun(s);
    ASSERT_TRUE(sendRaw(s, kEndlessGoTo));
    ASSERT_TRUE(nothingArrives(s, milliseconds(100)));
    ::kill(s.pid, signal);
    EXPECT_EQ(readLine(s), "<closed>") << signal;  // no reply to the goto
    EXPECT_EQ(waitForExit(s), windows ? kWindowsControlCExit : -1) << signal;
    EXPECT_EQ(s.exitSignal, windows ? 0 : signal);
    EXPECT_EQ(lastSent(s, 3), kEveryMotorCoasts) << signal;
  }
}

// A thread of the server other than the one serving: the live page's.
int otherThread(int pid) {
  for (int tries = 0; tries < 100; ++tries) {
    int status = -1;
    const std::string tasks = runCommand("ls /proc/" + std::to_string(pid) + "/task", status, 5);
    for (const std::string& task : linesOf(tasks)) {
      if (!task.empty() && std::stoi(task) != pid) return std::stoi(task);
    }
    ::usleep(10000);
  }
  return -1;
}

// Between requests the server waits in the read itself; a stop signal ends
// that wait at once, also when another of its threads takes the signal.
TEST(SessionEnd, AStopSignalBetweenRequestsEndsTheWaitAtOnce) {
  for (const bool otherThreadTakesIt : {false, true}) {
    SimServer s;
    ASSERT_TRUE(startServer(s, {"--view", std::to_string(freeLoopbackPort())}));
    ASSERT_EQ(request(s, "nxt;open"), "ok");
    ASSERT_EQ(request(s, "motor;setforward;out_b;30"), "ok");
    ASSERT_TRUE(nothingArrives(s, milliseconds(50)));
    const int thread = otherThreadTakesIt ? otherThread(s.pid) : s.pid;
    ASSERT_GT(thread, 0);
    // Under Wine SIGINT is the console's Ctrl-C; SIGTERM ends wine64 at once.
    const bool windows = serverIsWindowsProgram();
    const int signal = windows ? SIGINT : SIGTERM;
    ASSERT_EQ(::syscall(SYS_tgkill, s.pid, thread, signal), 0);
    EXPECT_EQ(readLine(s), "<closed>") << otherThreadTakesIt;
    EXPECT_EQ(waitForExit(s), windows ? kWindowsControlCExit : -1) << otherThreadTakesIt;
    EXPECT_EQ(s.exitSignal, windows ? 0 : signal);
    EXPECT_EQ(lastSent(s, 3), kEveryMotorCoasts) << otherThreadTakesIt;
  }
}

TEST(SessionEnd, ByeLeavesTheMotorsRunning) {
  SimServer s;
  openAndRun(s);
  EXPECT_EQ(sayBye(s), 0);
  EXPECT_EQ(lastSent(s, 1), std::vector<std::string>{"80 04 01 1e 05 01 00 20 00 00 00 00"});
}

TEST(SessionEnd, AClientThatNeverReadsIsDroppedWithinTheBound) {
  SimServer s;
  ASSERT_TRUE(startServerListening(s));
  // The client's buffers are small, and set before it connects, so that
  // the window it offers is small from the start: a window larger than the
  // buffer behind it makes loopback drop segments, and the retransmission
  // back-off then stalls the connection for seconds. What this side has
  // handed over is then close to what the server has read.
  s.sock = ::socket(AF_INET, SOCK_STREAM, 0);
  const int receiveBuffer = 4096;
  const int sendBuffer = 16384;
  ::setsockopt(s.sock, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  ::setsockopt(s.sock, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  ASSERT_TRUE(connectLoopback(s.sock, s.port));
  ::fcntl(s.sock, F_SETFL, O_NONBLOCK);
  // Each request gets a reply as long as itself, which this side never
  // reads: keep sending until the server, stuck writing a reply, drops the
  // client and ends.
  const std::string line = "robot" + std::string(500, 'x') + "\n";
  const auto start = Clock::now();
  auto lastTaken = start;
  auto ended = start;
  bool serverEnded = false;
  while (!serverEnded && Clock::now() - start < milliseconds(40000)) {
    if (::send(s.sock, line.data(), line.size(), MSG_NOSIGNAL) > 0) {
      lastTaken = Clock::now();
      continue;
    }
    std::this_thread::sleep_for(milliseconds(1));
    siginfo_t info{};
    // Whether it has ended, leaving it to be reaped below.
    serverEnded =
        ::waitid(P_PID, static_cast<id_t>(s.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == s.pid;
    ended = Clock::now();
  }
  ASSERT_TRUE(serverEnded) << "still serving after 40 s";
  EXPECT_EQ(waitForExit(s), 0);
  // After the last request this side handed over, the server may still
  // have had its receive buffer's worth to answer before it was stuck;
  // then the 5 s bound. Generous slack for a busy machine: this catches a
  // server that never drops the client, not a slow one.
  EXPECT_LT(ended - lastTaken, milliseconds(20000));
  EXPECT_NE(s.stderrText.find(": the client took no reply for 5 s and is dropped\n"),
            std::string::npos)
      << s.stderrText;
}

TEST(Console, StandardOutputThatNobodyReadsNeverHoldsUpAClient) {
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  // Hold the console's pipe, made small (16 KiB), and never read it: a
  // server that waited for it would stop answering within some 1400
  // requests.
  const int console = s.stdoutFd;
  s.stdoutFd = -1;
  ::fcntl(console, F_SETPIPE_SZ, 16384);
  constexpr int kRequests = 3000;
  for (int i = 0; i < kRequests; ++i) {
    ASSERT_EQ(request(s, "nxt;getname", milliseconds(2000)), "err: not_enable_interface") << i;
  }
  std::string echoed;
  char buffer[4096];
  ::fcntl(console, F_SETFL, O_NONBLOCK);
  // Drained once nothing comes for a while: a writer of its own (Windows)
  // still holds bytes when the pipe first reads empty.
  const auto drainEnd = Clock::now() + milliseconds(5000);
  for (auto quietSince = Clock::now();
       Clock::now() - quietSince < milliseconds(300) && Clock::now() < drainEnd;) {
    const ssize_t n = ::read(console, buffer, sizeof buffer);
    if (n > 0) {
      echoed.append(buffer, static_cast<std::size_t>(n));
      quietSince = Clock::now();
    } else {
      std::this_thread::sleep_for(milliseconds(5));
    }
  }
  // Once it drains, one line tells how many were dropped, then the echo goes
  // on (a writer of its own may take a moment to get there).
  ASSERT_EQ(request(s, "nxt;close"), "err: not_enable_interface");
  const auto deadline = Clock::now() + milliseconds(2000);
  while (echoed.find("nxt;close") == std::string::npos && Clock::now() < deadline) {
    const ssize_t n = ::read(console, buffer, sizeof buffer);
    if (n > 0) echoed.append(buffer, static_cast<std::size_t>(n));
    if (n <= 0) std::this_thread::sleep_for(milliseconds(5));
  }
  ::close(console);
  const std::vector<std::string> lines = linesOf(withoutCarriageReturns(echoed));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "nxt;close");
  const std::string& told = lines[lines.size() - 2];
  const std::string tail = " echo lines dropped: standard output was full)";
  ASSERT_EQ(told.front(), '(') << told;
  ASSERT_NE(told.find(tail), std::string::npos) << told;
  const std::size_t dropped = std::stoul(told.substr(1));
  for (std::size_t i = 0; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i], "nxt;getname");
  EXPECT_EQ(lines.size() - 2 + dropped, static_cast<std::size_t>(kRequests));
}

// A terminal that nobody reads any more (a stopped one, an ssh session
// behind a dead network) holds up no more than a full pipe: every request
// is answered, and a client that then leaves is noticed at once.
TEST(Console, ATerminalThatNobodyReadsNeverHoldsUpAClient) {
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  const int port = freeLoopbackPort();
  SimServer s;
  ASSERT_TRUE(startProgram(s, "/bin/sh",
                           {"-c", "exec '" + serverProgram() + "' --latency-us 0 --port " +
                                      std::to_string(port) + " >" + ::ptsname(terminal)},
                           port))
      << s.stderrText;
  for (int i = 0; i < 5000; ++i) {
    ASSERT_EQ(request(s, "nxt;getname", milliseconds(2000)), "err: not_enable_interface") << i;
  }
  closeClient(s);
  EXPECT_EQ(waitForExit(s, milliseconds(1000)), 0) << s.stderrText;
  EXPECT_NE(s.stderrText.find("the client went away without bye"), std::string::npos)
      << s.stderrText;
  ::close(terminal);
}

}  // namespace
