// Direct commands of the four inputs: setting a port up for a sensor,
// reading its value and its low-speed (I2C) bus status, and driving the
// LEGO ultrasonic sensor at bus address 0x02. Each builds its telegram
// (opcode first, no telegram-type byte), hands it to linkTransact and, for
// the queries, decodes fixed offsets of the reply.
//
// The brick's status byte is not looked at, except by sonarGetValue's
// LSREAD. A query is empty, and a command false, when its exchange failed:
// the link is lost, or no reply that answers the telegram came (driver.h).
// Ports are not checked here; only their low 8 bits are sent.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// SETINPUTMODE 05 pp tt mm, no reply.
bool sensorSetTouch(int port);               // SWITCH, BOOLEANMODE
bool sensorSetSound(int port);               // SOUND_DB, PCTFULLSCALEMODE
bool sensorSetLight(int port, bool active);  // LIGHT_ACTIVE or _INACTIVE, PCT
bool sensorSetSonar(int port);               // LOWSPEED_9V, RAWMODE
bool sensorSetRaw(int port);                 // SOUND_DB, RAWMODE

// GETINPUTVALUES 07 pp: the scaled value in reply bytes 11 and 12, read as
// an unsigned 16-bit number (0xFFFF gives 65535, not -1).
std::optional<std::uint16_t> sensorGetValue(int port);

// LSGETSTATUS 0e pp: the number of bytes ready on the port's bus, reply
// byte 2.
std::optional<std::uint8_t> sensorLsGetStatus(int port);

// LSWRITE 0f pp 03 00 02 41 vv, reply wanted (its status not examined):
// the ultrasonic sensor's command register. True when the reply came.
bool sonarOff(int port);         // vv = 00
bool sonarSingleShot(int port);  // vv = 01
bool sonarContinuous(int port);  // vv = 02

// LSWRITE 0f pp 03 00 02 40 vv: the continuous measurement interval, its
// low 8 bits (300 is sent as 0x2c).
bool sonarContinuousInterval(int port, std::int32_t interval);

// How long sonarGetValue waits for a byte before it gives up.
constexpr std::chrono::milliseconds kSonarWaitLimit{1000};

struct SonarReading {
  std::uint8_t distanceCm = 0;  // first received byte of the LSREAD reply
  bool timedOut = false;        // no byte was read within the wait limit, or
                                // an exchange got no reply
  bool cancelled = false;       // waitCancelled() ended the wait; no LSREAD
  std::uint32_t passes = 0;     // read requests sent in the wait
};

// Reads the ultrasonic sensor's first measurement byte, in centimetres:
// puts the sensor into continuous measurement (LSWRITE 41 = 02), then, back
// to back with no pause, sends a read request of register 0x42 and an
// LSGETSTATUS until the status reports at least one byte ready, and then
// takes the byte with LSREAD 10 pp. The distance is taken only from an
// LSREAD whose status is 0x00 and whose count is at least 1; after any
// other the wait goes on. When `waitLimit` has passed since the wait began
// with no distance read, the wait ends with `timedOut` set; so it does at
// once when an exchange gets no reply. When waitCancelled() answers true
// between two passes, it ends at once with `cancelled` set.
SonarReading sonarGetValue(int port, std::chrono::milliseconds waitLimit = kSonarWaitLimit);
