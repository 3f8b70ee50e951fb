// NXT_NO_COVERAGE marks a plain byte scan, of the kind libc's str* and mem*
// functions make (find the first byte of a class, or-in a table over a
// text), run over every byte a client sends. Built for fuzzing, clang would
// count its loop in coverage and call the fuzzer's comparison hooks for
// every byte, which tells the fuzzer no more than libc's own scans do (they
// are not instrumented): how long the text was. The decisions taken on what
// a scan finds stay in instrumented code, and the sanitizers check the scans
// as any other code. In any other build the mark is empty.
#pragma once

#if defined(__has_feature)
#if __has_feature(coverage_sanitizer)
#define NXT_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#endif
#endif
#ifndef NXT_NO_COVERAGE
#define NXT_NO_COVERAGE
#endif
