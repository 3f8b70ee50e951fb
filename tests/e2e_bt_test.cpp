// nxt-bridge-bt as a client sees it, over the simulated brick on a
// pseudo-terminal (nxt-bridge-bt-pty), with the faults that nxt-brick-sim
// injects on the line: replies split byte by byte, a reply held past the
// deadline, a line that hangs up, a frame of the wrong length; and over
// device paths with nothing behind them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
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

// The launcher: nxt-bridge-bt-pty, or the one that NXT_E2E_SERVER names
// (nxt-bridge-bt-wine runs the Windows program under Wine, on a COM port).
std::string btLauncher() {
  const char* given = std::getenv("NXT_E2E_SERVER");
  return given != nullptr && *given != '\0' ? given : NXT_BT_PTY_PATH;
}

class BtPty : public ::testing::Test {
 protected:
  void SetUp() override { useServerProgram(btLauncher(), serverStartTimeout()); }
};

std::vector<std::string> linesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> found;
  for (const std::string& line : linesOf(text)) {
    if (line.find(part) != std::string::npos) found.push_back(line);
  }
  return found;
}

// One fault of nxt-brick-sim's on one telegram, and the requests around it
// with their replies: the true value or "err: timeout", never a value made
// up. Then nxt;open connects (afresh where the link was lost) and the
// battery reads true.
struct LineFault {
  const char* name;
  const char* fault;                                       // --fault KIND@N[=VALUE]
  std::vector<std::pair<std::string, std::string>> steps;  // "#": any count
  const char* told;       // the one line on standard error that tells it
  const char* stopAfter;  // a telegram sent after the faulted one, or ""
};

// The first poll of a goto is its third telegram, after the read of the
// count and the run; the LSREAD of a sonar read is the fifth, after
// setsonar, the measurement mode, the read request and one status query
// (at 30 ms a telegram the sensor has its byte by then).
const std::string kGoTo = "motor;goto;out_a;100;720;true";
const std::string kBrakeA = "80 04 00 00 07 01 00 20 00 00 00 00";
const std::pair<std::string, std::string> kSetSonar = {"sensor;setsonar;in_4", "ok"};
const std::string kSonar = "sensor;getsonarvalue;in_4";
const std::string kTimeout = "err: timeout";
const char kLost[] = "is lost";
const char kOutOfStep[] = "out of step";

void PrintTo(const LineFault& c, std::ostream* os) { *os << c.name; }

class BtLineFault : public BtPty, public ::testing::WithParamInterface<LineFault> {};

TEST_P(BtLineFault, AnswersTheTruthOrAnErrorAndTheLinkComesBack) {
  const LineFault& c = GetParam();
  const bool sonar = c.steps.front() == kSetSonar;
  SimServer server;
  ASSERT_TRUE(startServer(
      server, {"--latency-us", sonar ? "30000" : "0", "--sonar", "in_4=200", "--fault", c.fault}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  for (const auto& [line, reply] : c.steps) {
    const std::string got = request(server, line, kPastTheDeadline);
    if (reply == "#") {
      EXPECT_NE(got.find_first_of("0123456789"), std::string::npos) << line << ": " << got;
      EXPECT_EQ(got.find_first_not_of("-0123456789"), std::string::npos) << line << ": " << got;
    } else {
      EXPECT_EQ(got, reply) << line;
    }
  }
  // A COM port tells no hang-up, and under Wine a hung-up line reads as
  // silence: a drop takes the timeout path, and the line is found gone
  // when the next telegram cannot be written. A stop after the fault finds
  // it so; else it is the next request's, which answers at once.
  const bool dropped = std::string(c.fault).rfind("drop@", 0) == 0;
  if (serverIsWindowsProgram() && dropped && c.stopAfter[0] == '\0') {
    EXPECT_EQ(request(server, "nxt;open"), "ok");
    EXPECT_EQ(request(server, "nxt;batterylevel", milliseconds(1500)), kTimeout);
  }
  EXPECT_EQ(request(server, "nxt;open"), "ok");
  EXPECT_EQ(request(server, "nxt;batterylevel"), "8100");
  EXPECT_EQ(sayBye(server), 0);
  const std::string started =
      "nxt-bridge-bt: serving TCP port " + std::to_string(server.port) + " over Bluetooth\n";
  if (c.told[0] == '\0') {
    EXPECT_EQ(server.stderrText, started);
  } else {
    EXPECT_EQ(linesWith(server.stderrText, c.told).size(), 1u) << server.stderrText;
  }
  if (c.stopAfter[0] != '\0') {
    const std::vector<std::string> sent = sentTelegrams(server);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_NE(std::find(sent.begin() + 3, sent.end(), c.stopAfter), sent.end())
        << "no stop after the fault";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BtLineFault,
    ::testing::Values(
        // The only telegram of a query.
        LineFault{"QueryLineDrops", "drop@1", {{"nxt;batterylevel", kTimeout}}, kLost, ""},
        LineFault{"QueryReplyLate",
                  "hold@1=2500",
                  {{"nxt;batterylevel", kTimeout}, {"nxt;getname", "NXT"}},
                  "a late reply to GETBATTERYLEVEL was dropped",
                  ""},
        LineFault{
            "QueryReplyLateForAnotherPort",
            "hold@1=2500",
            {{"motor;getrotationcount;out_a", kTimeout}, {"motor;getrotationcount;out_b", "0"}},
            "a late reply to GETOUTPUTSTATE A was dropped",
            ""},
        LineFault{"QueryReplySplit", "split@1", {{"nxt;batterylevel", "8100"}}, "", ""},
        LineFault{
            "QueryFrameShort", "length@1=4", {{"nxt;batterylevel", kTimeout}}, kOutOfStep, ""},
        LineFault{"QueryFrameLong", "length@1=7", {{"nxt;batterylevel", kTimeout}}, kOutOfStep, ""},
        LineFault{
            "QueryFrameEmpty", "length@1=0", {{"nxt;batterylevel", kTimeout}}, kOutOfStep, ""},
        LineFault{
            "QueryFrameAbove64", "length@1=65", {{"nxt;batterylevel", kTimeout}}, kOutOfStep, ""},
        // The first poll of a goto: the motor is stopped, over a new line
        // when the old one is gone.
        LineFault{"GoToLineDrops", "drop@3", {{kGoTo, kTimeout}}, kLost, kBrakeA.c_str()},
        LineFault{"GoToPollLate",
                  "hold@3=2500",
                  {{kGoTo, kTimeout}, {"nxt;batterylevel", "8100"}},
                  "a late reply to GETOUTPUTSTATE A was dropped",
                  kBrakeA.c_str()},
        LineFault{"GoToPollSplit",
                  "split@3",
                  {{kGoTo, "ok"}, {"motor;getrotationcount;out_a", "#"}},
                  "",
                  kBrakeA.c_str()},
        LineFault{
            "GoToFrameShort", "length@3=24", {{kGoTo, kTimeout}}, kOutOfStep, kBrakeA.c_str()},
        LineFault{"GoToFrameLong", "length@3=26", {{kGoTo, kTimeout}}, kOutOfStep, kBrakeA.c_str()},
        // The LSREAD of a sonar read.
        LineFault{"SonarLineDrops", "drop@5", {kSetSonar, {kSonar, kTimeout}}, kLost, ""},
        LineFault{"SonarReadLate",
                  "hold@5=2500",
                  {kSetSonar, {kSonar, kTimeout}, {"nxt;batterylevel", "8100"}},
                  "a late reply to LSREAD was dropped",
                  ""},
        LineFault{"SonarReadSplit", "split@5", {kSetSonar, {kSonar, "200"}}, "", ""},
        LineFault{
            "SonarFrameShort", "length@5=19", {kSetSonar, {kSonar, kTimeout}}, kOutOfStep, ""},
        LineFault{
            "SonarFrameLong", "length@5=21", {kSetSonar, {kSonar, kTimeout}}, kOutOfStep, ""}),
    [](const ::testing::TestParamInfo<LineFault>& row) { return std::string(row.param.name); });

TEST_F(BtPty, AClientLeavingALostLinkGetsTheStopsThroughTheLineOpenedAgain) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--latency-us", "0", "--fault", "drop@2"}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  ASSERT_EQ(request(server, "motor;setforward;out_b;30"), "ok");
  ASSERT_EQ(request(server, "nxt;batterylevel", kPastTheDeadline), "err: timeout");
  closeClient(server);
  EXPECT_EQ(waitForExit(server), 0);
  EXPECT_EQ(lastSent(server, 3), kEveryMotorCoasts);
  EXPECT_EQ(linesWith(server.stderrText, "went away without bye; motors A, B and C coast").size(),
            1u)
      << server.stderrText;
}

// A stop signal to nxt-bridge-bt-pty's whole process group, as Ctrl-C in a
// terminal sends it, reaches nxt-bridge-bt once; the brick ends only after
// the coasting stops have reached it.
TEST(BtPtyLauncher, AStopSignalToItsGroupLetsTheStopsReachTheBrick) {
  const char* tmp = std::getenv("TMPDIR");
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SimServer server;
    server.traceFile = std::string(tmp != nullptr ? tmp : "/tmp") + "/nxt-bt-launcher-" +
                       std::to_string(::getpid()) + "-" + std::to_string(signal) + ".trace";
    const int port = freeLoopbackPort();
    // setsid: the launcher leads a process group of its own, as in a terminal.
    ASSERT_TRUE(startProgram(server, "/usr/bin/setsid",
                             {btLauncher(), "--port", std::to_string(port), "--latency-us", "0",
                              "--trace", server.traceFile},
                             port));
    ASSERT_EQ(request(server, "nxt;open"), "ok");
    ASSERT_TRUE(sendRaw(server, "motor;goto;out_a;50;99999999999999999999;true\n"));
    ASSERT_TRUE(nothingArrives(server, milliseconds(200)));
    ::kill(-server.pid, signal);
    // Under Wine each signal reaches the program as Ctrl-C.
    EXPECT_EQ(waitForExit(server, seconds(10)),
              serverIsWindowsProgram() ? kWindowsControlCExit : 128 + signal)
        << signal;
    EXPECT_EQ(lastSent(server, 3), kEveryMotorCoasts) << signal;
    EXPECT_EQ(linesWith(server.stderrText, "ends serving; motors A, B and C coast").size(), 1u)
        << server.stderrText;
  }
}

TEST_F(BtPty, ALineWithNothingBehindItAnswersErrAtOnce) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--no-brick"}, false));
  const auto start = Clock::now();
  EXPECT_EQ(request(server, "nxt;open"), "err");
  EXPECT_LT(Clock::now() - start, kPastTheDeadline);
  EXPECT_EQ(request(server, "nxt;getname"), "err: not_enable_interface");
  EXPECT_EQ(sayBye(server), 0);
  const char* told = serverIsWindowsProgram() ? "nothing answers behind it (error "
                                              : "nothing answers behind it (EIO)";
  EXPECT_EQ(linesWith(server.stderrText, told).size(), 1u) << server.stderrText;
}

// nxt-brick-sim on a pseudo-terminal linked at `link`, stopped at the end.
struct BrickOnPty {
  pid_t pid = -1;
  explicit BrickOnPty(const std::string& link, std::vector<std::string> options = {}) {
    std::vector<std::string> args = {NXT_BRICK_SIM_PATH, "--pty", "--link", link};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
      if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(127);
      ::execv(argv[0], argv.data());
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
  EXPECT_EQ(sayBye(server), 0);
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
  EXPECT_EQ(sayBye(server), 0);
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

// The forms of BRICK each system takes: an address or a device path on
// Linux, a COM port on Windows. Another form ends the program before it
// serves, with one line that says what to give and status 2. The program
// is NXT_E2E_BT_PROGRAM (a command: under Wine, wine64 and the .exe), or
// this build's nxt-bridge-bt.
TEST(BtProgram, EachSystemTakesItsOwnFormsOfBrick) {
  const char* given = std::getenv("NXT_E2E_BT_PROGRAM");
  const std::string program = given != nullptr && *given != '\0' ? given : NXT_BRIDGE_BT_PATH;
  const bool windows = serverIsWindowsProgram();
  struct Form {
    const char* brick;
    const char* onLinux;  // "" when taken, else a part of the line that refuses it
    const char* onWindows;
  };
  for (const Form& f : {
           Form{"00:16:53:0A:0B:0C", "", "Bluetooth addresses are for Linux"},
           Form{"/dev/rfcomm0", "", "is no COM port"},
           Form{"COM5", "is a Windows COM port", ""},
           Form{"'\\\\.\\COM12'", "is a Windows COM port", ""},
           Form{"COM0", "names no brick", "names no brick"},
       }) {
    const std::string told = windows ? f.onWindows : f.onLinux;
    int status = -1;
    // --help answers once BRICK is taken; a BRICK refused is told first.
    const std::string out =
        runCommand(program + " " + f.brick + " --help 2>&1 >/dev/null", status, 30);
    if (told.empty()) {
      EXPECT_EQ(status, 0) << f.brick << ": " << out;
      EXPECT_EQ(out, "") << f.brick;
    } else {
      EXPECT_EQ(status, 2) << f.brick;
      ASSERT_EQ(linesOf(out).size(), 1u) << f.brick << ": " << out;
      EXPECT_NE(out.find(told), std::string::npos) << f.brick << ": " << out;
    }
  }
}

// The Bluetooth framing spoken straight to the brick on its terminal: a
// telegram with its two length bytes; a reply read within a second.
struct BrickLine {
  int fd = -1;
  explicit BrickLine(const std::string& path) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios mode{};
    if (fd >= 0 && ::tcgetattr(fd, &mode) == 0) {
      ::cfmakeraw(&mode);
      ::tcsetattr(fd, TCSANOW, &mode);
    }
  }
  ~BrickLine() {
    if (fd >= 0) ::close(fd);
  }
  bool send(std::vector<std::uint8_t> telegram) {
    telegram.insert(telegram.begin(), {static_cast<std::uint8_t>(telegram.size()), 0});
    return ::write(fd, telegram.data(), telegram.size()) == static_cast<ssize_t>(telegram.size());
  }
  std::vector<std::uint8_t> reply() {
    std::vector<std::uint8_t> bytes;
    const auto deadline = Clock::now() + seconds(1);
    std::size_t wanted = 2;
    while (bytes.size() < wanted && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      std::uint8_t b = 0;
      if (::read(fd, &b, 1) != 1) break;
      bytes.push_back(b);
      if (bytes.size() == 2) wanted = 2 + bytes[0] + 256 * bytes[1];
    }
    if (bytes.size() < wanted) return {};
    return std::vector<std::uint8_t>(bytes.begin() + 2, bytes.end());
  }
  // GETOUTPUTSTATE: the port's RotationCount, or a sentinel for no reply.
  std::int32_t rotation(std::uint8_t port) {
    if (!send({0x00, 0x06, port})) return INT32_MIN;
    const std::vector<std::uint8_t> r = reply();
    if (r.size() != 25 || r[2] != 0x00) return INT32_MIN;
    return static_cast<std::int32_t>(r[21] | r[22] << 8 | r[23] << 16 |
                                     static_cast<std::uint32_t>(r[24]) << 24);
  }
};

TEST(BrickSimMotors, ASynchronisedTurnKeepsTheMotorsTogetherUnderALoad) {
  // As a client library drives a two-wheeled robot: both motors
  // synchronised at power 75, turn ratio 0, the count of B polled every
  // 0.1 s until it passes 720, then a braked stop of both; C carries 60 %.
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/nxt-sync-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string link = dir + "/brick";
  {
    BrickOnPty brick(link, {"--load", "out_c=60"});
    BrickLine line(link);
    ASSERT_GE(line.fd, 0);
    for (std::uint8_t port : {1, 2}) {
      ASSERT_TRUE(line.send({0x00, 0x0A, port, 0x01}));  // BlockTachoCount to 0
      EXPECT_EQ(line.reply(), (std::vector<std::uint8_t>{0x02, 0x0A, 0x00}));
    }
    for (std::uint8_t port : {1, 2}) {
      ASSERT_TRUE(line.send({0x80, 0x04, port, 75, 0x07, 0x02, 0, 0x20, 0, 0, 0, 0}));
    }
    std::int32_t b = 0;
    for (int poll = 0; poll < 100 && b <= 720; ++poll) {
      std::this_thread::sleep_for(milliseconds(100));
      b = line.rotation(1);
      ASSERT_NE(b, INT32_MIN);
    }
    ASSERT_GT(b, 720);
    for (std::uint8_t port : {1, 2}) {
      ASSERT_TRUE(line.send({0x80, 0x04, port, 0, 0x07, 0x01, 0, 0x20, 0, 0, 0, 0}));
    }
    std::this_thread::sleep_for(milliseconds(500));
    b = line.rotation(1);
    const std::int32_t c = line.rotation(2);
    EXPECT_GT(b, 720);
    EXPECT_LE(std::abs(b - c), 30) << "B " << b << ", C " << c;
  }
  ::rmdir(dir.c_str());
}

// A --file that is a folder, or too big for the flash, ends either program
// before it serves: status 2 and one line naming the file and the reason.
TEST(SimPrograms, ABadFileEndsWithOneLineAndStatus2) {
  char dir[] = "/tmp/nxt-bad-file-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string big = std::string(dir) + "/big.rxe";
  ASSERT_EQ(std::system(("truncate -s 200000 " + big).c_str()), 0);
  for (const std::string& program : {std::string(NXT_BRIDGE_SIM_PATH) + " --port 1",
                                     std::string(NXT_BRICK_SIM_PATH) + " --pty"}) {
    for (const auto& [file, why] :
         {std::pair<std::string, std::string>{dir, "is a folder"}, {big, "has 200000 bytes"}}) {
      int status = -1;
      const std::string out = runCommand(program + " --file " + file + " 2>&1", status, 10);
      EXPECT_EQ(status, 2) << program << " " << file;
      ASSERT_EQ(linesOf(out).size(), 1u) << out;
      EXPECT_NE(out.find(file + " " + why), std::string::npos) << out;
      EXPECT_EQ(out.find("try --help"), std::string::npos) << out;  // no misused option
    }
  }
  // nxt-brick-sim serves no TCP port: its --help does not offer one.
  int status = -1;
  const std::string usage = runCommand(std::string(NXT_BRICK_SIM_PATH) + " --help", status, 10);
  EXPECT_EQ(status, 0);
  EXPECT_NE(usage.find("--name TEXT"), std::string::npos) << usage;
  EXPECT_EQ(usage.find("--port"), std::string::npos) << usage;
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

// The brick alone with its live page: the page is served, and standard
// output still holds the terminal's path alone, which the launchers read.
// A page that cannot listen ends the brick before it makes its line.
TEST(BrickSimView, ThePageIsServedAndThePathStaysTheOnlyLineOnStandardOutput) {
  const int view = freeLoopbackPort();
  SimServer brick;
  ASSERT_TRUE(
      startProgram(brick, NXT_BRICK_SIM_PATH, {"--pty", "--view", std::to_string(view)}, view));
  ASSERT_TRUE(
      sendRaw(brick, "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(view) + "\r\n\r\n"));
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
