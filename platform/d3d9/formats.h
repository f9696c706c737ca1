#pragma once
// Pixel formats: conversion of single pixels to and from A8R8G8B8 (their sizes and roles are in
// format_table.h).
#include <cstdint>

#include "platform/d3d9/d3d9types.h"
#include "platform/d3d9/format_table.h"

namespace ferolt::d3d9
{
// Decodes one texel into red, green, blue, alpha in [0, 1]. Bump formats give du, dv in [-1, 1] in
// red and green and the luminance in blue; alpha is 1 where the format has none.
void DecodeTexel(D3DFORMAT format, const uint8_t* p, float out[4]);

// Colour surfaces read and written as A8R8G8B8; formats without alpha read as opaque.
uint32_t ReadArgb(D3DFORMAT format, const uint8_t* p);
void WriteArgb(D3DFORMAT format, uint8_t* p, uint32_t argb);

// Largest depth value a format stores (all ones in its depth bits).
inline uint32_t DepthMax(const FormatInfo& info)
{
    return info.depthBits >= 32 ? 0xffffffffu : ((1u << info.depthBits) - 1u);
}
} // namespace ferolt::d3d9
