// nxt-bridge itself, run as a client finds it with no brick attached. It has
// no options and always serves port 2056, so the test is skipped when that
// port is taken. NXT_E2E_BRIDGE names another program to run instead (the
// Windows one under Wine, with NXT_E2E_WINDOWS=1).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "tools/text_lines.h"

namespace {

constexpr int kBridgePort = 2056;
const char kOpenFailureLine[] = "nxt-bridge: cannot open the NXT brick: ";

std::string bridgeProgram() {
  const char* path = std::getenv("NXT_E2E_BRIDGE");
  return path != nullptr && *path != '\0' ? path : NXT_BRIDGE_PATH;
}

TEST(NxtBridgeWithoutBrick, OpenAnswersErrEverythingElseIsNotEnabledByeEndsIt) {
  if (!portIsFree(kBridgePort)) {
    GTEST_SKIP() << "port 2056 is in use, and nxt-bridge serves no other";
  }
  SimServer server;
  if (!startProgram(server, bridgeProgram(), {}, kBridgePort)) {
    if (server.pid <= 0 && server.exitStatus == 0) {
      GTEST_SKIP() << "port 2056 was taken while nxt-bridge started: " << server.stderrText;
    }
    FAIL() << "nxt-bridge cannot be reached on port 2056: " << server.stderrText;
  }

  const std::string openReply = request(server, "nxt;open");
  // Another program could have taken the port between the check and the
  // start; our nxt-bridge echoes what it serves.
  if (!waitForOutput(server, "nxt;open")) {
    GTEST_SKIP() << "something else answers on port 2056";
  }
  EXPECT_EQ(openReply, "err");
  EXPECT_EQ(request(server, "nxt;batterylevel"), "err: not_enable_interface");
  EXPECT_EQ(request(server, "motor;setforward;out_a;50"), "err: not_enable_interface");
  EXPECT_EQ(request(server, "sensor;settouch;in_1"), "err: not_enable_interface");
  EXPECT_EQ(request(server, "nxt;getname"), "err: not_enable_interface");
  EXPECT_EQ(request(server, "nxt;open"), "err");
  ASSERT_TRUE(sendRaw(server, "bye\n"));
  EXPECT_EQ(readLine(server), "<closed>");
  EXPECT_EQ(waitForExit(server), 0);

  // The start-up line, then one line for the operator per failed open, and
  // nothing else.
  const auto lines = linesOf(server.stderrText);
  ASSERT_EQ(lines.size(), 3u) << server.stderrText;
  EXPECT_EQ(lines[0], "nxt-bridge: serving TCP port 2056 over USB");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(kOpenFailureLine, 0), 0u) << lines[i];
    // Windows lists no brick that has not the WinUSB driver: the line says
    // what to do.
    if (serverIsWindowsProgram()) {
      EXPECT_NE(
          lines[i].find("bind the WinUSB driver to the NXT: README-windows.txt gives the steps"),
          std::string::npos)
          << lines[i];
    }
  }
}

// It takes no options: --help and --version answer, anything else is
// refused before it would serve.
TEST(NxtBridgeArguments, HelpAndVersionAnswerAnythingElseIsStatus2) {
  struct Case {
    const char* arguments;
    int status;
    const char* firstLine;
  } cases[] = {
      {"--help", 0, "Usage: nxt-bridge [--help | --version]"},
      {"--version", 0, "nxt-bridge " NXT_VERSION},
      {"--port 3000 2>&1", 2, "nxt-bridge: takes no options, and '--port' is none (try --help)"},
      {"2056 2>&1", 2, "nxt-bridge: takes no options, and '2056' is none (try --help)"},
      {"--help --version 2>&1", 2,
       "nxt-bridge: takes no options, and '--help' is none (try --help)"},
  };
  for (const Case& c : cases) {
    int status = -1;
    const std::string out =
        runCommand(std::string(NXT_BRIDGE_PATH) + " " + c.arguments, status, 10);
    EXPECT_EQ(status, c.status) << c.arguments;
    EXPECT_EQ(linesOf(out).at(0), c.firstLine) << c.arguments;
  }
}

}  // namespace
