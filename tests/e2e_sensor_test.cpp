// The sensor commands end to end: a client on a socket, nxt-bridge-sim and
// its simulated inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "e2e_harness.h"

namespace {

using std::chrono::milliseconds;

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A sensor's data are invalid for a while after it is set up (up to 300 ms
// for the sound type) and read as before meanwhile. Asks until the reply
// is `expected`, at most 100 times 10 ms apart; returns the last reply.
std::string awaitReply(SimServer& server, const std::string& line, const std::string& expected) {
  std::string reply;
  for (int i = 0; i < 100; ++i) {
    reply = request(server, line);
    if (reply == expected) break;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return reply;
}

void stop(SimServer& server) { EXPECT_EQ(sayBye(server), 0); }

TEST(E2eSensor, TouchSensorPressedAndReleased) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--console", "--sensor", "in_1=183"}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  ASSERT_EQ(request(server, "sensor;settouch;in_1"), "ok");
  EXPECT_EQ(awaitReply(server, "sensor;getvalue;in_1", "1"), "1");
  ASSERT_TRUE(consoleInput(server, "sensor in_1=1023"));
  EXPECT_EQ(request(server, "sensor;getvalue;in_1"), "0");
  ASSERT_TRUE(consoleInput(server, "sensor in_1=183"));
  EXPECT_EQ(request(server, "sensor;getvalue;in_1"), "1");
  const std::vector<std::string> sent = sentTelegrams(server);
  EXPECT_TRUE(contains(sent, "80 05 00 01 20"));
  EXPECT_TRUE(contains(sent, "00 07 00"));
  stop(server);
}

TEST(E2eSensor, RawReadingAndLightInBothFloodlightSettings) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--sensor", "in_2=512", "--sensor", "in_3=500"}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  // The raw set-up uses the sound sensor's type in raw mode: the value is
  // the sound sensor's normalized reading.
  ASSERT_EQ(request(server, "sensor;setraw;in_2"), "ok");
  EXPECT_EQ(awaitReply(server, "sensor;getvalue;in_2", "602"), "602");
  ASSERT_EQ(request(server, "sensor;setlight;in_3;true"), "ok");
  EXPECT_EQ(awaitReply(server, "sensor;getvalue;in_3", "56"), "56");
  ASSERT_EQ(request(server, "sensor;setlight;in_3;false"), "ok");
  EXPECT_EQ(awaitReply(server, "sensor;getvalue;in_3", "56"), "56");
  const std::vector<std::string> sent = sentTelegrams(server);
  EXPECT_TRUE(contains(sent, "80 05 01 07 00"));
  EXPECT_TRUE(contains(sent, "80 05 02 05 80"));
  EXPECT_TRUE(contains(sent, "80 05 02 06 80"));
  stop(server);
}

TEST(E2eSensor, UltrasonicDistanceAndBusStatusInBothReplyModes) {
  SimServer server;
  // A little latency per exchange keeps the trace of the polling short.
  ASSERT_TRUE(startServer(server, {"--sonar", "in_4=37", "--latency-us", "200"}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  ASSERT_EQ(request(server, "sensor;setsonar;in_4"), "ok");
  EXPECT_EQ(request(server, "sensor;lsgetstatus;in_4"), "0");
  EXPECT_EQ(request(server, "sensor;getsonarvalue;in_4"), "37");

  // Continuous mode first, then read requests and status queries in
  // turn, then one LSREAD.
  std::vector<std::string> sent = sentTelegrams(server);
  const auto first = std::find(sent.begin(), sent.end(), "00 0f 03 03 00 02 41 02");
  ASSERT_NE(first, sent.end());
  const std::vector<std::string> polling(first + 1, sent.end());
  ASSERT_GE(polling.size(), 3u);
  ASSERT_EQ(polling.size() % 2, 1u);
  for (std::size_t i = 0; i + 1 < polling.size(); ++i) {
    EXPECT_EQ(polling[i], i % 2 == 0 ? "00 0f 03 02 01 02 42" : "00 0e 03");
  }
  EXPECT_EQ(polling.back(), "00 10 03");

  ASSERT_TRUE(sendUnanswered(server, "shortrep\n"));
  EXPECT_EQ(request(server, "sensor;getsonarvalue;in_4"), "ok37");
  EXPECT_EQ(request(server, "sensor;lsgetstatus;in_1"), "ok0");
  stop(server);
}

TEST(E2eSensor, SonarWithoutSensorTimesOut) {
  SimServer server;
  ASSERT_TRUE(startServer(server, {"--latency-us", "200"}));
  ASSERT_EQ(request(server, "nxt;open"), "ok");
  ASSERT_EQ(request(server, "sensor;setsonar;in_2"), "ok");
  // The wait ends after a second without a byte ready.
  EXPECT_EQ(request(server, "sensor;getsonarvalue;in_2", milliseconds(1500)), "err: timeout");
  EXPECT_FALSE(contains(sentTelegrams(server), "00 10 01"));
  // The server goes on serving.
  EXPECT_EQ(request(server, "sensor;getvalue;in_1"), "0");
  stop(server);
}

}  // namespace
