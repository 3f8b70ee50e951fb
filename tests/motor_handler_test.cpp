// The "motor" module of the interpreter: every request gives its reply and
// exactly the telegrams it should, over the simulated brick.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "interpreter_test_support.h"

namespace {

using Lines = std::vector<std::string>;
using MotorHandler = InterpreterTest;

TEST_F(MotorHandler, RequestsGiveTheirReplyAndTelegrams) {
  open();
  expectRequests({
      {"motor", "err: wrong_params", {}},
      {"motor;nosuchcommand", "err: unknown_command: >>nosuchcommand", {}},
      {"motor;;out_a", "err: unknown_command: >>", {}},
      {"motor;setforward;out_b;100", "ok", {"80 04 01 64 05 01 00 20 00 00 00 00"}},
      {"motor;setforward;out_b;0", "ok", {"80 04 01 00 05 01 00 20 00 00 00 00"}},
      {"motor;setreverse;out_b;0", "ok", {"80 04 01 00 05 01 00 20 00 00 00 00"}},
      {"motor;setreverse;out_a;75", "ok", {"80 04 00 b5 05 01 00 20 00 00 00 00"}},
      {"motor;setreverse;c;+50", "ok", {"80 04 02 ce 05 01 00 20 00 00 00 00"}},
      {"MOTOR;SETFORWARD;OUT_A;75", "ok", {"80 04 00 4b 05 01 00 20 00 00 00 00"}},
      {"motor;setforward;out_a;75;more", "ok", {"80 04 00 4b 05 01 00 20 00 00 00 00"}},
      {"motor;setforward;out_b;101", "err: wrong_params", {}},
      {"motor;setforward;out_b;-1", "err: wrong_params", {}},
      {"motor;setforward;out_a", "err: wrong_params", {}},
      {"motor;setforward;out_d;50", "err: wrong_params", {}},
      {"motor;setreverse;in_1;50", "err: wrong_params", {}},
      {"motor;stop;out_c;true", "ok", {"80 04 02 00 07 01 00 20 00 00 00 00"}},
      {"motor;stop;out_c;false", "ok", {"80 04 02 00 00 00 00 00 00 00 00 00"}},
      {"motor;stop;out_c;TRUE", "ok", {"80 04 02 00 07 01 00 20 00 00 00 00"}},
      {"motor;stop;out_c;yes", "err: wrong_params", {}},
      {"motor;stop;out_c", "err: wrong_params", {}},
      {"motor;brakeon;out_a", "ok", {"80 04 00 00 07 01 00 20 00 00 00 00"}},
      {"motor;brakeoff;b", "ok", {"80 04 01 00 00 00 00 00 00 00 00 00"}},
      {"motor;brakeon", "err: wrong_params", {}},
      {"motor;brakeoff;out_x", "err: wrong_params", {}},
      {"motor;resetrotationcount;out_a;false", "ok", {"80 0a 00 00"}},
      {"motor;resetrotationcount;out_c;true", "ok", {"80 0a 02 01"}},
      {"motor;resetrotationcount;out_a", "err: wrong_params", {}},
      {"motor;resetrotationcount;out_a;1", "err: wrong_params", {}},
      {"motor;getrotationcount;out_a", "0", {"00 06 00"}},
      {"motor;getrotationcount", "err: wrong_params", {}},
      {"motor;getrotationcount;out_d", "err: wrong_params", {}},
      {"motor;goto;out_a;50;720", "err: wrong_params", {}},
      {"motor;goto;out_a;150;720;true", "err: wrong_params", {}},
      {"motor;goto;out_a;50;720;maybe", "err: wrong_params", {}},
      {"motor;goto;out_d;50;720;true", "err: wrong_params", {}},
  });
}

TEST_F(MotorHandler, RotationCountIsAQueryReply) {
  open();
  struct Case {
    std::int32_t count;
    bool shortReply;
    const char* reply;
  };
  const Case cases[] = {
      {720, false, "720"}, {-360, false, "-360"}, {720, true, "ok720"}, {-90, true, "ok-90"}};
  for (const Case& c : cases) {
    if (c.shortReply) interpreter.setShortReplyMode();
    simSetRotationCount(1, c.count);
    EXPECT_EQ(ask("motor;getrotationcount;out_b"), c.reply);
  }
}

TEST_F(MotorHandler, GoToRepliesOkOnceTheStopIsSent) {
  open();
  EXPECT_EQ(ask("motor;goto;b;100;45;true"), "ok");
  const Lines t = hostTelegrams();
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t[1], "80 04 01 64 05 01 00 20 00 00 00 00");
  EXPECT_EQ(t.back(), "80 04 01 00 07 01 00 20 00 00 00 00");

  // A target that is no number is what toInt makes of it: 0, below the
  // count, so the motor runs back in reverse.
  clearTrace();
  EXPECT_EQ(ask("motor;goto;out_b;100;abc;false"), "ok");
  const Lines back = hostTelegrams();
  ASSERT_GE(back.size(), 4u);
  EXPECT_EQ(back[1], "80 04 01 9c 05 01 00 20 00 00 00 00");
  EXPECT_EQ(back.back(), "80 04 01 00 00 00 00 00 00 00 00 00");
}

}  // namespace
