#pragma once
// Internal invariants of the software pipeline (set-up, binning, recorded draws) and of resource states
// (lock counts, pool accounting), checked in debug and sanitizer builds and compiled out of release
// builds, where they would cost time in the inner loops. Decided here rather than by the build so that
// every translation unit that expands an inline check agrees: the same builds that keep validation ids.
#include <cstdio>
#include <cstdlib>

#ifndef FEROLT_D3D9_CHECKS
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
#define FEROLT_D3D9_CHECKS 1
#else
#define FEROLT_D3D9_CHECKS 0
#endif
#endif

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
