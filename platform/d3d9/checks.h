#pragma once
// Internal invariants of the software pipeline (set-up, binning, recorded draws), checked in debug and
// sanitizer builds and compiled out of release builds, where they would cost time in the inner loops.
#include <cstdio>
#include <cstdlib>

#if FEROLT_D3D9_CHECKS
#define FEROLT_D3D9_CHECK(condition)                                                                         \
    do                                                                                                       \
    {                                                                                                        \
        if (!(condition))                                                                                    \
        {                                                                                                    \
            std::fprintf(stderr, "%s:%d: d3d9 invariant broken: %s\n", __FILE__, __LINE__, #condition);      \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
#else
#define FEROLT_D3D9_CHECK(condition) static_cast<void>(0)
#endif
