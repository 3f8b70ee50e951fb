// End-to-end tests through the USB rig: the real nxt-bridge, in a qemu
// guest, talks through libusb, usbfs and the kernel's USB core to the
// simulated brick served as a USB gadget on dummy_hcd. Each test boots one
// guest and makes several checks in it. The faults (unplugging the brick,
// muting or freezing the gadget) go through the rig's control port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e_harness.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The longest a request may take through the rig while the brick is gone,
// muted or frozen: the transport's 1 s timeout, its draining, a slow guest.
constexpr milliseconds kFaultReplyBound{15000};

// A rig directory of our own, removed at the end.
struct RigDir {
  std::string path;
  RigDir() {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp != nullptr ? tmp : "/tmp") + "/nxt-rig-test-XXXXXX";
    if (::mkdtemp(path.data()) == nullptr) path.clear();
  }
  ~RigDir() {
    if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
  }
};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sends `command` to the guest's control port and waits for its answer:
// "done COMMAND", "error COMMAND", or "<timeout>".
std::string control(const RigDir& rig, const std::string& command,
                    milliseconds timeout = milliseconds(20000)) {
  const int in = ::open((rig.path + "/control.in").c_str(), O_WRONLY | O_NONBLOCK);
  const int out = ::open((rig.path + "/control.out").c_str(), O_RDONLY | O_NONBLOCK);
  std::string answer = "<timeout>";
  const std::string line = command + "\n";
  if (in >= 0 && out >= 0 &&
      ::write(in, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
    const auto deadline = Clock::now() + timeout;
    std::string got;
    while (Clock::now() < deadline) {
      pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char c = 0;
      if (::read(out, &c, 1) != 1) continue;
      if (c != '\n') {
        got += c;
        continue;
      }
      if (got == "done " + command || got == "error " + command) {
        answer = got;
        break;
      }
      got.clear();  // an answer to an earlier command
    }
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return answer;
}

// Starts the rig with `args` and its files in `rig`.
bool startRig(SimServer& server, const RigDir& rig, std::vector<std::string> args = {},
              bool withTrace = true) {
  args.insert(args.begin(), {"--rig-dir", rig.path});
  return startServer(server, args, withTrace);
}

// A request that must be answered, whatever the answer, within `bound`.
std::string boundedRequest(SimServer& server, const std::string& line,
                           milliseconds bound = kFaultReplyBound) {
  return request(server, line, bound);
}

std::vector<std::string> since(const std::vector<std::string>& lines, std::size_t from) {
  if (from > lines.size()) return {};
  return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
}

std::vector<std::string> lastLines(const std::vector<std::string>& lines, std::size_t count) {
  return since(lines, lines.size() < count ? 0 : lines.size() - count);
}

class UsbRig : public ::testing::Test {
 protected:
  void SetUp() override {
    useServerProgram(NXT_USB_RIG_PATH, seconds(180));
    ASSERT_FALSE(rig.path.empty());
  }
  RigDir rig;
};

// One step of a session: the request, and whether its reply depends on
// time (a motor's position), so that only its telegram is compared.
struct Step {
  const char* request;
  bool replyVaries;
};

// Requests of every module. What each does is what nxt-bridge-sim does;
// through the rig the replies and the telegrams must be the same.
const Step kSession[] = {
    {"nxt;open", false},
    {"nxt;batterylevel", false},
    {"nxt;getname", false},
    {"nxt;playtone;440;200", false},
    {"nxt;startprogram;demo.rxe", false},
    {"nxt;stopprogram", false},
    {"nxt;stopprogram", false},
    {"nxt;startprogram;missing.rxe", false},
    {"nxt;playsoundfile;click.rso;true", false},
    {"nxt;stopsound", false},
    {"nxt;playsoundfile;none.rso;false", false},
    {"nxt;open", false},
    {"motor;setforward;out_a;75", false},
    {"motor;setreverse;out_b;30", false},
    {"motor;getrotationcount;out_a", true},
    {"motor;stop;out_a;true", false},
    {"motor;stop;out_b;false", false},
    {"motor;resetrotationcount;out_a;false", false},
    {"motor;nosuchcommand", false},
    {"sensor;settouch;in_1", false},
    {"sensor;setlight;in_3;true", false},
    {"sensor;getvalue;in_2", false},
    {"sensor;lsgetstatus;in_4", false},
    {"sensor;setsonarcontinuousinterval;in_4;300", false},
    {"sensor;nosuchcommand", false},
    {"robot;x", false},
    {"nxt;getname", false},
    {"nxt;close", false},
    {"nxt;batterylevel", false},
};

struct SessionRecord {
  std::vector<std::string> replies;
  std::vector<std::string> sent;  // the telegrams the host sent
  std::string stdoutText;
  int exitStatus = -1;
};

void runSession(SimServer& s, SessionRecord& record) {
  for (const Step& step : kSession) {
    const std::string reply = request(s, step.request);
    record.replies.push_back(step.replyVaries ? "(varies)" : reply);
    EXPECT_NE(reply, "<timeout>") << step.request;
  }
  ASSERT_TRUE(sendRaw(s, "bye\n"));
  EXPECT_EQ(readLine(s), "<closed>");
  record.exitStatus = waitForExit(s, milliseconds(30000));
  record.stdoutText = s.stdoutText;
  record.sent = sentTelegrams(s);
}

TEST_F(UsbRig, EveryModuleGivesTheSameRepliesAndTelegramsAsTheSimulatedBrick) {
  const std::vector<std::string> brick = {"--name", "Robo1", "--battery", "7516"};
  SessionRecord expected;
  {
    SimServer sim;
    useServerProgram(NXT_BRIDGE_SIM_PATH, seconds(10));
    ASSERT_TRUE(startServer(sim, brick)) << sim.stderrText;
    runSession(sim, expected);
    useServerProgram(NXT_USB_RIG_PATH, seconds(180));
  }
  SimServer s;
  const auto start = Clock::now();
  ASSERT_TRUE(startRig(s, rig, brick)) << s.stderrText;
  std::cout << "[ rig      ] booted and listening after "
            << std::chrono::duration_cast<milliseconds>(Clock::now() - start).count() << " ms"
            << std::endl;
  SessionRecord got;
  runSession(s, got);
  EXPECT_EQ(got.exitStatus, 0) << s.stderrText;
  EXPECT_EQ(got.replies, expected.replies);
  EXPECT_EQ(got.sent, expected.sent);
  // The standard output is nxt-bridge's echo of the requests, and only it.
  EXPECT_EQ(got.stdoutText, expected.stdoutText);

  // The brick commands, byte for byte, as they crossed the USB bus.
  const std::vector<std::string> trace = traceLines(s);
  ASSERT_GE(trace.size(), 14u);
  EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + 14),
            (std::vector<std::string>{
                "> 00 0b",  // GETBATTERYLEVEL: 7516 mV
                "< 02 0b 00 5c 1d",
                "> 01 9b",  // GETDEVICEINFO: the name
                "< 02 9b 00 52 6f 62 6f 31 00 00 00 00 00 00 00 00 00 00 00 16 53 0a "
                "0b 0c 00 00 00 00 00 6c b5 01 00",
                "> 80 03 b8 01 c8 00",  // PLAYTONE 440 Hz 200 ms, no reply
                // STARTPROGRAM demo.rxe, STOPPROGRAM twice, STARTPROGRAM missing.rxe
                "> 80 00 64 65 6d 6f 2e 72 78 65 00 00 00 00 00 00 00 00 00 00 00 00",
                "# program demo.rxe started",
                "> 80 01",
                "# program demo.rxe stopped",
                "> 80 01",
                "> 80 00 6d 69 73 73 69 6e 67 2e 72 78 65 00 00 00 00 00 00 00 00 00",
                // PLAYSOUNDFILE click.rso looped, STOPSOUNDPLAYBACK, PLAYSOUNDFILE none.rso
                "> 80 02 01 63 6c 69 63 6b 2e 72 73 6f 00 00 00 00 00 00 00 00 00 00 00",
                "> 80 0c",
                "> 80 02 00 6e 6f 6e 65 2e 72 73 6f 00 00 00 00 00 00 00 00 00 00 00 00",
            }));
  // Motor and sensor commands crossed it too: SETOUTPUTSTATE (port A,
  // power 75, on and regulated, running), GETOUTPUTSTATE with its 25-byte
  // reply, SETINPUTMODE (port 1 touch, boolean), GETINPUTVALUES.
  auto has = [&](const std::string& line) {
    return std::find(trace.begin(), trace.end(), line) != trace.end();
  };
  EXPECT_TRUE(has("> 80 04 00 4b 05 01 00 20 00 00 00 00"));
  EXPECT_TRUE(has("> 00 06 00"));
  EXPECT_TRUE(std::any_of(trace.begin(), trace.end(), [](const std::string& line) {
    return line.rfind("< 02 06 00 00 4b 05 01 00 20", 0) == 0 && line.size() == 1 + 25 * 3;
  }));
  EXPECT_TRUE(has("> 80 05 00 01 20"));
  EXPECT_TRUE(has("> 00 07 01"));
  EXPECT_EQ(std::vector<std::string>(expected.replies.begin(), expected.replies.begin() + 4),
            (std::vector<std::string>{"ok", "7516", "Robo1", "ok"}));

  // The host's USB core saw an NXT: its ids, the Bluetooth address as the
  // serial number, full speed, one vendor interface with two bulk endpoints
  // of 64 bytes (numbered by dummy_hcd).
  const std::string console = readFile(rig.path + "/console.log");
  EXPECT_NE(console.find("rig: host sees 0694:0002 serial 0016530A0B0C speed 12 config 1 "
                         "interface ff/ff/ff endpoints 02:out:Bulk:0040 81:in:Bulk:0040"),
            std::string::npos)
      << console;
}

TEST_F(UsbRig, UnpluggedMidRunRequestsAreStillAnsweredAndThePluggedBackBrickOpens) {
  SimServer s;
  ASSERT_TRUE(startRig(s, rig, {"--latency-us", "300000"})) << s.stderrText;
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");

  // Unplugged while a request is on the wire: the brick takes 300 ms to
  // answer, the device goes in the meantime.
  ASSERT_TRUE(sendRaw(s, "nxt;batterylevel\n"));
  ASSERT_EQ(control(rig, "unplug"), "done unplug");
  const std::string inFlight = readLine(s, kFaultReplyBound);
  EXPECT_NE(inFlight, "<timeout>");
  EXPECT_NE(inFlight, "<closed>");

  // Gone: every request is answered, none hangs, none gets the brick's data.
  for (const char* line : {"nxt;batterylevel", "nxt;getname", "nxt;playtone;440;100",
                           "motor;setforward;out_a;50", "sensor;getvalue;in_1"}) {
    const std::string reply = boundedRequest(s, line);
    EXPECT_NE(reply, "<timeout>") << line;
    EXPECT_NE(reply, "<closed>") << line;
    EXPECT_NE(reply, "8100") << line;
    EXPECT_NE(reply, "NXT") << line;
  }
  EXPECT_EQ(boundedRequest(s, "nxt;open"), "err");

  // Plugged back: opened again, and answered as before. (The telegram in
  // flight at the unplugging is traced once its 300 ms are over, so only
  // the end of the trace is ours.)
  ASSERT_EQ(control(rig, "plug"), "done plug");
  EXPECT_EQ(boundedRequest(s, "nxt;open"), "ok");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(s, "nxt;getname"), "NXT");
  EXPECT_EQ(lastLines(traceLines(s), 4),
            (std::vector<std::string>{
                "> 00 0b", "< 02 0b 00 a4 1f", "> 01 9b",
                "< 02 9b 00 4e 58 54 00 00 00 00 00 00 00 00 00 00 00 00 00 16 53 0a 0b 0c 00 "
                "00 00 00 00 6c b5 01 00"}));

  // Twice, to be sure that the first time was no accident of a fresh boot.
  ASSERT_EQ(control(rig, "unplug"), "done unplug");
  EXPECT_NE(boundedRequest(s, "nxt;batterylevel"), "<timeout>");
  ASSERT_EQ(control(rig, "plug"), "done plug");
  EXPECT_EQ(boundedRequest(s, "nxt;open"), "ok");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");

  ASSERT_TRUE(sendRaw(s, "bye\n"));
  EXPECT_EQ(waitForExit(s, milliseconds(30000)), 0);
}

TEST_F(UsbRig, AGadgetThatStopsAnsweringTimesOutAndTheNextRequestIsAnswered) {
  SimServer s;
  ASSERT_TRUE(startRig(s, rig)) << s.stderrText;
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");

  // Muted: the telegram is read, no reply comes; the request is answered
  // after the transport's timeout, not with the brick's data.
  ASSERT_EQ(control(rig, "mute"), "done mute");
  std::size_t before = traceLines(s).size();
  std::string reply = boundedRequest(s, "nxt;batterylevel");
  EXPECT_NE(reply, "<timeout>");
  EXPECT_NE(reply, "8100");
  EXPECT_EQ(since(traceLines(s), before), (std::vector<std::string>{"> 00 0b"}));
  reply = boundedRequest(s, "nxt;getname");
  EXPECT_NE(reply, "<timeout>");
  EXPECT_NE(reply, "NXT");

  ASSERT_EQ(control(rig, "unmute"), "done unmute");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(s, "nxt;getname"), "NXT");

  // Frozen: not even the telegram is taken, so the host's write times out.
  ASSERT_EQ(control(rig, "freeze"), "done freeze");
  before = traceLines(s).size();
  reply = boundedRequest(s, "nxt;batterylevel");
  EXPECT_NE(reply, "<timeout>");
  EXPECT_NE(reply, "8100");
  EXPECT_NE(boundedRequest(s, "nxt;playtone;440;100"), "<timeout>");
  EXPECT_EQ(traceLines(s).size(), before);

  ASSERT_EQ(control(rig, "thaw"), "done thaw");
  EXPECT_EQ(boundedRequest(s, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(s, "nxt;getname"), "NXT");

  // Late: the reply comes 1.5 s after the telegram, when the transport has
  // given up on it, and reaches the host during the next exchange: it must
  // not be taken for that one's reply.
  ASSERT_EQ(control(rig, "late 1500"), "done late 1500");
  reply = boundedRequest(s, "nxt;batterylevel");
  EXPECT_NE(reply, "<timeout>");
  EXPECT_NE(reply, "8100");
  ASSERT_EQ(control(rig, "late 0"), "done late 0");
  EXPECT_EQ(boundedRequest(s, "nxt;getname"), "NXT");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(s, "nxt;getname"), "NXT");

  ASSERT_TRUE(sendRaw(s, "bye\n"));
  EXPECT_EQ(waitForExit(s, milliseconds(30000)), 0);
}

TEST_F(UsbRig, NoBrickOnTheBusMeansOpenAnswersErr) {
  SimServer s;
  ASSERT_TRUE(startRig(s, rig, {"--no-brick"})) << s.stderrText;
  EXPECT_EQ(request(s, "nxt;open"), "err");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "err: not_enable_interface");
  ASSERT_TRUE(sendRaw(s, "bye\n"));
  EXPECT_EQ(waitForExit(s, milliseconds(30000)), 0);
  EXPECT_TRUE(traceLines(s).empty());
  // nxt-bridge's own words on standard error reach ours.
  EXPECT_NE(s.stderrText.find("no NXT found on USB"), std::string::npos) << s.stderrText;
}

TEST_F(UsbRig, BadOptionExitsWithStatus2BeforeBooting) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--bogus"}, std::vector<std::string>{"--port", "x"},
        std::vector<std::string>{"--battery"}}) {
    SimServer s;
    EXPECT_FALSE(startRig(s, rig, args, false));
    EXPECT_EQ(s.exitStatus, 2);
    EXPECT_EQ(std::count(s.stderrText.begin(), s.stderrText.end(), '\n'), 1) << s.stderrText;
    EXPECT_EQ(::access((rig.path + "/console.log").c_str(), F_OK), -1) << "it booted";
  }
}

}  // namespace
