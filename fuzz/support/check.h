#pragma once
// A property check for the fuzz harnesses: a violated property prints what
// was expected and traps, so libFuzzer records the input as a crash.

#include <cstdio>

#define FUZZ_CHECK(condition, what)                                                             \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "Property violated at %s:%d: %s\n", __FILE__, __LINE__, what); \
            __builtin_trap();                                                                   \
        }                                                                                       \
    } while (false)
