#include "sim/sim_sonar.h"

#include <algorithm>
#include <cstring>

#include "protocol/nxt_protocol.h"

namespace {

struct TextRegister {
  std::uint8_t reg;
  const char* text;
};

constexpr TextRegister kTextRegisters[] = {
    {0x00, "V1.0"}, {0x08, "LEGO"}, {0x10, "Sonar"}, {0x14, "10E-2m"}};

// Stores what the pings up to `at` have measured.
void measureUpTo(SimSonar& sonar, int distanceCm, SimTime at) {
  const auto distance = static_cast<std::uint8_t>(distanceCm);
  if (sonar.command == nxt::kSonarCommandContinuous && at >= sonar.modeBegan + kSonarPingPeriod) {
    sonar.measurement[0] = distance;
  }
  if (sonar.shotPending && at >= sonar.modeBegan + kSonarShotDelay) {
    // One object in sight gives one echo; the other slots see none.
    sonar.measurement[0] = distance;
    for (std::size_t i = 1; i < kSonarMeasurementBytes; ++i) sonar.measurement[i] = kSonarNoEcho;
    sonar.shotPending = false;
  }
}

void writeRegister(SimSonar& sonar, std::uint8_t reg, std::uint8_t value, SimTime at) {
  if (reg == nxt::kSonarRegisterInterval) {
    sonar.interval = value;
    return;
  }
  if (reg != nxt::kSonarRegisterCommand) return;  // the others are read-only
  switch (value) {
    case nxt::kSonarCommandOff:
    case kSonarCommandEventCapture:
      sonar.command = value;
      sonar.shotPending = false;
      break;
    case nxt::kSonarCommandSingleShot:
      sonar.command = value;
      sonar.modeBegan = at;
      sonar.shotPending = true;
      break;
    case nxt::kSonarCommandContinuous:
      // Writing continuous while measuring so does not restart the pings.
      if (sonar.command != nxt::kSonarCommandContinuous) sonar.modeBegan = at;
      sonar.command = value;
      sonar.shotPending = false;
      break;
    case kSonarCommandWarmReset: {
      const SimTime poweredUp = sonar.poweredUp;  // a warm reset keeps it answering
      simSonarPowerUp(sonar, at);
      sonar.poweredUp = poweredUp;
      break;
    }
    default:
      break;
  }
}

std::uint8_t registerByte(const SimSonar& sonar, unsigned reg) {
  if (reg == nxt::kSonarRegisterInterval) return sonar.interval;
  if (reg == nxt::kSonarRegisterCommand) return sonar.command;
  if (reg >= nxt::kSonarRegisterDistance &&
      reg < nxt::kSonarRegisterDistance + kSonarMeasurementBytes) {
    return sonar.measurement[reg - nxt::kSonarRegisterDistance];
  }
  return 0;
}

void readRegisters(const SimSonar& sonar, std::uint8_t start, std::uint8_t* rx,
                   std::size_t rxLength) {
  for (const TextRegister& text : kTextRegisters) {
    if (start != text.reg) continue;
    std::memset(rx, 0, rxLength);
    std::memcpy(rx, text.text, std::min(rxLength, std::strlen(text.text)));
    return;
  }
  for (std::size_t i = 0; i < rxLength; ++i) rx[i] = registerByte(sonar, start + i);
}

}  // namespace

void simSonarPowerUp(SimSonar& sonar, SimTime now) {
  sonar = SimSonar{};
  sonar.modeBegan = now;
  sonar.poweredUp = now;
}

bool simSonarAcknowledges(const SimSonar& sonar, const std::uint8_t* tx, std::size_t txLength,
                          SimTime at) {
  return txLength > 0 && tx[0] == nxt::kSonarBusAddress && at >= sonar.poweredUp + kSonarStartUp;
}

bool simSonarTransfer(SimSonar& sonar, int distanceCm, const std::uint8_t* tx, std::size_t txLength,
                      std::uint8_t* rx, std::size_t rxLength, SimTime at) {
  if (txLength == 0 || tx[0] != nxt::kSonarBusAddress) return false;
  measureUpTo(sonar, distanceCm, at);
  const std::uint8_t reg = txLength > 1 ? tx[1] : 0;
  for (std::size_t i = 2; i < txLength; ++i) {
    writeRegister(sonar, static_cast<std::uint8_t>(reg + i - 2), tx[i], at);
  }
  if (rxLength > 0) {
    const auto start = static_cast<std::uint8_t>(reg + (txLength > 2 ? txLength - 2 : 0));
    readRegisters(sonar, start, rx, rxLength);
  }
  return true;
}
