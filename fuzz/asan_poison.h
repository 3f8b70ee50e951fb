// ASAN_POISON_MEMORY_REGION and ASAN_UNPOISON_MEMORY_REGION for the fuzz
// targets that keep what they hand over in buffers of their own: a byte
// poisoned there is caught when read, as one past a heap block of its own
// size. Without AddressSanitizer (the corpus replays of any compiler) they
// do nothing.
#pragma once

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif
