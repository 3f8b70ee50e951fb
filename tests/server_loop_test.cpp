// The request loop's text handling: requests split out of a read, the loop
// keywords, and the console echo that neither a client nor a stalled
// console can misuse.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "server/console_echo.h"
#include "server/request_text.h"
#include "tools/text_lines.h"

namespace {

using Requests = std::vector<std::string>;

Requests split(const std::string& read, LineEnds& lineEnds) {
  return splitRequests(read.data(), read.size(), lineEnds);
}

TEST(SplitRequests, EveryLineOfAReadIsARequestQuotesBecomeBlanks) {
  struct Case {
    std::string read;
    Requests requests;
  } cases[] = {
      {"bye\n", {"bye"}},
      {"bye\r\n", {"bye"}},
      {"'bye'\n", {" bye "}},
      {"\"bye\"", {" bye "}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\nc", {"a", "b", "c"}},
      {"a\rb", {"a", "b"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"\n", {""}},
      {"\r\n", {""}},
      {"", {}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
      {"motor;stop;'out_a';\"true\"\n", {"motor;stop; out_a ; true "}},
      {"x'y\"\nz'", {"x y ", "z "}},
      // Cut into requests of the longest length, quotes cleaned across the cuts.
      {std::string(kMaxRequestLength - 1, 'a') + "''" + std::string(kMaxRequestLength, 'b') +
           "\"\r\n",
       {std::string(kMaxRequestLength - 1, 'a') + " ",
        " " + std::string(kMaxRequestLength - 1, 'b'), "b "}},
  };
  Requests reused;  // a list kept from read to read, as the server keeps one
  for (const Case& c : cases) {
    LineEnds lineEnds;
    EXPECT_EQ(split(c.read, lineEnds), c.requests) << c.read;
    LineEnds again;
    splitRequests(c.read.data(), c.read.size(), again, false, reused);
    EXPECT_EQ(reused, c.requests) << c.read;
  }
}

TEST(SplitRequests, CarriageReturnAndLineFeedAcrossTwoReadsAreOneLineEnd) {
  LineEnds lineEnds;
  EXPECT_EQ(split("a\r", lineEnds), Requests{"a"});
  EXPECT_EQ(split("\nb\n", lineEnds), Requests{"b"});
  // Only right after a CR: a read that begins with LF otherwise ends an
  // empty line.
  EXPECT_EQ(split("\nc", lineEnds), (Requests{"", "c"}));
}

TEST(SplitRequests, AFullReadKeepsItsUnfinishedLineForTheNextRead) {
  struct Read {
    std::string bytes;
    bool full;  // the read filled the buffer
    Requests requests;
  };
  const std::string longLine(kMaxRequestLength - 1, 'a');
  struct Case {
    const char* name;
    std::vector<Read> reads;
  } cases[] = {
      {"joined", {{"x\nnxt;bat", true, {"x"}}, {"terylevel\ny", false, {"nxt;batterylevel", "y"}}}},
      {"kept to the end of stream",
       {{"nxt;batterylevel", true, {}}, {"", false, {"nxt;batterylevel"}}}},
      {"cut after the longest request",
       {{longLine, true, {}}, {"bc\n", false, {longLine + "b", "c"}}}},
      {"not full: its tail is a request", {{"a\nb", false, {"a", "b"}}, {"c\n", false, {"c"}}}},
  };
  for (const Case& c : cases) {
    LineEnds lineEnds;
    for (const Read& read : c.reads) {
      EXPECT_EQ(splitRequests(read.bytes.data(), read.bytes.size(), lineEnds, read.full),
                read.requests)
          << c.name;
    }
  }
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

TEST(ConsoleEcho, EscapesC0AndC1ControlCodesButKeepsTabAndText) {
  EXPECT_EQ(consoleEcho("motor;setforward;out_a;75"), "motor;setforward;out_a;75");
  EXPECT_EQ(consoleEcho("a\tb"), "a\tb");
  EXPECT_EQ(consoleEcho("\x1b[2J"), "\\x1b[2J");
  EXPECT_EQ(consoleEcho(std::string("\0\x01\x1f\x7f", 4)), "\\x00\\x01\\x1f\\x7f");
  EXPECT_EQ(consoleEcho(" \\x "), " \\x ");
  // C1: the bytes themselves, and their UTF-8 form C2 80 to C2 9F.
  EXPECT_EQ(consoleEcho("\x80\x9b"
                        "2J\x9f"),
            "\\x80\\x9b2J\\x9f");
  EXPECT_EQ(consoleEcho("\xc2\x9b"
                        "31m\xc2\x85"),
            "\\xc2\\x9b31m\\xc2\\x85");
  // Text above them stays: é (C3 A9), the no-break space (C2 A0), a lone C2.
  EXPECT_EQ(consoleEcho("\xc3\xa9\xc2\xa0\xc2"), "\xc3\xa9\xc2\xa0\xc2");
  // Appended to what a reused buffer already holds.
  std::string echo = "> ";
  appendConsoleEcho(echo, "a\x1b");
  appendConsoleEcho(echo, "b");
  EXPECT_EQ(echo, "> a\\x1bb");
}

// A console that nobody reads until the test drains it: a pipe with a
// small buffer (four pages), or a pseudo-terminal in raw mode.
struct StalledConsole {
  int readFd = -1;
  int writeFd = -1;
  explicit StalledConsole(bool terminal) {
    if (terminal) {
      readFd = ::posix_openpt(O_RDWR | O_NOCTTY);
      if (readFd < 0 || ::grantpt(readFd) != 0 || ::unlockpt(readFd) != 0) return;
      writeFd = ::open(::ptsname(readFd), O_RDWR | O_NOCTTY);
      termios raw{};
      if (writeFd >= 0 && ::tcgetattr(writeFd, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(writeFd, TCSANOW, &raw);
      }
    } else {
      int fds[2];
      if (::pipe(fds) != 0) return;
      readFd = fds[0];
      writeFd = fds[1];
      ::fcntl(writeFd, F_SETPIPE_SZ, 16384);
    }
    ::fcntl(readFd, F_SETFL, O_NONBLOCK);
  }
  ~StalledConsole() {
    for (int fd : {readFd, writeFd}) ::close(fd);
  }
  StalledConsole(const StalledConsole&) = delete;
  StalledConsole& operator=(const StalledConsole&) = delete;
  // Everything written so far: a terminal hands bytes on a moment later.
  std::string drain() const {
    std::string text;
    char buffer[4096];
    pollfd p{readFd, POLLIN, 0};
    while (::poll(&p, 1, 100) > 0) {
      const ssize_t n = ::read(readFd, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
};

// Far more than the console holds: a write that waited would hang the test.
// The console's own descriptor stays blocking: it is shared with the shell.
TEST(EchoRequest, AStalledConsoleDropsLinesWithoutWaitingThenSaysHowMany) {
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    StalledConsole stalled(terminal);
    ASSERT_GE(stalled.writeFd, 0);
    ConsoleEcho console;
    openConsole(console, stalled.writeFd);
    EXPECT_EQ(console.way, ConsoleEcho::Way::kNonBlocking);
    const std::string line(99, 'x');  // 100 bytes a line with its line feed
    for (int i = 0; i < 1000; ++i) echoRequest(console, line);
    EXPECT_EQ(::fcntl(stalled.writeFd, F_GETFL) & O_NONBLOCK, 0);
    const std::uint64_t dropped = console.dropped;
    std::string seen = stalled.drain();
    echoRequest(console, "nxt;open");
    closeConsole(console);
    seen += stalled.drain();
    const std::vector<std::string> lines = linesOf(seen);
    ASSERT_GE(lines.size(), 3u) << seen.size() << "/" << dropped;
    // Whole lines reached the console, each as sent, and counts of those
    // dropped (a terminal passes bytes on by itself now and then, and takes
    // some again), the last one just before the next echo.
    const std::string tail = " echo lines dropped: standard output was full)";
    std::uint64_t shown = 0;  // lines that reached the console
    std::uint64_t told = 0;   // lines dropped, as the counts say
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i] == line) {
        ++shown;
        continue;
      }
      ASSERT_EQ(lines[i].substr(0, 1), "(") << i << ": " << lines[i];
      ASSERT_NE(lines[i].find(tail), std::string::npos) << lines[i];
      told += std::stoull(lines[i].substr(1));
    }
    EXPECT_GT(told, 0u);
    if (dropped > 0) {
      EXPECT_EQ(lines[lines.size() - 2], "(" + std::to_string(dropped) + tail);
    }
    EXPECT_EQ(lines.back(), "nxt;open");
    EXPECT_EQ(shown + told, 1000u);
  }
}

}  // namespace
