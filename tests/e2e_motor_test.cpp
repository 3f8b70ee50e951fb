// Motor commands end to end: a client drives nxt-bridge-sim over TCP and
// reads the trace of the telegrams it sent to the simulated brick.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "e2e_harness.h"
#include "sim_programs/sim_options.h"

namespace {

using std::chrono::milliseconds;

const char kBrakedStopA[] = "80 04 00 00 07 01 00 20 00 00 00 00";
const char kCoastStopA[] = "80 04 00 00 00 00 00 00 00 00 00 00";
const char kBrakedStopB[] = "80 04 01 00 07 01 00 20 00 00 00 00";

// Every exchange costs a little time, as over USB; that also keeps the trace
// of a goto (one line per poll) small.
const std::vector<std::string> kSlowLink = {"--latency-us", "200"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// The request's reply as a number; fails the test when it is not one.
int countOf(SimServer& server, const std::string& port) {
  const std::string reply = request(server, "motor;getrotationcount;" + port);
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(reply, &used);
  } catch (...) {
  }
  EXPECT_TRUE(used == reply.size() && !reply.empty()) << "not a count: " << reply;
  return value;
}

// The telegrams sent from the first one that starts with `prefix`, counted
// from the end (the last goto's run telegram).
std::vector<std::string> fromLast(const std::vector<std::string>& sent, const std::string& prefix) {
  for (std::size_t i = sent.size(); i-- > 0;) {
    if (sent[i].rfind(prefix, 0) == 0) return {sent.begin() + static_cast<long>(i), sent.end()};
  }
  return {};
}

void pause(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

TEST(E2eMotor, GoToFullPowerEndsAtTheTargetWithABrakedStop) {
  SimServer server;
  ASSERT_TRUE(startServer(server, kSlowLink));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  EXPECT_EQ(request(server, "motor;goto;out_a;100;720;true"), "ok");
  const int reached = countOf(server, "out_a");
  EXPECT_GE(reached, 720);
  const std::vector<std::string> run = fromLast(sentTelegrams(server), "80 04 00 64");
  ASSERT_GE(run.size(), 3u) << "the run telegram, polls, the stop, the count read";
  EXPECT_EQ(run[run.size() - 2], kBrakedStopA);
  for (std::size_t i = 1; i + 2 < run.size(); ++i) ASSERT_EQ(run[i], "00 06 00") << i;

  // And back in reverse, coasting at the end.
  EXPECT_EQ(request(server, "motor;goto;out_a;75;360;false"), "ok");
  EXPECT_LE(countOf(server, "out_a"), 360);
  const std::vector<std::string> back = fromLast(sentTelegrams(server), "80 04 00 b5");
  ASSERT_GE(back.size(), 3u);
  EXPECT_EQ(back[back.size() - 2], kCoastStopA);
  EXPECT_EQ(request(server, "bye", milliseconds(500)), "<closed>");
  EXPECT_EQ(waitForExit(server), 0);
}

TEST(E2eMotor, GoToIntoABlockedMotorTimesOutAndStops) {
  E2E_NEEDS("prompt-trace");
  SimServer server;
  ASSERT_TRUE(startServer(server, with(kSlowLink, {"--load", "out_b=0"})));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  // One second without progress ends the wait; allow for a busy machine.
  EXPECT_EQ(request(server, "motor;goto;out_b;50;360;true", milliseconds(2000)), "err: timeout");
  EXPECT_EQ(sentTelegrams(server).back(), kBrakedStopB);
  EXPECT_EQ(countOf(server, "out_b"), 0);
  // The server goes on serving.
  EXPECT_EQ(request(server, "motor;goto;out_a;100;90;true"), "ok");
  EXPECT_GE(countOf(server, "out_a"), 90);
}

TEST(E2eMotor, RotationCountFollowsTheMotionAndTheResets) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {}, false));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  EXPECT_EQ(countOf(server, "out_c"), 0);

  ASSERT_EQ(request(server, "motor;setforward;out_c;100"), "ok");
  pause(150);
  const int first = countOf(server, "out_c");
  EXPECT_GT(first, 0);
  pause(100);
  const int second = countOf(server, "out_c");
  EXPECT_GT(second, first);

  // Braked, the motor is pulled back from the next regulation tick (within
  // 101 ms) on, settles within half a second and is held.
  ASSERT_EQ(request(server, "motor;stop;out_c;true"), "ok");
  pause(600);
  const int braked = countOf(server, "out_c");
  pause(100);
  EXPECT_EQ(countOf(server, "out_c"), braked) << "a braked motor holds";

  ASSERT_EQ(request(server, "motor;resetrotationcount;out_c;true"), "ok");
  EXPECT_EQ(countOf(server, "out_c"), braked) << "the relative reset leaves it";
  ASSERT_EQ(request(server, "motor;resetrotationcount;out_c;false"), "ok");
  EXPECT_EQ(countOf(server, "out_c"), 0);

  ASSERT_EQ(request(server, "motor;setreverse;out_c;50"), "ok");
  pause(150);
  EXPECT_LT(countOf(server, "out_c"), 0);
  ASSERT_EQ(request(server, "motor;brakeon;out_c"), "ok");
  pause(600);

  // Starting a program resets every motor, as the firmware does.
  ASSERT_EQ(request(server, "nxt;startprogram;demo.rxe"), "ok");
  EXPECT_EQ(countOf(server, "out_c"), 0);
  ASSERT_TRUE(sendUnanswered(server, "shortrep\n"));
  EXPECT_EQ(request(server, "motor;getrotationcount;out_c"), "ok0");
}

TEST(E2eMotor, LoadOptionSetsEachMotorAndBadLoadsAreRefused) {
  E2E_NEEDS("own-words");
  struct Case {
    std::vector<std::string> args;
    bool accepted;
    std::uint8_t loads[3];
  };
  const Case cases[] = {
      {{"--load", "out_a=0"}, true, {0, 100, 100}},
      {{"--load", "out_c=100", "--load=out_b=35"}, true, {100, 35, 100}},
      {{"--load", "out_b=50", "--load", "out_b=20"}, true, {100, 20, 100}},
      {{"--load", "out_d=50"}, false, {}},
      {{"--load", "out_a=101"}, false, {}},
      {{"--load", "out_a=-1"}, false, {}},
      {{"--load", "out_a"}, false, {}},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"nxt-bridge-sim"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    SimProgramOptions options;
    std::string error;
    const bool accepted =
        parseSimOptions(static_cast<int>(argv.size()), argv.data(), options, error);
    EXPECT_EQ(accepted, c.accepted) << c.args.back();
    if (!accepted) {
      EXPECT_NE(error.find("--load"), std::string::npos) << error;
      continue;
    }
    for (int port = 0; port < 3; ++port) {
      EXPECT_EQ(options.transport.brick.motorLoadPercent[port], c.loads[port]) << c.args.back();
    }
  }

  // The program refuses a bad load with one line and status 2.
  SimServer server;
  EXPECT_FALSE(startServer(server, {"--load", "out_a=150"}, false));
  EXPECT_EQ(waitForExit(server), 2);
  EXPECT_EQ(server.stderrText,
            "nxt-bridge-sim: bad value 'out_a=150' for --load out_X=PCT (try --help)\n");
}

}  // namespace
