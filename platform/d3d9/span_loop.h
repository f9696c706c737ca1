#pragma once
// The pixel loop for the common state, one pixel per lane: a template over the lane type, instantiated with
// four SSE lanes in span.cpp and with eight AVX2 lanes in span_avx2.cpp, which includes this under the AVX2
// target (FEROLT_SPAN_TARGET marks the functions and lambdas that need it). It covers 32-bit targets and
// power-of-two textures (wrap or clamp, one bilinear or point sample at a point mip level), stages that
// select, modulate or add the diffuse, current, texture, factor and specular colours (or no stage at all:
// the diffuse colour alone), specular add, vertex fog and the blend factors without an alpha test
// (PixelPipeline::PrepareQuads decides). Every lane computes what the general path computes for its pixel,
// in the same order, so the bytes match it exactly; where it rounds differently on the way (texel
// coordinates in floats instead of doubles) it says why the result is exact.
//
// A step is a run of N pixels of one row, or for narrow triangles N / 2 pixels of two rows. Without
// blending, the pixels of small triangles pass the depth test at once and then wait until N (from several
// triangles) fill a step; they are written in the order they came, so a later triangle still overwrites an
// earlier one.
//
// Everything here has internal linkage, so the two instantiations never share a copy. The lane type L adds
// to what pixel_lanes.h asks for the memory operations of the loop: gathers, the halves of a step, packing
// covered lanes together, and 64-bit lanes for the edge functions of large triangles.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/raster.h"

#ifndef FEROLT_SPAN_TARGET
#define FEROLT_SPAN_TARGET
#endif
#define FEROLT_SPAN_INLINE FEROLT_SPAN_TARGET __attribute__((always_inline)) inline

namespace ferolt::d3d9
{
namespace
{
// How a draw blends, for the loop chosen for it.
enum BlendKind
{
    kNoBlend,      // no blending and every channel written: the target is not read
    kSrcAlphaOver, // SRCALPHA, INVSRCALPHA, ADD, every channel written
    kAdditive,     // ONE, ONE, ADD, every channel written: the accumulation passes of baked light maps
    kAnyBlend,     // the factor and operation switches, and the write mask
};

// The single modulating stage's alpha (PixelPipeline::modulateAlpha_).
enum ModulateAlpha
{
    kAlphaDiffuse,
    kAlphaTexture,
    kAlphaModulate,
};

// Stands in for the plane of a varying the draw does not keep: it evaluates to +0 as a missing plane does.
alignas(16) constexpr float kZeroPlane[12] = {};

// Pixels of small triangles kept until a step is full: the inputs of each lane by attribute.
constexpr int kLaneDiffuse = 0, kLaneSpecular = 4, kLaneFog = 8, kLaneU = 9, kLaneV = 10, kLaneLevel = 11;
} // namespace

// PixelPipeline's friend. Its instantiations take a lane type with internal linkage, so each file that
// includes this has its own.
template <class L> struct SpanLoop
{
    using V = typename L::V;
    using I = typename L::I;
    using Rules = PixelRules<L>;
    using Px = Color<L>; // red, green, blue, alpha of N pixels
    static constexpr int N = L::N;
    static constexpr int kHalf = N / 2; // lanes of a half step
    static constexpr int kHalfMask = (1 << kHalf) - 1;
    static constexpr int kAllLanes = (1 << N) - 1;

    static V S(float v) { return L::Splat(v); }

    // One level of a 32-bit power-of-two texture.
    struct Level
    {
        const int* texels;
        int w, h;  // its size
        int shift; // log2 of the row length in texels
        float wf, hf;
    };

    FEROLT_SPAN_INLINE static Level LevelOf(const Surface& s)
    {
        Level l;
        l.texels = reinterpret_cast<const int*>(s.Bits());
        l.w = s.Width();
        l.h = s.Height();
        l.shift = __builtin_ctzll(static_cast<unsigned long long>(s.Pitch() / 4)); // a power of two
        l.wf = static_cast<float>(s.Width());
        l.hf = static_cast<float>(s.Height());
        return l;
    }

    // floor(c * size) (point), or floor(c * size - 0.5) and the fraction (linear), with the results of the
    // general sampler's doubles; false when an active lane lies beyond the exact integer range. size is a
    // power of two, so X = c * size is exact in floats, and so are X - floor(X) and the fraction r - 0.5 for
    // r >= 0.5; r + 0.5 and, for X in (-0.5, 0) where 1 + X would round, X + 0.5 round once, as the
    // double's fraction does.
    FEROLT_SPAN_INLINE static bool TexelCoord(V c, float size, bool linear, int mask, I* index, V* frac)
    {
        const V x = L::Mul(c, S(size));
        // |X| < 2^30, which also rules out NaN.
        const V magnitude = L::AndNot(S(-0.0f), x);
        const int ok = L::Mask(L::CmpLt(magnitude, S(1073741824.0f)));
        if ((ok & mask) != mask) return false;
        const V f = L::Floor(x);
        const I fi = L::Truncate(f);
        if (!linear)
        {
            *index = fi;
            return true;
        }
        const V half = S(0.5f);
        const V r = L::Sub(x, f);
        const I hi = L::CmpGe(r, half);
        *index = L::AddI(fi, L::AndNotI(hi, L::SplatI(~0u)));
        const V near = L::And(L::CmpGt(x, S(-0.5f)), L::CmpLt(x, L::Zero()));
        const V fr = L::Blend(L::Add(r, half), L::Sub(r, half), L::AsFloat(hi));
        *frac = L::Blend(fr, L::Add(x, half), near);
        return true;
    }

    FEROLT_SPAN_INLINE static bool SampleLevel(const Level& l, bool linear, DWORD au, DWORD av, bool opaque,
                                               V u, V v, int mask, Px* out)
    {
        I ix, iy;
        V fx = L::Zero(), fy = L::Zero();
        if (!TexelCoord(u, l.wf, linear, mask, &ix, &fx) || !TexelCoord(v, l.hf, linear, mask, &iy, &fy))
            return false;
        const I x0 = Rules::Address(au, ix, l.w);
        const I r0 = L::SllCount(Rules::Address(av, iy, l.h), l.shift);
        if (!linear)
        {
            *out = Rules::Unpack(L::Gather(l.texels, L::AddI(r0, x0)), opaque);
            return true;
        }
        const I one = L::SplatI(1);
        const I x1 = Rules::Address(au, L::AddI(ix, one), l.w);
        const I r1 = L::SllCount(Rules::Address(av, L::AddI(iy, one), l.h), l.shift);
        Px t00, t10, t01, t11;
        if (L::Mask(L::AsFloat(L::CmpEqI(x1, L::AddI(x0, one)))) == kAllLanes)
        {
            // Every lane's two columns are neighbours in memory: one 64-bit load per row and lane.
            I a, b;
            L::GatherPairs(l.texels, L::AddI(r0, x0), &a, &b);
            t00 = Rules::Unpack(a, opaque);
            t10 = Rules::Unpack(b, opaque);
            L::GatherPairs(l.texels, L::AddI(r1, x0), &a, &b);
            t01 = Rules::Unpack(a, opaque);
            t11 = Rules::Unpack(b, opaque);
        }
        else
        {
            t00 = Rules::Unpack(L::Gather(l.texels, L::AddI(r0, x0)), opaque);
            t10 = Rules::Unpack(L::Gather(l.texels, L::AddI(r0, x1)), opaque);
            t01 = Rules::Unpack(L::Gather(l.texels, L::AddI(r1, x0)), opaque);
            t11 = Rules::Unpack(L::Gather(l.texels, L::AddI(r1, x1)), opaque);
        }
        for (int ch = 0; ch < 4; ++ch)
            out->c[ch] = Rules::Bilinear(t00.c[ch], t10.c[ch], t01.c[ch], t11.c[ch], fx, fy);
        return true;
    }

    // Plane of the depth or 1/w broadcast to the lanes.
    struct LanePlane
    {
        V a, b, c;
    };

    FEROLT_SPAN_INLINE static V At(const LanePlane& p, V dx, V dy)
    {
        return Rules::PlaneAt(p.a, p.b, p.c, dx, dy);
    }

    // A varying's plane is read where it is used: most triangles take one step, and sixty broadcasts kept in
    // registers would not fit.
    FEROLT_SPAN_INLINE static V At(const float* plane, V dx, V dy) { return Rules::PlaneAt(plane, dx, dy); }

    // Which lanes of a step lie outside a triangle, from its edge functions. They go in 32-bit lanes when
    // every value they take within the bounds and a step beyond fits: |A|, |B| < 2^20 and |C at the bounds'
    // corner| < 2^26 over fewer than 512 pixels either way stay below 2^31, as for all but large triangles.
    // Others take 64-bit lanes, half a step in each register.
    struct Coverage
    {
        const SetupPrim& p;
        bool lanes32;
        I edge32[3];     // 32 bits: the edge functions of the lanes at the bounds' corner
        EdgeSet ed;      // 64 bits: the edge functions,
        I edgeOff[3][2]; // and the lanes' offsets from the step's first pixel

        FEROLT_SPAN_INLINE Coverage(const SetupPrim& prim, const float* arena, bool narrow, I lxv, I lyv)
            : p(prim)
        {
            // Set-up marks most small triangles as fitting already; the others are checked value by value.
            lanes32 = p.shortEdges;
            if (!lanes32 && !p.wideEdges && p.maxX - p.minX < 512 && p.maxY - p.minY < 512)
            {
                // v in (-bound, bound) as v + bound < 2 bound, unsigned: A and B of the three edges, then C.
                uint32_t outside = 0;
                for (int e = 0; e < 6; ++e)
                    outside |= static_cast<uint32_t>(p.edge[e]) + (1u << 20) >= (2u << 20);
                for (int e = 6; e < 9; ++e)
                    outside |= static_cast<uint32_t>(p.edge[e]) + (1u << 26) >= (2u << 26);
                lanes32 = !outside;
            }
            if (lanes32)
            {
                for (int e = 0; e < 3; ++e)
                    edge32[e] =
                        L::AddI(L::SplatI(static_cast<uint32_t>(p.edge[6 + e])),
                                L::AddI(L::MulloI(L::SplatI(static_cast<uint32_t>(p.edge[e])), lxv),
                                        L::MulloI(L::SplatI(static_cast<uint32_t>(p.edge[3 + e])), lyv)));
                return;
            }
            ed = Edges(p, arena);
            for (int e = 0; e < 3; ++e)
            {
                const int64_t a = ed.a[e];
                edgeOff[e][0] = L::SeqI64(a);
                edgeOff[e][1] = L::AddI64(edgeOff[e][0], L::SplatI64(narrow ? ed.b[e] : kHalf * a));
            }
        }

        // Lanes of the step at (bx, by) outside the triangle, as bits.
        FEROLT_SPAN_INLINE int Outside(int bx, int by) const
        {
            if (lanes32)
            {
                const int32_t ox = bx - p.minX, oy = by - p.minY;
                I neg = L::SplatI(0);
                for (int e = 0; e < 3; ++e)
                    neg = L::OrI(neg, L::AddI(edge32[e], L::SplatI(static_cast<uint32_t>(
                                                             p.edge[e] * ox + p.edge[3 + e] * oy))));
                return L::Mask(L::AsFloat(neg));
            }
            I neg0 = L::SplatI(0), neg1 = L::SplatI(0);
            for (int e = 0; e < 3; ++e)
            {
                const I base = L::SplatI64(ed.a[e] * bx + ed.b[e] * by + ed.c[e]);
                neg0 = L::OrI(neg0, L::AddI64(base, edgeOff[e][0]));
                neg1 = L::OrI(neg1, L::AddI64(base, edgeOff[e][1]));
            }
            return L::MaskI64(neg0) | (L::MaskI64(neg1) << kHalf);
        }
    };

    // A textured stage's coordinate planes and, when it is the same for the whole triangle, its level. Only
    // the textured stages' entries are filled in.
    struct StageTex
    {
        const float* u; // kZeroPlane for a coordinate without a plane
        const float* v;
        bool uKept, vKept;
        bool lod;        // the level follows the derivatives
        bool constLevel; // level holds for every pixel whose coordinates are finite
        int level;
        Level at;
    };

    // Level of each lane from the screen-space derivatives: dc/dx = w (dP/dx - c dQ/dx), as the general path
    // takes them; a coordinate without a plane has none.
    FEROLT_SPAN_INLINE static I LevelFor(const FastTexture& t, const StageTex& st, float lodBias, V w, V u,
                                         V v, const LanePlane& q, int mask)
    {
        const V ux = st.uKept ? Rules::Derivative(w, S(st.u[4]), u, q.b) : L::Zero();
        const V uy = st.uKept ? Rules::Derivative(w, S(st.u[8]), u, q.c) : L::Zero();
        const V vx = st.vKept ? Rules::Derivative(w, S(st.v[4]), v, q.b) : L::Zero();
        const V vy = st.vKept ? Rules::Derivative(w, S(st.v[8]), v, q.c) : L::Zero();
        const V rho2 = Rules::Rho2(ux, vx, uy, vy, t.width, t.height);
        const int base = static_cast<int>(t.base), maxSteps = static_cast<int>(t.levels - 1 - t.base);
        if (lodBias == 0.0f) return Rules::PointMipLevel(rho2, base, maxSteps);
        // With a bias the level follows the logarithm, lane by lane as the general sampler takes it.
        alignas(32) float rho2s[N];
        alignas(32) int32_t level[N];
        L::Store(rho2s, rho2);
        for (int i = 0; i < N; ++i)
        {
            level[i] = base;
            if (!(mask & (1 << i)) || !(rho2s[i] > 0.0f)) continue;
            const float lod = 0.5f * std::log2(rho2s[i]) + lodBias;
            if (lod <= 0.0f) continue;
            const UINT li =
                t.base + static_cast<UINT>(std::floor(std::min(lod, static_cast<float>(maxSteps)) + 0.5f));
            level[i] = static_cast<int>(std::min(li, t.levels - 1));
        }
        return L::LoadI(reinterpret_cast<const uint32_t*>(level));
    }

    // A Gouraud colour or the fog factor of N pixels: the plane's value over 1/w, saturated.
    FEROLT_SPAN_INLINE static V Colour(const float* plane, V dx, V dy, V w)
    {
        return Rules::Sat(L::Mul(At(plane, dx, dy), w));
    }

    // A textured stage's coordinates and level at N pixels; returns the level's description when it is the
    // same for every lane in mask.
    FEROLT_SPAN_INLINE static const Level* Coordinates(const FastTexture& f, const StageTex& t, float lodBias,
                                                       V dx, V dy, V w, const LanePlane& q, int mask, V* u,
                                                       V* v, I* level)
    {
        *u = t.uKept ? L::Mul(At(t.u, dx, dy), w) : L::Zero();
        *v = t.vKept ? L::Mul(At(t.v, dx, dy), w) : L::Zero();
        *level = L::SplatI(static_cast<uint32_t>(t.level));
        bool one = t.constLevel;
        if (one && t.lod)
        {
            // The triangle's level holds where the coordinates are finite.
            const V zero = L::Zero();
            const V finite = L::And(L::CmpEq(L::Sub(*u, *u), zero), L::CmpEq(L::Sub(*v, *v), zero));
            one = (L::Mask(finite) & mask) == mask;
        }
        if (!one && t.lod) *level = LevelFor(f, t, lodBias, w, *u, *v, q, mask);
        return one ? &t.at : nullptr;
    }

    // What the stages read at N pixels: colours, the fog factor, and per textured stage the coordinates and
    // level (with the level's description when it is the same for every lane).
    struct LaneInputs
    {
        Px diffuse, specular;
        V fog;
        V u[kMaxStages], v[kMaxStages];
        I level[kMaxStages];
        const Level* one[kMaxStages];
    };

    // What a triangle's steps read: its planes, and what holds for all its pixels.
    struct Triangle
    {
        LanePlane z, q;
        bool affine; // 1/w is constant: w is the same in every pixel
        V wConst;    // that w
        // PrepareShading sets the rest; Batch reads them only after it, which the compiler cannot always
        // follow.
        const float* diffuse[4] = {};
        const float* specular[4] = {};
        const float* fog = nullptr;
        bool specularKept = false;
        bool colorsConst = false; // colours are the same in every pixel,
        Px diffuseK, specularK;   // these
        StageTex stage[kMaxStages];
    };

    // One step of up to N covered pixels: their lanes, offsets from the plane origin, and w.
    struct Step
    {
        int mask;
        int hx[2], hy[2];  // the first pixel of each half
        size_t depthAt[2]; // and its index in the depth plane (set where the walk takes the depth test)
        V dx, dy, w;
        int bx, by;
    };

    // A step whose box starts at (bx, by): its halves side by side, or one above the other when narrow.
    FEROLT_SPAN_INLINE static Step StepAt(int bx, int by, bool narrow)
    {
        Step st;
        st.bx = bx;
        st.by = by;
        st.hx[0] = bx, st.hx[1] = narrow ? bx : bx + kHalf;
        st.hy[0] = by, st.hy[1] = narrow ? by + 1 : by;
        return st;
    }

    FEROLT_SPAN_INLINE static void SampleAt(const PixelPipeline& pp, int s, V u, V v, I level,
                                            const Level* one, int mask, Px* out)
    {
        const StageConfig& st = pp.px_.stages[s];
        const FastTexture& f = pp.fast_[s];
        const SamplerConfig& smp = st.sampler;
        const bool linear = smp.magFilter == D3DTEXF_LINEAR;
        const bool opaque = f.level[f.base]->Desc().Format == D3DFMT_X8R8G8B8;
        alignas(32) int32_t lv[N];
        L::StoreI(reinterpret_cast<uint32_t*>(lv), level);
        bool exact = true;
        if (one)
            exact = SampleLevel(*one, linear, smp.addressU, smp.addressV, opaque, u, v, mask, out);
        else
        {
            // Lanes on one level go together.
            int left = mask;
            while (left && exact)
            {
                const int first = __builtin_ctz(static_cast<unsigned>(left));
                const int same =
                    L::Mask(L::AsFloat(L::CmpEqI(level, L::SplatI(static_cast<uint32_t>(lv[first]))))) & left;
                Px r;
                exact = SampleLevel(LevelOf(*f.level[lv[first]]), linear, smp.addressU, smp.addressV, opaque,
                                    u, v, same, &r);
                if (same == mask)
                    *out = r;
                else
                {
                    const V sel = L::AsFloat(L::LaneMask(same));
                    for (int ch = 0; ch < 4; ++ch)
                        out->c[ch] = L::Blend(out->c[ch], r.c[ch], sel);
                }
                left &= ~same;
            }
        }
        if (!exact)
        {
            // Pixel by pixel through the general sampler.
            alignas(32) float us[N], vs[N], texel[4][N] = {};
            L::Store(us, u);
            L::Store(vs, v);
            for (int i = 0; i < N; ++i)
                if (mask & (1 << i))
                {
                    float t[4];
                    Sample2DLevel(st, *f.level[lv[i]], us[i], vs[i], t);
                    for (int ch = 0; ch < 4; ++ch)
                        texel[ch][i] = t[ch];
                }
            for (int ch = 0; ch < 4; ++ch)
                out->c[ch] = L::Load(texel[ch]);
        }
    }

    // The stages, specular add and fog; saturated.
    FEROLT_SPAN_INLINE static Px Combine(const PixelPipeline& pp, const LaneInputs& in, int mask)
    {
        const PixelConfig& px = pp.px_;
        const int modulate = pp.modulateAlpha_;
        Px current;
        if (modulate >= 0)
        {
            // One stage modulating texture and diffuse colour. Both are in [0, 1] already, so selecting
            // either alpha needs no saturation.
            Px tex;
            SampleAt(pp, 0, in.u[0], in.v[0], in.level[0], in.one[0], mask, &tex);
            current = in.diffuse;
            for (int ch = 0; ch < 3; ++ch)
                current.c[ch] = Rules::Sat(L::Mul(tex.c[ch], in.diffuse.c[ch]));
            if (modulate == kAlphaTexture)
                current.c[3] = tex.c[3];
            else if (modulate == kAlphaModulate)
                current.c[3] = Rules::Sat(L::Mul(tex.c[3], in.diffuse.c[3]));
        }
        else
            // Each stage samples its texture just before it combines.
            current = Rules::CombineStages(
                px, in.diffuse, in.specular, [&](int s) FEROLT_SPAN_TARGET __attribute__((always_inline)) {
                    Px tex = Rules::Splat(1.0f);
                    if (px.stages[s].texture)
                        SampleAt(pp, s, in.u[s], in.v[s], in.level[s], in.one[s], mask, &tex);
                    return tex;
                });
        Px color = Rules::SpecularAndFog(px, current, in.specular, px.fog ? in.fog : S(1.0f));
        for (auto& c : color.c)
            c = Rules::Sat(c);
        return color;
    }

    // Shades the first `count` (at most N) waiting lanes and writes them in the order they came.
    FEROLT_SPAN_TARGET static void Flush(PixelPipeline& pp, int count)
    {
        const float* data = pp.laneData_;
        auto at = [&](int attribute) { return data + PixelPipeline::kLaneSlots * attribute; };
        LaneInputs in;
        for (int ch = 0; ch < 4; ++ch)
        {
            in.diffuse.c[ch] = L::Load(at(kLaneDiffuse + ch));
            in.specular.c[ch] = L::Load(at(kLaneSpecular + ch));
        }
        in.fog = L::Load(at(kLaneFog));
        const int s = pp.laneStage_;
        if (s >= 0)
        {
            in.u[s] = L::Load(at(kLaneU));
            in.v[s] = L::Load(at(kLaneV));
            in.level[s] = L::AsInt(L::Load(at(kLaneLevel)));
            in.one[s] = nullptr;
        }
        const int mask = (1 << count) - 1;
        const Px color = Combine(pp, in, mask);
        alignas(32) uint32_t argb[N];
        L::StoreI(argb, Rules::Pack(color));
        uint32_t* target = reinterpret_cast<uint32_t*>(pp.target_->Bits());
        for (int i = 0; i < count; ++i)
            target[pp.lanePixel_[i]] = argb[i];
    }

    // Per triangle: what the walk and the depth test read, the depth and 1/w planes.
    FEROLT_SPAN_INLINE static void PrepareDepth(const SetupPrim& p, const float* arena, Triangle* t)
    {
        const Plane* planes = reinterpret_cast<const Plane*>(arena + p.data);
        const Plane& qp = planes[1];
        t->z = {S(planes[0].a), S(planes[0].b), S(planes[0].c)};
        t->q = {S(qp.a), S(qp.b), S(qp.c)};
        // With a constant 1/w plane, w is the same in every pixel: 1 / (a + 0 dx + 0 dy) is 1 / a.
        t->affine = qp.b == 0.0f && qp.c == 0.0f;
        t->wConst = S(t->affine && qp.a != 0.0f ? 1.0f / qp.a : 0.0f);
    }

    template <bool kDense>
    FEROLT_SPAN_INLINE static void PrepareTriangle(const PixelPipeline& pp, const SetupPrim& p,
                                                   const float* arena, int onlyStage, Triangle* t)
    {
        PrepareDepth(p, arena, t);
        PrepareShading<kDense>(pp, p, arena, onlyStage, t);
    }

    // Per triangle, after PrepareDepth: the colour planes, constant colours and levels. Only stage
    // `onlyStage` is prepared when it is not -1. kDense: every plane read is there
    // (PixelPipeline::LanePlan::dense), so offsets need no check.
    template <bool kDense>
    FEROLT_SPAN_INLINE static void PrepareShading(const PixelPipeline& pp, const SetupPrim& p,
                                                  const float* arena, int onlyStage, Triangle* t)
    {
        const PixelConfig& px = pp.px_;
        const PixelPipeline::LanePlan& plan = pp.plan_;
        const float* d = arena + p.data;
        const float* groups = d + 6;
        const float* flat = p.flat ? d + plan.flatAt : nullptr;
        auto planeAt = [&](int at) -> const float* { return kDense || at >= 0 ? groups + at : kZeroPlane; };
        for (int ch = 0; ch < 4; ++ch)
        {
            t->diffuse[ch] = planeAt(plan.diffuse[ch]);
            t->specular[ch] = plan.specularKept ? planeAt(plan.specular[ch]) : kZeroPlane;
        }
        t->fog = px.fog ? planeAt(plan.fog) : kZeroPlane;
        t->specularKept = flat || plan.specularKept;
        // Flat colours, and Gouraud colours that do not change across a triangle with a constant w, are the
        // same in every pixel: (a + 0 dx) + 0 dy is a up to the sign of a zero, which saturation removes.
        t->colorsConst = flat != nullptr;
        if (!flat && t->affine)
        {
            t->colorsConst = true;
            for (int ch = 0; ch < 4; ++ch)
                for (const float* at : {t->diffuse[ch], t->specular[ch]})
                    if (at[4] != 0.0f || at[8] != 0.0f) t->colorsConst = false;
        }
        if (t->colorsConst)
            for (int ch = 0; ch < 4; ++ch)
            {
                t->diffuseK.c[ch] =
                    Rules::Sat(flat ? S(flat[kVaryDiffuse + ch]) : L::Mul(S(t->diffuse[ch][0]), t->wConst));
                t->specularK.c[ch] = !t->specularKept
                                         ? L::Zero()
                                         : Rules::Sat(flat ? S(flat[kVarySpecular + ch])
                                                           : L::Mul(S(t->specular[ch][0]), t->wConst));
            }

        auto prepare = [&](int s) FEROLT_SPAN_TARGET __attribute__((always_inline))
        {
            StageTex& st = t->stage[s];
            st.uKept = plan.u[s] >= 0;
            st.vKept = plan.v[s] >= 0;
            st.u = planeAt(plan.u[s]);
            st.v = planeAt(plan.v[s]);
            const FastTexture& f = pp.fast_[s];
            st.lod = plan.lod[s];
            st.level = static_cast<int>(f.base);
            if (st.lod && t->affine)
            {
                // With w constant the derivatives w (dP/dx - c dQ/dx) are w dP/dx for every finite c, so the
                // level is the triangle's.
                const I l =
                    LevelFor(f, st, px.stages[s].sampler.lodBias, t->wConst, L::Zero(), L::Zero(), t->q, 1);
                st.level = static_cast<int>(L::First(l));
            }
            st.constLevel = !st.lod || t->affine;
            // Only a level that holds for the whole triangle is read from here.
            if (st.constLevel) st.at = LevelOf(*f.level[st.level]);
        };
        if (onlyStage >= 0)
            prepare(onlyStage);
        else
            for (int s = 0; s < px.stageCount; ++s)
                if (px.stages[s].texture) prepare(s);
    }

    // The lanes' column and row offsets from a step's first pixel, for wide and narrow steps: loaded from
    // constants, since vectors stored lane by lane and read back whole wait for the stores.
    struct LaneTable
    {
        alignas(32) uint32_t x[2][N];
        alignas(32) uint32_t y[2][N];
    };
    static constexpr LaneTable MakeLaneTable()
    {
        LaneTable t{};
        for (int i = 0; i < N; ++i)
        {
            t.x[0][i] = static_cast<uint32_t>(i);
            t.x[1][i] = static_cast<uint32_t>(i % kHalf);
            t.y[1][i] = static_cast<uint32_t>(i / kHalf);
        }
        return t;
    }
    static constexpr LaneTable kLaneTable = MakeLaneTable();
    FEROLT_SPAN_INLINE static void LaneOffsets(bool narrow, I* lxv, I* lyv)
    {
        *lxv = L::LoadI(kLaneTable.x[narrow]);
        *lyv = L::LoadI(kLaneTable.y[narrow]);
    }

    // The depth test of the lanes in `test`: the lanes that pass, with the depth written where the draw
    // writes it.
    FEROLT_SPAN_INLINE static int DepthTest(PixelPipeline& pp, const Step& st, const Triangle& t,
                                            const SetupPrim& p, int test)
    {
        const PixelConfig& px = pp.px_;
        const I depth =
            Rules::QuantizeDepth(L::Add(At(t.z, st.dx, st.dy), S(p.depthOffset)), px.depth.depthMax);
        int pass = 0;
        if (__builtin_popcount(static_cast<unsigned>(test)) <= 2)
        {
            // A pixel or two, as small triangles have: one by one is cheaper than the lanes.
            alignas(32) uint32_t lanes[N];
            L::StoreI(lanes, depth);
            for (int left = test; left; left &= left - 1)
            {
                const int i = __builtin_ctz(static_cast<unsigned>(left)), h = i / kHalf;
                uint32_t* at = pp.depthPlane_ + st.depthAt[h] + (i % kHalf);
                if (!Passes(px.depth.depthFunc, lanes[i], *at)) continue;
                pass |= 1 << i;
                if (px.depth.depthWrite) *at = lanes[i];
            }
            return pass;
        }
        uint32_t* dp[2];
        for (int h = 0; h < 2; ++h)
            dp[h] = (test >> (kHalf * h)) & kHalfMask ? pp.depthPlane_ + st.depthAt[h] : nullptr;
        const I old = L::LoadHalves(dp[0], dp[1], test);
        pass = L::Mask(L::AsFloat(Rules::Compare(px.depth.depthFunc, depth, old))) & test;
        if (px.depth.depthWrite && pass) L::StoreHalves(dp[0], dp[1], pass, depth);
        return pass;
    }

    // Walks the steps of a triangle within [xs, xe] x [ys, ye], takes the depth test, and hands each step
    // with pixels left to body: narrow triangles take N / 2 columns of two rows a step, others N columns of
    // one row.
    template <bool kDepth, class Body>
    FEROLT_SPAN_INLINE static void Walk(PixelPipeline& pp, const SetupPrim& p, const float* arena,
                                        const Triangle& t, int xs, int xe, int ys, int ye, Body&& body)
    {
        const bool narrow = xe - xs < kHalf && ye > ys;
        I lxv, lyv;
        LaneOffsets(narrow, &lxv, &lyv);
        const int stepX = narrow ? kHalf : N, stepY = narrow ? 2 : 1;
        // As a rule the depth surface holds every pixel the draw may touch.
        const RECT& clip = pp.cfg_.raster.clipRect;
        const bool depthCovers =
            static_cast<int64_t>(pp.depthWidth_) >= clip.right && pp.depthHeight_ >= clip.bottom;
        if (p.shortEdges && xe - xs < stepX && (!kDepth || depthCovers))
        {
            // One step per row (or pair of rows), as for the small triangles that make up most scenes: the
            // edge functions move down by B a row and the lanes' columns stay, so a step only adds, where
            // Coverage multiplies. The lanes hold the same 32-bit values either way (Coverage).
            const int rowMask = (1 << (xe - xs + 1)) - 1;
            const int stepMask = narrow ? rowMask | rowMask << kHalf : rowMask;
            const uint32_t ox = static_cast<uint32_t>(xs - p.minX), oy = static_cast<uint32_t>(ys - p.minY);
            I edge[3], down[3];
            for (int e = 0; e < 3; ++e)
            {
                const uint32_t a = static_cast<uint32_t>(p.edge[e]), b = static_cast<uint32_t>(p.edge[3 + e]);
                edge[e] = L::AddI(L::SplatI(static_cast<uint32_t>(p.edge[6 + e]) + a * ox + b * oy),
                                  L::AddI(L::MulloI(L::SplatI(a), lxv), L::MulloI(L::SplatI(b), lyv)));
                down[e] = L::SplatI(b * static_cast<uint32_t>(stepY));
            }
            const V dx = L::Sub(L::ToFloat(L::AddI(L::SplatI(static_cast<uint32_t>(xs)), lxv)), S(p.x0));
            // The halves' depth indices move down by stepY rows a step.
            const size_t depthDown = pp.depthWidth_ * static_cast<size_t>(stepY);
            size_t depthAt = static_cast<size_t>(ys) * pp.depthWidth_ + static_cast<size_t>(xs);
            const size_t secondHalf = narrow ? pp.depthWidth_ : kHalf;
            for (int by = ys; by <= ye; by += stepY, depthAt += depthDown)
            {
                const I neg = L::OrI(L::OrI(edge[0], edge[1]), edge[2]);
                for (int e = 0; e < 3; ++e)
                    edge[e] = L::AddI(edge[e], down[e]);
                int mask = (by == ye ? rowMask : stepMask) & ~L::Mask(L::AsFloat(neg));
                if (!mask) continue;
                Step st = StepAt(xs, by, narrow);
                st.dx = dx;
                st.dy = L::Sub(L::ToFloat(L::AddI(L::SplatI(static_cast<uint32_t>(by)), lyv)), S(p.y0));
                if constexpr (kDepth)
                {
                    st.depthAt[0] = depthAt;
                    st.depthAt[1] = depthAt + secondHalf;
                    mask &= DepthTest(pp, st, t, p, mask);
                    if (!mask) continue;
                }
                st.mask = mask;
                st.w = t.affine ? t.wConst : Rules::W(At(t.q, st.dx, st.dy));
                body(st, lxv, lyv);
            }
            return;
        }
        const Coverage cover(p, arena, narrow, lxv, lyv);
        for (int by = ys; by <= ye; by += stepY)
        {
            const int rows = std::min(stepY, ye - by + 1);
            for (int bx = xs; bx <= xe; bx += stepX)
            {
                // Coverage: lanes inside the box whose three edge functions are >= 0.
                const int cols = std::min(stepX, xe - bx + 1);
                int mask = (1 << cols) - 1;
                if (narrow && rows == 2) mask |= mask << kHalf;
                mask &= ~cover.Outside(bx, by);
                if (!mask) continue;
                Step st = StepAt(bx, by, narrow);
                st.dx = L::Sub(L::ToFloat(L::AddI(L::SplatI(static_cast<uint32_t>(bx)), lxv)), S(p.x0));
                st.dy = L::Sub(L::ToFloat(L::AddI(L::SplatI(static_cast<uint32_t>(by)), lyv)), S(p.y0));

                if constexpr (kDepth)
                {
                    // Lanes inside the depth surface take the test; the others pass untested.
                    int test = mask;
                    if (!depthCovers)
                    {
                        int inDepth = 0;
                        for (int h = 0; h < 2; ++h)
                            if (st.hy[h] < pp.depthHeight_)
                            {
                                const int64_t room = static_cast<int64_t>(pp.depthWidth_) - st.hx[h];
                                const int n =
                                    room <= 0 ? 0 : (room >= kHalf ? kHalf : static_cast<int>(room));
                                inDepth |= ((1 << n) - 1) << (kHalf * h);
                            }
                        test &= inDepth;
                    }
                    for (int h = 0; h < 2; ++h)
                        st.depthAt[h] = static_cast<size_t>(st.hy[h]) * pp.depthWidth_ + st.hx[h];
                    if (test) mask &= ~(test & ~DepthTest(pp, st, t, p, test));
                    if (!mask) continue;
                }
                st.mask = mask;
                st.w = t.affine ? t.wConst : Rules::W(At(t.q, st.dx, st.dy));
                // The lanes' column and row offsets go along for pixels that wait.
                body(st, lxv, lyv);
            }
        }
    }

    // Small triangles without blending: their pixels pass the depth test at once and wait for the pixels of
    // the next ones, so that few pixels from several triangles share a step; they are written in the order
    // they came.
    template <bool kDepth, bool kDense>
    FEROLT_SPAN_TARGET static void Batch(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs,
                                         int xe, int ys, int ye)
    {
        const PixelConfig& px = pp.px_;
        const int stage = pp.laneStage_;
        // Most small triangles of a dense scene lie behind what is drawn already: their colours are prepared
        // only once a pixel has passed the depth test.
        Triangle t;
        PrepareDepth(p, arena, &t);
        // PrepareShading sets these before any use; zeros keep the compiler from seeing a read before it.
        t.diffuseK = t.specularK = Rules::Splat(0.0f);
        bool shading = false;
        const int rowTexels = static_cast<int>(pp.target_->Pitch() / 4);
        Walk<kDepth>(
            pp, p, arena, t, xs, xe, ys,
            ye, [&](const Step& st, I lxv, I lyv) FEROLT_SPAN_TARGET __attribute__((always_inline)) {
                if (!shading)
                {
                    PrepareShading<kDense>(pp, p, arena, stage, &t);
                    shading = true;
                }
                // Packs the covered lanes after the waiting ones; N make a step.
                const int n = pp.laneCount_;
                float* const lanes = pp.laneData_ + n;
                auto put = [&](int attribute, V value) FEROLT_SPAN_TARGET __attribute__((always_inline))
                {
                    L::Compress(lanes + PixelPipeline::kLaneSlots * attribute, value, st.mask);
                };
                for (int ch = 0; ch < 4; ++ch)
                    put(kLaneDiffuse + ch,
                        t.colorsConst ? t.diffuseK.c[ch] : Colour(t.diffuse[ch], st.dx, st.dy, st.w));
                if (t.specularKept)
                    for (int ch = 0; ch < 4; ++ch)
                        put(kLaneSpecular + ch,
                            t.colorsConst ? t.specularK.c[ch] : Colour(t.specular[ch], st.dx, st.dy, st.w));
                if (px.fog) put(kLaneFog, Colour(t.fog, st.dx, st.dy, st.w));
                if (stage >= 0)
                {
                    V u, v;
                    I level;
                    Coordinates(pp.fast_[stage], t.stage[stage], px.stages[stage].sampler.lodBias, st.dx,
                                st.dy, st.w, t.q, st.mask, &u, &v, &level);
                    put(kLaneU, u);
                    put(kLaneV, v);
                    put(kLaneLevel, L::AsFloat(level));
                }
                const I pixel =
                    L::AddI(L::AddI(L::SplatI(static_cast<uint32_t>(st.by * rowTexels + st.bx)), lxv),
                            L::MulloI(lyv, L::SplatI(static_cast<uint32_t>(rowTexels))));
                L::Compress(reinterpret_cast<float*>(pp.lanePixel_ + n), L::AsFloat(pixel), st.mask);
                pp.laneCount_ = n + __builtin_popcount(static_cast<unsigned>(st.mask));
                if (pp.laneCount_ >= N)
                {
                    Flush(pp, N);
                    pp.laneCount_ -= N;
                    // The rest move to the front; attributes the draw never writes stay 0.
                    auto move = [&](int a) FEROLT_SPAN_TARGET __attribute__((always_inline))
                    {
                        L::Store(pp.laneData_ + PixelPipeline::kLaneSlots * a,
                                 L::Load(pp.laneData_ + PixelPipeline::kLaneSlots * a + N));
                    };
                    for (int ch = 0; ch < 4; ++ch)
                        move(kLaneDiffuse + ch);
                    if (t.specularKept)
                        for (int ch = 0; ch < 4; ++ch)
                            move(kLaneSpecular + ch);
                    if (px.fog) move(kLaneFog);
                    if (stage >= 0)
                        for (int a : {kLaneU, kLaneV, kLaneLevel})
                            move(a);
                    L::StoreI(reinterpret_cast<uint32_t*>(pp.lanePixel_),
                              L::LoadI(reinterpret_cast<const uint32_t*>(pp.lanePixel_ + N)));
                }
            });
    }

    template <bool kDepth, int kBlend>
    FEROLT_SPAN_TARGET static void Run(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs,
                                       int xe, int ys, int ye)
    {
        if (pp.laneCount_) pp.FlushLanes();
        const PixelConfig& px = pp.px_;
        Triangle t;
        PrepareTriangle<false>(pp, p, arena, -1, &t);
        const BlendConfig& blend = px.blend;
        const uint32_t keep = kBlend == kAnyBlend ? KeptBits(blend.writeMask) : 0;
        const I oldOr = L::SplatI(pp.targetFormat_ == D3DFMT_X8R8G8B8 ? 0xff000000u : 0u);
        Walk<kDepth>(
            pp, p, arena, t, xs, xe, ys,
            ye, [&](const Step& st, I, I) FEROLT_SPAN_TARGET __attribute__((always_inline)) {
                const int mask = st.mask;
                LaneInputs in;
                for (int ch = 0; ch < 4; ++ch)
                {
                    in.diffuse.c[ch] =
                        t.colorsConst ? t.diffuseK.c[ch] : Colour(t.diffuse[ch], st.dx, st.dy, st.w);
                    in.specular.c[ch] = t.colorsConst    ? t.specularK.c[ch]
                                        : t.specularKept ? Colour(t.specular[ch], st.dx, st.dy, st.w)
                                                         : L::Zero();
                }
                in.fog = px.fog ? Colour(t.fog, st.dx, st.dy, st.w) : L::Zero();
                for (int s = 0; s < px.stageCount; ++s)
                    if (px.stages[s].texture)
                        in.one[s] = Coordinates(pp.fast_[s], t.stage[s], px.stages[s].sampler.lodBias, st.dx,
                                                st.dy, st.w, t.q, mask, &in.u[s], &in.v[s], &in.level[s]);
                Px color = Combine(pp, in, mask);

                // Blend and write.
                uint32_t* out[2];
                for (int h = 0; h < 2; ++h)
                    out[h] = (mask >> (kHalf * h)) & kHalfMask
                                 ? reinterpret_cast<uint32_t*>(pp.target_->Row(st.hy[h])) + st.hx[h]
                                 : nullptr;
                I old = L::SplatI(0);
                if constexpr (kBlend != kNoBlend) old = L::OrI(L::LoadHalves(out[0], out[1], mask), oldOr);
                if (kBlend == kSrcAlphaOver || kBlend == kAdditive || (kBlend == kAnyBlend && blend.enable))
                {
                    const Px dst = Rules::Unpack(old, false);
                    if constexpr (kBlend == kSrcAlphaOver)
                        color = Rules::BlendOver(color, dst);
                    else if constexpr (kBlend == kAdditive)
                        color = Rules::BlendAdd(color, dst);
                    else
                        color = Rules::Blend(blend, color, dst);
                }
                I argb = Rules::Pack(color);
                if constexpr (kBlend == kAnyBlend) argb = Rules::Mask(argb, old, keep);
                L::StoreHalves(out[0], out[1], mask, argb);
            });
    }

    template <bool kDepth>
    FEROLT_SPAN_TARGET static void NoBlend(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs,
                                           int xe, int ys, int ye)
    {
        // Small triangles' pixels wait (Batch); others write directly, after those waiting.
        if (pp.laneStage_ == -2 || xe - xs >= N || ye - ys >= N)
            Run<kDepth, kNoBlend>(pp, p, arena, xs, xe, ys, ye);
        else if (pp.plan_.dense)
            Batch<kDepth, true>(pp, p, arena, xs, xe, ys, ye);
        else
            Batch<kDepth, false>(pp, p, arena, xs, xe, ys, ye);
    }

    // The loop for a draw's depth test and blend kind.
    static PixelPipeline::SpanFn Select(bool depth, int kind)
    {
        static constexpr PixelPipeline::SpanFn kLoops[2][4] = {
            {&NoBlend<false>, &Run<false, kSrcAlphaOver>, &Run<false, kAdditive>, &Run<false, kAnyBlend>},
            {&NoBlend<true>, &Run<true, kSrcAlphaOver>, &Run<true, kAdditive>, &Run<true, kAnyBlend>}};
        return kLoops[depth ? 1 : 0][kind];
    }
};
} // namespace ferolt::d3d9
