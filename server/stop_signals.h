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

// While the connected socket `fd` is served (-1: none), a stop signal also
// shuts its reading side down, so that a read that waits on it returns at
// once: whichever thread takes the signal, and even when it comes just
// before the read begins. The handlers do not restart an interrupted call.
void setStopSignalSocket(int fd);

// Ends the process by the caught signal (its default action).
[[noreturn]] void endByStopSignal();

// "SIGTERM" and the like, for messages.
const char* stopSignalName(int signal);
