#pragma once
// What every fuzz target asserts with: a failed check prints itself and
// aborts, which libFuzzer reports as a crash and keeps the input of.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);     \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)
