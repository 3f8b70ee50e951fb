// Bad input over a real socket: the server answers what it can, sends
// nothing to the brick for a rejected request, and keeps serving.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "e2e_harness.h"

namespace {

using std::chrono::milliseconds;

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startServer(s)) << s.stderrText;
    ASSERT_EQ(request(s, "nxt;open"), "ok");
  }
  // The server is still there and still talks to the brick.
  void expectStillServing() {
    EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");
    EXPECT_EQ(sayBye(s), 0);
  }
  SimServer s;
};

TEST_F(BadInput, EveryByteValueAfterAWord) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const std::string line = std::string("robot") + c + "x";
    std::string expected = "err: unknown_module: robot";
    if (c == '\n' || c == '\r') {
      // A line end: two requests, two replies.
      ASSERT_EQ(request(s, line), expected) << "byte " << b;
      ASSERT_EQ(readLine(s), "err: unknown_module: x") << "byte " << b;
      continue;
    } else if (c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\'' || c == '"') {
      // A blank, or a quote that became one, ends the word.
    } else if (c == ';') {
      // The word ends at the semicolon.
    } else {
      expected += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      expected += "x";
    }
    ASSERT_EQ(request(s, line), expected) << "byte " << b;
  }
  expectStillServing();
}

TEST_F(BadInput, NulBytesAreOrdinaryBytes) {
  EXPECT_EQ(request(s, std::string("nxt;playtone;440\0;200", 21)), "ok");
  EXPECT_EQ(request(s, std::string("nxt\0;getname", 12)),
            std::string("err: unknown_module: nxt\0", 25));
  EXPECT_EQ(request(s, std::string("\0", 1)), std::string("err: unknown_module: \0", 22));
  EXPECT_EQ(sentTelegrams(s).back(), "80 03 b8 01 c8 00");
  expectStillServing();
}

TEST_F(BadInput, ReadsAroundTheBufferSize) {
  ASSERT_TRUE(sendUnanswered(s, "shortrep"));
  const std::string head = "robot;";
  for (std::size_t size : {511u, 512u}) {
    ASSERT_TRUE(sendRaw(s, head + std::string(size - head.size(), 'x')));
    EXPECT_EQ(readLine(s), "err: unknown_module: robot") << size;
    EXPECT_TRUE(nothingArrives(s, milliseconds(100))) << size;
  }
  // 513 bytes sent at once: a read of 512, then a read of the last byte.
  ASSERT_TRUE(sendRaw(s, head + std::string(513 - head.size() - 1, 'x') + "z"));
  EXPECT_EQ(readLine(s), "err: unknown_module: robot");
  EXPECT_EQ(readLine(s), "err: unknown_module: z");
  // A line end as the 512th byte is cut like any other.
  ASSERT_TRUE(sendRaw(s, "nxt;batterylevel" + std::string(495, ' ') + "\n"));
  EXPECT_EQ(readLine(s), "ok8100");
  EXPECT_EQ(sayBye(s), 0);
}

TEST_F(BadInput, RequestSplitAcrossReadsIsTwoRequests) {
  ASSERT_TRUE(sendRaw(s, "nxt;play"));
  EXPECT_EQ(readLine(s), "err: unknown_command: play");
  EXPECT_EQ(request(s, "tone;440;200"), "err: unknown_module: tone");
  expectStillServing();
}

TEST_F(BadInput, VeryLongRequestIsServedPieceByPiece) {
  ASSERT_TRUE(sendRaw(s, "nxt;" + std::string(6000, 'w') + "\n"));
  // However the bytes fall into reads, each read gets one reply, and the
  // last one holds the line end.
  int replies = 0;
  while (replies < 40) {
    const std::string reply = readLine(s, milliseconds(2000));
    ASSERT_NE(reply, "<timeout>");
    ASSERT_EQ(reply.rfind("err: ", 0), 0u) << reply;
    ++replies;
    // The pieces come back to back; a second of quiet is the end of them.
    if (nothingArrives(s, milliseconds(1000))) break;
  }
  EXPECT_GE(replies, 12);
  expectStillServing();
}

TEST_F(BadInput, NumbersBeyond32BitsAreClamped) {
  EXPECT_EQ(request(s, "nxt;playtone;99999999999;-99999999999"), "ok");
  EXPECT_EQ(request(s, "nxt;playtone;4294967736;-4294967096"), "ok");
  const auto sent = sentTelegrams(s);
  ASSERT_GE(sent.size(), 2u);
  // 2147483647 and -2147483648, each as remainder and quotient by 256.
  EXPECT_EQ(sent[sent.size() - 2], "80 03 ff ff 00 00");
  EXPECT_EQ(sent[sent.size() - 1], "80 03 ff ff 00 00");
  expectStillServing();
}

TEST_F(BadInput, FileNamesOf19And20Characters) {
  EXPECT_EQ(request(s, "nxt;startprogram;" + std::string(19, 'p')), "ok");
  const std::size_t before = traceLines(s).size();
  EXPECT_EQ(request(s, "nxt;startprogram;" + std::string(20, 'p')), "err: wrong_params");
  EXPECT_EQ(request(s, "nxt;playsoundfile;" + std::string(20, 'p') + ";false"),
            "err: wrong_params");
  EXPECT_EQ(traceLines(s).size(), before);
  expectStillServing();
}

TEST_F(BadInput, RejectedRequestsSendNothing) {
  const std::size_t before = traceLines(s).size();
  for (const char* line :
       {"nxt;playtone;440", "nxt;playsoundfile;a;maybe", "nxt;startprogram", "nxt;frobnicate",
        "robot;open", "nxt", ";;;", "motor;setforward;out_d;5", "sensor;getvalue;in_9"}) {
    EXPECT_EQ(request(s, line).rfind("err", 0), 0u) << line;
  }
  EXPECT_EQ(traceLines(s).size(), before);
  expectStillServing();
}

TEST_F(BadInput, QuotesAnywhere) {
  EXPECT_EQ(request(s, "\"nxt\";'playtone';\"440\";'200'"), "ok");
  EXPECT_EQ(request(s, "nxt;'get'name'"), "err: unknown_command: get");
  EXPECT_EQ(request(s, "''''''"), "err: unknown_module:       ");
  expectStillServing();
}

TEST(SilentClient, ConnectsSendsNothingAndLeaves) {
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  EXPECT_TRUE(nothingArrives(s, milliseconds(300)));
  closeClient(s);
  EXPECT_EQ(waitForExit(s, milliseconds(3000)), 0);
  EXPECT_EQ(s.stdoutText, "");
}

}  // namespace
