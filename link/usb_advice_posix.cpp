#include "link/usb_advice.h"

const char* usbAdvice(UsbTrouble trouble) {
  switch (trouble) {
    case UsbTrouble::kCannotStart:
    case UsbTrouble::kNoDevices:
      return "in a container, give it /dev/bus/usb";
    case UsbTrouble::kNoBrick:
      return "is it switched on and plugged in?";
    case UsbTrouble::kAccessDenied:
      return "install the udev rule: see FILES in man nxt-bridge";
    case UsbTrouble::kNoDriver:
      return "a kernel driver holds it: see FILES in man nxt-bridge";
  }
  return "";
}
