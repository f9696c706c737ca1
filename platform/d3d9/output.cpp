// The per-pixel pipeline: depth and stencil tests, texture coordinates and sampling, the texture stages,
// specular add, fog, alpha test, blending and the colour write mask.
#include <cmath>
#include <cstring>

#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
template <class T>
bool Compare(DWORD func, T value, T reference)
{
    switch (func)
    {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return value < reference;
    case D3DCMP_EQUAL: return value == reference;
    case D3DCMP_LESSEQUAL: return value <= reference;
    case D3DCMP_GREATER: return value > reference;
    case D3DCMP_NOTEQUAL: return value != reference;
    case D3DCMP_GREATEREQUAL: return value >= reference;
    default: return true;
    }
}

uint32_t StencilOp(DWORD op, uint32_t s, uint32_t ref, uint32_t max)
{
    switch (op)
    {
    case D3DSTENCILOP_ZERO: return 0;
    case D3DSTENCILOP_REPLACE: return ref & max;
    case D3DSTENCILOP_INCRSAT: return s < max ? s + 1 : max;
    case D3DSTENCILOP_DECRSAT: return s > 0 ? s - 1 : 0;
    case D3DSTENCILOP_INVERT: return ~s & max;
    case D3DSTENCILOP_INCR: return (s + 1) & max;
    case D3DSTENCILOP_DECR: return (s - 1) & max;
    default: return s;
    }
}

inline float Sat(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

inline uint32_t ToByte(float v)
{
    return static_cast<uint32_t>(Sat(v) * 255.0f + 0.5f);
}

void BlendFactor(DWORD f, const float src[4], const float dst[4], const float constant[4], float out[4])
{
    for (int i = 0; i < 4; ++i)
    {
        float v;
        switch (f)
        {
        case D3DBLEND_ZERO: v = 0; break;
        case D3DBLEND_ONE: v = 1; break;
        case D3DBLEND_SRCCOLOR: v = src[i]; break;
        case D3DBLEND_INVSRCCOLOR: v = 1 - src[i]; break;
        case D3DBLEND_SRCALPHA:
        case D3DBLEND_BOTHSRCALPHA: v = src[3]; break;
        case D3DBLEND_INVSRCALPHA:
        case D3DBLEND_BOTHINVSRCALPHA: v = 1 - src[3]; break;
        case D3DBLEND_DESTALPHA: v = dst[3]; break;
        case D3DBLEND_INVDESTALPHA: v = 1 - dst[3]; break;
        case D3DBLEND_DESTCOLOR: v = dst[i]; break;
        case D3DBLEND_INVDESTCOLOR: v = 1 - dst[i]; break;
        case D3DBLEND_SRCALPHASAT: v = i == 3 ? 1.0f : std::min(src[3], 1 - dst[3]); break;
        case D3DBLEND_BLENDFACTOR: v = constant[i]; break;
        case D3DBLEND_INVBLENDFACTOR: v = 1 - constant[i]; break;
        default: v = 1; break;
        }
        out[i] = v;
    }
}

float BlendOp(DWORD op, float s, float d, float fs, float fd)
{
    switch (op)
    {
    case D3DBLENDOP_SUBTRACT: return s * fs - d * fd;
    case D3DBLENDOP_REVSUBTRACT: return d * fd - s * fs;
    case D3DBLENDOP_MIN: return std::min(s, d);
    case D3DBLENDOP_MAX: return std::max(s, d);
    default: return s * fs + d * fd;
    }
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
}

// Depth and stencil for one pixel; true when the fragment goes on. Updates the planes as the tests and
// operations say.
bool PixelPipeline::DepthStencil(size_t index, uint32_t depth)
{
    const DepthStencilConfig& ds = px_.depth;
    uint32_t* zp = depthPlane_ + index;
    const bool depthPass = !ds.depthTest || Compare(ds.depthFunc, depth, *zp);
    if (ds.stencil)
    {
        uint8_t* sp = stencilPlane_ + index;
        const uint32_t s = *sp;
        const bool stencilPass =
            Compare(ds.stencilFunc, ds.stencilRef & ds.stencilMask, s & ds.stencilMask);
        const DWORD op = !stencilPass ? ds.stencilFail : (!depthPass ? ds.stencilZFail : ds.stencilPass);
        if (op != D3DSTENCILOP_KEEP)
        {
            const uint32_t v = StencilOp(op, s, ds.stencilRef, ds.stencilMax);
            *sp = static_cast<uint8_t>(((s & ~ds.stencilWriteMask) | (v & ds.stencilWriteMask)) & ds.stencilMax);
        }
        if (!stencilPass) return false;
    }
    if (!depthPass) return false;
    if (ds.depthTest && ds.depthWrite) *zp = depth;
    return true;
}

void PixelPipeline::Fragment(int x, int y, float z, const VaryingSource& src)
{
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
    if (!Compare(px_.alphaFunc, ToByte(color[3]), px_.alphaRef)) return;
    if (haveDepth && !DepthStencil(di, depth)) return;
    Write(x, y, color);
}

void PixelPipeline::Shade(int x, int y, const VaryingSource& src, float out[4])
{
    float vary[kMaxVary];
    const float w = src.Eval(x, y, vary);
    StageInputs in;
    for (int i = 0; i < 4; ++i)
    {
        in.diffuse[i] = Sat(vary[kVaryDiffuse + i]);
        in.specular[i] = Sat(vary[kVarySpecular + i]);
    }

    // Texture coordinates, bump offsets and samples, stage by stage.
    float bumpDu = 0, bumpDv = 0, bumpLum = 1;
    bool bumped = false, lumBumped = false;
    float varyX[kMaxVary], varyY[kMaxVary];
    bool neighbours = false;
    for (int s = 0; s < px_.stageCount; ++s)
    {
        const StageConfig& st = px_.stages[s];
        float* tex = in.texture[s];
        if (!st.texture && !st.cube)
        {
            tex[0] = tex[1] = tex[2] = tex[3] = 1.0f;
            bumped = lumBumped = false;
            continue;
        }
        const float* c = vary + kVaryTex + 4 * s;
        float coord[4] = {c[0], c[1], c[2], c[3]};
        auto project = [&](float* v) {
            if (st.projectIndex > 0 && v[st.projectIndex] != 0.0f)
            {
                const float inv = 1.0f / v[st.projectIndex];
                for (int i = 0; i < st.projectIndex; ++i) v[i] *= inv;
            }
        };
        project(coord);
        if (bumped)
        {
            coord[0] += bumpDu;
            coord[1] += bumpDv;
        }
        float lod = 0.0f;
        const bool useLod = src.HasPlanes() && StageNeedsLod(st);
        if (useLod)
        {
            if (!neighbours)
            {
                src.Eval(x + 1, y, varyX);
                src.Eval(x, y + 1, varyY);
                neighbours = true;
            }
            float cx[4], cy[4];
            std::memcpy(cx, varyX + kVaryTex + 4 * s, sizeof(cx));
            std::memcpy(cy, varyY + kVaryTex + 4 * s, sizeof(cy));
            project(cx);
            project(cy);
            const float c0 = c[0], c1 = c[1];
            float p0 = c0, p1 = c1;
            if (st.projectIndex > 0 && c[st.projectIndex] != 0.0f)
            {
                p0 = c0 / c[st.projectIndex];
                p1 = c1 / c[st.projectIndex];
            }
            lod = TextureLod(st, cx[0] - p0, cx[1] - p1, cy[0] - p0, cy[1] - p1);
        }
        SampleTexture(st, coord, lod, useLod, tex);
        if (lumBumped)
        {
            for (int i = 0; i < 3; ++i) tex[i] = Sat(tex[i] * bumpLum);
        }
        bumped = lumBumped = false;
        if (st.colorOp == D3DTOP_BUMPENVMAP || st.colorOp == D3DTOP_BUMPENVMAPLUMINANCE)
        {
            // The bump map's (du, dv) through the stage's matrix offsets the next stage's coordinates.
            bumpDu = st.bumpMat[0] * tex[0] + st.bumpMat[2] * tex[1];
            bumpDv = st.bumpMat[1] * tex[0] + st.bumpMat[3] * tex[1];
            bumped = true;
            if (st.colorOp == D3DTOP_BUMPENVMAPLUMINANCE)
            {
                bumpLum = Sat(tex[2] * st.bumpScale + st.bumpOffset);
                lumBumped = true;
            }
        }
    }

    CombineStages(px_, in, out);

    if (px_.specularAdd)
        for (int i = 0; i < 3; ++i) out[i] = Sat(out[i] + in.specular[i]);

    if (px_.fog)
    {
        float f;
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
            f = Sat(vary[kVaryFog]);
        for (int i = 0; i < 3; ++i) out[i] = f * out[i] + (1.0f - f) * px_.fogColor[i];
    }
}

void PixelPipeline::Write(int x, int y, const float color[4])
{
    uint8_t* p = target_->Row(y) + static_cast<size_t>(x) * targetBpp_;
    const BlendConfig& b = px_.blend;
    float c[4] = {Sat(color[0]), Sat(color[1]), Sat(color[2]), Sat(color[3])};
    uint32_t old = 0;
    const bool needOld = b.enable || b.writeMask != 0xf;
    if (needOld) old = ReadArgb(targetFormat_, p);
    if (b.enable)
    {
        constexpr float k = 1.0f / 255.0f;
        const float d[4] = {((old >> 16) & 0xff) * k, ((old >> 8) & 0xff) * k, (old & 0xff) * k, (old >> 24) * k};
        float fs[4], fd[4];
        DWORD srcF = b.src, dstF = b.dst;
        if (srcF == D3DBLEND_BOTHSRCALPHA) dstF = D3DBLEND_INVSRCALPHA;
        if (srcF == D3DBLEND_BOTHINVSRCALPHA) dstF = D3DBLEND_SRCALPHA;
        BlendFactor(srcF, c, d, b.factor, fs);
        BlendFactor(dstF, c, d, b.factor, fd);
        float r[4];
        for (int i = 0; i < 3; ++i) r[i] = BlendOp(b.op, c[i], d[i], fs[i], fd[i]);
        if (b.separateAlpha)
        {
            float as[4], ad[4];
            BlendFactor(b.srcAlpha, c, d, b.factor, as);
            BlendFactor(b.dstAlpha, c, d, b.factor, ad);
            r[3] = BlendOp(b.opAlpha, c[3], d[3], as[3], ad[3]);
        }
        else
            r[3] = BlendOp(b.op, c[3], d[3], fs[3], fd[3]);
        for (int i = 0; i < 4; ++i) c[i] = Sat(r[i]);
    }
    uint32_t argb = (ToByte(c[3]) << 24) | (ToByte(c[0]) << 16) | (ToByte(c[1]) << 8) | ToByte(c[2]);
    if (b.writeMask != 0xf)
    {
        uint32_t keep = 0;
        if (!(b.writeMask & D3DCOLORWRITEENABLE_RED)) keep |= 0x00ff0000u;
        if (!(b.writeMask & D3DCOLORWRITEENABLE_GREEN)) keep |= 0x0000ff00u;
        if (!(b.writeMask & D3DCOLORWRITEENABLE_BLUE)) keep |= 0x000000ffu;
        if (!(b.writeMask & D3DCOLORWRITEENABLE_ALPHA)) keep |= 0xff000000u;
        argb = (argb & ~keep) | (old & keep);
    }
    WriteArgb(targetFormat_, p, argb);
}
} // namespace ferolt::d3d9
