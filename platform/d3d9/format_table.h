#pragma once
// What each pixel format is: its size and roles. Constant data only, so the D3DX layer and the test
// doubles read the same facts as the device without linking it.
#include <cstdint>

#include "platform/d3d9/d3d9types.h"

namespace ferolt::d3d9
{
struct FormatInfo
{
    D3DFORMAT format = D3DFMT_UNKNOWN;
    uint8_t bytes = 0;    // bytes per pixel; 0 for formats the device does not store
    bool texture = false; // usable as a texture
    bool renderTarget = false;
    bool depth = false;
    uint8_t depthBits = 0;
    uint8_t stencilBits = 0;
    bool bump = false; // signed du, dv (and luminance) formats
    bool hasAlpha = false;
    bool palette = false; // texels index a palette
};

namespace format_table
{
constexpr FormatInfo Colour(D3DFORMAT format, uint8_t bytes, bool renderTarget, bool alpha,
                            bool palette = false)
{
    return {format, bytes, true, renderTarget, false, 0, 0, false, alpha, palette};
}
constexpr FormatInfo Depth(D3DFORMAT format, uint8_t depthBits, uint8_t stencilBits)
{
    return {format, 4, false, false, true, depthBits, stencilBits, false, false, false};
}
constexpr FormatInfo Bump(D3DFORMAT format, uint8_t bytes)
{
    return {format, bytes, true, false, false, 0, 0, true, false, false};
}

inline constexpr FormatInfo kUnknown{};
inline constexpr FormatInfo kFormats[] = {
    Colour(D3DFMT_R8G8B8, 3, false, false),
    Colour(D3DFMT_A8R8G8B8, 4, true, true),
    Colour(D3DFMT_X8R8G8B8, 4, true, false),
    Colour(D3DFMT_R5G6B5, 2, true, false),
    Colour(D3DFMT_X1R5G5B5, 2, true, false),
    Colour(D3DFMT_A1R5G5B5, 2, true, true),
    Colour(D3DFMT_A4R4G4B4, 2, false, true),
    Colour(D3DFMT_X4R4G4B4, 2, false, false),
    Colour(D3DFMT_A8B8G8R8, 4, false, true),
    Colour(D3DFMT_X8B8G8R8, 4, false, false),
    Colour(D3DFMT_A8, 1, false, true),
    Colour(D3DFMT_L8, 1, false, false),
    Colour(D3DFMT_A8L8, 2, false, true),
    Colour(D3DFMT_P8, 1, false, false, true),
    Bump(D3DFMT_V8U8, 2),
    Bump(D3DFMT_L6V5U5, 2),
    Bump(D3DFMT_X8L8V8U8, 4),
    Depth(D3DFMT_D32, 32, 0),
    Depth(D3DFMT_D15S1, 15, 1),
    Depth(D3DFMT_D24S8, 24, 8),
    Depth(D3DFMT_D24X8, 24, 0),
    Depth(D3DFMT_D24X4S4, 24, 4),
    Depth(D3DFMT_D16, 16, 0),
};
} // namespace format_table

// The facts of a format; all zero for one the device does not store (compressed ones among them).
constexpr const FormatInfo& GetFormatInfo(D3DFORMAT format)
{
    for (const FormatInfo& info : format_table::kFormats)
        if (info.format == format) return info;
    return format_table::kUnknown;
}

// Bytes per texel of the colour formats converted one texel at a time through A8R8G8B8; 0 for the others
// (bump, depth, palette and compressed formats).
constexpr UINT ConvertibleTexelBytes(D3DFORMAT format)
{
    const FormatInfo& info = GetFormatInfo(format);
    return info.texture && !info.bump && !info.palette ? info.bytes : 0;
}

static_assert(GetFormatInfo(D3DFMT_R8G8B8).bytes == 3 && GetFormatInfo(D3DFMT_D24S8).stencilBits == 8);
static_assert(GetFormatInfo(D3DFMT_DXT1).bytes == 0 && ConvertibleTexelBytes(D3DFMT_P8) == 0);
} // namespace ferolt::d3d9
