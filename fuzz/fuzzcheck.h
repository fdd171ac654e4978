// Property checks for the fuzz targets: a broken property stops the run like a crash does.
#pragma once

#include <cstdio>
#include <cstdlib>

/** Aborts with the failed condition, so libFuzzer saves the input that broke it. */
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
