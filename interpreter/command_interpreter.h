// The command interpreter: turns one request text into one reply text.
//
// A request is words separated by semicolons: module word, command word,
// arguments ("motor;setforward;out_a;75"). Blanks around a word are dropped,
// letters are lower-cased, and only the first blank-delimited word between
// two semicolons counts. The reply is "ok", a value, or an error word:
// "err: wrong_params", "err: not_enable_interface", "err: unknown_module",
// "err: unknown_module: WORD", "err: unknown_command: WORD" (motor:
// "err: unknown_command: >>WORD"), "err: timeout", and "err" when the brick
// cannot be opened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Words = std::vector<std::string>;

class CommandInterpreter {
 public:
  CommandInterpreter() = default;

  // From now on every query reply is "ok" followed by the value.
  void setShortReplyMode();

  // The reply to one request, without line end.
  std::string interpretLine(const std::string& line);

  std::string dispatchModule(const Words& cmds);
  std::string handleMotor(const Words& cmds);
  std::string handleSensor(const Words& cmds);
  std::string handleNxt(const Words& cmds);

  // When the link is open, sends the coasting stop to motor ports A, B and
  // C, as the brick's firmware turns its outputs off when a program ends.
  void coastAllMotors();

  bool isInterfaceEnabled() const { return interfaceEnabled; }
  bool isShortReplyMode() const { return shortReplyMode; }

  // Converters and validators; they read neither flag.
  static std::string toLowerCase(std::string word);
  // A decimal integer at the word's start (after blanks and an optional
  // sign); 0 when there is none; the nearest limit when out of range.
  static std::int32_t toInt(const std::string& word);
  static std::string intToString(std::int32_t value);
  static bool toBool(const std::string& word);
  static bool isMotorPort(const std::string& word);
  static bool isSensorPort(const std::string& word);
  static bool isPower(const std::string& word);
  static bool isTruthWord(const std::string& word);
  // -1 for a word that names no port.
  static int toMotorPort(const std::string& word);
  static int toSensorPort(const std::string& word);

 private:
  // The reply of a query: `res`, or "ok" and `res` in short reply mode.
  std::string queryReply(const std::string& res) const;

  bool interfaceEnabled = false;
  bool shortReplyMode = false;
};

// Reply words shared by the handlers.
extern const char kReplyOk[];
extern const char kErrWrongParams[];
extern const char kErrNotEnableInterface[];
extern const char kErrUnknownModule[];
extern const char kErrUnknownCommand[];
extern const char kErrOpenFailed[];
extern const char kErrTimeout[];
