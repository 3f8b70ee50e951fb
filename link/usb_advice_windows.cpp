// libusb on Windows opens only devices bound to the WinUSB driver: a brick
// with LEGO's driver, or with none, cannot be opened, and may not even be
// listed.
#include "link/usb_advice.h"

namespace {

const char kBindWinUsb[] = "bind the WinUSB driver to the NXT: README-windows.txt gives the steps";

}  // namespace

const char* usbAdvice(UsbTrouble trouble) {
  switch (trouble) {
    case UsbTrouble::kCannotStart:
      return "libusb-1.0.dll beside nxt-bridge.exe must be the one from its zip";
    case UsbTrouble::kNoDevices:
    case UsbTrouble::kNoDriver:
      return kBindWinUsb;
    case UsbTrouble::kNoBrick:
      return "is it switched on and plugged in? If so, bind the WinUSB driver to the NXT: "
             "README-windows.txt gives the steps";
    case UsbTrouble::kAccessDenied:
      return "close the other program that uses the brick";
  }
  return "";
}
