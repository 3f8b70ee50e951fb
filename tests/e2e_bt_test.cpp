// nxt-bridge-bt as a client sees it, over the simulated brick on a
// pseudo-terminal (nxt-bridge-bt-pty), with the faults that nxt-brick-sim
// injects on the line: replies split byte by byte, a reply held past the
// deadline, a line that hangs up, a length out of step; and over device
// paths with nothing behind them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "e2e_harness.h"
#include "tools/text_lines.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The transport's reply deadline is 2 s; a request that meets it must be
// answered soon after, even on a busy machine.
constexpr milliseconds kPastTheDeadline{4000};

class BtPty : public ::testing::Test {
 protected:
  void SetUp() override { useServerProgram(NXT_BT_PTY_PATH, seconds(10)); }
};

std::vector<std::string> linesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> found;
  for (const std::string& line : linesOf(text)) {
    if (line.find(part) != std::string::npos) found.push_back(line);
  }
  return found;
}

// A request answered within `bound`; its reply, or "<timeout>".
std::string within(SimServer& server, const std::string& line, milliseconds bound) {
  return request(server, line, bound);
}

TEST_F(BtPty, RepliesSplitByteByByteGiveTheSameRepliesAndTelegrams) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--latency-us", "0", "--fault", "split@1", "--fault", "split@2",
                                   "--fault", "split@3"}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  EXPECT_EQ(request(server, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(server, "nxt;getname"), "NXT");
  EXPECT_EQ(request(server, "motor;getrotationcount;out_b"), "0");
  EXPECT_EQ(request(server, "nxt;batterylevel"), "8100");
  EXPECT_EQ(sentTelegrams(server),
            (std::vector<std::string>{"00 0b", "01 9b", "00 06 01", "00 0b"}));
  // Nothing for the operator but the start-up line.
  EXPECT_EQ(server.stderrText,
            "nxt-bridge-bt: serving TCP port " + std::to_string(server.port) + " over Bluetooth\n");
}

TEST_F(BtPty, AStalledReplyTimesOutAndTheNextRequestsGetTheirOwn) {
  SimServer server;
  ASSERT_TRUE(
      startServer(server, {"--latency-us", "0", "--battery", "7516", "--fault", "hold@1=3000"}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  // Nothing in time: the buffer as it was filled, 0x0101.
  EXPECT_EQ(within(server, "nxt;batterylevel", kPastTheDeadline), "257");
  // The late reply comes during the next exchange and is not taken for it.
  EXPECT_EQ(within(server, "nxt;getname", kPastTheDeadline), "NXT");
  EXPECT_EQ(request(server, "nxt;batterylevel"), "7516");
  EXPECT_EQ(request(server, "bye", milliseconds(1000)), "<closed>");
  EXPECT_EQ(waitForExit(server), 0);
}

TEST_F(BtPty, ADroppedLineAnswersEveryRequestAndTheNextOpenConnectsAfresh) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--latency-us", "0", "--fault", "drop@2"}, false));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  EXPECT_EQ(request(server, "nxt;batterylevel"), "8100");
  // The line hangs up under this request: answered as without a brick.
  EXPECT_EQ(within(server, "nxt;batterylevel", kPastTheDeadline), "257");
  EXPECT_EQ(within(server, "motor;setforward;out_a;50", kPastTheDeadline), "ok");
  EXPECT_EQ(within(server, "motor;getrotationcount;out_a", kPastTheDeadline), "16843009");
  EXPECT_EQ(within(server, "nxt;getname", kPastTheDeadline), "");
  EXPECT_EQ(request(server, "nxt;open"), "ok");
  EXPECT_EQ(request(server, "nxt;getname"), "NXT");
  EXPECT_EQ(request(server, "nxt;batterylevel"), "8100");
  ASSERT_TRUE(sendRaw(server, "bye\n"));
  EXPECT_EQ(waitForExit(server), 0);
  EXPECT_EQ(linesWith(server.stderrText, "lost").size(), 1u) << server.stderrText;
}

TEST_F(BtPty, ALengthOutOfStepDropsTheLinkAndTheNextOpenConnectsAfresh) {
  for (const char* length : {"0", "129", "300"}) {
    SimServer server;
    ASSERT_TRUE(startServer(
        server, {"--latency-us", "0", "--fault", std::string("length@1=") + length}, false));
    ASSERT_EQ(request(server, "nxt;open"), "ok");
    EXPECT_EQ(within(server, "nxt;batterylevel", kPastTheDeadline), "257") << length;
    EXPECT_EQ(within(server, "nxt;batterylevel", kPastTheDeadline), "257") << length;
    EXPECT_EQ(request(server, "nxt;open"), "ok") << length;
    EXPECT_EQ(request(server, "nxt;batterylevel"), "8100") << length;
    ASSERT_TRUE(sendRaw(server, "bye\n"));
    EXPECT_EQ(waitForExit(server), 0);
    EXPECT_EQ(linesWith(server.stderrText, "out of step").size(), 1u) << server.stderrText;
  }
}

TEST_F(BtPty, ALineWithNothingBehindItAnswersErrAtOnce) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--no-brick"}, false));
  const auto start = Clock::now();
  EXPECT_EQ(request(server, "nxt;open"), "err");
  EXPECT_LT(Clock::now() - start, kPastTheDeadline);
  EXPECT_EQ(request(server, "nxt;getname"), "err: not_enable_interface");
  ASSERT_TRUE(sendRaw(server, "bye\n"));
  EXPECT_EQ(waitForExit(server), 0);
  EXPECT_EQ(linesWith(server.stderrText, "nothing answers behind it (EIO)").size(), 1u)
      << server.stderrText;
}

// nxt-brick-sim on a pseudo-terminal linked at `link`, stopped at the end.
struct BrickOnPty {
  pid_t pid = -1;
  explicit BrickOnPty(const std::string& link) {
    pid = ::fork();
    if (pid == 0) {
      if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(127);
      ::execl(NXT_BRICK_SIM_PATH, NXT_BRICK_SIM_PATH, "--pty", "--link", link.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      struct stat info {};
      if (::lstat(link.c_str(), &info) == 0) break;
      std::this_thread::sleep_for(milliseconds(10));
    }
  }
  ~BrickOnPty() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

TEST(BtDevice, APathAnswersErrWhileNoBrickIsBehindIt) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/nxt-bt-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string link = dir + "/rfcomm0";
  SimServer server;
  const int port = freeLoopbackPort();
  ASSERT_TRUE(
      startProgram(server, NXT_BRIDGE_BT_PATH, {"--port", std::to_string(port), link}, port));
  EXPECT_EQ(request(server, "nxt;open"), "err");
  for (int run = 0; run < 2; ++run) {
    {
      // The brick switched on later is found by the next open.
      BrickOnPty brick(link);
      EXPECT_EQ(request(server, "nxt;open"), "ok") << run;
      EXPECT_EQ(request(server, "nxt;getname"), "NXT") << run;
    }
    // Switched off while the link is idle: the next open finds it gone.
    EXPECT_EQ(request(server, "nxt;open"), "err") << run;
  }
  ASSERT_TRUE(sendRaw(server, "bye\n"));
  EXPECT_EQ(waitForExit(server), 0);
  EXPECT_EQ(linesWith(server.stderrText, "no such device (ENOENT)").size(), 3u)
      << server.stderrText;
  EXPECT_EQ(linesWith(server.stderrText, "lost (the brick hung up)").size(), 2u)
      << server.stderrText;
  ::rmdir(dir.c_str());
}

TEST(BtDevice, AnAddressAnswersWithinTheConnectBound) {
  // This machine may have no Bluetooth at all, or no brick at that address:
  // either way "err" and one line, within the 5 s bound of a connect.
  SimServer server;
  const int port = freeLoopbackPort();
  ASSERT_TRUE(startProgram(server, NXT_BRIDGE_BT_PATH,
                           {"--port", std::to_string(port), "00:16:53:FF:FF:FE"}, port));
  EXPECT_EQ(request(server, "nxt;open", milliseconds(8000)), "err");
  ASSERT_TRUE(sendRaw(server, "bye\n"));
  EXPECT_EQ(waitForExit(server), 0);
  EXPECT_EQ(linesWith(server.stderrText, "cannot open the NXT brick at 00:16:53:FF:FF:FE").size(),
            1u)
      << server.stderrText;
}

TEST(BtDevice, BadArgumentsEndWithOneLineAndStatus2) {
  for (const char* args :
       {"", "rfcomm0", "00:16:53:0A:0B", "--port", "--port 0 /dev/rfcomm0", "--port= /dev/rfcomm0",
        "--port=65536 /dev/rfcomm0", "--baud 9600 /dev/rfcomm0", "/dev/rfcomm0 /dev/rfcomm1",
        "/dev/rfcomm0 --por 3000", "/dev/rfcomm0 --port 0"}) {
    int status = -1;
    const std::string out =
        runCommand(std::string(NXT_BRIDGE_BT_PATH) + " " + args + " 2>&1", status, 10);
    EXPECT_EQ(status, 2) << args;
    ASSERT_EQ(linesOf(out).size(), 1u) << args << ": " << out;
    EXPECT_EQ(out.rfind("nxt-bridge-bt: ", 0), 0u) << out;
  }
  int status = -1;
  const std::string usage = runCommand(std::string(NXT_BRIDGE_BT_PATH) + " --help", status, 10);
  EXPECT_EQ(status, 0);
  EXPECT_NE(usage.find("nxt-bridge-bt [--port N] BRICK"), std::string::npos) << usage;
}

// The brick alone with its live page: the page is served, and standard
// output still holds the terminal's path alone, which the launchers read.
// A page that cannot listen ends the brick before it makes its line.
TEST(BrickSimView, ThePageIsServedAndThePathStaysTheOnlyLineOnStandardOutput) {
  const int view = freeLoopbackPort();
  SimServer brick;
  ASSERT_TRUE(
      startProgram(brick, NXT_BRICK_SIM_PATH, {"--pty", "--view", std::to_string(view)}, view));
  ASSERT_TRUE(sendRaw(brick, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  EXPECT_EQ(readLine(brick), "HTTP/1.1 200 OK\r");
  ASSERT_TRUE(waitForOutput(brick, "\n"));
  EXPECT_EQ(linesOf(brick.stdoutText).size(), 1u) << brick.stdoutText;
  EXPECT_EQ(brick.stdoutText.rfind("/dev/pts/", 0), 0u) << brick.stdoutText;

  int status = -1;
  const std::string taken = runCommand(
      std::string(NXT_BRICK_SIM_PATH) + " --pty --view " + std::to_string(view) + " 2>&1", status,
      10);
  EXPECT_EQ(status, 1);
  ASSERT_EQ(linesOf(taken).size(), 1u) << taken;
  EXPECT_EQ(taken.rfind("nxt-brick-sim: ", 0), 0u) << taken;
  EXPECT_EQ(taken.find("/dev/pts/"), std::string::npos) << taken;
}

}  // namespace
