#ifndef STROBIX_FUZZCHECK_H
#define STROBIX_FUZZCHECK_H

#include <QString>

#include <cstdio>
#include <cstdlib>

// An invariant of the code under test: a violation must stop the fuzzer with
// a crash report and the input that caused it.
#define FUZZ_CHECK(condition, what)                                                  \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "invariant violated: %s (%s:%d)\n", what, __FILE__, \
                         __LINE__);                                                  \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

inline bool isProgressValue(int value)
{
    return value == -1 || (value >= 0 && value <= 100);
}

#endif
