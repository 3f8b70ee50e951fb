#include "tools/rig/rig_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

RigDir::RigDir() {
  const char* tmp = std::getenv("TMPDIR");
  path = std::string(tmp != nullptr ? tmp : "/tmp") + "/nxt-rig-test-XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) path.clear();
}

RigDir::~RigDir() {
  if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string control(const RigDir& rig, const std::string& command, milliseconds timeout) {
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

bool startRig(SimServer& server, const RigDir& rig, std::vector<std::string> args, bool withTrace) {
  args.insert(args.begin(), {"--rig-dir", rig.path});
  return startServer(server, args, withTrace);
}

std::string liveStateMessage(int port, milliseconds bound) {
  const int fd = liveViewSocket(port, static_cast<int>(bound.count()));
  std::string payload;
  if (fd >= 0 && !readWebSocketFrame(fd, payload)) payload.clear();
  if (fd >= 0) ::close(fd);
  return payload;
}

bool startRigSayingBootTime(SimServer& server, const RigDir& rig,
                            const std::vector<std::string>& args) {
  const auto start = Clock::now();
  if (!startRig(server, rig, args)) return false;
  std::cout << "[ rig      ] booted and listening after "
            << std::chrono::duration_cast<milliseconds>(Clock::now() - start).count() << " ms"
            << std::endl;
  return true;
}

void expectRefusedBeforeBooting(const RigDir& rig,
                                const std::vector<std::vector<std::string>>& badArgs) {
  for (const std::vector<std::string>& args : badArgs) {
    SimServer s;
    EXPECT_FALSE(startRig(s, rig, args, false));
    EXPECT_EQ(s.exitStatus, 2);
    EXPECT_EQ(std::count(s.stderrText.begin(), s.stderrText.end(), '\n'), 1) << s.stderrText;
    EXPECT_EQ(::access((rig.path + "/console.log").c_str(), F_OK), -1) << "it booted";
  }
}

void expectAnsweredWithoutTheBrick(SimServer& server, const std::string& line, milliseconds bound) {
  const std::string reply = request(server, line, bound);
  EXPECT_NE(reply, "<timeout>") << line;
  EXPECT_NE(reply, "<closed>") << line;
  EXPECT_NE(reply, "8100") << line;
  EXPECT_NE(reply, "NXT") << line;
}

void expectTheBrickAnswers(SimServer& server) {
  EXPECT_EQ(request(server, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(server, "nxt;getname"), "NXT");
}

void expectByeEndsTheServer(SimServer& server) {
  ASSERT_TRUE(sendRaw(server, "bye\n"));
  EXPECT_EQ(waitForExit(server, milliseconds(30000)), 0) << server.stderrText;
}

void expectNothingWithoutABrick(SimServer& server, const std::string& words) {
  EXPECT_EQ(request(server, "nxt;batterylevel"), "err: not_enable_interface");
  expectByeEndsTheServer(server);
  EXPECT_TRUE(traceLines(server).empty());
  EXPECT_NE(server.stderrText.find(words), std::string::npos) << server.stderrText;
}

std::string inFlightReply(SimServer& server, milliseconds bound) {
  const std::string reply = readLine(server, bound);
  EXPECT_NE(reply, "<timeout>");
  EXPECT_NE(reply, "<closed>");
  return reply;
}

const char* const kRequestsOfEveryKind[5] = {"nxt;batterylevel", "nxt;getname",
                                             "nxt;playtone;440;100", "motor;setforward;out_a;50",
                                             "sensor;getvalue;in_1"};

std::vector<std::string> since(const std::vector<std::string>& lines, std::size_t from) {
  if (from > lines.size()) return {};
  return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
}

std::vector<std::string> lastLines(const std::vector<std::string>& lines, std::size_t count) {
  return since(lines, lines.size() < count ? 0 : lines.size() - count);
}

void expectAStopSignalLetsTheStopsReachTheBrick(SimServer& server) {
  ASSERT_TRUE(sendRaw(server, "motor;goto;out_a;50;99999999999999999999;true\n"));
  ASSERT_TRUE(nothingArrives(server, milliseconds(500)));
  ::kill(server.pid, SIGTERM);
  EXPECT_EQ(waitForExit(server, milliseconds(30000)), 128 + SIGTERM) << server.stderrText;
  EXPECT_EQ(lastLines(traceLines(server), 3),
            (std::vector<std::string>{"> 80 04 00 00 00 00 00 00 00 00 00 00",
                                      "> 80 04 01 00 00 00 00 00 00 00 00 00",
                                      "> 80 04 02 00 00 00 00 00 00 00 00 00"}));
}

namespace {

// One step of a session: the request, and whether its reply depends on
// time (a motor's position), so that only its telegram is compared.
struct Step {
  const char* request;
  bool replyVaries;
};

// Requests of every module. What each does is what nxt-bridge-sim does;
// through a rig the replies and the telegrams must be the same.
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

}  // namespace

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

SessionRecord expectedSession(const std::vector<std::string>& brickOptions,
                              const std::string& simProgram, const std::string& rigProgram,
                              std::chrono::seconds rigStart) {
  SessionRecord expected;
  SimServer sim;
  useServerProgram(simProgram, std::chrono::seconds(10));
  EXPECT_TRUE(startServer(sim, brickOptions)) << sim.stderrText;
  runSession(sim, expected);
  useServerProgram(rigProgram, rigStart);
  return expected;
}

std::vector<std::string> expectedSessionTraceStart(const std::string& addressBytes) {
  return {
      "> 00 0b",  // GETBATTERYLEVEL: 7516 mV
      "< 02 0b 00 5c 1d",
      "> 01 9b",  // GETDEVICEINFO: the name
      "< 02 9b 00 52 6f 62 6f 31 00 00 00 00 00 00 00 00 00 00 " + addressBytes +
          " 00 00 00 00 00 6c b5 01 00",
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
  };
}

bool traceHasMotorAndSensorCommands(const std::vector<std::string>& trace) {
  // SETOUTPUTSTATE (port A, power 75, on and regulated, running),
  // GETOUTPUTSTATE with its 25-byte reply, SETINPUTMODE (port 1 touch,
  // boolean), GETINPUTVALUES.
  auto has = [&](const std::string& line) {
    return std::find(trace.begin(), trace.end(), line) != trace.end();
  };
  return has("> 80 04 00 4b 05 01 00 20 00 00 00 00") && has("> 00 06 00") &&
         std::any_of(trace.begin(), trace.end(),
                     [](const std::string& line) {
                       return line.rfind("< 02 06 00 00 4b 05 01 00 20", 0) == 0 &&
                              line.size() == 1 + 25 * 3;
                     }) &&
         has("> 80 05 00 01 20") && has("> 00 07 01");
}

void expectTheSameSession(SimServer& s, const SessionRecord& expected,
                          const std::vector<std::string>& traceStart) {
  SessionRecord got;
  runSession(s, got);
  EXPECT_EQ(got.exitStatus, 0) << s.stderrText;
  EXPECT_EQ(got.replies, expected.replies);
  EXPECT_EQ(got.sent, expected.sent);
  // The standard output is the server's echo of the requests, and only it.
  EXPECT_EQ(got.stdoutText, expected.stdoutText);
  // The brick commands, byte for byte, as they crossed the link.
  const std::vector<std::string> trace = traceLines(s);
  ASSERT_GE(trace.size(), traceStart.size());
  EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + traceStart.size()), traceStart);
  EXPECT_TRUE(traceHasMotorAndSensorCommands(trace));
}
