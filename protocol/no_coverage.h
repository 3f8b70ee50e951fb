// NXT_NO_COVERAGE marks code that runs for every byte a client sends or for
// every simulated millisecond, and whose branches are no decision the fuzzer
// should steer by:
// - plain byte scans, of the kind libc's str* and mem* functions make (find
//   the first byte of a class, or-in a table over a text);
// - the simulated motor's numeric integration, as libm's exp and log that
//   it calls;
// - the simulator's checks of whether it may skip passes, which read the
//   run states that the firmware's logic, still instrumented, tells apart.
// Built for fuzzing, clang would count their loops in coverage and call the
// fuzzer's comparison hooks at every step, which tells it no more than how
// long a text or a run was. The sanitizers check this code as any other; in
// any other build the mark is empty.
#pragma once

#if defined(__has_feature)
#if __has_feature(coverage_sanitizer)
#define NXT_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#endif
#endif
#ifndef NXT_NO_COVERAGE
#define NXT_NO_COVERAGE
#endif
