#include "platform/d3d9/formats.h"

#include <cstring>

namespace ferolt::d3d9
{
namespace
{
uint16_t Load16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
// Widens an n-bit channel to 8 bits by repeating its high bits, so all-ones stays 255.
uint32_t Expand(uint32_t v, int bits)
{
    uint32_t r = v << (8 - bits);
    for (int have = bits; have < 8; have += bits)
        r |= r >> have;
    return r & 0xff;
}
float SignedByte(uint8_t b)
{
    float v = static_cast<int8_t>(b) / 127.0f;
    return v < -1.0f ? -1.0f : v;
}
float Signed5(uint32_t v)
{
    int s = static_cast<int>(v & 0x1f);
    if (s & 0x10) s -= 32;
    float f = s / 15.0f;
    return f < -1.0f ? -1.0f : f;
}
} // namespace

uint32_t ReadArgb(D3DFORMAT format, const uint8_t* p)
{
    switch (format)
    {
    case D3DFMT_A8R8G8B8:
        return Load32(p);
    case D3DFMT_X8R8G8B8:
        return Load32(p) | 0xff000000u;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    {
        uint32_t v = Load32(p);
        uint32_t a = format == D3DFMT_X8B8G8R8 ? 0xff000000u : (v & 0xff000000u);
        return a | ((v & 0xff) << 16) | (v & 0xff00) | ((v >> 16) & 0xff);
    }
    case D3DFMT_R8G8B8:
        return 0xff000000u | p[0] | (p[1] << 8) | (p[2] << 16);
    case D3DFMT_R5G6B5:
    {
        uint32_t v = Load16(p);
        return 0xff000000u | (Expand(v >> 11, 5) << 16) | (Expand((v >> 5) & 63, 6) << 8) | Expand(v & 31, 5);
    }
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    {
        uint32_t v = Load16(p);
        uint32_t a = (format == D3DFMT_X1R5G5B5 || (v & 0x8000)) ? 0xff000000u : 0;
        return a | (Expand((v >> 10) & 31, 5) << 16) | (Expand((v >> 5) & 31, 5) << 8) | Expand(v & 31, 5);
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    {
        uint32_t v = Load16(p);
        uint32_t a = format == D3DFMT_X4R4G4B4 ? 0xffu : Expand(v >> 12, 4);
        return (a << 24) | (Expand((v >> 8) & 15, 4) << 16) | (Expand((v >> 4) & 15, 4) << 8) |
               Expand(v & 15, 4);
    }
    case D3DFMT_A8:
        return static_cast<uint32_t>(p[0]) << 24;
    case D3DFMT_L8:
    case D3DFMT_P8:
        return 0xff000000u | p[0] * 0x010101u;
    case D3DFMT_A8L8:
        return (static_cast<uint32_t>(p[1]) << 24) | p[0] * 0x010101u;
    default:
        return 0;
    }
}

void WriteArgb(D3DFORMAT format, uint8_t* p, uint32_t c)
{
    uint32_t a = c >> 24, r = (c >> 16) & 0xff, g = (c >> 8) & 0xff, b = c & 0xff;
    switch (format)
    {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
        std::memcpy(p, &c, 4);
        break;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    {
        uint32_t v = (a << 24) | (b << 16) | (g << 8) | r;
        std::memcpy(p, &v, 4);
        break;
    }
    case D3DFMT_R8G8B8:
        p[0] = static_cast<uint8_t>(b);
        p[1] = static_cast<uint8_t>(g);
        p[2] = static_cast<uint8_t>(r);
        break;
    case D3DFMT_R5G6B5:
    {
        uint16_t v = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
        std::memcpy(p, &v, 2);
        break;
    }
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    {
        uint16_t top = (format == D3DFMT_A1R5G5B5 && a >= 128) ? 0x8000 : 0;
        uint16_t v = static_cast<uint16_t>(top | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
        std::memcpy(p, &v, 2);
        break;
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    {
        uint16_t v = static_cast<uint16_t>(((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4));
        std::memcpy(p, &v, 2);
        break;
    }
    case D3DFMT_A8:
        p[0] = static_cast<uint8_t>(a);
        break;
    case D3DFMT_L8:
    case D3DFMT_P8:
        p[0] = static_cast<uint8_t>((r * 77 + g * 150 + b * 29 + 128) >> 8);
        break;
    case D3DFMT_A8L8:
        p[0] = static_cast<uint8_t>((r * 77 + g * 150 + b * 29 + 128) >> 8);
        p[1] = static_cast<uint8_t>(a);
        break;
    default:
        break;
    }
}

void DecodeTexel(D3DFORMAT format, const uint8_t* p, float out[4])
{
    switch (format)
    {
    case D3DFMT_V8U8:
        out[0] = SignedByte(p[0]);
        out[1] = SignedByte(p[1]);
        out[2] = 1.0f;
        out[3] = 1.0f;
        return;
    case D3DFMT_X8L8V8U8:
        out[0] = SignedByte(p[0]);
        out[1] = SignedByte(p[1]);
        out[2] = p[2] / 255.0f;
        out[3] = 1.0f;
        return;
    case D3DFMT_L6V5U5:
    {
        uint32_t v = Load16(p);
        out[0] = Signed5(v);
        out[1] = Signed5(v >> 5);
        out[2] = ((v >> 10) & 63) / 63.0f;
        out[3] = 1.0f;
        return;
    }
    default:
    {
        uint32_t c = ReadArgb(format, p);
        constexpr float k = 1.0f / 255.0f;
        out[0] = ((c >> 16) & 0xff) * k;
        out[1] = ((c >> 8) & 0xff) * k;
        out[2] = (c & 0xff) * k;
        out[3] = (c >> 24) * k;
        return;
    }
    }
}
} // namespace ferolt::d3d9
