// NXT_NO_COVERAGE marks a scan that makes no decision of its own, run over
// every byte a client sends (e.g. or-ing a table's bits over a request).
// Built for fuzzing, clang would count its loop in coverage and call the
// fuzzer's comparison hooks for every byte, which tells the fuzzer nothing
// but the length of the text. The sanitizers still check it; in any other
// build the mark is empty.
#pragma once

#if defined(__has_feature)
#if __has_feature(coverage_sanitizer)
#define NXT_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#endif
#endif
#ifndef NXT_NO_COVERAGE
#define NXT_NO_COVERAGE
#endif
