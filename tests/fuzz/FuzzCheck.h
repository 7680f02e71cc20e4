#pragma once
// A check that holds in the fuzz build and the replay build alike (assert vanishes in release
// builds): a failure prints what broke and aborts, which libFuzzer records as a finding.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);          \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
