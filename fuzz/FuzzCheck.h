#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: print it and abort so that libFuzzer
// records the input as a crash.
#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, \
                         #cond);                                                      \
            std::abort();                                                             \
        }                                                                             \
    } while (0)
