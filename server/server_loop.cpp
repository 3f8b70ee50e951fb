#include "server/server_loop.h"

#include <boost/asio.hpp>
#include <exception>
#include <iostream>
#include <memory>

#include "interpreter/command_interpreter.h"
#include "server/listening_socket.h"

namespace asio = boost::asio;
using asio::ip::tcp;

std::string cleanRequest(const char* data, std::size_t length) {
  std::string res(data, length);
  for (std::size_t i = 0; i < res.size(); ++i) {
    if (res[i] == '\r' || res[i] == '\n') {
      res.erase(i);
      break;
    }
    if (res[i] == '\'' || res[i] == '"') res[i] = ' ';
  }
  return res;
}

std::string consoleEcho(const std::string& request) {
  static const char kHex[] = "0123456789abcdef";
  std::string echo;
  echo.reserve(request.size());
  for (char c : request) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
      echo += "\\x";
      echo += kHex[byte >> 4];
      echo += kHex[byte & 0x0f];
    } else {
      echo += c;
    }
  }
  return echo;
}

LoopKeyword loopKeyword(const std::string& request) {
  if (request == "shortrep" || request == " shortrep ") return LoopKeyword::kShortRep;
  if (request == "bye" || request == " bye ") return LoopKeyword::kBye;
  if (request.empty()) return LoopKeyword::kEmpty;
  return LoopKeyword::kNone;
}

int serveOneClient(std::uint16_t port) {
  try {
    asio::io_context io_service;
    tcp::acceptor acceptor = openListeningSocket(io_service, port);
    tcp::socket socket(io_service);
    acceptor.accept(socket);

    CommandInterpreter interpreter;
    boost::system::error_code ignored_error;
    char response[kReadBufferSize];
    for (;;) {
      boost::system::error_code error;
      const std::size_t n = socket.read_some(asio::buffer(response), error);
      // End of stream or a failed read: the client is gone, serving ends.
      if (error || n == 0) break;
      const std::string res = cleanRequest(response, n);
      std::cout << consoleEcho(res) << std::endl;
      const LoopKeyword keyword = loopKeyword(res);
      if (keyword == LoopKeyword::kBye) break;
      if (keyword == LoopKeyword::kShortRep) {
        interpreter.setShortReplyMode();
        continue;
      }
      if (keyword == LoopKeyword::kEmpty) continue;
      const std::string result = interpreter.interpretLine(res) + "\n";
      asio::write(socket, asio::buffer(result), ignored_error);
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
  }
  return 0;
}
