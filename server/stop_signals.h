// SIGINT, SIGTERM and SIGHUP end serving in order instead of at once: the
// handler only records the signal and wakes the request loop through a
// pipe; the loop stops the motors and then the process ends by the same
// signal, as it would without a handler, so that its parent sees which. A
// second signal of the same kind ends the process at once.
#pragma once

// Installs the handlers. Call once, before any other thread starts.
void catchStopSignals();

// The signal caught, or 0 while none was. Safe from any thread.
int caughtStopSignal();

// The read end of a pipe that becomes readable once a signal is caught, for
// poll().
int stopSignalFd();

// Ends the process by the caught signal (its default action).
[[noreturn]] void endByStopSignal();

// "SIGTERM" and the like, for messages.
const char* stopSignalName(int signal);
