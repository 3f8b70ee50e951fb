// The brick's four inputs as the firmware keeps them: the sensor type and
// mode set by SETINPUTMODE, the raw A/D reading and from it the normalized
// and scaled values of GETINPUTVALUES, the valid flag, and each port's
// low-speed bus with an ultrasonic sensor on it. Handles the opcodes
// SETINPUTMODE, GETINPUTVALUES, LSGETSTATUS, LSWRITE and LSREAD.
//
// Values: normalized from the raw reading by type (SWITCH: raw; LIGHT:
// 1023 - min(1023, max(0, raw - 200) * 100 / 68); SOUND: 1023 - min(1023,
// max(0, raw - 162) * 100 / 83); other types: raw), then scaled by mode
// (RAWMODE: normalized; PCTFULLSCALEMODE: normalized * 100 / 1023;
// BOOLEANMODE: 1 when normalized <= 460, else 0; other modes: normalized).
// Low-speed ports compute no values.
//
// SETINPUTMODE marks the data invalid: for 20 ms when the type changes
// (300 ms when it becomes a sound sensor), 1 ms otherwise. While invalid,
// the values are not updated and the low-speed commands answer 0xE0.
//
// Time is evaluated lazily from the `now` of each telegram.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/sim_config.h"
#include "sim/sim_lowspeed.h"
#include "sim/sim_reply.h"
#include "sim/sim_sonar.h"

struct SimInput {
  std::uint8_t type = nxt::kSensorNoSensor;
  std::uint8_t mode = nxt::kSensorModeRaw;
  SimTime invalidUntil{};  // the values are valid from then on
  std::uint16_t raw = 0;
  std::uint16_t normalized = 0;
  std::int16_t scaled = 0;
  SimLowSpeedBus bus;
  SimSonar sonar;  // powered while the port is LOWSPEED_9V
};

struct SimInputs {
  SimInput ports[kSimInputPorts];
};

std::uint16_t simNormalize(std::uint8_t type, std::uint16_t raw);
std::int16_t simScale(std::uint8_t mode, std::uint16_t normalized);

// Every port back to no sensor in raw mode, its bus idle and empty; as at
// power-up and whenever a program starts or stops.
void simInputsReset(SimInputs& inputs, SimTime now);

// True for the opcodes that simInputsReceive handles.
bool simInputsHandles(std::uint8_t opcode);

// Handles one of those telegrams: `params` are the `paramCount` bytes after
// the opcode (a short telegram reads as zeros). The raw readings and the
// ultrasonic sensors come from `config`. Returns true with `reply` filled
// when the brick answers, which it does only when `wantsReply`; with the
// no-reply type the commands that only read do nothing at all.
bool simInputsReceive(SimInputs& inputs, const SimBrickConfig& config, std::uint8_t opcode,
                      const std::uint8_t* params, std::size_t paramCount, bool wantsReply,
                      SimTime now, SimReply& reply);
