// Telegrams in words, as the live page lists them: the opcode's name and
// its fields, e.g. "SETOUTPUTSTATE A power 75 regulated running" or
// "PLAYTONE 440 Hz 200 ms", and what the brick answered, e.g.
// "GETBATTERYLEVEL -> 8100 mV" or "LSGETSTATUS 4 -> status 0xe0".
//
// Motor ports are written A, B, C (ALL for 0xff), sensor ports 1 to 4; a
// value out of range is written as its number. Missing bytes read as 0, as
// the firmware reads them. A telegram that is no command is written as its
// bytes in hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The telegram (type byte first) in words; with the brick's answer (0x02
// first) after " -> " when `replyLength` is not 0.
std::string simDescribeTelegram(const std::uint8_t* telegram, std::size_t length,
                                const std::uint8_t* reply, std::size_t replyLength);

// The firmware's names of a sensor type ("SWITCH", "LOWSPEED_9V") and mode
// ("BOOLEAN", "PCTFULLSCALE"); another value as "type N" or "mode N".
std::string simSensorTypeName(std::uint8_t type);
std::string simSensorModeName(std::uint8_t mode);
