// Rasterisation inside one tile: the varyings a draw reads, their evaluation at a pixel, and the walk over
// the pixels a set-up primitive covers.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
// Depth slack of explicit lines: about 16 steps of a 16-bit depth buffer, so a line
// passes over a face whose depth changes by up to 2^-11 per pixel along the line's minor axis, while one
// lying further behind a surface than that stays hidden.
constexpr float kLineDepthSlack = 1.0f / 4096.0f;
} // namespace

// ---- varyings
VaryingSet ActiveVaryings(const DrawConfig& cfg)
{
    VaryingSet set;
    const PixelConfig& px = cfg.pixel;
    for (auto& g : set.group)
        g = -1;
    int slot = -12, slotUsed = 4; // the slot being filled, and its lanes in use
    auto add = [&](int base, bool l0, bool l1, bool l2, bool l3)
    {
        const int g = set.groupCount++;
        set.groupBase[g] = static_cast<uint8_t>(base);
        const bool lanes[4] = {l0, l1, l2, l3};
        int n = 0;
        for (int i = 0; i < 4; ++i)
        {
            set.lane[g][i] = lanes[i] && base + i < cfg.varyCount;
            if (set.lane[g][i])
            {
                set.group[base + i] = static_cast<int8_t>(g);
                n = i + 1;
            }
        }
        set.groupLanes[g] = static_cast<uint8_t>(n);
        set.groupAt[g] = 0;
        if (n == 0) return;
        if (slotUsed + n > 4)
        {
            slot += 12;
            slotUsed = 0;
        }
        set.groupAt[g] = static_cast<uint8_t>(slot + slotUsed);
        slotUsed += n;
        set.floats = slot + 8 + slotUsed;
    };
    add(kVaryDiffuse, true, true, true, true);
    bool specular = px.specularAdd;
    for (int s = 0; s < px.stageCount; ++s)
        for (int a = 0; a < 3; ++a)
            specular = specular || (px.stages[s].colorArg[a] & D3DTA_SELECTMASK) == D3DTA_SPECULAR ||
                       (px.stages[s].alphaArg[a] & D3DTA_SELECTMASK) == D3DTA_SPECULAR;
    if (specular) add(kVarySpecular, true, true, true, true);
    if (px.fog && px.fogTableMode == D3DFOG_NONE) add(kVaryFog, true, false, false, false);
    for (int s = 0; kVaryTex + 4 * s < cfg.varyCount && s < px.stageCount; ++s)
    {
        const StageConfig& st = px.stages[s];
        if (!st.texture && !st.cube) continue;
        add(kVaryTex + 4 * s, true, true, st.cube != nullptr || st.projectIndex >= 2, st.projectIndex >= 3);
    }
    for (int i = 0; i < kMaxVary; ++i)
    {
        const int g = set.group[i];
        set.planeAt[i] = static_cast<int16_t>(g < 0 ? -1 : set.groupAt[g] + (i - set.groupBase[g]));
    }
    return set;
}

float VaryingSource::Eval(int x, int y, float* vary) const
{
    const float* d = arena + prim->data;
    switch (prim->kind)
    {
    case PrimKind::Triangle:
    {
        const Plane* planes = reinterpret_cast<const Plane*>(d);
        const float dx = static_cast<float>(x) - prim->x0, dy = static_cast<float>(y) - prim->y0;
        const float q = planes[1].At(dx, dy);
        const float w = q != 0.0f ? 1.0f / q : 0.0f;
        const float* planesAt = d + 6;
        for (int k = 0; k < active->groupCount; ++k)
        {
            // Lanes without a plane read as a zero plane would give.
            const float* g = planesAt + active->groupAt[k];
            float* out = vary + active->groupBase[k];
            const int n = active->groupLanes[k];
            for (int i = 0; i < 4; ++i)
                out[i] = i < n ? ((g[i] + g[4 + i] * dx) + g[8 + i] * dy) * w : 0.0f * w;
        }
        if (prim->flat) std::memcpy(vary + kVaryDiffuse, d + 6 + active->Floats(), 8 * sizeof(float));
        return w;
    }
    case PrimKind::Line:
    {
        const int per = 4 + varyCount;
        const float* a = d;
        const float* b = d + per;
        const float t = lineT;
        const float q = a[3] + (b[3] - a[3]) * t;
        const float w = q != 0.0f ? 1.0f / q : 0.0f;
        for (int i = 0; i < varyCount; ++i)
            vary[i] = (a[4 + i] + (b[4 + i] - a[4 + i]) * t) * w;
        if (prim->flat) std::memcpy(vary + kVaryDiffuse, d + 2 * per, 8 * sizeof(float));
        return w;
    }
    case PrimKind::Point:
    default:
        std::memcpy(vary, d + 4, varyCount * sizeof(float));
        return d[3];
    }
}

// ---- rasterisation
// -------------------------------------------------------------------------------------------
void RasterizePrim(const DrawConfig& cfg, const VaryingSet& active, const SetupPrim& p, const float* arena,
                   int x0, int y0, int x1, int y1, PixelPipeline& pixels)
{
    const int xs = std::max<int>(p.minX, x0), xe = std::min<int>(p.maxX, x1 - 1);
    const int ys = std::max<int>(p.minY, y0), ye = std::min<int>(p.maxY, y1 - 1);
    if (xs > xe || ys > ye) return;
    VaryingSource src;
    src.prim = &p;
    src.arena = arena;
    src.varyCount = cfg.varyCount;
    src.active = &active;
    const float* d = arena + p.data;
    auto clampDepth = [](float z) { return z < 0.0f ? 0.0f : (z > 1.0f ? 1.0f : z); };
    // Triangles keep their edge functions where lines and points keep this offset.
    const Plane* depthPlane = p.kind != PrimKind::Triangle && p.depthPlane != kNoPlane
                                  ? reinterpret_cast<const Plane*>(arena + p.depthPlane)
                                  : nullptr;

    switch (p.kind)
    {
    case PrimKind::Triangle:
    {
        if (pixels.QuadReady())
        {
            pixels.Quads(p, arena, active, xs, xe, ys, ye);
            break;
        }
        const Plane& zp = reinterpret_cast<const Plane*>(d)[0];
        const EdgeSet ed = Edges(p, arena);
        for (int y = ys; y <= ye; ++y)
        {
            int64_t e0 = ed.a[0] * xs + ed.b[0] * y + ed.c[0];
            int64_t e1 = ed.a[1] * xs + ed.b[1] * y + ed.c[1];
            int64_t e2 = ed.a[2] * xs + ed.b[2] * y + ed.c[2];
            for (int x = xs; x <= xe; ++x, e0 += ed.a[0], e1 += ed.a[1], e2 += ed.a[2])
            {
                if ((e0 | e1 | e2) < 0) continue;
                const float z =
                    zp.At(static_cast<float>(x) - p.x0, static_cast<float>(y) - p.y0) + p.depthOffset;
                pixels.Fragment(x, y, clampDepth(z), src);
            }
        }
        break;
    }
    case PrimKind::Line:
    {
        const int per = 4 + cfg.varyCount;
        const float ax = d[0], ay = d[1], bx = d[per], by = d[per + 1];
        const float az = d[2], bz = d[per + 2];
        const float dx = bx - ax, dy = by - ay;
        const bool xMajor = std::fabs(dx) >= std::fabs(dy);
        const float len = xMajor ? dx : dy;
        if (len == 0.0f) break;
        // Major-axis walk over the pixel centres from the first end towards the last; the last pixel
        // is drawn when LASTPIXEL is on.
        const float start = xMajor ? ax : ay, end = xMajor ? bx : by;
        const int step = len > 0 ? 1 : -1;
        const int first = static_cast<int>(std::floor(start + 0.5f));
        const int last = static_cast<int>(std::floor(end + 0.5f));
        const int stop = cfg.raster.lastPixel ? last + step : last;
        // Explicit lines take depth at the pixel's major coordinate without clamping to the ends, so it
        // matches the plane of a face they outline along the line; across it a pixel sits up to half a pixel
        // off the line, where a tilted face may be nearer, and edges drawn over their faces with LESSEQUAL
        // would break up. A small fixed slack towards the viewer covers that; lines that carry a triangle's
        // plane are exact already.
        const float lineEps = depthPlane ? 0.0f : kLineDepthSlack;
        for (int m = first; m != stop; m += step)
        {
            const float t = std::clamp((static_cast<float>(m) - start) / len, 0.0f, 1.0f);
            const float minor = xMajor ? ay + dy * t : ax + dx * t;
            const int n = static_cast<int>(std::floor(minor + 0.5f));
            const int x = xMajor ? m : n, y = xMajor ? n : m;
            if (x < xs || x > xe || y < ys || y > ye) continue;
            src.lineT = t;
            float z = depthPlane ? depthPlane->At(static_cast<float>(x) - p.x0, static_cast<float>(y) - p.y0)
                                 : az + (bz - az) * ((static_cast<float>(m) - start) / len) - lineEps;
            pixels.Fragment(x, y, clampDepth(z + p.depthOffset), src);
        }
        break;
    }
    case PrimKind::Point:
    {
        for (int y = ys; y <= ye; ++y)
            for (int x = xs; x <= xe; ++x)
            {
                const float z =
                    depthPlane ? depthPlane->At(static_cast<float>(x) - p.x0, static_cast<float>(y) - p.y0)
                               : d[2];
                pixels.Fragment(x, y, clampDepth(z + p.depthOffset), src);
            }
        break;
    }
    }
}

void RasterizeBin(const DrawConfig& cfg, const VaryingSet& active, const SetupPrim* prims,
                  const uint32_t* indices, size_t count, const float* arena, int x0, int y0, int x1, int y1,
                  PixelPipeline& pixels)
{
    // Records are fetched twice as far ahead as the planes they point to, so that reading a record's
    // offset to fetch its planes does not wait.
    constexpr size_t kAhead = 8;
    const bool quads = pixels.QuadReady();
    for (size_t k = 0; k < count; ++k)
    {
#if FEROLT_D3D9_SSE
        if (k + 2 * kAhead < count)
        {
            _mm_prefetch(reinterpret_cast<const char*>(prims + indices[k + 2 * kAhead]), _MM_HINT_T0);
        }
        if (k + kAhead < count)
        {
            const char* d = reinterpret_cast<const char*>(arena + prims[indices[k + kAhead]].data);
            _mm_prefetch(d, _MM_HINT_T0);
            _mm_prefetch(d + 64, _MM_HINT_T0);
            _mm_prefetch(d + 128, _MM_HINT_T0);
            if (quads) pixels.Prefetch(prims[indices[k + kAhead]]);
        }
#endif
        const SetupPrim& p = prims[indices[k]];
        if (quads && p.kind == PrimKind::Triangle)
        {
            // The common case without the general walk's set-up.
            const int xs = std::max<int>(p.minX, x0), xe = std::min<int>(p.maxX, x1 - 1);
            const int ys = std::max<int>(p.minY, y0), ye = std::min<int>(p.maxY, y1 - 1);
            if (xs <= xe && ys <= ye) pixels.Quads(p, arena, active, xs, xe, ys, ye);
            continue;
        }
        RasterizePrim(cfg, active, p, arena, x0, y0, x1, y1, pixels);
    }
}
} // namespace ferolt::d3d9
