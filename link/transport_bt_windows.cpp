// The Bluetooth link on Windows: the outgoing COM port that Windows makes
// for a paired brick's Serial Port Profile, in raw mode (8 data bits, no
// parity, one stop bit, no flow control). Windows has no RFCOMM sockets of
// the kind Linux has: a brick is named by its COM port only.
#include <windows.h>

#include <string>

#include "link/bt_port.h"
#include "link/transport.h"

namespace {

// "\\.\COM12": the name that reaches every COM port, COM10 and up too.
std::string devicePathOf(const std::string& port) {
  return port.rfind("\\\\.\\", 0) == 0 ? port : "\\\\.\\" + port;
}

// Why opening the COM port failed, in the operator's words.
std::string openFailureReason(DWORD error) {
  const std::string code = " (error " + std::to_string(error) + ")";
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such COM port" + code +
             ": pair the brick, then find its outgoing COM port in the Bluetooth settings";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "another program holds it" + code;
    default:
      return "nothing answers behind it" + code +
             ": is the brick switched on, in range and paired?";
  }
}

// Raw 8N1 without flow control; DTR and RTS up, as a serial port's user
// expects them.
bool setRawMode(HANDLE port) {
  DCB mode{};
  mode.DCBlength = sizeof mode;
  if (!GetCommState(port, &mode)) return false;
  mode.BaudRate = CBR_115200;
  mode.ByteSize = 8;
  mode.Parity = NOPARITY;
  mode.StopBits = ONESTOPBIT;
  mode.fBinary = TRUE;
  mode.fParity = FALSE;
  mode.fOutxCtsFlow = FALSE;
  mode.fOutxDsrFlow = FALSE;
  mode.fDtrControl = DTR_CONTROL_ENABLE;
  mode.fRtsControl = RTS_CONTROL_ENABLE;
  mode.fDsrSensitivity = FALSE;
  mode.fOutX = FALSE;
  mode.fInX = FALSE;
  mode.fErrorChar = FALSE;
  mode.fNull = FALSE;
  mode.fAbortOnError = FALSE;
  return SetCommState(port, &mode) != 0;
}

}  // namespace

const char kBtBrickForms[] = "a COM port (COM5 or \\\\.\\COM12)";

const char kBtBrickUsage[] =
    "BRICK is the COM port that Windows made for the paired brick (COM5, or\n"
    "\\\\.\\COM12): the outgoing port in the Bluetooth settings' COM Ports.\n";

bool btBrickSupported(const BtBrick& brick, std::string& error) {
  if (!brick.isAddress && isComPort(brick.devicePath)) return true;
  error = brick.isAddress
              ? "Bluetooth addresses are for Linux: on Windows pair the brick and name its "
                "COM port (COM5)"
              : "'" + brick.devicePath + "' is no COM port: name the brick's COM port (COM5)";
  return false;
}

BtHandle btOpenLink(const BtBrick& brick, std::int32_t& result, std::string& reason) {
  const HANDLE port =
      CreateFileA(devicePathOf(brick.devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  DWORD error = port == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (error == 0 && !setRawMode(port)) error = GetLastError();
  if (error == 0) {
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    return reinterpret_cast<BtHandle>(port);
  }
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  result = btOpenResult(static_cast<int>(error));
  reason = openFailureReason(error);
  return kNoBtHandle;
}

void btCloseLink(BtHandle link) {
  const HANDLE port = reinterpret_cast<HANDLE>(link);
  PurgeComm(port, PURGE_TXCLEAR | PURGE_TXABORT);
  CloseHandle(port);
}

// A COM port tells no hang-up: a gone brick shows as a reply that does not
// come.
bool btLinkHungUp(BtHandle) { return false; }

// The errors a COM port whose brick has gone gives, and those of an open:
// another program holds the port, or it did not open in time.
const BtError kBtErrors[] = {NXT_BT_ERROR(ERROR_NOT_READY, kTransportNoDevice),
                             NXT_BT_ERROR(ERROR_GEN_FAILURE, kTransportNoDevice),
                             NXT_BT_ERROR(ERROR_DEVICE_NOT_CONNECTED, kTransportNoDevice),
                             NXT_BT_ERROR(ERROR_OPERATION_ABORTED, kTransportNoDevice),
                             NXT_BT_ERROR(ERROR_BAD_COMMAND, kTransportNoDevice),
                             NXT_BT_ERROR(ERROR_ACCESS_DENIED, kTransportBusy),
                             NXT_BT_ERROR(ERROR_SHARING_VIOLATION, kTransportBusy),
                             NXT_BT_ERROR(ERROR_SEM_TIMEOUT, kTransportTimeout),
                             {0, nullptr, kTransportNoDevice}};

std::string btUnnamedError(int error) { return "error " + std::to_string(error); }
