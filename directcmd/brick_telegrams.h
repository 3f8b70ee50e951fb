// The telegrams that act on the brick as a whole: the direct commands for
// tones, the battery level, programs and sound files, and the system
// command GETDEVICEINFO for the brick's name; and the thin operations
// through which the brick commands open and close the link. Each builds its
// telegram (opcode first, no telegram-type byte), hands it to linkTransact
// and, for the battery level and the name, decodes the reply. The actions
// return true once their telegram was handed to a link that is up; the
// queries are empty when no reply that answers them came (driver.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// True when `name` fits the 20-byte file-name field with its zero byte,
// that is, has at most 19 characters.
bool fileNameFits(const std::string& name);

// PLAYTONE 03 ff ff dd dd, no reply. Each value goes out as its remainder
// and quotient by 256 (division truncating toward zero), low 8 bits each.
bool brickPlayTone(std::int32_t frequencyHz, std::int32_t durationMs);

// GETBATTERYLEVEL 0b, reply wanted: the millivolts in reply bytes 2 and 3.
std::optional<std::uint16_t> brickBatteryLevel();

// STARTPROGRAM 00 and the 20-byte name field, no reply. REQUIRES:
// fileNameFits(fileName); a longer name is not sent at all.
bool brickStartProgram(std::string fileName);

// STOPPROGRAM 01, no reply.
bool brickStopProgram();

// PLAYSOUNDFILE 02, loop, and the 20-byte name field, no reply. REQUIRES:
// fileNameFits(fileName); a longer name is not sent at all.
bool brickPlaySoundFile(std::string fileName, bool loop);

// STOPSOUNDPLAYBACK 0c, no reply.
bool brickStopSound();

// GETDEVICEINFO 9b, a system command (type 01), reply wanted: the name in
// the 15 bytes from reply byte 2, up to its first zero byte, so at most 15
// characters.
std::optional<std::string> brickGetName();

// The link itself, for "open" and "close".
bool brickOpen();
void brickClose();
