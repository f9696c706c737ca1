// The pixel loop for the common state: triangles shaded four neighbouring pixels at a time, one pixel per
// SSE lane. It covers 32-bit targets and textures (wrap or clamp, one bilinear or point sample at a point
// mip level), stages that select, modulate or add the diffuse, current, texture, factor and specular
// colours (or no stage at all: the diffuse colour alone), specular add, vertex fog and the blend factors
// without a sampled alpha test. Every lane computes
// what the general path computes for its pixel, in the same order, so the bytes match it exactly; draws
// outside this set take the general path.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
#if FEROLT_D3D9_SSE
using Pixel4 = PixelRules<SseLanes>;
using Color4 = Color<SseLanes>;
struct Quad : Color4
{
};

namespace
{
inline __m128 Splat(float v)
{
    return _mm_set1_ps(v);
}

bool SimpleOp(DWORD op)
{
    return op == D3DTOP_SELECTARG1 || op == D3DTOP_SELECTARG2 || op == D3DTOP_MODULATE ||
           op == D3DTOP_MODULATE2X || op == D3DTOP_MODULATE4X || op == D3DTOP_ADD;
}

bool SimpleArg(DWORD a)
{
    if (a & ~D3DTA_SELECTMASK) return false;
    return a == D3DTA_DIFFUSE || a == D3DTA_CURRENT || a == D3DTA_TEXTURE || a == D3DTA_TFACTOR ||
           a == D3DTA_SPECULAR;
}

bool SimpleBlendFactor(DWORD f)
{
    return f >= D3DBLEND_ZERO && f <= D3DBLEND_INVBLENDFACTOR && f != D3DBLEND_BOTHSRCALPHA &&
           f != D3DBLEND_BOTHINVSRCALPHA;
}

// floor of doubles below 2^31 in magnitude, exactly.
inline __m128d Floor(__m128d x)
{
    const __m128d t = _mm_cvtepi32_pd(_mm_cvttpd_epi32(x));
    return _mm_sub_pd(t, _mm_and_pd(_mm_cmpgt_pd(t, x), _mm_set1_pd(1.0)));
}

// Integer division rounding down and up; d > 0.
inline int64_t FloorDiv(int64_t n, int64_t d)
{
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}
inline int64_t CeilDiv(int64_t n, int64_t d)
{
    return -FloorDiv(-n, d);
}

inline int AddressLane(DWORD mode, int i, int n)
{
    if (mode == D3DTADDRESS_CLAMP) return i < 0 ? 0 : (i >= n ? n - 1 : i);
    return i & (n - 1); // wrap on a power-of-two size
}
} // namespace

bool PixelPipeline::PrepareQuads()
{
    const PixelConfig& px = px_;
    if (targetFormat_ != D3DFMT_A8R8G8B8 && targetFormat_ != D3DFMT_X8R8G8B8) return false;
    if (px.alphaTest || px.depth.stencil) return false;
    if (px.fog && px.fogTableMode != D3DFOG_NONE) return false;
    for (int s = 0; s < px.stageCount; ++s)
    {
        const StageConfig& st = px.stages[s];
        if (st.resultTemp || !SimpleOp(st.colorOp)) return false;
        if (st.alphaOp != D3DTOP_DISABLE && !SimpleOp(st.alphaOp)) return false;
        for (int a = 1; a <= 2; ++a)
            if (!SimpleArg(st.colorArg[a]) || !SimpleArg(st.alphaArg[a])) return false;
        if (st.cube) return false;
        if (!st.texture) continue;
        const FastTexture& t = fast_[s];
        const SamplerConfig& smp = st.sampler;
        if (!t.enabled || st.projectIndex >= 0 || smp.minFilter != smp.magFilter) return false;
        if (smp.mipFilter == D3DTEXF_LINEAR && t.levels > 1) return false;
        for (DWORD mode : {smp.addressU, smp.addressV})
            if (mode != D3DTADDRESS_WRAP && mode != D3DTADDRESS_CLAMP) return false;
        for (UINT i = 0; i < t.levels; ++i)
        {
            const int w = t.level[i]->Width(), h = t.level[i]->Height();
            if ((w & (w - 1)) || (h & (h - 1))) return false;
        }
    }
    const BlendConfig& b = px.blend;
    if (b.enable)
    {
        if (!SimpleBlendFactor(b.src) || !SimpleBlendFactor(b.dst)) return false;
        if (b.separateAlpha && (!SimpleBlendFactor(b.srcAlpha) || !SimpleBlendFactor(b.dstAlpha)))
            return false;
    }
    // The eight-wide loop quantises depth through 32-bit lanes and selects levels without a logarithm.
    bool avx2 = PixelAvx2Enabled() && (!depthActive_ || px.depth.depthMax < 0x80000000u);
    for (int s = 0; s < px.stageCount; ++s)
        if (needLod_[s] && px.stages[s].sampler.lodBias != 0.0f) avx2 = false;
    if (avx2)
    {
        // Waiting pixels carry the coordinates of one textured stage.
        int textured = 0;
        laneStage_ = -1;
        for (int s = 0; s < px.stageCount; ++s)
            if (px.stages[s].texture) ++textured, laneStage_ = s;
        if (textured > 1) laneStage_ = -2;
        // One stage, colour = texture x diffuse in either order (the product is the same), alpha from the
        // diffuse colour, the texture or their product: 0, 1, 2 as span_avx2.cpp's ModulateAlpha counts.
        const StageConfig& st = px.stages[0];
        auto diffuse = [](DWORD a) { return a == D3DTA_DIFFUSE || a == D3DTA_CURRENT; };
        auto pair = [&](const DWORD* args) {
            return (args[1] == D3DTA_TEXTURE && diffuse(args[2])) ||
                   (diffuse(args[1]) && args[2] == D3DTA_TEXTURE);
        };
        if (px.stageCount == 1 && st.texture && st.colorOp == D3DTOP_MODULATE && pair(st.colorArg))
        {
            const DWORD op = st.alphaOp;
            const DWORD picked = op == D3DTOP_SELECTARG1 ? st.alphaArg[1] : st.alphaArg[2];
            if (op == D3DTOP_DISABLE ||
                ((op == D3DTOP_SELECTARG1 || op == D3DTOP_SELECTARG2) && diffuse(picked)))
                modulateAlpha_ = 0;
            else if ((op == D3DTOP_SELECTARG1 || op == D3DTOP_SELECTARG2) && picked == D3DTA_TEXTURE)
                modulateAlpha_ = 1;
            else if (op == D3DTOP_MODULATE && pair(st.alphaArg))
                modulateAlpha_ = 2;
        }
        std::memset(laneData_, 0, sizeof(laneData_));
        std::memset(lanePixel_, 0, sizeof(lanePixel_));
        SelectAvx2Loop();
    }
    return true;
}

// Samples stage s at four pixels. Returns false when a coordinate is too large for the exact integer
// path; the caller then samples those pixels one by one.
bool PixelPipeline::SampleQuad(int s, __m128 u, __m128 v, const int level[4], Quad* out) const
{
    const StageConfig& st = px_.stages[s];
    const FastTexture& t = fast_[s];
    const SamplerConfig& smp = st.sampler;
    const Surface* surf[4];
    double wd[4], hd[4];
    const uint8_t* bits[4];
    size_t pitch[4];
    int wi[4], hi[4];
    for (int i = 0; i < 4; ++i)
    {
        surf[i] = t.level[level[i]];
        wi[i] = surf[i]->Width();
        hi[i] = surf[i]->Height();
        wd[i] = wi[i];
        hd[i] = hi[i];
        bits[i] = surf[i]->Bits();
        pitch[i] = surf[i]->Pitch();
    }
    const bool linear = smp.magFilter == D3DTEXF_LINEAR;
    __m128d x[2], y[2];
    x[0] = _mm_mul_pd(_mm_cvtps_pd(u), _mm_setr_pd(wd[0], wd[1]));
    x[1] = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(u, u)), _mm_setr_pd(wd[2], wd[3]));
    y[0] = _mm_mul_pd(_mm_cvtps_pd(v), _mm_setr_pd(hd[0], hd[1]));
    y[1] = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), _mm_setr_pd(hd[2], hd[3]));
    // In range (this also rules out NaN): |value| < 2^30.
    const __m128d limit = _mm_set1_pd(1073741824.0);
    const __m128d sign = _mm_set1_pd(-0.0);
    int ok = 3;
    for (int k = 0; k < 2; ++k)
        ok &= _mm_movemask_pd(_mm_cmplt_pd(_mm_andnot_pd(sign, x[k]), limit)) &
              _mm_movemask_pd(_mm_cmplt_pd(_mm_andnot_pd(sign, y[k]), limit));
    if (ok != 3) return false;
    if (linear)
        for (int k = 0; k < 2; ++k)
        {
            x[k] = _mm_sub_pd(x[k], _mm_set1_pd(0.5));
            y[k] = _mm_sub_pd(y[k], _mm_set1_pd(0.5));
        }
    __m128d fx0[2], fy0[2];
    for (int k = 0; k < 2; ++k)
    {
        fx0[k] = Floor(x[k]);
        fy0[k] = Floor(y[k]);
    }
    alignas(16) int ix[4], iy[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(ix),
                    _mm_unpacklo_epi64(_mm_cvttpd_epi32(fx0[0]), _mm_cvttpd_epi32(fx0[1])));
    _mm_store_si128(reinterpret_cast<__m128i*>(iy),
                    _mm_unpacklo_epi64(_mm_cvttpd_epi32(fy0[0]), _mm_cvttpd_epi32(fy0[1])));
    const bool opaque = surf[0]->Desc().Format == D3DFMT_X8R8G8B8;
    const DWORD au = smp.addressU, av = smp.addressV;
    auto unpack = [&](__m128i texels, Quad* q) { *static_cast<Color4*>(q) = Pixel4::Unpack(texels, opaque); };
    auto load = [](const uint8_t* row, int x) -> int
    {
        uint32_t c;
        std::memcpy(&c, row + static_cast<size_t>(x) * 4, 4);
        return static_cast<int>(c);
    };
    // The addressed rows and columns of each lane, worked out once for its two or four texels. The
    // texels go straight into registers: storing them one by one and loading four at once stalls.
    struct Texels
    {
        int t00, t10, t01, t11;
    };
    auto lane = [&](int i) -> Texels
    {
        const int x0 = AddressLane(au, ix[i], wi[i]);
        const uint8_t* r0 = bits[i] + pitch[i] * static_cast<size_t>(AddressLane(av, iy[i], hi[i]));
        if (!linear) return {load(r0, x0), 0, 0, 0};
        const int x1 = AddressLane(au, ix[i] + 1, wi[i]);
        const uint8_t* r1 = bits[i] + pitch[i] * static_cast<size_t>(AddressLane(av, iy[i] + 1, hi[i]));
        return {load(r0, x0), load(r0, x1), load(r1, x0), load(r1, x1)};
    };
    const Texels l0 = lane(0), l1 = lane(1), l2 = lane(2), l3 = lane(3);
    if (!linear)
    {
        unpack(_mm_setr_epi32(l0.t00, l1.t00, l2.t00, l3.t00), out);
        return true;
    }
    const __m128 fx =
        _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(x[0], fx0[0])), _mm_cvtpd_ps(_mm_sub_pd(x[1], fx0[1])));
    const __m128 fy =
        _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(y[0], fy0[0])), _mm_cvtpd_ps(_mm_sub_pd(y[1], fy0[1])));
    Quad q00, q10, q01, q11;
    unpack(_mm_setr_epi32(l0.t00, l1.t00, l2.t00, l3.t00), &q00);
    unpack(_mm_setr_epi32(l0.t10, l1.t10, l2.t10, l3.t10), &q10);
    unpack(_mm_setr_epi32(l0.t01, l1.t01, l2.t01, l3.t01), &q01);
    unpack(_mm_setr_epi32(l0.t11, l1.t11, l2.t11, l3.t11), &q11);
    for (int ch = 0; ch < 4; ++ch)
        out->c[ch] = Pixel4::Bilinear(q00.c[ch], q10.c[ch], q01.c[ch], q11.c[ch], fx, fy);
    return true;
}

void PixelPipeline::Quads4(const SetupPrim& p, const float* arena, const VaryingSet& active, int xs, int xe,
                           int ys, int ye)
{
    const float* d = arena + p.data;
    const Plane* planes = reinterpret_cast<const Plane*>(d);
    const Plane& zp = planes[0];
    const Plane& qp = planes[1];
    const float* groups = d + 6;
    const float* flat = p.flat ? d + 6 + active.Floats() : nullptr;
    const EdgeSet ed = Edges(p, arena);
    // Where the plane (a, b, c at a stride of four) of each varying is; null when it is not kept.
    const float* planeOf[kMaxVary];
    for (int i = 0; i < kMaxVary; ++i)
    {
        const int at = active.PlaneAt(i);
        planeOf[i] = at < 0 ? nullptr : groups + at;
    }
    auto plane = [&](int varying, float* a, float* b, float* c) -> bool
    {
        const float* at = planeOf[varying];
        if (!at) return false;
        *a = at[0];
        *b = at[4];
        *c = at[8];
        return true;
    };
    const PixelConfig& px = px_;
    const BlendConfig& blend = px.blend;
    const bool needOld = blend.enable || blend.writeMask != 0xf;
    const bool srcAlphaBlend = blend.src == D3DBLEND_SRCALPHA && blend.dst == D3DBLEND_INVSRCALPHA &&
                               blend.op == D3DBLENDOP_ADD && !blend.separateAlpha;
    const uint32_t keep = KeptBits(blend.writeMask);
    const uint32_t oldOr = targetFormat_ == D3DFMT_X8R8G8B8 ? 0xff000000u : 0u;

    for (int y = ys; y <= ye; ++y)
    {
        // The covered pixels of a row are one run: where all three edge functions are >= 0, found
        // exactly from their integer values instead of testing every pixel.
        int64_t left = xs, right = xe;
        for (int e = 0; e < 3; ++e)
        {
            const int64_t a = ed.a[e], rowValue = ed.b[e] * y + ed.c[e];
            if (a > 0)
                left = std::max(left, CeilDiv(-rowValue, a));
            else if (a < 0)
                right = std::min(right, FloorDiv(rowValue, -a));
            else if (rowValue < 0)
                right = left - 1;
        }
        if (left > right) continue;
        const int rl = static_cast<int>(left), rr = static_cast<int>(right);
        const float dyf = static_cast<float>(y) - p.y0;
        uint8_t* row = target_->Row(y);
        const bool rowDepth = depthActive_ && y < depthHeight_;
        // Quads stay aligned to xs, so the pixels (and bytes) do not depend on the run's ends.
        for (int x = xs + (rl - xs) / 4 * 4; x <= rr; x += 4)
        {
            int mask = 0;
            for (int i = 0; i < 4; ++i)
                mask |= (x + i >= rl && x + i <= rr) << i;
            if (rowDepth)
                for (int i = 0; i < 4; ++i)
                {
                    const int xx = x + i;
                    if (!(mask & (1 << i)) || static_cast<size_t>(xx) >= depthWidth_) continue;
                    // The depth test, pixel by pixel as the general path does it.
                    float z = zp.At(static_cast<float>(xx) - p.x0, dyf) + p.depthOffset;
                    z = z < 0.0f ? 0.0f : (z > 1.0f ? 1.0f : z);
                    if (!DepthStencil(static_cast<size_t>(y) * depthWidth_ + xx,
                                      QuantizeDepth(z, px.depth.depthMax)))
                        mask &= ~(1 << i);
                }
            if (!mask) continue;

            const __m128 dx = _mm_sub_ps(_mm_setr_ps(static_cast<float>(x), static_cast<float>(x + 1),
                                                     static_cast<float>(x + 2), static_cast<float>(x + 3)),
                                         Splat(p.x0));
            const __m128 dy = Splat(dyf);
            const __m128 w = Pixel4::W(Pixel4::PlaneAt(Splat(qp.a), Splat(qp.b), Splat(qp.c), dx, dy));
            auto eval = [&](int varying) -> __m128
            {
                const float* at = planeOf[varying];
                if (!at) return _mm_setzero_ps();
                return _mm_mul_ps(Pixel4::PlaneAt(at, dx, dy), w);
            };

            Color4 diffuse, specular;
            for (int ch = 0; ch < 4; ++ch)
            {
                diffuse.c[ch] = Pixel4::Sat(flat ? Splat(flat[kVaryDiffuse + ch]) : eval(kVaryDiffuse + ch));
                specular.c[ch] =
                    Pixel4::Sat(flat ? Splat(flat[kVarySpecular + ch]) : eval(kVarySpecular + ch));
            }

            Quad tex[kMaxStages];
            for (int s = 0; s < px.stageCount; ++s)
            {
                const StageConfig& st = px.stages[s];
                if (!st.texture)
                {
                    for (auto& c : tex[s].c)
                        c = Splat(1.0f);
                    continue;
                }
                const int tc = kVaryTex + 4 * s;
                const __m128 u = eval(tc), v = eval(tc + 1);
                const FastTexture& t = fast_[s];
                int level[4] = {static_cast<int>(t.base), static_cast<int>(t.base), static_cast<int>(t.base),
                                static_cast<int>(t.base)};
                if (needLod_[s] && st.sampler.mipFilter == D3DTEXF_POINT && t.levels > 1)
                {
                    // dc/dx = w (dP/dx - c dQ/dx), as the general path takes it.
                    float ua = 0, ub = 0, uc = 0, va = 0, vb = 0, vc = 0;
                    plane(tc, &ua, &ub, &uc);
                    plane(tc + 1, &va, &vb, &vc);
                    const __m128 qb = Splat(qp.b), qc = Splat(qp.c);
                    const __m128 ux = Pixel4::Derivative(w, Splat(ub), u, qb),
                                 uy = Pixel4::Derivative(w, Splat(uc), u, qc);
                    const __m128 vx = Pixel4::Derivative(w, Splat(vb), v, qb),
                                 vy = Pixel4::Derivative(w, Splat(vc), v, qc);
                    const __m128 rho2 = Pixel4::Rho2(ux, vx, uy, vy, t.width, t.height);
                    const int maxSteps = static_cast<int>(t.levels - 1 - t.base);
                    if (st.sampler.lodBias == 0.0f)
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(level),
                                         Pixel4::PointMipLevel(rho2, static_cast<int>(t.base), maxSteps));
                    else
                    {
                        alignas(16) float rho2s[4];
                        _mm_store_ps(rho2s, rho2);
                        for (int i = 0; i < 4; ++i)
                        {
                            if (!(mask & (1 << i)) || !(rho2s[i] > 0.0f)) continue;
                            const float lod = 0.5f * std::log2(rho2s[i]) + st.sampler.lodBias;
                            if (lod <= 0.0f) continue;
                            const UINT li = t.base + static_cast<UINT>(std::floor(
                                                         std::min(lod, static_cast<float>(maxSteps)) + 0.5f));
                            level[i] = static_cast<int>(std::min(li, t.levels - 1));
                        }
                    }
                }
                if (!SampleQuad(s, u, v, level, &tex[s]))
                {
                    // Pixel by pixel through the general sampler.
                    alignas(16) float us[4], vs[4], texel[4][4];
                    _mm_store_ps(us, u);
                    _mm_store_ps(vs, v);
                    for (int i = 0; i < 4; ++i)
                        Sample2DLevel(st, *t.level[level[i]], us[i], vs[i], texel[i]);
                    for (int ch = 0; ch < 4; ++ch)
                        tex[s].c[ch] = _mm_setr_ps(texel[0][ch], texel[1][ch], texel[2][ch], texel[3][ch]);
                }
            }

            const Color4 stages =
                Pixel4::CombineStages(px, diffuse, specular, [&](int s) -> Color4 { return tex[s]; });
            Color4 color = Pixel4::SpecularAndFog(px, stages, specular,
                                                  px.fog ? Pixel4::Sat(eval(kVaryFog)) : Splat(1.0f));

            // Blend and write.
            for (auto& c : color.c)
                c = Pixel4::Sat(c);
            uint32_t* out = reinterpret_cast<uint32_t*>(row) + x;
            // Four covered pixels are read and written as one; otherwise pixel by pixel.
            const bool whole = mask == 0xf;
            __m128i oldv = _mm_setzero_si128();
            uint32_t old[4] = {0, 0, 0, 0};
            if (needOld)
            {
                if (whole)
                    oldv = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(out)),
                                        _mm_set1_epi32(static_cast<int>(oldOr)));
                else
                {
                    for (int i = 0; i < 4; ++i)
                        if (mask & (1 << i))
                        {
                            std::memcpy(&old[i], out + i, 4);
                            old[i] |= oldOr;
                        }
                    oldv = _mm_setr_epi32(static_cast<int>(old[0]), static_cast<int>(old[1]),
                                          static_cast<int>(old[2]), static_cast<int>(old[3]));
                }
            }
            if (blend.enable)
            {
                const Color4 dst = Pixel4::Unpack(oldv, false);
                color = srcAlphaBlend ? Pixel4::BlendOver(color, dst) : Pixel4::Blend(blend, color, dst);
            }
            const __m128i argb = Pixel4::Mask(Pixel4::Pack(color), oldv, keep);
            if (whole)
            {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), argb);
                continue;
            }
            alignas(16) uint32_t px4[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(px4), argb);
            for (int i = 0; i < 4; ++i)
                if (mask & (1 << i)) std::memcpy(out + i, &px4[i], 4);
        }
    }
}
#else
bool PixelPipeline::PrepareQuads()
{
    return false;
}
void PixelPipeline::Quads4(const SetupPrim&, const float*, const VaryingSet&, int, int, int, int) {}
#endif
} // namespace ferolt::d3d9
