// What a fuzz target does when a property fails: print it and abort, which
// libFuzzer records as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                           \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "%s:%d: %s: %s\n", __FILE__, __LINE__, #condition, (what));  \
            std::abort();                                                                     \
        }                                                                                     \
    } while (false)
