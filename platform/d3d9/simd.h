#pragma once
// Whether the SSE lanes of the vertex and pixel paths are compiled (x86-64); the lane types themselves are in
// vertex_lanes.h and pixel_lanes.h.
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define FEROLT_D3D9_SSE 1
#endif
