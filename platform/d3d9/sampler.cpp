// Texture sampling: addressing modes, point and linear filters, mip level selection and cube faces.
// Texel centres lie at (i + 0.5) / size, as Direct3D 9 maps texture coordinates to texels.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
using Pixel = PixelRules<ScalarLane>;

// The lane rule of wrap and clamp on a 32-bit index: the low bits of i, or i limited to 32 bits first
// (which changes no clamped result).
int AddressLane(DWORD mode, int64_t i, int n)
{
    const int64_t limited = mode == D3DTADDRESS_CLAMP ? std::clamp<int64_t>(i, INT32_MIN, INT32_MAX) : i;
    return static_cast<int>(Pixel::Address(mode, static_cast<uint32_t>(limited), n));
}

int Address(DWORD mode, int64_t i, int n, bool* border)
{
    switch (mode)
    {
    case D3DTADDRESS_CLAMP:
        return AddressLane(mode, i, n);
    case D3DTADDRESS_BORDER:
        if (i < 0 || i >= n)
        {
            *border = true;
            return 0;
        }
        return static_cast<int>(i);
    case D3DTADDRESS_MIRROR:
    {
        const int64_t period = 2 * static_cast<int64_t>(n);
        int64_t m = i % period;
        if (m < 0) m += period;
        return static_cast<int>(m < n ? m : period - 1 - m);
    }
    case D3DTADDRESS_MIRRORONCE:
    {
        const int64_t j = i < 0 ? -i - 1 : i;
        return static_cast<int>(j >= n ? n - 1 : j);
    }
    default: // WRAP, and any other value
    {
        int64_t m = i % n;
        if (m < 0) m += n;
        return static_cast<int>(m);
    }
    }
}

// Texel units stay well inside 64-bit integers; NaN goes to 0.
double Scaled(float c, int n)
{
    double v = static_cast<double>(c) * n;
    if (!(v == v)) return 0.0;
    return v < -1e12 ? -1e12 : (v > 1e12 ? 1e12 : v);
}

void Texel(const Surface& s, const SamplerConfig& smp, int64_t x, int64_t y, DWORD au, DWORD av, float out[4])
{
    bool border = false;
    const int ix = Address(au, x, s.Width(), &border);
    const int iy = Address(av, y, s.Height(), &border);
    if (border)
    {
        for (int i = 0; i < 4; ++i)
            out[i] = smp.border[i];
        return;
    }
    const uint8_t* p = s.Bits() + s.Pitch() * iy + static_cast<size_t>(ix) * s.Info().bytes;
    const D3DFORMAT f = s.Desc().Format;
    if (f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8)
    {
        constexpr float k = 1.0f / 255.0f;
        out[0] = p[2] * k;
        out[1] = p[1] * k;
        out[2] = p[0] * k;
        out[3] = f == D3DFMT_X8R8G8B8 ? 1.0f : p[3] * k;
        return;
    }
    DecodeTexel(f, p, out);
}

using Color1 = Color<ScalarLane>;

inline Color1 Fetch8888(const uint8_t* bits, size_t pitch, int ix, int iy, bool opaque)
{
    uint32_t texel;
    std::memcpy(&texel, bits + pitch * iy + static_cast<size_t>(ix) * 4, 4);
    return Pixel::Unpack(texel, opaque);
}

inline int AddressFast(DWORD mode, int64_t i, int n, bool* border)
{
    if (mode == D3DTADDRESS_WRAP && (n & (n - 1)) == 0) return AddressLane(mode, i, n);
    return Address(mode, i, n, border);
}

void Sample2D8888(const Surface& s, const SamplerConfig& smp, DWORD filter, float u, float v, DWORD au,
                  DWORD av, float out[4])
{
    const int w = s.Width(), h = s.Height();
    const bool opaque = s.Desc().Format == D3DFMT_X8R8G8B8;
    const uint8_t* bits = s.Bits();
    const size_t pitch = s.Pitch();
    if (filter != D3DTEXF_LINEAR)
    {
        bool border = false;
        const int ix = AddressFast(au, static_cast<int64_t>(std::floor(Scaled(u, w))), w, &border);
        const int iy = AddressFast(av, static_cast<int64_t>(std::floor(Scaled(v, h))), h, &border);
        const Color1 c = border ? Pixel::Splat(smp.border) : Fetch8888(bits, pitch, ix, iy, opaque);
        std::memcpy(out, c.c, sizeof c.c);
        return;
    }
    const double x = Scaled(u, w) - 0.5, y = Scaled(v, h) - 0.5;
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const float fx = static_cast<float>(x - fx0), fy = static_cast<float>(y - fy0);
    const int64_t x0 = static_cast<int64_t>(fx0), y0 = static_cast<int64_t>(fy0);
    bool bx0 = false, bx1 = false, by0 = false, by1 = false;
    const int ix0 = AddressFast(au, x0, w, &bx0), ix1 = AddressFast(au, x0 + 1, w, &bx1);
    const int iy0 = AddressFast(av, y0, h, &by0), iy1 = AddressFast(av, y0 + 1, h, &by1);
    Color1 t00, t10, t01, t11;
    if (!(bx0 | bx1 | by0 | by1))
    {
        t00 = Fetch8888(bits, pitch, ix0, iy0, opaque);
        t10 = Fetch8888(bits, pitch, ix1, iy0, opaque);
        t01 = Fetch8888(bits, pitch, ix0, iy1, opaque);
        t11 = Fetch8888(bits, pitch, ix1, iy1, opaque);
    }
    else
    {
        const Color1 border = Pixel::Splat(smp.border);
        t00 = bx0 || by0 ? border : Fetch8888(bits, pitch, ix0, iy0, opaque);
        t10 = bx1 || by0 ? border : Fetch8888(bits, pitch, ix1, iy0, opaque);
        t01 = bx0 || by1 ? border : Fetch8888(bits, pitch, ix0, iy1, opaque);
        t11 = bx1 || by1 ? border : Fetch8888(bits, pitch, ix1, iy1, opaque);
    }
    for (int i = 0; i < 4; ++i)
        out[i] = Pixel::Bilinear(t00.c[i], t10.c[i], t01.c[i], t11.c[i], fx, fy);
}

void Sample2D(const Surface& s, const SamplerConfig& smp, DWORD filter, float u, float v, DWORD au, DWORD av,
              float out[4])
{
    const D3DFORMAT format = s.Desc().Format;
    if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8)
    {
        Sample2D8888(s, smp, filter, u, v, au, av, out);
        return;
    }
    const int w = s.Width(), h = s.Height();
    if (filter != D3DTEXF_LINEAR)
    {
        Texel(s, smp, static_cast<int64_t>(std::floor(Scaled(u, w))),
              static_cast<int64_t>(std::floor(Scaled(v, h))), au, av, out);
        return;
    }
    const double x = Scaled(u, w) - 0.5, y = Scaled(v, h) - 0.5;
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const float fx = static_cast<float>(x - fx0), fy = static_cast<float>(y - fy0);
    const int64_t x0 = static_cast<int64_t>(fx0), y0 = static_cast<int64_t>(fy0);
    float t00[4], t10[4], t01[4], t11[4];
    Texel(s, smp, x0, y0, au, av, t00);
    Texel(s, smp, x0 + 1, y0, au, av, t10);
    Texel(s, smp, x0, y0 + 1, au, av, t01);
    Texel(s, smp, x0 + 1, y0 + 1, au, av, t11);
    for (int i = 0; i < 4; ++i)
        out[i] = Pixel::Bilinear(t00[i], t10[i], t01[i], t11[i], fx, fy);
}

UINT BaseLevel(const StageConfig& st, UINT levels)
{
    UINT base = st.sampler.maxMipLevel;
    if (st.texture) base = std::max<UINT>(base, st.texture->Lod());
    if (st.cube) base = std::max<UINT>(base, st.cube->Lod());
    return base >= levels ? levels - 1 : base;
}
} // namespace

bool StageNeedsLod(const StageConfig& st)
{
    const UINT levels = st.texture ? st.texture->Levels() : (st.cube ? st.cube->Levels() : 1);
    return (levels > 1 && st.sampler.mipFilter != D3DTEXF_NONE) ||
           st.sampler.minFilter != st.sampler.magFilter;
}

float TextureLod(const StageConfig& st, float dudx, float dvdx, float dudy, float dvdy)
{
    const Surface* base = st.texture ? st.texture->Level(0) : (st.cube ? st.cube->Face(0, 0) : nullptr);
    if (!base) return 0.0f;
    const float w = static_cast<float>(base->Width()), h = static_cast<float>(base->Height());
    const float rho2 = Pixel::Rho2(dudx, dvdx, dudy, dvdy, w, h);
    if (!(rho2 > 0.0f)) return -100.0f;
    if (st.sampler.lodBias == 0.0f)
    {
        // Sampling needs only the sign of the level here, or, for point mip selection, which level is
        // nearest; both are known without the logarithm near 1 (log2 is 0 at 1 and below 0.5 under 2).
        if (rho2 <= 1.0f) return 0.0f;
        const UINT levels = st.texture ? st.texture->Levels() : (st.cube ? st.cube->Levels() : 1);
        if (st.sampler.mipFilter == D3DTEXF_NONE || levels == 1) return 1.0f;
        if (st.sampler.mipFilter == D3DTEXF_POINT)
            return rho2 < 2.0f ? 0.25f : static_cast<float>(PointMipSteps(rho2));
    }
    return 0.5f * std::log2(rho2) + st.sampler.lodBias;
}

void PrepareFastTexture(const StageConfig& st, FastTexture* out)
{
    *out = FastTexture{};
    if (!st.texture || st.cube) return;
    const UINT levels = st.texture->Levels();
    if (levels == 0 || levels > 16) return;
    for (UINT i = 0; i < levels; ++i)
    {
        const Surface* s = st.texture->Level(i);
        if (!s) return;
        const D3DFORMAT f = s->Desc().Format;
        if (f != D3DFMT_A8R8G8B8 && f != D3DFMT_X8R8G8B8) return;
        out->level[i] = s;
    }
    out->width = static_cast<float>(out->level[0]->Width());
    out->height = static_cast<float>(out->level[0]->Height());
    out->levels = levels;
    out->base = BaseLevel(st, levels);
    out->enabled = true;
}

void Sample2DLevel(const StageConfig& st, const Surface& level, float u, float v, float out[4])
{
    Sample2D8888(level, st.sampler, st.sampler.magFilter, u, v, st.sampler.addressU, st.sampler.addressV,
                 out);
}

void SampleFastTexture(const StageConfig& st, const FastTexture& t, float u, float v, float dudx, float dvdx,
                       float dudy, float dvdy, bool useLod, float out[4])
{
    const SamplerConfig& smp = st.sampler;
    float lod = 0.0f;
    if (useLod)
    {
        const float rho2 = Pixel::Rho2(dudx, dvdx, dudy, dvdy, t.width, t.height);
        if (!(rho2 > 0.0f))
            lod = -100.0f;
        else if (smp.lodBias == 0.0f && rho2 <= 1.0f)
            lod = 0.0f;
        else if (smp.lodBias == 0.0f && (smp.mipFilter == D3DTEXF_NONE || t.levels == 1))
            lod = 1.0f;
        else if (smp.lodBias == 0.0f && smp.mipFilter == D3DTEXF_POINT)
            lod = rho2 < 2.0f ? 0.25f : static_cast<float>(PointMipSteps(rho2));
        else
            lod = 0.5f * std::log2(rho2) + smp.lodBias;
    }
    const UINT levels = t.levels, base = t.base;
    if (!useLod || lod <= 0.0f)
    {
        Sample2D8888(*t.level[base], smp, smp.magFilter, u, v, smp.addressU, smp.addressV, out);
        return;
    }
    const DWORD filter = smp.minFilter;
    if (smp.mipFilter == D3DTEXF_NONE || levels == 1)
    {
        Sample2D8888(*t.level[base], smp, filter, u, v, smp.addressU, smp.addressV, out);
        return;
    }
    const float maxLod = static_cast<float>(levels - 1 - base);
    const float l = std::min(lod, maxLod);
    if (smp.mipFilter == D3DTEXF_POINT)
    {
        const UINT i = base + static_cast<UINT>(std::floor(l + 0.5f));
        Sample2D8888(*t.level[std::min(i, levels - 1)], smp, filter, u, v, smp.addressU, smp.addressV, out);
        return;
    }
    const UINT i0 = base + static_cast<UINT>(std::floor(l));
    const UINT i1 = std::min(i0 + 1, levels - 1);
    const float f = l - std::floor(l);
    float a[4], b[4];
    Sample2D8888(*t.level[i0], smp, filter, u, v, smp.addressU, smp.addressV, a);
    Sample2D8888(*t.level[i1], smp, filter, u, v, smp.addressU, smp.addressV, b);
    for (int i = 0; i < 4; ++i)
        out[i] = a[i] + (b[i] - a[i]) * f;
}

void SampleTexture(const StageConfig& st, const float coord[4], float lod, bool useLod, float out[4])
{
    const SamplerConfig& smp = st.sampler;
    float u = coord[0], v = coord[1];
    int face = -1;
    if (st.cube)
    {
        const float x = coord[0], y = coord[1], z = coord[2];
        const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
        float ma, sc, tc;
        if (ax >= ay && ax >= az)
        {
            face = x >= 0 ? D3DCUBEMAP_FACE_POSITIVE_X : D3DCUBEMAP_FACE_NEGATIVE_X;
            ma = ax;
            sc = x >= 0 ? -z : z;
            tc = -y;
        }
        else if (ay >= az)
        {
            face = y >= 0 ? D3DCUBEMAP_FACE_POSITIVE_Y : D3DCUBEMAP_FACE_NEGATIVE_Y;
            ma = ay;
            sc = x;
            tc = y >= 0 ? z : -z;
        }
        else
        {
            face = z >= 0 ? D3DCUBEMAP_FACE_POSITIVE_Z : D3DCUBEMAP_FACE_NEGATIVE_Z;
            ma = az;
            sc = z >= 0 ? x : -x;
            tc = -y;
        }
        if (!(ma > 0.0f)) ma = 1.0f;
        u = 0.5f * (sc / ma + 1.0f);
        v = 0.5f * (tc / ma + 1.0f);
    }
    const UINT levels = st.cube ? st.cube->Levels() : st.texture->Levels();
    auto level = [&](UINT i) -> const Surface*
    { return st.cube ? st.cube->Face(static_cast<UINT>(face), i) : st.texture->Level(i); };
    const DWORD au = st.cube ? D3DTADDRESS_CLAMP : smp.addressU;
    const DWORD av = st.cube ? D3DTADDRESS_CLAMP : smp.addressV;
    const UINT base = BaseLevel(st, levels);
    if (!useLod || lod <= 0.0f)
    {
        Sample2D(*level(base), smp, smp.magFilter, u, v, au, av, out);
        return;
    }
    const DWORD filter = smp.minFilter;
    if (smp.mipFilter == D3DTEXF_NONE || levels == 1)
    {
        Sample2D(*level(base), smp, filter, u, v, au, av, out);
        return;
    }
    const float maxLod = static_cast<float>(levels - 1 - base);
    const float l = std::min(lod, maxLod);
    if (smp.mipFilter == D3DTEXF_POINT)
    {
        const UINT i = base + static_cast<UINT>(std::floor(l + 0.5f));
        Sample2D(*level(std::min(i, levels - 1)), smp, filter, u, v, au, av, out);
        return;
    }
    const UINT i0 = base + static_cast<UINT>(std::floor(l));
    const UINT i1 = std::min(i0 + 1, levels - 1);
    const float f = l - std::floor(l);
    float a[4], b[4];
    Sample2D(*level(i0), smp, filter, u, v, au, av, a);
    Sample2D(*level(i1), smp, filter, u, v, au, av, b);
    for (int i = 0; i < 4; ++i)
        out[i] = a[i] + (b[i] - a[i]) * f;
}
} // namespace ferolt::d3d9
