// End-to-end tests through the USB rig: the real nxt-bridge, in a qemu
// guest, talks through libusb, usbfs and the kernel's USB core to the
// simulated brick served as a USB gadget on dummy_hcd. Each test boots one
// guest and makes several checks in it. The faults (unplugging the brick,
// muting or freezing the gadget) go through the rig's control port.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e_harness.h"
#include "tools/rig/rig_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The longest a request may take through the rig while the brick is gone,
// muted or frozen: the transport's 1 s timeout, its draining, a slow guest.
constexpr milliseconds kFaultReplyBound{15000};

// A request that must be answered, whatever the answer, within `bound`.
std::string boundedRequest(SimServer& server, const std::string& line,
                           milliseconds bound = kFaultReplyBound) {
  return request(server, line, bound);
}

class UsbRig : public ::testing::Test {
 protected:
  void SetUp() override {
    useServerProgram(NXT_RIG_PATH, seconds(180));
    ASSERT_FALSE(rig.path.empty());
  }
  RigDir rig;
};

TEST_F(UsbRig, EveryModuleGivesTheSameRepliesAndTelegramsAsTheSimulatedBrick) {
  const std::vector<std::string> brick = {"--name", "Robo1", "--battery", "7516"};
  const SessionRecord expected =
      expectedSession(brick, NXT_BRIDGE_SIM_PATH, NXT_RIG_PATH, seconds(180));
  SimServer s;
  ASSERT_TRUE(startRigSayingBootTime(s, rig, brick)) << s.stderrText;
  expectTheSameSession(s, expected, expectedSessionTraceStart());
  EXPECT_EQ(std::vector<std::string>(expected.replies.begin(), expected.replies.begin() + 4),
            (std::vector<std::string>{"ok", "7516", "Robo1", "ok"}));

  // The host's USB core saw an NXT: its ids, the Bluetooth address as the
  // serial number, full speed, one vendor interface with two bulk endpoints
  // of 64 bytes, numbered as on a brick.
  const std::string console = readFile(rig.path + "/console.log");
  EXPECT_NE(console.find("rig: host sees 0694:0002 serial 0016530A0B0C speed 12 config 1 "
                         "interface ff/ff/ff endpoints 01:out:Bulk:0040 82:in:Bulk:0040"),
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
  inFlightReply(s, kFaultReplyBound);

  // Gone: every request is answered, none hangs, none gets the brick's data.
  for (const char* line : kRequestsOfEveryKind) {
    expectAnsweredWithoutTheBrick(s, line, kFaultReplyBound);
  }
  EXPECT_EQ(boundedRequest(s, "nxt;open"), "err");

  // Plugged back: opened again, and answered as before. (The telegram in
  // flight at the unplugging is traced once its 300 ms are over, so only
  // the end of the trace is ours.)
  ASSERT_EQ(control(rig, "plug"), "done plug");
  EXPECT_EQ(boundedRequest(s, "nxt;open"), "ok");
  expectTheBrickAnswers(s);
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

  expectByeEndsTheServer(s);
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
  expectAnsweredWithoutTheBrick(s, "nxt;batterylevel", kFaultReplyBound);
  EXPECT_EQ(since(traceLines(s), before), (std::vector<std::string>{"> 00 0b"}));
  expectAnsweredWithoutTheBrick(s, "nxt;getname", kFaultReplyBound);

  ASSERT_EQ(control(rig, "unmute"), "done unmute");
  expectTheBrickAnswers(s);

  // Frozen: not even the telegram is taken, so the host's write times out.
  ASSERT_EQ(control(rig, "freeze"), "done freeze");
  before = traceLines(s).size();
  expectAnsweredWithoutTheBrick(s, "nxt;batterylevel", kFaultReplyBound);
  EXPECT_NE(boundedRequest(s, "nxt;playtone;440;100"), "<timeout>");
  EXPECT_EQ(traceLines(s).size(), before);

  ASSERT_EQ(control(rig, "thaw"), "done thaw");
  EXPECT_EQ(boundedRequest(s, "nxt;batterylevel"), "8100");
  expectTheBrickAnswers(s);

  // Late: the reply comes 1.5 s after the telegram, when the transport has
  // given up on it, and reaches the host during the next exchange: it must
  // not be taken for that one's reply.
  ASSERT_EQ(control(rig, "late 1500"), "done late 1500");
  expectAnsweredWithoutTheBrick(s, "nxt;batterylevel", kFaultReplyBound);
  ASSERT_EQ(control(rig, "late 0"), "done late 0");
  EXPECT_EQ(boundedRequest(s, "nxt;getname"), "NXT");
  expectTheBrickAnswers(s);

  expectByeEndsTheServer(s);
}

// A stop signal to the launcher reaches nxt-bridge in the guest.
TEST_F(UsbRig, AStopSignalMidGoToLetsTheStopsReachTheBrick) {
  SimServer s;
  ASSERT_TRUE(startRig(s, rig)) << s.stderrText;
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  expectAStopSignalLetsTheStopsReachTheBrick(s);
}

TEST_F(UsbRig, NoBrickOnTheBusMeansOpenAnswersErr) {
  SimServer s;
  ASSERT_TRUE(startRig(s, rig, {"--no-brick"})) << s.stderrText;
  EXPECT_EQ(request(s, "nxt;open"), "err");
  expectNothingWithoutABrick(s, "no NXT found on USB");
}

// The gadget's live page in the guest is served on this host's loopback,
// and shows the guest's brick.
TEST_F(UsbRig, TheGuestsLivePageIsForwardedToThisHost) {
  const int view = freeLoopbackPort();
  SimServer s;
  ASSERT_TRUE(startRig(s, rig, {"--name", "Watched", "--view", std::to_string(view)}))
      << s.stderrText;
  ASSERT_TRUE(
      waitForOutput(s, "the live page is at http://127.0.0.1:" + std::to_string(view) + "/\n"))
      << s.stdoutText;
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  const std::string state = liveStateMessage(view, milliseconds(10000));
  EXPECT_NE(state.find("\"name\":\"Watched\""), std::string::npos) << state;
  expectByeEndsTheServer(s);
}

TEST_F(UsbRig, BadOptionExitsWithStatus2BeforeBooting) {
  expectRefusedBeforeBooting(rig, {{"--bogus"},
                                   {"--port", "x"},
                                   {"--battery"},
                                   {"--view", "0"},
                                   {"--view", "8080", "--view-bind", "::1"}});
}

// Runs `command` in the guest's tool folder; its output.
std::string tool(const RigDir& rig, const std::string& command) {
  const std::string answer = control(rig, "tool " + command, milliseconds(150000));
  const std::string output = readFile(rig.path + "/share/tool/output");
  EXPECT_EQ(answer, "done tool " + command) << output;
  return output;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Debian's t2n and nbc, unchanged, reach the brick through the USB bus by
// its endpoint numbers: brick information, battery, the list of files, an
// upload and download of a file, a program compiled, downloaded and run;
// then nxt-bridge starts that program again. The brick's flash is a folder
// on this host (--flash), with one file put there at start (--file).
TEST_F(UsbRig, DebianNxtToolsUploadListAndRunAProgram) {
  const std::string flash = rig.path + "/flash";
  writeFile(rig.path + "/hello.txt", "hello");
  SimServer s;
  ASSERT_TRUE(startRig(s, rig, {"--flash", flash, "--file", rig.path + "/hello.txt"}))
      << s.stderrText;
  const std::string folder = rig.path + "/share/tool";
  ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>((i * 37 + 11) & 0xff);
  writeFile(folder + "/data.bin", data);
  writeFile(folder + "/spin.nxc", "task main() {\n  while (true) {\n    Wait(100);\n  }\n}\n");

  const std::string info = tool(rig, "t2n -i");
  EXPECT_NE(info.find("NXT"), std::string::npos) << info;
  EXPECT_NE(info.find("1.29"), std::string::npos) << info;
  EXPECT_NE(info.find("113504"), std::string::npos) << info;  // free flash: 1 sector used
  EXPECT_NE(tool(rig, "t2n -b").find("8100"), std::string::npos);
  EXPECT_NE(tool(rig, "t2n -ls").find("FILE:\"hello.txt\" SIZE:5"), std::string::npos);
  tool(rig, "t2n -put data.bin");
  tool(rig, "mkdir -p back && cd back && t2n -get data.bin");
  EXPECT_EQ(readFile(folder + "/back/data.bin"), data);
  EXPECT_EQ(readFile(flash + "/data.bin"), data);  // kept on this host

  tool(rig, "nbc -S=usb -d spin.nxc");
  tool(rig, "nbc -S=usb -r spin.nxc");
  const std::string after = tool(rig, "t2n -ls");
  EXPECT_NE(after.find("spin.rxe"), std::string::npos) << after;
  EXPECT_NE(after.find("FILE:\"data.bin\" SIZE:300"), std::string::npos) << after;
  EXPECT_EQ(::access((flash + "/spin.rxe").c_str(), F_OK), 0);

  // nbc -r left it running: nxt-bridge stops it and starts it again.
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  EXPECT_EQ(request(s, "nxt;stopprogram"), "ok");
  EXPECT_EQ(request(s, "nxt;startprogram;spin.rxe"), "ok");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");  // the trace is written by now
  const std::vector<std::string> trace = traceLines(s);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "# program spin.rxe started"), 2);
  EXPECT_EQ(lastLines(trace, 5),
            (std::vector<std::string>{
                "# program spin.rxe stopped",
                "> 80 00 73 70 69 6e 2e 72 78 65 00 00 00 00 00 00 00 00 00 00 00 00",
                "# program spin.rxe started", "> 00 0b", "< 02 0b 00 a4 1f"}));
  expectByeEndsTheServer(s);
}

}  // namespace
