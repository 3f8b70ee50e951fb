// The server as a client sees it: nxt-bridge-sim over a real socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_harness.h"
#include "tools/text_lines.h"

namespace {

using std::chrono::milliseconds;

TEST(Server, SessionFromOpenToBye) {
  E2E_NEEDS("device-info");
  SimServer s;
  ASSERT_TRUE(startServer(s, {"--name", "Robo1", "--battery", "7516"})) << s.stderrText;
  EXPECT_EQ(request(s, "nxt;batterylevel"), "err: not_enable_interface");
  EXPECT_EQ(request(s, "motor;setforward;out_a;50"), "err: not_enable_interface");
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "7516");
  EXPECT_EQ(request(s, "NXT;GetName"), "Robo1");
  EXPECT_EQ(request(s, "nxt;playtone;440;200"), "ok");
  EXPECT_EQ(request(s, "robot;x"), "err: unknown_module: robot");
  ASSERT_TRUE(sendUnanswered(s, "shortrep\n"));
  EXPECT_EQ(request(s, "nxt;batterylevel"), "ok7516");
  EXPECT_EQ(request(s, "nxt;getname"), "okRobo1");
  EXPECT_EQ(request(s, "nxt;close"), "ok");
  EXPECT_EQ(request(s, "nxt;close"), "err: not_enable_interface");
  ASSERT_TRUE(sendRaw(s, "bye\n"));
  EXPECT_EQ(readLine(s), "<closed>");
  EXPECT_EQ(waitForExit(s), 0);
  EXPECT_EQ(traceLines(s), (std::vector<std::string>{
                               "> 00 0b", "< 02 0b 00 5c 1d", "> 01 9b",
                               "< 02 9b 00 52 6f 62 6f 31 00 00 00 00 00 00 00 00 00 00 00 16 53 "
                               "0a 0b 0c 00 00 00 00 00 6c b5 01 00",
                               "> 80 03 b8 01 c8 00", "> 00 0b", "< 02 0b 00 5c 1d", "> 01 9b",
                               "< 02 9b 00 52 6f 62 6f 31 00 00 00 00 00 00 00 00 00 00 00 16 53 "
                               "0a 0b 0c 00 00 00 00 00 6c b5 01 00"}));
}

TEST(Server, EveryFormOfByeEndsWithoutReply) {
  E2E_NEEDS("quick-start");
  for (const char* bye : {"bye\n", "bye\r\n", "'bye'\n", "\"bye\"\n", "bye"}) {
    SimServer s;
    ASSERT_TRUE(startServer(s, {}, false));
    ASSERT_TRUE(sendRaw(s, bye));
    EXPECT_EQ(readLine(s), "<closed>") << bye;
    EXPECT_EQ(waitForExit(s), 0) << bye;
  }
}

TEST(Server, NearMissesOfByeGoToTheInterpreter) {
  E2E_NEEDS("quick-start");
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  for (const char* line : {"BYE", "bye ", " bye", "Bye"}) {
    EXPECT_EQ(request(s, line), "err: unknown_module: bye") << line;
  }
  EXPECT_EQ(request(s, "'shortrep"), "err: unknown_module: shortrep");
}

TEST(Server, EchoesEveryReadCleanedAndEscaped) {
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  ASSERT_TRUE(sendUnanswered(s, "\n"));
  EXPECT_EQ(request(s, "nxt;'open'"), "ok");
  EXPECT_EQ(request(s, std::string("x\x1b[31m\0y\x7f\tz", 11)),
            std::string("err: unknown_module: x\x1b[31m\0y\x7f", 30));
  EXPECT_EQ(sayBye(s), 0);
  EXPECT_EQ(s.stdoutText, "\nnxt; open \nx\\x1b[31m\\x00y\\x7f\tz\nbye\n");
}

TEST(Server, EndOfStreamEndsServing) {
  E2E_NEEDS("quick-start");
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  closeClient(s);
  EXPECT_EQ(waitForExit(s, milliseconds(3000)), 0);
}

TEST(Server, ClientResetEndsServing) {
  E2E_NEEDS("quick-start");
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  linger hard{1, 0};  // close with a reset instead of an orderly end
  ::setsockopt(s.sock, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  closeClient(s);
  EXPECT_EQ(waitForExit(s, milliseconds(3000)), 0);
}

TEST(Server, EveryLineOfAReadGetsItsReplyInOrder) {
  SimServer s;
  ASSERT_TRUE(startServer(s));
  // Every kind of line end, an empty line (no reply), a keyword, and a last
  // request without a line end, all in one write.
  ASSERT_TRUE(sendRaw(s,
                      "nxt;open\nnxt;playtone;440;200\r\nnxt;getname\rnxt;batterylevel\n\n"
                      "shortrep\nnxt;batterylevel"));
  for (const char* reply : {"ok", "ok", "NXT", "8100", "ok8100"}) EXPECT_EQ(readLine(s), reply);
  // Lines pasted in two writes, the second not waiting for a reply to the
  // first; a CR LF cut between them is one line end, in one read or two.
  ASSERT_TRUE(sendRaw(s, "nxt;getname\nnxt;batterylevel\r"));
  ASSERT_TRUE(sendRaw(s, "\nnxt;close\n"));
  for (const char* reply : {"okNXT", "ok8100", "ok"}) EXPECT_EQ(readLine(s), reply);
  EXPECT_TRUE(nothingArrives(s, milliseconds(100)));
  EXPECT_EQ(sentTelegrams(s), (std::vector<std::string>{"80 03 b8 01 c8 00", "01 9b", "00 0b",
                                                        "00 0b", "01 9b", "00 0b"}));
}

TEST(Server, LongRequestIsServedAsSeveralReads) {
  E2E_NEEDS("quick-start");
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  // 600 bytes without a line end: a read of 512 and one of 88, if both are
  // there when the server reads.
  const std::string text = "robot;" + std::string(594, 'x');
  ASSERT_TRUE(sendUnanswered(s, "shortrep"));
  ASSERT_TRUE(sendRaw(s, text));
  const std::string first = readLine(s);
  EXPECT_EQ(first.rfind("err: unknown_module: robot", 0), 0u) << first;
  // However the bytes were split, every byte reached a request, and each
  // read got its own reply.
  std::size_t replies = 1;
  while (!nothingArrives(s, milliseconds(300)) && replies < 10) {
    EXPECT_EQ(readLine(s).rfind("err: unknown_module: x", 0), 0u);
    ++replies;
  }
  EXPECT_GE(replies, 2u);
}

TEST(Server, AScriptThatEndsItsStreamGetsEveryReplyInOrder) {
  E2E_NEEDS("quick-start");
  // As printf ... | nc -N sends it: all requests, then the end of stream,
  // while the goto still runs.
  for (const bool bye : {true, false}) {
    SimServer s;
    ASSERT_TRUE(startServer(s));
    ASSERT_TRUE(sendRaw(s, std::string("nxt;open\nmotor;goto;out_a;75;720;true\n"
                                       "motor;getrotationcount;out_a\n") +
                               (bye ? "bye\n" : "")));
    ASSERT_EQ(::shutdown(s.sock, SHUT_WR), 0);
    EXPECT_EQ(readLine(s), "ok") << bye;
    EXPECT_EQ(readLine(s), "ok") << bye;
    const std::string count = readLine(s);
    EXPECT_GE(std::atoi(count.c_str()), 720) << count;
    EXPECT_EQ(readLine(s), "<closed>") << bye;
    EXPECT_EQ(waitForExit(s), 0) << bye;
    const std::vector<std::string> sent = sentTelegrams(s);
    ASSERT_FALSE(sent.empty());
    // Without bye the end of stream counts as a client gone: motors coast.
    EXPECT_EQ(sent.back(), bye ? "00 06 00" : "80 04 02 00 00 00 00 00 00 00 00 00") << bye;
  }
}

TEST(Server, AThousandLinesInOneWriteGetAThousandReplies) {
  E2E_NEEDS("quick-start");
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  ASSERT_EQ(request(s, "nxt;open"), "ok");
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "nxt;batterylevel\n";
  ASSERT_TRUE(sendRaw(s, lines));
  int right = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::string reply = readLine(s);
    if (reply != "8100") {
      ADD_FAILURE() << "reply " << i << ": " << reply;
      break;
    }
    ++right;
  }
  EXPECT_EQ(right, 1000);
  EXPECT_TRUE(nothingArrives(s, milliseconds(100)));
}

TEST(Server, SecondClientIsNeverAnswered) {
  E2E_NEEDS("quick-start");
  SimServer s;
  ASSERT_TRUE(startServer(s, {}, false));
  const int other = ::socket(AF_INET, SOCK_STREAM, 0);
  // The listening socket stays open, so the connect itself is queued.
  ASSERT_TRUE(connectLoopback(other, s.port));
  const char line[] = "nxt;open\n";
  ASSERT_EQ(::send(other, line, sizeof line - 1, MSG_NOSIGNAL), 9);
  pollfd p{other, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 300), 0);
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  ::close(other);
}

TEST(Server, PortAlreadyTakenIsOneLineOnStandardError) {
  const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
  const int port = ntohs(address.sin_port);

  SimServer s;
  // The server cannot listen (the client side reaches the other listener):
  // it says why on standard error, in one line, and exits with status 1.
  startServer(s, {}, false, port);
  EXPECT_EQ(waitForExit(s), 1);
  // The line names the program that could not listen (through a launcher,
  // the server program under it), and the system's reason (Windows words
  // it its own way).
  const std::string line = ": cannot listen on TCP port " + std::to_string(port) + ": ";
  const std::string reason = serverIsWindowsProgram() ? "" : "Address already in use";
  EXPECT_EQ(std::count(s.stderrText.begin(), s.stderrText.end(), '\n'), 1) << s.stderrText;
  const std::size_t at = s.stderrText.find(line);
  ASSERT_NE(at, std::string::npos) << s.stderrText;
  EXPECT_EQ(s.stderrText.substr(at + line.size()).back(), '\n');
  EXPECT_EQ(s.stderrText.substr(at + line.size()).rfind(reason, 0), 0u) << s.stderrText;
  ::close(taken);
}

TEST(Server, NoBrickMeansOpenAnswersErr) {
  SimServer s;
  ASSERT_TRUE(startServer(s, {"--no-brick"}));
  EXPECT_EQ(request(s, "nxt;open"), "err");
  EXPECT_EQ(request(s, "nxt;batterylevel"), "err: not_enable_interface");
  EXPECT_EQ(request(s, "sensor;getvalue;in_1"), "err: not_enable_interface");
  EXPECT_EQ(sayBye(s), 0);
  EXPECT_TRUE(traceLines(s).empty());
  // One line says why "open" failed, as over every link.
  std::size_t told = 0;
  for (const std::string& line : linesOf(s.stderrText)) {
    told += line.find(": cannot open the NXT brick") != std::string::npos;
  }
  EXPECT_EQ(told, 1u) << s.stderrText;
}

TEST(Server, LatencyIsSpentPerExchange) {
  E2E_NEEDS("latency");
  SimServer s;
  ASSERT_TRUE(startServer(s, {"--latency-us", "200000"}, false));
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(request(s, "nxt;batterylevel"), "8100");
  // A bound below, not a measurement: the exchange slept its latency.
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(190));
}

TEST(SimProgram, BadOptionExitsWithStatus2) {
  E2E_NEEDS("quick-start");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--bogus"}, std::vector<std::string>{"--port", "x"},
        std::vector<std::string>{"--battery"}}) {
    SimServer s;
    EXPECT_FALSE(startServer(s, args, false));
    EXPECT_EQ(s.exitStatus, 2);
    EXPECT_EQ(std::count(s.stderrText.begin(), s.stderrText.end(), '\n'), 1) << s.stderrText;
  }
}

TEST(SimProgram, ATraceThatFailsIsToldOnceAndServingGoesOn) {
  E2E_NEEDS("own-words");
  SimServer full;
  ASSERT_TRUE(startServer(full, {"--trace", "/dev/full"}, false));
  EXPECT_EQ(request(full, "nxt;open"), "ok");
  EXPECT_EQ(request(full, "nxt;batterylevel"), "8100");
  EXPECT_EQ(request(full, "nxt;batterylevel"), "8100");
  EXPECT_EQ(sayBye(full), 0);
  EXPECT_EQ(linesOf(full.stderrText),
            (std::vector<std::string>{
                "nxt-bridge-sim: serving TCP port " + std::to_string(full.port) +
                    " over the simulated brick",
                "nxt-bridge-sim: cannot write the trace file /dev/full: No space left on device; "
                "tracing stops"}));

  SimServer missing;
  EXPECT_FALSE(startServer(missing, {"--trace", "/nonexistent-dir/trace"}, false));
  EXPECT_EQ(missing.exitStatus, 2);
  EXPECT_EQ(missing.stderrText,
            "nxt-bridge-sim: cannot write the trace file /nonexistent-dir/trace: No such file or "
            "directory\n");
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Links planted in the flash folder on this system (under Wine: Linux
// links, which Wine shows as the files they lead to) let the program read
// and write nothing outside it: each is skipped at start with one line,
// and a --file of the same name replaces the link, not what it leads to.
TEST(SimProgram, AFlashFolderReachesNothingOutsideIt) {
  E2E_NEEDS("own-words");
  char root[] = "/tmp/nxt-e2e-flash-XXXXXX";
  ASSERT_NE(::mkdtemp(root), nullptr);
  const std::string top = root, dir = top + "/flash", host = top + "/host.rxe";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((top + "/sub").c_str(), 0700), 0);
  for (const char* name : {"/host.rxe", "/other.rxe", "/Put.rxe", "/flash/Own.rxe"}) {
    std::ofstream(top + name) << name;
  }
  const std::vector<std::pair<std::string, std::string>> links = {
      {host, "Link.rxe"},        {"../host.rxe", "Rel.rxe"},
      {top + "/sub", "Sub.rxe"}, {dir + "/Own.rxe", "Twin.rxe"},
      {host, "Put.rxe"},         {host, ".nxt-Put.rxe"}};
  for (const auto& [target, name] : links) {
    ASSERT_EQ(::symlink(target.c_str(), (dir + "/" + name).c_str()), 0) << name;
  }
  ASSERT_EQ(::link((top + "/other.rxe").c_str(), (dir + "/Hard.rxe").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir + "/Fifo.rxe").c_str(), 0600), 0);  // no writer: opening it could hang
  ASSERT_EQ(::symlink(dir.c_str(), (top + "/alias").c_str()), 0);

  SimServer s;
  ASSERT_TRUE(startServer(s, {"--flash", top + "/alias", "--file", top + "/Put.rxe"}));
  EXPECT_EQ(request(s, "nxt;open"), "ok");
  const std::vector<std::string> names = {"own", "put",  "link", "rel",
                                          "sub", "twin", "hard", "fifo"};
  for (const std::string& name : names) {
    EXPECT_EQ(request(s, "nxt;startprogram;" + name + ".rxe"), "ok");
    EXPECT_EQ(request(s, "nxt;stopprogram"), "ok");
  }
  ASSERT_TRUE(sendRaw(s, "bye\n"));
  EXPECT_EQ(waitForExit(s, std::chrono::seconds(10)), 0);
  const std::vector<std::string> trace = traceLines(s);
  for (const std::string& name : names) {
    const bool started =
        std::count(trace.begin(), trace.end(), "# program " + name + ".rxe started") == 1;
    EXPECT_EQ(started, name == "own" || name == "put") << name;
  }
  const std::vector<std::string> told = linesOf(s.stderrText);
  for (const char* name : {"Link", "Rel", "Sub", "Twin", "Hard", "Fifo", "Put"}) {
    const std::string ignoring = std::string(name) + ".rxe in the flash folder: ";
    EXPECT_EQ(std::count_if(told.begin(), told.end(),
                            [&](const std::string& line) {
                              return line.find(": ignoring ") != std::string::npos &&
                                     line.find(ignoring) != std::string::npos;
                            }),
              1)
        << name << " in:\n"
        << s.stderrText;
  }
  struct stat put {};
  ASSERT_EQ(::lstat((dir + "/Put.rxe").c_str(), &put), 0);
  EXPECT_TRUE(S_ISREG(put.st_mode));
  EXPECT_EQ(fileText(dir + "/Put.rxe"), "/Put.rxe");
  EXPECT_EQ(fileText(host), "/host.rxe");
  EXPECT_EQ(fileText(top + "/other.rxe"), "/other.rxe");
  std::system(("rm -rf '" + top + "'").c_str());
}

}  // namespace
