#include "server/server_loop.h"

#include <gtest/gtest.h>

namespace {

TEST(CleanRequest, CutsAtTheFirstLineEndAndBlanksQuotes) {
  struct Case {
    std::string raw;
    std::string clean;
  } cases[] = {
      {"bye\n", "bye"},
      {"bye\r\n", "bye"},
      {"'bye'\n", " bye "},
      {"\"bye\"", " bye "},
      {"a\nb\n", "a"},
      {"a\rb", "a"},
      {"\n", ""},
      {"", ""},
      {std::string("a\0b\n", 4), std::string("a\0b", 3)},
      {"motor;stop;'out_a';\"true\"\n", "motor;stop; out_a ; true "},
      {"x'y\"\nz'", "x y "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cleanRequest(c.raw.data(), c.raw.size()), c.clean) << c.raw;
  }
}

TEST(ConsoleEcho, EscapesControlBytesButKeepsTabAndText) {
  EXPECT_EQ(consoleEcho("motor;setforward;out_a;75"), "motor;setforward;out_a;75");
  EXPECT_EQ(consoleEcho("a\tb"), "a\tb");
  EXPECT_EQ(consoleEcho("\x1b[2J"), "\\x1b[2J");
  EXPECT_EQ(consoleEcho(std::string("\0\x01\x1f\x7f", 4)), "\\x00\\x01\\x1f\\x7f");
  EXPECT_EQ(consoleEcho("\x80\xc3\xa9"), "\x80\xc3\xa9");
  EXPECT_EQ(consoleEcho(" \\x "), " \\x ");
}

TEST(LoopKeyword, ExactFormsOnly) {
  struct Case {
    const char* request;
    LoopKeyword keyword;
  } cases[] = {
      {"bye", LoopKeyword::kBye},
      {" bye ", LoopKeyword::kBye},
      {"shortrep", LoopKeyword::kShortRep},
      {" shortrep ", LoopKeyword::kShortRep},
      {"", LoopKeyword::kEmpty},
      {"BYE", LoopKeyword::kNone},
      {"bye ", LoopKeyword::kNone},
      {" bye", LoopKeyword::kNone},
      {"  bye  ", LoopKeyword::kNone},
      {"Shortrep", LoopKeyword::kNone},
      {" ", LoopKeyword::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(loopKeyword(c.request), c.keyword) << c.request;
}

}  // namespace
