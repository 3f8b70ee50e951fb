// Tests of the interpreter over the simulated brick: each request's reply
// and the telegrams it puts on the wire, as spaced hex ("80 04 00 4b ...").
#pragma once

#include <string>
#include <vector>

#include "interpreter/command_interpreter.h"
#include "sim_test_support.h"

// A request, the reply it must get, and the telegrams it must send.
struct RequestCase {
  const char* request;
  const char* reply;
  std::vector<std::string> telegrams;
};

class InterpreterTest : public SimLinkTest {
 protected:
  std::string ask(const std::string& line) { return interpreter.interpretLine(line); }

  // Opens the brick and forgets the telegrams that took.
  void open() {
    ASSERT_EQ(ask("nxt;open"), "ok");
    clearTrace();
  }

  // The telegrams sent since the last call.
  static std::vector<std::string> sent() {
    std::vector<std::string> telegrams = hostTelegrams();
    clearTrace();
    return telegrams;
  }

  void expectRequests(const std::vector<RequestCase>& cases) {
    clearTrace();
    for (const RequestCase& c : cases) {
      SCOPED_TRACE(c.request);
      EXPECT_EQ(ask(c.request), c.reply);
      EXPECT_EQ(sent(), c.telegrams);
    }
  }

  CommandInterpreter interpreter;
};
