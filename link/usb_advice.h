// What the operator can do when the brick cannot be opened on USB: the
// udev rule and the container's /dev/bus/usb on Linux
// (usb_advice_posix.cpp), the WinUSB driver on Windows
// (usb_advice_windows.cpp), where libusb reaches only devices bound to it.
#pragma once

enum class UsbTrouble {
  kCannotStart,   // libusb cannot start
  kNoDevices,     // not one USB device listed, not even a hub
  kNoBrick,       // devices listed, no brick among them
  kAccessDenied,  // the brick is there, and opening it is refused
  kNoDriver,      // the brick is there, bound to a driver libusb cannot use
};

// The advice, in a few words, for the end of one line.
const char* usbAdvice(UsbTrouble trouble);
