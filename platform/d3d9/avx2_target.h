#pragma once
// Compiling part of a file for processors with AVX2: the lane headers included between
// FEROLT_AVX2_BEGIN and FEROLT_AVX2_END, and functions marked FEROLT_AVX2 (lambdas do not take the
// region's target), are built for AVX2; the rest of the file is not. Callers check the processor before
// they enter such code. Include the standard and project headers before the region, so that nothing the
// linker may share with other files is compiled for AVX2.
#include "platform/d3d9/simd.h"

#if FEROLT_D3D9_SSE && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define FEROLT_D3D9_AVX2 1
#define FEROLT_AVX2 __attribute__((target("avx2")))
#if defined(__clang__)
#define FEROLT_AVX2_BEGIN                                                                                    \
    _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define FEROLT_AVX2_END _Pragma("clang attribute pop")
#else
#define FEROLT_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define FEROLT_AVX2_END _Pragma("GCC pop_options")
#endif
#endif
