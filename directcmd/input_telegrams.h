// Direct commands of the four inputs: setting a port up for a sensor,
// reading its value and its low-speed (I2C) bus status, and driving the
// LEGO ultrasonic sensor at bus address 0x02. Each builds its telegram
// (opcode first, no telegram-type byte), hands it to linkTransact and, for
// the queries, decodes fixed offsets of the reply.
//
// Every response buffer is filled with 0x01 before the exchange and the
// brick's status byte is never looked at, so a reply that does not arrive
// decodes from the fill: sensorGetValue gives 257, sensorLsGetStatus 1, and
// sonarGetValue 1 (see there). The commands that set something return
// nothing: no caller could act on the link's result.
// Ports are not checked here; only their low 8 bits are sent.
#pragma once

#include <chrono>
#include <cstdint>

// SETINPUTMODE 05 pp tt mm, no reply.
void sensorSetTouch(int port);               // SWITCH, BOOLEANMODE
void sensorSetSound(int port);               // SOUND_DB, PCTFULLSCALEMODE
void sensorSetLight(int port, bool active);  // LIGHT_ACTIVE or _INACTIVE, PCT
void sensorSetSonar(int port);               // LOWSPEED_9V, RAWMODE
void sensorSetRaw(int port);                 // SOUND_DB, RAWMODE

// GETINPUTVALUES 07 pp: the scaled value in reply bytes 11 and 12, read as
// an unsigned 16-bit number (0xFFFF gives 65535, not -1).
std::uint16_t sensorGetValue(int port);

// LSGETSTATUS 0e pp: the number of bytes ready on the port's bus, reply
// byte 2.
std::uint8_t sensorLsGetStatus(int port);

// LSWRITE 0f pp 03 00 02 41 vv, reply wanted (and not examined): the
// ultrasonic sensor's command register.
void sonarOff(int port);         // vv = 00
void sonarSingleShot(int port);  // vv = 01
void sonarContinuous(int port);  // vv = 02

// LSWRITE 0f pp 03 00 02 40 vv: the continuous measurement interval, its
// low 8 bits (300 is sent as 0x2c).
void sonarContinuousInterval(int port, std::int32_t interval);

// How long sonarGetValue waits for a byte before it gives up.
constexpr std::chrono::milliseconds kSonarWaitLimit{1000};

struct SonarReading {
  std::uint8_t distanceCm = 0;  // first received byte of the LSREAD reply
  bool timedOut = false;        // no byte was ready within the wait limit
  bool cancelled = false;       // waitCancelled() ended the wait; no LSREAD
  std::uint32_t passes = 0;     // read requests sent in the wait
};

// Reads the ultrasonic sensor's first measurement byte, in centimetres:
// puts the sensor into continuous measurement (LSWRITE 41 = 02), then, back
// to back with no pause, sends a read request of register 0x42 and an
// LSGETSTATUS until the status reports at least one byte ready, and then
// takes the byte with LSREAD 10 pp. When `waitLimit` has passed since the
// wait began and the last status still reports no byte, the wait ends with
// `timedOut` set and no LSREAD is sent; when waitCancelled() answers true
// between two passes, it ends at once with `cancelled` set.
//
// A dead link (no brick held, or no reply) does not time out: the status
// decodes from the 0x01 fill as one byte ready, and the LSREAD's byte from
// the fill as distance 1. The reading is then 1 cm after a single pass.
SonarReading sonarGetValue(int port, std::chrono::milliseconds waitLimit = kSonarWaitLimit);
