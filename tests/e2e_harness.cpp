#include "e2e_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/text_lines.h"
#include "trace_telegrams.h"

namespace {

using Clock = std::chrono::steady_clock;

// Appends what `fd` holds now. Lines end with a line feed alone: a Windows
// program's CR LF loses its CR.
void drainFd(int fd, std::string& into) {
  if (fd < 0) return;
  char buffer[4096];
  bool read = false;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    into.append(buffer, static_cast<std::size_t>(n));
    read = true;
  }
  if (read) into = withoutCarriageReturns(into);
}

std::string tempTracePath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/nxt-trace-XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd >= 0) ::close(fd);
  return path;
}

}  // namespace

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (!connectLoopback(fd, port)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

SimServer::~SimServer() {
  if (sock >= 0) ::close(sock);
  if (stdinFd >= 0) ::close(stdinFd);
  if (pid > 0) {
    // A moment to stop in order (a launcher stops what it started), then
    // for good.
    ::kill(pid, SIGTERM);
    bool ended = false;
    for (int i = 0; i < 300 && !ended; ++i) {
      ended = ::waitpid(pid, nullptr, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (stdoutFd >= 0) ::close(stdoutFd);
  if (stderrFd >= 0) ::close(stderrFd);
  if (!traceFile.empty()) ::unlink(traceFile.c_str());
}

bool portIsFree(int port) {
  const int fd = listeningSocket(INADDR_ANY, port);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool spawnProgram(SimServer& server, const std::string& path, const std::vector<std::string>& args,
                  int port, const std::function<void()>& inChild) {
  ::signal(SIGPIPE, SIG_IGN);
  server.port = port;
  std::vector<std::string> argv = {path};
  argv.insert(argv.end(), args.begin(), args.end());

  int out[2];
  int err[2];
  int in[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0 || ::pipe(in) != 0) return false;
  const int pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::close(in[0]);
    ::close(in[1]);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::close(err[0]);
    ::close(err[1]);
    // The stop signals as a shell gives them, even to a test started in the
    // background of one (which ignores SIGINT, and a launcher in bash then
    // cannot pass it on).
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
    if (inChild) inChild();
    std::vector<char*> cargs;
    for (std::string& a : argv) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    ::execv(cargs[0], cargs.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ::close(in[0]);
  // Servers started later must not hold this one's console open.
  ::fcntl(in[1], F_SETFD, FD_CLOEXEC);
  server.stdinFd = in[1];
  server.pid = pid;
  server.stdoutFd = out[0];
  server.stderrFd = err[0];
  ::fcntl(server.stdoutFd, F_SETFL, O_NONBLOCK);
  ::fcntl(server.stderrFd, F_SETFL, O_NONBLOCK);
  return true;
}

namespace {

// The options that put nxt-bridge-sim on `server.port` with an instant
// link (`args` may ask for another latency), with a trace file.
std::vector<std::string> simOptions(SimServer& server, const std::vector<std::string>& args,
                                    bool withTrace) {
  std::vector<std::string> options = {"--port", std::to_string(server.port), "--latency-us", "0"};
  if (withTrace) {
    server.traceFile = tempTracePath();
    options.push_back("--trace");
    options.push_back(server.traceFile);
  }
  options.insert(options.end(), args.begin(), args.end());
  return options;
}

// True when something listens on TCP port `port` of this machine, as the
// kernel's table of IPv4 sockets tells, without connecting to it.
bool listening(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // the heading
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(in, line)) {
    // "  sl  local_address rem_address   st ..."; LISTEN is state 0A.
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "0A" && local.size() >= 5 && local.substr(local.size() - 5) == wanted) return true;
  }
  return false;
}

// Tries `ready` every 10 ms while the server starts: true once it holds;
// false when the start timeout passes first, or when the server ends (its
// exit status and output collected, `server.pid` -1).
template <typename Ready>
bool whileStarting(SimServer& server, Ready ready) {
  const auto deadline = Clock::now() + serverStartTimeout();
  while (Clock::now() < deadline) {
    if (ready()) return true;
    int status = 0;
    if (::waitpid(server.pid, &status, WNOHANG) == server.pid) {
      server.pid = -1;
      server.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      drainFd(server.stdoutFd, server.stdoutText);
      drainFd(server.stderrFd, server.stderrText);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

bool startProgram(SimServer& server, const std::string& path, const std::vector<std::string>& args,
                  int port) {
  return spawnProgram(server, path, args, port) && whileStarting(server, [&] {
           server.sock = connectTo(server.port);
           return server.sock >= 0;
         });
}

bool startServer(SimServer& server, const std::vector<std::string>& args, bool withTrace,
                 int port) {
  server.port = port != 0 ? port : freeLoopbackPort();
  return startProgram(server, serverProgram(), simOptions(server, args, withTrace), server.port);
}

bool startServerListening(SimServer& server, const std::vector<std::string>& args) {
  const int port = freeLoopbackPort();
  server.port = port;
  return spawnProgram(server, serverProgram(), simOptions(server, args, false), port) &&
         whileStarting(server, [&] { return listening(port); });
}

std::string runCommand(const std::string& command, int& status, int timeoutSeconds) {
  const std::string bounded = "timeout " + std::to_string(timeoutSeconds) + " " + command;
  FILE* pipe = ::popen(bounded.c_str(), "r");
  std::string out;
  if (pipe == nullptr) {
    status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = ::pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

bool sendRaw(SimServer& server, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(server.sock, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string readLine(SimServer& server, std::chrono::milliseconds timeout) {
  // Keep the server's console pipes drained: a full pipe would block the
  // server in its echo.
  drainFd(server.stdoutFd, server.stdoutText);
  drainFd(server.stderrFd, server.stderrText);
  std::string line;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return "<timeout>";
    pollfd p{server.sock, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char c = 0;
    const ssize_t n = ::recv(server.sock, &c, 1, 0);
    if (n <= 0) return "<closed>";
    if (c == '\n') return line;
    line += c;
  }
}

std::string request(SimServer& server, const std::string& line, std::chrono::milliseconds timeout) {
  if (!sendRaw(server, line + "\n")) return "<closed>";
  return readLine(server, timeout);
}

bool nothingArrives(SimServer& server, std::chrono::milliseconds wait) {
  pollfd p{server.sock, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(wait.count())) == 0;
}

int waitForExit(SimServer& server, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (server.pid > 0) {
    drainFd(server.stdoutFd, server.stdoutText);
    drainFd(server.stderrFd, server.stderrText);
    int status = 0;
    if (::waitpid(server.pid, &status, WNOHANG) == server.pid) {
      server.pid = -1;
      server.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      server.exitSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      break;
    }
    if (Clock::now() >= deadline) {
      ::kill(server.pid, SIGKILL);
      ::waitpid(server.pid, nullptr, 0);
      server.pid = -1;
      server.exitStatus = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  drainFd(server.stdoutFd, server.stdoutText);
  drainFd(server.stderrFd, server.stderrText);
  return server.exitStatus;
}

std::vector<std::string> traceLines(const SimServer& server) {
  std::vector<std::string> lines;
  std::ifstream in(server.traceFile);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int sayBye(SimServer& server, std::chrono::milliseconds timeout) {
  return sendRaw(server, "bye\n") ? waitForExit(server, timeout) : -2;
}

std::vector<std::string> sentTelegrams(const SimServer& server) {
  return telegramsOf(traceLines(server));
}

std::vector<std::string> lastSent(const SimServer& server, std::size_t count) {
  const std::vector<std::string> sent = sentTelegrams(server);
  return std::vector<std::string>(sent.end() - std::min(count, sent.size()), sent.end());
}

void closeClient(SimServer& server) {
  if (server.sock >= 0) ::close(server.sock);
  server.sock = -1;
}

bool waitForOutput(SimServer& server, const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    drainFd(server.stdoutFd, server.stdoutText);
    if (server.stdoutText.find(text) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    int status = 0;
    if (server.pid > 0 && ::waitpid(server.pid, &status, WNOHANG) == server.pid) {
      server.pid = -1;
      server.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (server.pid <= 0) {
      drainFd(server.stdoutFd, server.stdoutText);
      drainFd(server.stderrFd, server.stderrText);
      return server.stdoutText.find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool sendUnanswered(SimServer& server, const std::string& line, std::chrono::milliseconds timeout) {
  drainFd(server.stdoutFd, server.stdoutText);
  const auto before = std::count(server.stdoutText.begin(), server.stdoutText.end(), '\n');
  if (!sendRaw(server, line)) return false;
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    drainFd(server.stdoutFd, server.stdoutText);
    if (std::count(server.stdoutText.begin(), server.stdoutText.end(), '\n') > before) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

bool consoleInput(SimServer& server, const std::string& line, std::chrono::milliseconds timeout) {
  drainFd(server.stdoutFd, server.stdoutText);
  const std::size_t before = server.stdoutText.size();
  const std::string typed = line + "\n";
  if (::write(server.stdinFd, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) {
    return false;
  }
  const std::string acknowledgement = "sim: " + typed;
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    drainFd(server.stdoutFd, server.stdoutText);
    if (server.stdoutText.find(acknowledgement, before) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

namespace {

struct ServerProgramChoice {
  std::string path;
  std::chrono::seconds startTimeout{0};
};

ServerProgramChoice& serverProgramChoice() {
  static ServerProgramChoice choice = [] {
    ServerProgramChoice c;
    const char* path = std::getenv("NXT_E2E_SERVER");
    c.path = path != nullptr && *path != '\0' ? path : NXT_BRIDGE_SIM_PATH;
    const char* seconds = std::getenv("NXT_E2E_START_SECONDS");
    const long n = seconds != nullptr ? std::strtol(seconds, nullptr, 10) : 0;
    c.startTimeout = std::chrono::seconds(n > 0 && n <= 3600 ? n : 10);
    return c;
  }();
  return choice;
}

}  // namespace

std::string serverProgram() { return serverProgramChoice().path; }

bool serverIsWindowsProgram() {
  const char* windows = std::getenv("NXT_E2E_WINDOWS");
  return windows != nullptr && std::string(windows) == "1";
}

bool serverLacks(const std::string& what) {
  const char* lacks = std::getenv("NXT_E2E_SERVER_LACKS");
  if (lacks == nullptr) return false;
  const std::string list = std::string(",") + lacks + ",";
  return list.find("," + what + ",") != std::string::npos;
}

std::chrono::seconds serverStartTimeout() { return serverProgramChoice().startTimeout; }

void useServerProgram(const std::string& path, std::chrono::seconds startTimeout) {
  serverProgramChoice().path = path;
  serverProgramChoice().startTimeout = startTimeout;
}
