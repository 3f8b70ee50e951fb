// Constants of the NXT direct-command protocol as they appear on the wire:
// telegram types, opcodes, the brick's status codes and the field values
// of the output and input commands. Shared by the direct-command layer,
// the driver and the simulated brick, so that both ends agree byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nxt {

// Byte 0 of every telegram.
enum class TelegramType : std::uint8_t {
  kDirectReply = 0x00,    // direct command, reply wanted
  kSystemReply = 0x01,    // system command, reply wanted
  kReply = 0x02,          // a reply from the brick
  kDirectNoReply = 0x80,  // direct command, no reply
  kSystemNoReply = 0x81,  // system command, no reply
};
constexpr std::uint8_t kNoReplyBit = 0x80;

// Byte 1 of a direct-command telegram.
enum class Opcode : std::uint8_t {
  kStartProgram = 0x00,
  kStopProgram = 0x01,
  kPlaySoundFile = 0x02,
  kPlayTone = 0x03,
  kSetOutputState = 0x04,
  kSetInputMode = 0x05,
  kGetOutputState = 0x06,
  kGetInputValues = 0x07,
  kResetInputScaledValue = 0x08,
  kMessageWrite = 0x09,
  kResetMotorPosition = 0x0A,
  kGetBatteryLevel = 0x0B,
  kStopSoundPlayback = 0x0C,
  kKeepAlive = 0x0D,
  kLsGetStatus = 0x0E,
  kLsWrite = 0x0F,
  kLsRead = 0x10,
  kGetCurrentProgramName = 0x11,
  kMessageRead = 0x13,
};

// Byte 1 of a system-command telegram.
enum class SystemOpcode : std::uint8_t {
  kOpenRead = 0x80,
  kOpenWrite = 0x81,
  kRead = 0x82,
  kWrite = 0x83,
  kClose = 0x84,
  kDelete = 0x85,
  kFindFirst = 0x86,
  kFindNext = 0x87,
  kGetFirmwareVersion = 0x88,
  kOpenWriteLinear = 0x89,
  kOpenWriteData = 0x8B,
  kOpenAppendData = 0x8C,
  kGetDeviceInfo = 0x9B,
};

// The status byte of a reply.
enum class BrickStatus : std::uint8_t {
  kSuccess = 0x00,
  kPendingCommunication = 0x20,  // a low-speed transaction is under way
  kUnknownOpcode = 0xBE,
  kMailboxEmpty = 0x40,
  kOutOfRange = 0xC0,  // bad port or value, also a missing file
  kBusError = 0xDD,
  kPortNotReady = 0xE0,
  kNoActiveProgram = 0xEC,
  kSpecifiedTooLong = 0xED,  // LSWRITE length over 16
  kInvalidMailbox = 0xEE,
};

// The status byte of a reply to a file command (the firmware's loader).
enum class LoaderStatus : std::uint8_t {
  kSuccess = 0x00,
  kNoMoreHandles = 0x81,
  kNoSpace = 0x82,
  kNoMoreFiles = 0x83,
  kEndOfFileExpected = 0x84,
  kEndOfFile = 0x85,
  kNotLinearFile = 0x86,
  kFileNotFound = 0x87,
  kHandleAlreadyClosed = 0x88,
  kNoLinearSpace = 0x89,
  kUndefinedError = 0x8A,
  kFileBusy = 0x8B,
  kNoWriteBuffers = 0x8C,
  kAppendNotPossible = 0x8D,
  kFileIsFull = 0x8E,
  kFileExists = 0x8F,
  kModuleNotFound = 0x90,
  kOutOfBoundary = 0x91,
  kIllegalFileName = 0x92,
  kIllegalHandle = 0x93,
};

constexpr std::size_t kMaxTelegramLength = 64;  // type byte included
constexpr std::size_t kFileNameField = 20;      // 19 characters and a zero
constexpr std::size_t kMaxFileNameLength = kFileNameField - 1;
constexpr std::size_t kDeviceInfoReplyLength = 33;  // with the leading 0x02
constexpr std::size_t kBrickNameField = 15;         // in GETDEVICEINFO
constexpr std::size_t kLowSpeedBufferLength = 16;
constexpr std::size_t kMessageField = 59;  // a mailbox message, its zero included
constexpr std::size_t kMailboxCount = 20;  // 0-9 in, 10-19 out

// Output mode bits.
constexpr std::uint8_t kModeMotorOn = 0x01;
constexpr std::uint8_t kModeBrake = 0x02;
constexpr std::uint8_t kModeRegulated = 0x04;

// Regulation modes.
constexpr std::uint8_t kRegulationIdle = 0x00;
constexpr std::uint8_t kRegulationMotorSpeed = 0x01;
constexpr std::uint8_t kRegulationSync = 0x02;

// Run states.
constexpr std::uint8_t kRunStateIdle = 0x00;
constexpr std::uint8_t kRunStateRampUp = 0x10;
constexpr std::uint8_t kRunStateRunning = 0x20;
constexpr std::uint8_t kRunStateRampDown = 0x40;

// Sensor types.
constexpr std::uint8_t kSensorNoSensor = 0x00;
constexpr std::uint8_t kSensorSwitch = 0x01;
constexpr std::uint8_t kSensorTemperature = 0x02;
constexpr std::uint8_t kSensorReflection = 0x03;
constexpr std::uint8_t kSensorAngle = 0x04;
constexpr std::uint8_t kSensorLightActive = 0x05;
constexpr std::uint8_t kSensorLightInactive = 0x06;
constexpr std::uint8_t kSensorSoundDb = 0x07;
constexpr std::uint8_t kSensorSoundDba = 0x08;
constexpr std::uint8_t kSensorCustom = 0x09;
constexpr std::uint8_t kSensorLowSpeed = 0x0A;
constexpr std::uint8_t kSensorLowSpeed9V = 0x0B;

// Sensor modes.
constexpr std::uint8_t kSensorModeRaw = 0x00;
constexpr std::uint8_t kSensorModeBoolean = 0x20;
constexpr std::uint8_t kSensorModeTransitionCount = 0x40;
constexpr std::uint8_t kSensorModePeriodCounter = 0x60;
constexpr std::uint8_t kSensorModePercentFullScale = 0x80;

// The LEGO ultrasonic sensor on the low-speed bus.
constexpr std::uint8_t kSonarBusAddress = 0x02;
constexpr std::uint8_t kSonarRegisterInterval = 0x40;
constexpr std::uint8_t kSonarRegisterCommand = 0x41;
constexpr std::uint8_t kSonarRegisterDistance = 0x42;
constexpr std::uint8_t kSonarCommandOff = 0x00;
constexpr std::uint8_t kSonarCommandSingleShot = 0x01;
constexpr std::uint8_t kSonarCommandContinuous = 0x02;

constexpr std::uint8_t byteOf(Opcode op) { return static_cast<std::uint8_t>(op); }
constexpr std::uint8_t byteOf(SystemOpcode op) { return static_cast<std::uint8_t>(op); }
constexpr std::uint8_t byteOf(TelegramType t) { return static_cast<std::uint8_t>(t); }
constexpr std::uint8_t byteOf(BrickStatus s) { return static_cast<std::uint8_t>(s); }
constexpr std::uint8_t byteOf(LoaderStatus s) { return static_cast<std::uint8_t>(s); }

}  // namespace nxt
