// A soak over nxt-bridge-sim: tens of thousands of mixed requests, each
// reply checked, and the server's memory the same at the end as after the
// warm-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "e2e_harness.h"

namespace {

// Resident anonymous memory (heap, stacks) of process `pid` in kB, from
// the kernel's status file. The program's own code pages are left out:
// they are faulted in as code paths first run, which is no growth.
long residentKb(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("RssAnon:", 0) == 0) return std::stol(line.substr(8));
  }
  return -1;
}

struct Step {
  std::string request;
  std::string reply;  // exact, or a regular expression when `pattern`
  bool pattern = false;
};

TEST(Soak, MixedRequestsKeepTheirRepliesAndMemoryStaysFlat) {
  SimServer s;
  ASSERT_TRUE(
      startServer(s, {"--sonar", "in_4=37", "--sensor", "in_1=183", "--load", "out_c=0"}, false));
  ASSERT_EQ(request(s, "nxt;open"), "ok");
  ASSERT_EQ(request(s, "sensor;settouch;in_1"), "ok");
  ASSERT_EQ(request(s, "sensor;setsonar;in_4"), "ok");
  // The ports read valid values once the brick has set them up.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  const std::string number = "-?[0-9]+";
  const std::vector<Step> mix = {
      {"nxt;batterylevel", "8100"},
      {"nxt;getname", "NXT"},
      {"motor;setforward;out_b;50", "ok"},
      {"motor;getrotationcount;out_b", number, true},
      {"motor;stop;out_b;true", "ok"},
      {"motor;setreverse;out_a;100", "ok"},
      {"motor;brakeoff;out_a", "ok"},
      {"motor;resetrotationcount;out_a;true", "ok"},
      {"robot;x", "err: unknown_module: robot"},
      {"nxt;playtone;440;20", "ok"},
      {"motor;setforward;out_d;5", "err: wrong_params"},
      {"nxt;frob", "err: unknown_command: frob"},
      {"motor;frob", "err: unknown_command: >>frob"},
      {"sensor;getvalue;in_1", "1"},
      {"sensor;lsgetstatus;in_2", number, true},
      {"sensor;getvalue;in_9", "err: wrong_params"},
      {"'nxt';'getname'", "NXT"},
      {"NXT;BATTERYLEVEL;EXTRA", "8100"},
  };
  constexpr int kRounds = 1800;  // 18 steps each: 32,400 requests
  long warmKb = -1;
  int failures = 0;
  // Not a measure of speed: a slow (sanitized) build stops after 90 s once
  // it has passed the warm point and a round of polls; ctest's own time-out
  // catches a hang.
  const auto stopAfter = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  for (int round = 0; round < kRounds && failures < 5; ++round) {
    if (round > 450 && std::chrono::steady_clock::now() > stopAfter) break;
    for (const Step& step : mix) {
      const std::string reply = request(s, step.request);
      const bool ok =
          step.pattern ? std::regex_match(reply, std::regex(step.reply)) : reply == step.reply;
      if (!ok) {
        ADD_FAILURE() << step.request << " answered " << reply << " in round " << round;
        ++failures;
      }
    }
    // Now and then the requests that poll the brick.
    if (round % 300 == 150) {
      EXPECT_EQ(request(s, "sensor;getsonarvalue;in_4"), "37");
      EXPECT_EQ(request(s, "motor;goto;out_c;50;360;true"), "err: timeout");
    }
    if (round == 300) warmKb = residentKb(s.pid);
  }
  const long endKb = residentKb(s.pid);
  ASSERT_GT(warmKb, 0);
#ifndef NXT_SANITIZED
  // The server keeps nothing between requests; a few pages of slack.
  EXPECT_LE(endKb - warmKb, 64) << "warm " << warmKb << " kB, end " << endKb << " kB";
#else
  // AddressSanitizer holds freed memory back on purpose; its leak check at
  // the server's exit (a nonzero status) stands in for the count.
  std::printf("resident: warm %ld kB, end %ld kB (sanitized build)\n", warmKb, endKb);
#endif
  EXPECT_EQ(sayBye(s), 0);
}

}  // namespace
