#include <gtest/gtest.h>

#include <climits>

#include "interpreter_test_support.h"

namespace {

using NxtModule = InterpreterTest;

TEST(Tokenizer, Word0IsTrimmedLowerCasedFirstWord) {
  struct Case {
    const char* line;
    const char* reply;
  } cases[] = {
      {"robot", "err: unknown_module: robot"},
      {"  RoBoT  ;x", "err: unknown_module: robot"},
      {"robot arm;x", "err: unknown_module: robot"},
      {";", "err: unknown_module: "},
      {";motor", "err: unknown_module: "},
      {"   ;x", "err: unknown_module:    "},
      {"\t;x", "err: unknown_module: \t"},
      {"ROBOT\x80\xff", "err: unknown_module: robot\x80\xff"},
      {"motor setforward out_a 75", "err: wrong_params"},
      {"MOTOR", "err: wrong_params"},
      {" Nxt ", "err: wrong_params"},
      // After a line of many long words, nothing of it is left in the next.
      {"UNKNOWNMODULENAMEOFLENGTH;a;b;c;d;e;f", "err: unknown_module: unknownmodulenameoflength"},
      {"x", "err: unknown_module: x"},
  };
  CommandInterpreter interpreter;  // one for every line, as a session has
  for (const Case& c : cases) {
    EXPECT_EQ(interpreter.interpretLine(c.line), c.reply) << "line: " << c.line;
  }
}

TEST_F(NxtModule, TokenizerCountsWordsAtSemicolons) {
  open();
  // A semicolon at the end adds no word; the word count decides.
  EXPECT_EQ(ask("nxt;playtone;440;200;"), "ok");
  EXPECT_EQ(ask("nxt;playtone;440;"), "err: wrong_params");
  EXPECT_EQ(ask("nxt;playtone;440;;"), "ok");  // the empty fourth word counts
  EXPECT_EQ(ask(" NXT ; PlayTone extra ; 440 x ; 200 y "), "ok");
  EXPECT_EQ(hostTelegrams().back(), "80 03 b8 01 c8 00");
  EXPECT_EQ(ask(std::string("nxt;playtone;440\0;200", 21)), "ok");
}

TEST(Tokenizer, EmptyRequestHasNoWords) {
  CommandInterpreter interpreter;
  EXPECT_EQ(interpreter.dispatchModule({}), "err: unknown_module");
  EXPECT_EQ(interpreter.interpretLine(""), "err: unknown_module");
}

TEST(Converters, ToInt) {
  struct Case {
    const char* word;
    std::int32_t value;
  } cases[] = {
      {"0", 0},
      {"75", 75},
      {"+50", 50},
      {"-1", -1},
      {"75abc", 75},
      {"0x10", 0},
      {"010", 10},
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"+-5", 0},
      {"  42", 42},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", INT_MAX},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999999", INT_MAX},
      {"-99999999999999999999999999", INT_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(toInt(c.word), c.value) << "word: " << c.word;
}

TEST(Converters, IntToStringRoundTripsTheLimits) {
  EXPECT_EQ(intToString(INT_MAX), "2147483647");
  EXPECT_EQ(intToString(INT_MIN), "-2147483648");
  EXPECT_EQ(intToString(0), "0");
  EXPECT_EQ(intToString(-360), "-360");
  EXPECT_EQ(toInt(intToString(INT_MIN)), INT_MIN);
}

TEST(Converters, ToLowerCaseChangesOnlyAsciiLetters) {
  EXPECT_EQ(toLowerCase("AZaz09_;\x80\xC4"), "azaz09_;\x80\xC4");
}

TEST(Validators, Power) {
  for (const char* w : {"0", "100", "+50", "75abc", "50"}) EXPECT_TRUE(isPower(w)) << w;
  for (const char* w : {"-1", "101", "2147483648", "1000"}) EXPECT_FALSE(isPower(w)) << w;
  // A word without a number reads as 0, which is a power.
  EXPECT_TRUE(isPower("abc"));
}

TEST(Validators, Ports) {
  struct Case {
    const char* word;
    int motor;
    int sensor;
  } cases[] = {
      {"out_a", 0, -1}, {"out_b", 1, -1}, {"out_c", 2, -1},  {"a", 0, -1},     {"b", 1, -1},
      {"c", 2, -1},     {"in_1", -1, 0},  {"in_2", -1, 1},   {"in_3", -1, 2},  {"in_4", -1, 3},
      {"s1", -1, 0},    {"s4", -1, 3},    {"out_d", -1, -1}, {"in_5", -1, -1}, {"OUT_A", -1, -1},
      {"", -1, -1},     {"in_0", -1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toMotorPort(c.word), c.motor) << c.word;
    EXPECT_EQ(toSensorPort(c.word), c.sensor) << c.word;
    EXPECT_EQ(isMotorPort(c.word), c.motor >= 0) << c.word;
    EXPECT_EQ(isSensorPort(c.word), c.sensor >= 0) << c.word;
  }
}

TEST(Validators, TruthWords) {
  EXPECT_TRUE(isTruthWord("true"));
  EXPECT_TRUE(isTruthWord("false"));
  EXPECT_FALSE(isTruthWord("yes"));
  EXPECT_FALSE(isTruthWord("TRUE"));  // words arrive lower-cased
  EXPECT_TRUE(toBool("true"));
  EXPECT_FALSE(toBool("false"));
}

TEST_F(NxtModule, EverythingButOpenWaitsForTheLink) {
  for (const char* line : {"nxt;batterylevel", "nxt;close", "nxt;nosuchcommand", "nxt;getname",
                           "nxt;playtone;440;200", "motor;setforward;out_a;50", "motor;nosuch",
                           "motor;getrotationcount;out_a", "motor;goto;out_a;50;720;true",
                           "sensor;settouch;in_1", "sensor;nosuch", "sensor;getvalue"}) {
    EXPECT_EQ(ask(line), "err: not_enable_interface") << line;
  }
  for (const char* line : {"nxt", "motor", "sensor"}) EXPECT_EQ(ask(line), "err: wrong_params");
  EXPECT_TRUE(hostTelegrams().empty());
}

TEST_F(NxtModule, OpenEnablesAndCloseDisables) {
  EXPECT_EQ(ask("nxt;OPEN;extra"), "ok");
  EXPECT_TRUE(interpreter.isInterfaceEnabled());
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
  EXPECT_EQ(ask("nxt;close"), "ok");
  EXPECT_FALSE(interpreter.isInterfaceEnabled());
  EXPECT_EQ(ask("nxt;close"), "err: not_enable_interface");
  EXPECT_EQ(simTransportOpenHandles(), 0);
}

TEST_F(NxtModule, OpenWithoutBrickAnswersErr) {
  freshNoBrick();
  EXPECT_EQ(ask("nxt;open"), "err");
  EXPECT_FALSE(interpreter.isInterfaceEnabled());
  EXPECT_EQ(ask("nxt;batterylevel"), "err: not_enable_interface");
}

TEST_F(NxtModule, FailedSecondOpenKeepsTheLinkWorking) {
  open();
  freshNoBrick();  // the brick stays connected
  EXPECT_EQ(ask("nxt;open"), "err");
  EXPECT_TRUE(interpreter.isInterfaceEnabled());
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
  EXPECT_EQ(simTransportOpenHandles(), 1);
}

TEST_F(NxtModule, SecondOpenReleasesTheFirstHandle) {
  open();
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(simTransportOpenHandles(), 1);
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
}

TEST_F(NxtModule, QueriesInBothReplyModes) {
  settings.brick.name = "Robo1";
  settings.brick.batteryMillivolts = 7516;
  freshSimBrick(settings);
  open();
  EXPECT_EQ(ask("nxt;batterylevel"), "7516");
  EXPECT_EQ(ask("nxt;getname"), "Robo1");
  interpreter.setShortReplyMode();
  EXPECT_EQ(ask("nxt;batterylevel"), "ok7516");
  EXPECT_EQ(ask("nxt;getname"), "okRobo1");
  EXPECT_EQ(ask("nxt;playtone;440;200"), "ok");  // actions stay "ok"
}

TEST_F(NxtModule, ActionTelegrams) {
  open();
  expectRequests({
      {"nxt;playtone;440;200", "ok", {"80 03 b8 01 c8 00"}},
      {"nxt;playtone;440", "err: wrong_params", {}},
      {"nxt;playtone;abc;-1", "ok", {"80 03 00 00 ff 00"}},
      {"nxt;stopprogram", "ok", {"80 01"}},
      {"nxt;stopsound", "ok", {"80 0c"}},
      {"nxt;startprogram", "err: wrong_params", {}},
      {"nxt;startprogram;Demo1",
       "ok",
       {"80 00 64 65 6d 6f 31 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}},
      {"nxt;playsoundfile;click;true",
       "ok",
       {"80 02 01 63 6c 69 63 6b 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}},
      {"nxt;playsoundfile;click;FALSE",
       "ok",
       {"80 02 00 63 6c 69 63 6b 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}},
      {"nxt;playsoundfile;click;yes", "err: wrong_params", {}},
      {"nxt;playsoundfile;click", "err: wrong_params", {}},
      {"nxt;nosuchcommand", "err: unknown_command: nosuchcommand", {}},
      {"nxt;", "err: wrong_params", {}},
      {"nxt;;x", "err: unknown_command: ", {}},
  });
}

TEST_F(NxtModule, FileNamesOfTwentyCharactersAreRefused) {
  open();
  const std::string name19(19, 'x');
  const std::string name20(20, 'x');
  EXPECT_EQ(ask("nxt;startprogram;" + name19), "ok");
  ASSERT_EQ(hostTelegrams().size(), 1u);
  // 19 characters, then the zero byte fills the field exactly.
  EXPECT_EQ(hostTelegrams()[0].size(), std::string("80 00").size() + 20 * 3);
  EXPECT_EQ(hostTelegrams()[0].substr(hostTelegrams()[0].size() - 5), "78 00");
  clearTrace();
  EXPECT_EQ(ask("nxt;startprogram;" + name20), "err: wrong_params");
  EXPECT_EQ(ask("nxt;playsoundfile;" + name20 + ";true"), "err: wrong_params");
  EXPECT_EQ(ask("nxt;startprogram;" + std::string(300, 'y')), "err: wrong_params");
  EXPECT_TRUE(hostTelegrams().empty());
}

TEST_F(NxtModule, UnknownModules) {
  EXPECT_EQ(ask("robot;x"), "err: unknown_module: robot");
  EXPECT_EQ(ask(";"), "err: unknown_module: ");
  EXPECT_EQ(ask("bye "), "err: unknown_module: bye");
  EXPECT_EQ(ask("BYE"), "err: unknown_module: bye");
}

}  // namespace
