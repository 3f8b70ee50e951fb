// The command interpreter: turns one request text into one reply text, and
// holds the session's two flags (the link opened, short replies asked for).
//
// A request is words separated by semicolons (request_words.h): module word,
// command word, arguments ("motor;setforward;out_a;75"). The reply is "ok",
// a value, or an error word. A query's value comes alone, or after "ok" once
// short replies are asked for ("okWORD").
//
// Every module first wants at least two words ("err: wrong_params"), then an
// opened link ("err: not_enable_interface"; only "nxt;open" goes without),
// then the words its command needs, all checked before anything is sent to
// the brick ("err: wrong_params"). An unknown command word gives
// "err: unknown_command: WORD" ("err: unknown_command: >>WORD" in "motor"),
// an unknown module "err: unknown_module: WORD" ("err: unknown_module" for
// an empty request). Once the link is open, a command whose exchange with
// the brick failed (the link lost, or no reply that answers its telegram)
// answers "err: timeout": a query never answers a value that no reply gave.
#pragma once

#include <string>
#include <string_view>

#include "interpreter/request_words.h"

class CommandInterpreter {
 public:
  CommandInterpreter() = default;

  // From now on every query reply is "ok" followed by the value.
  void setShortReplyMode();

  // The reply to one request, without line end.
  std::string interpretLine(const std::string& line);

  // Routes `cmds` by word 0 to a module handler, once the request has a
  // command word and, but for "nxt;open", the link is open. Each handler
  // REQUIRES that: at least two words, and an open link.
  std::string dispatchModule(const Words& cmds);

  // "motor": the three outputs. PORT is out_a, out_b, out_c (or a, b, c),
  // POWER 0 to 100, RELATIVE and BRAKE true or false, TARGET any number.
  //   getrotationcount;PORT              query: the rotation count
  //   resetrotationcount;PORT;RELATIVE   ok
  //   setforward;PORT;POWER              ok
  //   setreverse;PORT;POWER              ok
  //   stop;PORT;BRAKE                    ok
  //   brakeon;PORT / brakeoff;PORT       ok
  //   goto;PORT;POWER;TARGET;BRAKE       ok once at the target; err: timeout
  //                                      when the motor comes no nearer
  std::string handleMotor(const Words& cmds);

  // "sensor": the four inputs and the ultrasonic sensor on their bus. PORT
  // is in_1 to in_4 (or s1 to s4), ACTIVE true or false, INTERVAL any
  // number (its low 8 bits are sent).
  //   settouch;PORT, setsound;PORT, setraw;PORT, setsonar;PORT     ok
  //   setsonaroff;PORT, setsonarsingleshot;PORT,
  //   setsonarcontinuous;PORT                                      ok
  //   setlight;PORT;ACTIVE                                         ok
  //   setsonarcontinuousinterval;PORT;INTERVAL                     ok
  //   getvalue;PORT      query: the scaled value, 0 to 65535
  //   lsgetstatus;PORT   query: the bytes ready on the bus
  //   getsonarvalue;PORT query: the distance in cm; err: timeout when the
  //                      sensor has no byte ready within a second
  std::string handleSensor(const Words& cmds);

  // "nxt": the link and the brick as a whole. FILE is a name of at most 19
  // characters, LOOP true or false, FREQUENCY (Hz) and DURATION (ms) any
  // numbers.
  //   open                          ok; err when no brick can be opened
  //   close                         ok
  //   batterylevel                  query: the battery in millivolts
  //   getname                       query: the brick's name
  //   startprogram;FILE             ok
  //   stopprogram                   ok
  //   playtone;FREQUENCY;DURATION   ok
  //   playsoundfile;FILE;LOOP       ok
  //   stopsound                     ok
  std::string handleNxt(const Words& cmds);

  // When the link is open, sends the coasting stop to motor ports A, B and
  // C, as the brick's firmware turns its outputs off when a program ends;
  // over a lost link after opening it once more. True when the three stops
  // went out.
  bool coastAllMotors();

  bool isInterfaceEnabled() const { return interfaceEnabled; }

 private:
  // The reply of a query: `res`, or "ok" and `res` in short reply mode.
  std::string queryReply(const std::string& res) const;
  // The reply of an action: "ok" when its telegram went out (and, where it
  // wants one, was answered), "err: timeout" when not.
  static std::string actionReply(bool done);
  // An error word, a separator and the word it is about, in one allocation.
  static std::string errorAbout(std::string_view error, std::string_view separator,
                                std::string_view word);

  bool interfaceEnabled = false;  // set by a successful "nxt;open", cleared by "close"
  bool shortReplyMode = false;
  Words lineWords;  // the words of the line in hand; their buffers serve the next
};

// Reply words shared by the handlers.
extern const char kReplyOk[];
extern const char kErrWrongParams[];
extern const char kErrNotEnableInterface[];
extern const char kErrUnknownModule[];
extern const char kErrUnknownCommand[];
extern const char kErrOpenFailed[];
extern const char kErrTimeout[];
