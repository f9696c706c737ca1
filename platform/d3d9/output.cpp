// The per-pixel pipeline: depth and stencil tests, texture coordinates and sampling, the texture stages,
// specular add, fog, alpha test, blending and the colour write mask.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
using Pixel = PixelRules<ScalarLane>;
using Color1 = Color<ScalarLane>;

uint32_t StencilOp(DWORD op, uint32_t s, uint32_t ref, uint32_t max)
{
    switch (op)
    {
    case D3DSTENCILOP_ZERO:
        return 0;
    case D3DSTENCILOP_REPLACE:
        return ref & max;
    case D3DSTENCILOP_INCRSAT:
        return s < max ? s + 1 : max;
    case D3DSTENCILOP_DECRSAT:
        return s > 0 ? s - 1 : 0;
    case D3DSTENCILOP_INVERT:
        return ~s & max;
    case D3DSTENCILOP_INCR:
        return (s + 1) & max;
    case D3DSTENCILOP_DECR:
        return (s - 1) & max;
    default:
        return s;
    }
}

uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace

PixelPipeline::PixelPipeline(const DrawConfig& cfg)
    : cfg_(cfg), px_(cfg.pixel), target_(cfg.raster.target), targetBpp_(cfg.raster.target->Info().bytes),
      targetFormat_(cfg.raster.target->Desc().Format)
{
    if (Surface* ds = px_.depth.surface)
    {
        depthPlane_ = ds->DepthPlane();
        stencilPlane_ = ds->StencilPlane();
        depthWidth_ = static_cast<size_t>(ds->Width());
        depthHeight_ = ds->Height();
        depthActive_ = px_.depth.depthTest || px_.depth.stencil;
    }
    for (int s = 0; s < px_.stageCount; ++s)
    {
        needLod_[s] = (px_.stages[s].texture || px_.stages[s].cube) && StageNeedsLod(px_.stages[s]);
        PrepareFastTexture(px_.stages[s], &fast_[s]);
    }
    quads_ = PrepareQuads();
}

// Depth and stencil for one pixel; true when the fragment goes on. Updates the planes as the tests and
// operations say.
bool PixelPipeline::DepthStencil(size_t index, uint32_t depth)
{
    const DepthStencilConfig& ds = px_.depth;
    uint32_t* zp = depthPlane_ + index;
    const bool depthPass = !ds.depthTest || Passes(ds.depthFunc, depth, *zp);
    if (ds.stencil)
    {
        uint8_t* sp = stencilPlane_ + index;
        const uint32_t s = *sp;
        const bool stencilPass = Passes(ds.stencilFunc, ds.stencilRef & ds.stencilMask, s & ds.stencilMask);
        const DWORD op = !stencilPass ? ds.stencilFail : (!depthPass ? ds.stencilZFail : ds.stencilPass);
        if (op != D3DSTENCILOP_KEEP)
        {
            const uint32_t v = StencilOp(op, s, ds.stencilRef, ds.stencilMax);
            *sp = static_cast<uint8_t>(((s & ~ds.stencilWriteMask) | (v & ds.stencilWriteMask)) &
                                       ds.stencilMax);
        }
        if (!stencilPass) return false;
    }
    if (!depthPass) return false;
    if (ds.depthTest && ds.depthWrite) *zp = depth;
    return true;
}

void PixelPipeline::Fragment(int x, int y, float z, const VaryingSource& src)
{
    if (laneCount_) FlushLanes(); // waiting pixels come first
    const bool haveDepth = depthActive_ && static_cast<size_t>(x) < depthWidth_ && y < depthHeight_;
    const size_t di = haveDepth ? static_cast<size_t>(y) * depthWidth_ + x : 0;
    const uint32_t depth = haveDepth ? QuantizeDepth(z, px_.depth.depthMax) : 0;
    if (!px_.alphaTest)
    {
        if (haveDepth && !DepthStencil(di, depth)) return;
        float color[4];
        Shade(x, y, src, color);
        Write(x, y, color);
        return;
    }
    float color[4];
    Shade(x, y, src, color);
    if (!Passes(px_.alphaFunc, Pixel::Byte(Pixel::Sat(color[3])), px_.alphaRef)) return;
    if (haveDepth && !DepthStencil(di, depth)) return;
    Write(x, y, color);
}

void PixelPipeline::Shade(int x, int y, const VaryingSource& src, float color[4])
{
    float* vary = vary_;
    const float w = src.Eval(x, y, vary);
    Color1 diffuse, specular, texture[kMaxStages];
    for (int ch = 0; ch < 4; ++ch)
    {
        diffuse.c[ch] = Pixel::Sat(vary[kVaryDiffuse + ch]);
        specular.c[ch] = Pixel::Sat(vary[kVarySpecular + ch]);
    }

    // Texture coordinates, bump offsets and samples, stage by stage.
    float bumpDu = 0, bumpDv = 0, bumpLum = 1;
    bool bumped = false, lumBumped = false;
    for (int s = 0; s < px_.stageCount; ++s)
    {
        const StageConfig& st = px_.stages[s];
        if (!st.texture && !st.cube)
        {
            texture[s] = Pixel::Splat(1.0f);
            bumped = lumBumped = false;
            continue;
        }
        float tex[4];
        const float* c = vary + kVaryTex + 4 * s;
        float coord[4] = {c[0], c[1], c[2], c[3]};
        auto project = [&](float* v)
        {
            if (st.projectIndex > 0 && v[st.projectIndex] != 0.0f)
            {
                const float inv = 1.0f / v[st.projectIndex];
                for (int i = 0; i < st.projectIndex; ++i)
                    v[i] *= inv;
            }
        };
        project(coord);
        if (bumped)
        {
            coord[0] += bumpDu;
            coord[1] += bumpDv;
        }
        float lod = 0.0f;
        const bool useLod = src.HasPlanes() && needLod_[s];
        if (useLod)
        {
            // Screen-space derivatives of the coordinates from the attribute planes: with c = P w and
            // w = 1 / Q, dc/dx = w (dP/dx - c dQ/dx).
            const Plane* planes = reinterpret_cast<const Plane*>(src.arena + src.prim->data);
            const Plane& qp = planes[1];
            auto deriv = [&](int i, float* ddx, float* ddy)
            {
                const int varying = kVaryTex + 4 * s + i;
                const int at = src.active->PlaneAt(varying);
                if (at < 0)
                {
                    *ddx = *ddy = 0.0f;
                    return;
                }
                const float* pl = src.arena + src.prim->data + 6 + at;
                *ddx = Pixel::Derivative(w, pl[4], c[i], qp.b);
                *ddy = Pixel::Derivative(w, pl[8], c[i], qp.c);
            };
            float ux, uy, vx, vy;
            deriv(0, &ux, &uy);
            deriv(1, &vx, &vy);
            const int k = st.projectIndex;
            if (k > 0 && c[k] != 0.0f)
            {
                // Quotient rule for the projected coordinates.
                float kx, ky;
                deriv(k, &kx, &ky);
                const float inv = 1.0f / c[k];
                const float p0 = c[0] * inv, p1 = c[1] * inv;
                ux = (ux - p0 * kx) * inv;
                uy = (uy - p0 * ky) * inv;
                vx = (vx - p1 * kx) * inv;
                vy = (vy - p1 * ky) * inv;
            }
            if (fast_[s].enabled)
                SampleFastTexture(st, fast_[s], coord[0], coord[1], ux, vx, uy, vy, true, tex);
            else
                lod = TextureLod(st, ux, vx, uy, vy);
        }
        if (!useLod && fast_[s].enabled)
            SampleFastTexture(st, fast_[s], coord[0], coord[1], 0, 0, 0, 0, false, tex);
        else if (!fast_[s].enabled)
            SampleTexture(st, coord, lod, useLod, tex);
        if (lumBumped)
        {
            for (int i = 0; i < 3; ++i)
                tex[i] = Pixel::Sat(tex[i] * bumpLum);
        }
        texture[s] = {{tex[0], tex[1], tex[2], tex[3]}};
        bumped = lumBumped = false;
        if (st.colorOp == D3DTOP_BUMPENVMAP || st.colorOp == D3DTOP_BUMPENVMAPLUMINANCE)
        {
            // The bump map's (du, dv) through the stage's matrix offsets the next stage's coordinates.
            bumpDu = st.bumpMat[0] * tex[0] + st.bumpMat[2] * tex[1];
            bumpDv = st.bumpMat[1] * tex[0] + st.bumpMat[3] * tex[1];
            bumped = true;
            if (st.colorOp == D3DTOP_BUMPENVMAPLUMINANCE)
            {
                bumpLum = Pixel::Sat(tex[2] * st.bumpScale + st.bumpOffset);
                lumBumped = true;
            }
        }
    }

    const Color1 stages = Pixel::CombineStages(px_, diffuse, specular, [&](int s) { return texture[s]; });
    float f = 1.0f;
    if (px_.fog)
    {
        if (px_.fogTableMode != D3DFOG_NONE)
        {
            float d;
            if (px_.fogUsesW)
                d = w;
            else
            {
                // Depth in [0, 1] interpolated like the depth buffer's.
                d = src.prim->kind == PrimKind::Triangle
                        ? reinterpret_cast<const Plane*>(src.arena + src.prim->data)[0].At(
                              static_cast<float>(x) - src.prim->x0, static_cast<float>(y) - src.prim->y0)
                        : src.arena[src.prim->data + 2];
            }
            f = FogFactorForPixel(px_.fogTableMode, d, px_.fogStart, px_.fogEnd, px_.fogDensity);
        }
        else
            f = Pixel::Sat(vary[kVaryFog]);
    }
    const Color1 out = Pixel::SpecularAndFog(px_, stages, specular, f);
    std::memcpy(color, out.c, sizeof out.c);
}

void PixelPipeline::Write(int x, int y, const float color[4])
{
    uint8_t* p = target_->Row(y) + static_cast<size_t>(x) * targetBpp_;
    const BlendConfig& b = px_.blend;
    Color1 c;
    for (int ch = 0; ch < 4; ++ch)
        c.c[ch] = Pixel::Sat(color[ch]);
    uint32_t old = 0;
    const bool needOld = b.enable || b.writeMask != 0xf;
    if (needOld)
    {
        if (targetFormat_ == D3DFMT_A8R8G8B8)
            old = Load32(p);
        else if (targetFormat_ == D3DFMT_X8R8G8B8)
            old = Load32(p) | 0xff000000u;
        else
            old = ReadArgb(targetFormat_, p);
    }
    if (b.enable) c = Pixel::Blend(b, c, Pixel::Unpack(old, false));
    uint32_t argb = Pixel::Pack(c);
    if (b.writeMask != 0xf) argb = Pixel::Mask(argb, old, KeptBits(b.writeMask));
    if (targetFormat_ == D3DFMT_A8R8G8B8 || targetFormat_ == D3DFMT_X8R8G8B8)
        std::memcpy(p, &argb, 4);
    else
        WriteArgb(targetFormat_, p, argb);
}
} // namespace ferolt::d3d9
