// The words of a request and what the handlers make of them: the tokenizer
// that cuts a request into words, and the converters and validators of
// argument words. None of them holds or reads any session state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The words of one request (`cmds`): word 0 the module, word 1 the command,
// then its arguments, all lower-case.
using Words = std::vector<std::string>;

// Cuts `line` at each semicolon (a semicolon at the very end adds no word,
// two in a row give an empty one) and keeps of each piece its first
// blank-delimited word, lower-cased; a piece with no word is kept as it is
// (empty, or its blanks).
Words splitRequest(const std::string& line);
// The same into `cmds`, whose strings and list are reused: a loop that
// keeps one Words allocates nothing for requests of the usual size.
void splitRequest(const std::string& line, Words& cmds);

// ASCII letters lower-cased; every other byte as it is.
std::string toLowerCase(std::string word);

// A decimal integer at the word's start (after blanks and an optional
// sign); 0 when there is none; the nearest limit when out of range.
std::int32_t toInt(const std::string& word);
std::string intToString(std::int32_t value);

// "true" is true; every other word false.
bool toBool(const std::string& word);
// "true" or "false".
bool isTruthWord(const std::string& word);
// toInt(word) from 0 to 100 (so a word without a number, 0, passes).
bool isPower(const std::string& word);

// Motor ports: out_a, out_b, out_c or a, b, c give 0, 1, 2. Sensor ports:
// in_1 to in_4 or s1 to s4 give 0 to 3. -1 for a word that names no port.
bool isMotorPort(const std::string& word);
bool isSensorPort(const std::string& word);
int toMotorPort(const std::string& word);
int toSensorPort(const std::string& word);
