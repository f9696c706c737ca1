// The pixel loop for the common state, eight pixels a step on processors with AVX2. It takes the draws
// span.cpp's four-wide loop takes and computes, lane by lane, what the general path computes, so the bytes
// are the same; where it rounds differently on the way (texel coordinates in floats instead of doubles) it
// says why the result is exact. A step is a run of eight pixels of one row, or for narrow triangles four
// pixels of two rows. Without blending, the pixels of small triangles pass the depth test at once and then
// wait until eight (from several triangles) fill a step; they are written in the order they came, so a later
// triangle still overwrites an earlier one.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/d3d9/raster.h"

#if FEROLT_D3D9_SSE && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define FEROLT_D3D9_AVX2 1
#endif

#if FEROLT_D3D9_AVX2
// The shared pixel rules and the eight-lane type they run on here, compiled for the AVX2 target; they have
// internal linkage, so no other file shares these copies.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/avx2_lanes.h"

namespace ferolt::d3d9
{
namespace
{
using Pixel8 = PixelRules<AvxLanes>;
using Px8 = Color<AvxLanes>; // red, green, blue, alpha of eight pixels
} // namespace
} // namespace ferolt::d3d9

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif

namespace ferolt::d3d9
{
namespace
{
std::atomic<bool> g_avx2Allowed{true};
} // namespace

bool PixelAvx2Enabled()
{
#if FEROLT_D3D9_AVX2
    static const bool has = __builtin_cpu_supports("avx2");
    return has && g_avx2Allowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void SetPixelAvx2Allowed(bool allowed)
{
    g_avx2Allowed.store(allowed, std::memory_order_relaxed);
}

#if FEROLT_D3D9_AVX2
#define FEROLT_AVX2 __attribute__((target("avx2")))
namespace
{
FEROLT_AVX2 inline __m256 S(float v)
{
    return _mm256_set1_ps(v);
}

// Bit i of a lane mask as all ones in lane i.
FEROLT_AVX2 inline __m256i LaneMask(int mask)
{
    const __m256i bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(mask), bit), bit);
}

FEROLT_AVX2 inline __m256i Join(__m128i lo, __m128i hi)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// The lanes of a four-pixel half that mask selects; the others read as 0. Lane by lane: the pixels of the
// triangle before were often stored lane by lane just now, and a wider load, or a masked one, would wait
// until those stores have left for the cache instead of taking their values from the store buffer.
FEROLT_AVX2 inline __m128i LoadHalf(const uint32_t* p, int mask)
{
    if (mask == 0xf) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (!mask) return _mm_setzero_si128();
    // Lanes outside the mask read the first lane inside it (always there), then are cleared.
    const int first = __builtin_ctz(static_cast<unsigned>(mask));
    auto at = [&](int i) { return static_cast<int>(p[(mask >> i) & 1 ? i : first]); };
    const __m128i v = _mm_setr_epi32(at(0), at(1), at(2), at(3));
    const __m128i bit = _mm_setr_epi32(1, 2, 4, 8);
    return _mm_and_si128(v, _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(mask), bit), bit));
}

// Loads the lanes of two four-pixel halves that mask selects; the others read as 0.
FEROLT_AVX2 inline __m256i LoadHalves(const uint32_t* p0, const uint32_t* p1, int mask)
{
    return Join(LoadHalf(p0, mask & 0xf), LoadHalf(p1, mask >> 4));
}

FEROLT_AVX2 inline void StoreHalves(uint32_t* p0, uint32_t* p1, int mask, __m256i v)
{
    if ((mask & 0xf) == 0xf) _mm_storeu_si128(reinterpret_cast<__m128i*>(p0), _mm256_castsi256_si128(v));
    if ((mask & 0xf0) == 0xf0)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p1), _mm256_extracti128_si256(v, 1));
    int part = mask & ~((mask & 0xf) == 0xf ? 0xf : 0) & ~((mask & 0xf0) == 0xf0 ? 0xf0 : 0);
    if (!part) return;
    // Partial halves lane by lane: masked stores are slow on some processors.
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    while (part)
    {
        const int i = __builtin_ctz(static_cast<unsigned>(part));
        if (i < 4)
            p0[i] = lanes[i];
        else
            p1[i - 4] = lanes[i];
        part &= part - 1;
    }
}

// One level of a 32-bit power-of-two texture.
struct Level
{
    const int* texels;
    int wMask, hMask, shift; // width - 1, height - 1, log2 of the row length in texels
    float w, h;
};

FEROLT_AVX2 inline Level LevelOf(const Surface& s)
{
    Level l;
    l.texels = reinterpret_cast<const int*>(s.Bits());
    l.wMask = s.Width() - 1;
    l.hMask = s.Height() - 1;
    l.shift = __builtin_ctzll(static_cast<unsigned long long>(s.Pitch() / 4)); // a power of two
    l.w = static_cast<float>(s.Width());
    l.h = static_cast<float>(s.Height());
    return l;
}

FEROLT_AVX2 inline __m256i Address(DWORD mode, __m256i i, int maskValue)
{
    const __m256i m = _mm256_set1_epi32(maskValue);
    if (mode == D3DTADDRESS_CLAMP) return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()), m);
    return _mm256_and_si256(i, m); // wrap on a power-of-two size
}

// floor(c * size) (point), or floor(c * size - 0.5) and the fraction (linear), with the results of the
// general sampler's doubles; false when an active lane lies beyond the exact integer range. size is a power
// of two, so X = c * size is exact in floats, and so are X - floor(X) and the fraction r - 0.5 for r >= 0.5;
// r + 0.5 and, for X in (-0.5, 0) where 1 + X would round, X + 0.5 round once, as the double's fraction does.
FEROLT_AVX2 __attribute__((always_inline)) inline bool TexelCoord(__m256 c, float size, bool linear, int mask,
                                                                  __m256i* index, __m256* frac)
{
    const __m256 x = _mm256_mul_ps(c, S(size));
    // |X| < 2^30, which also rules out NaN.
    const __m256 magnitude = _mm256_andnot_ps(S(-0.0f), x);
    const int ok = _mm256_movemask_ps(_mm256_cmp_ps(magnitude, S(1073741824.0f), _CMP_LT_OQ));
    if ((ok & mask) != mask) return false;
    const __m256 f = _mm256_floor_ps(x);
    const __m256i fi = _mm256_cvttps_epi32(f);
    if (!linear)
    {
        *index = fi;
        return true;
    }
    const __m256 half = S(0.5f);
    const __m256 r = _mm256_sub_ps(x, f);
    const __m256 hi = _mm256_cmp_ps(r, half, _CMP_GE_OQ);
    *index = _mm256_add_epi32(fi, _mm256_andnot_si256(_mm256_castps_si256(hi), _mm256_set1_epi32(-1)));
    const __m256 near = _mm256_and_ps(_mm256_cmp_ps(x, S(-0.5f), _CMP_GT_OQ),
                                      _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_LT_OQ));
    const __m256 fr = _mm256_blendv_ps(_mm256_add_ps(r, half), _mm256_sub_ps(r, half), hi);
    *frac = _mm256_blendv_ps(fr, _mm256_add_ps(x, half), near);
    return true;
}

// The texels at index and index + 1 of eight lanes.
FEROLT_AVX2 inline void Pairs(const int* texels, __m256i index, __m256i* first, __m256i* second)
{
    const long long* base = reinterpret_cast<const long long*>(texels);
    const __m256 lo = _mm256_castsi256_ps(_mm256_i32gather_epi64(base, _mm256_castsi256_si128(index), 4));
    const __m256 hi =
        _mm256_castsi256_ps(_mm256_i32gather_epi64(base, _mm256_extracti128_si256(index, 1), 4));
    *first = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))),
                                      _MM_SHUFFLE(3, 1, 2, 0));
    *second = _mm256_permute4x64_epi64(
        _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))), _MM_SHUFFLE(3, 1, 2, 0));
}

FEROLT_AVX2 __attribute__((always_inline)) inline bool SampleLevel(const Level& l, bool linear, DWORD au,
                                                                   DWORD av, bool opaque, __m256 u, __m256 v,
                                                                   int mask, Px8* out)
{
    __m256i ix, iy;
    __m256 fx = _mm256_setzero_ps(), fy = _mm256_setzero_ps();
    if (!TexelCoord(u, l.w, linear, mask, &ix, &fx) || !TexelCoord(v, l.h, linear, mask, &iy, &fy))
        return false;
    const __m128i shift = _mm_cvtsi32_si128(l.shift);
    const __m256i x0 = Address(au, ix, l.wMask);
    const __m256i r0 = _mm256_sll_epi32(Address(av, iy, l.hMask), shift);
    if (!linear)
    {
        *out = Pixel8::Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r0, x0), 4), opaque);
        return true;
    }
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i x1 = Address(au, _mm256_add_epi32(ix, one), l.wMask);
    const __m256i r1 = _mm256_sll_epi32(Address(av, _mm256_add_epi32(iy, one), l.hMask), shift);
    Px8 t00, t10, t01, t11;
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(x1, _mm256_add_epi32(x0, one))) == -1)
    {
        // Every lane's two columns are neighbours in memory: one 64-bit load per row and lane.
        const __m256i i0 = _mm256_add_epi32(r0, x0), i1 = _mm256_add_epi32(r1, x0);
        __m256i a, b;
        Pairs(l.texels, i0, &a, &b);
        t00 = Pixel8::Unpack(a, opaque);
        t10 = Pixel8::Unpack(b, opaque);
        Pairs(l.texels, i1, &a, &b);
        t01 = Pixel8::Unpack(a, opaque);
        t11 = Pixel8::Unpack(b, opaque);
    }
    else
    {
        t00 = Pixel8::Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r0, x0), 4), opaque);
        t10 = Pixel8::Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r0, x1), 4), opaque);
        t01 = Pixel8::Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r1, x0), 4), opaque);
        t11 = Pixel8::Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r1, x1), 4), opaque);
    }
    for (int ch = 0; ch < 4; ++ch)
        out->c[ch] = Pixel8::Bilinear(t00.c[ch], t10.c[ch], t01.c[ch], t11.c[ch], fx, fy);
    return true;
}

// Plane of the depth or 1/w broadcast to eight lanes.
struct LanePlane
{
    __m256 a, b, c;
};

FEROLT_AVX2 inline __m256 At(const LanePlane& p, __m256 dx, __m256 dy)
{
    return Pixel8::PlaneAt(p.a, p.b, p.c, dx, dy);
}

// A varying's plane is read where it is used: most triangles take one step, and sixty broadcasts kept in
// registers would not fit.
FEROLT_AVX2 inline __m256 At(const float* plane, __m256 dx, __m256 dy)
{
    return Pixel8::PlaneAt(plane, dx, dy);
}

// Stands in for the plane of a varying the draw does not keep: it evaluates to +0 as a missing plane does.
alignas(16) constexpr float kZeroPlane[12] = {};

enum BlendKind
{
    kNoBlend,      // no blending and every channel written: the target is not read
    kSrcAlphaOver, // SRCALPHA, INVSRCALPHA, ADD, every channel written
    kAdditive,     // ONE, ONE, ADD, every channel written: the accumulation passes of baked light maps
    kAnyBlend,     // the factor and operation switches, and the write mask
};
} // namespace

// Which lanes of a step lie outside a triangle, from its edge functions. They go in 32-bit lanes when every
// value they take within the bounds and a step beyond fits: |A|, |B| < 2^20 and |C at the bounds' corner|
// < 2^26 over fewer than 512 pixels either way stay below 2^31, as for all but large triangles. Others take
// 64-bit lanes.
struct Coverage
{
    const SetupPrim& p;
    bool narrow;
    bool lanes32;
    __m256i edge32[3];     // 32 bits: the edge functions of the lanes at the bounds' corner
    EdgeSet ed;            // 64 bits: the edge functions,
    __m256i edgeOff[3][2]; // and the lanes' offsets from the step's first pixel

    FEROLT_AVX2 Coverage(const SetupPrim& prim, const float* arena, bool narrowSteps, __m256i lxv,
                         __m256i lyv)
        : p(prim), narrow(narrowSteps)
    {
        lanes32 = !p.wideEdges && p.maxX - p.minX < 512 && p.maxY - p.minY < 512;
        if (lanes32)
        {
            // v in (-bound, bound) as v + bound < 2 bound, unsigned: A and B of the three edges, then C.
            const __m256i bound =
                _mm256_setr_epi32(1 << 20, 1 << 20, 1 << 20, 1 << 20, 1 << 20, 1 << 20, 1 << 26, 1 << 26);
            const __m256i last = _mm256_add_epi32(bound, _mm256_add_epi32(bound, _mm256_set1_epi32(-1)));
            const __m256i biased =
                _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.edge)), bound);
            lanes32 = _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_max_epu32(biased, last), last)) == -1 &&
                      static_cast<uint32_t>(p.edge[8]) + (1u << 26) < (2u << 26);
        }
        if (lanes32)
        {
            for (int e = 0; e < 3; ++e)
                edge32[e] = _mm256_add_epi32(
                    _mm256_set1_epi32(p.edge[6 + e]),
                    _mm256_add_epi32(_mm256_mullo_epi32(_mm256_set1_epi32(p.edge[e]), lxv),
                                     _mm256_mullo_epi32(_mm256_set1_epi32(p.edge[3 + e]), lyv)));
            return;
        }
        ed = Edges(p, arena);
        for (int e = 0; e < 3; ++e)
        {
            const int64_t a = ed.a[e];
            edgeOff[e][0] = _mm256_setr_epi64x(0, a, 2 * a, 3 * a);
            edgeOff[e][1] = _mm256_add_epi64(edgeOff[e][0], _mm256_set1_epi64x(narrow ? ed.b[e] : 4 * a));
        }
    }

    // Lanes of the step at (bx, by) outside the triangle, as bits.
    FEROLT_AVX2 int Outside(int bx, int by) const
    {
        if (lanes32)
        {
            const int32_t ox = bx - p.minX, oy = by - p.minY;
            __m256i neg = _mm256_setzero_si256();
            for (int e = 0; e < 3; ++e)
                neg = _mm256_or_si256(
                    neg, _mm256_add_epi32(edge32[e], _mm256_set1_epi32(p.edge[e] * ox + p.edge[3 + e] * oy)));
            return _mm256_movemask_ps(_mm256_castsi256_ps(neg));
        }
        __m256i neg0 = _mm256_setzero_si256(), neg1 = _mm256_setzero_si256();
        for (int e = 0; e < 3; ++e)
        {
            const __m256i base = _mm256_set1_epi64x(ed.a[e] * bx + ed.b[e] * by + ed.c[e]);
            neg0 = _mm256_or_si256(neg0, _mm256_add_epi64(base, edgeOff[e][0]));
            neg1 = _mm256_or_si256(neg1, _mm256_add_epi64(base, edgeOff[e][1]));
        }
        return _mm256_movemask_pd(_mm256_castsi256_pd(neg0)) |
               (_mm256_movemask_pd(_mm256_castsi256_pd(neg1)) << 4);
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
FEROLT_AVX2 inline __m256i LevelFor(const FastTexture& t, const StageTex& st, __m256 w, __m256 u, __m256 v,
                                    const LanePlane& q)
{
    // One derivative of one coordinate; the planes' b and c values are four and eight floats after a.
    auto derivative = [&](bool kept, const float* plane, int at, __m256 c, __m256 dq) FEROLT_AVX2
        __attribute__((always_inline))
    {
        return kept ? Pixel8::Derivative(w, _mm256_broadcast_ss(plane + at), c, dq) : _mm256_setzero_ps();
    };
    const __m256 ux = derivative(st.uKept, st.u, 4, u, q.b), uy = derivative(st.uKept, st.u, 8, u, q.c);
    const __m256 vx = derivative(st.vKept, st.v, 4, v, q.b), vy = derivative(st.vKept, st.v, 8, v, q.c);
    return Pixel8::PointMipLevel(Pixel8::Rho2(ux, vx, uy, vy, t.width, t.height), static_cast<int>(t.base),
                                 static_cast<int>(t.levels - 1 - t.base));
}

// A Gouraud colour or the fog factor of eight pixels: the plane's value over 1/w, saturated.
FEROLT_AVX2 __attribute__((always_inline)) inline __m256 Colour(const float* plane, __m256 dx, __m256 dy,
                                                                __m256 w)
{
    return Pixel8::Sat(_mm256_mul_ps(At(plane, dx, dy), w));
}

// A textured stage's coordinates and level at eight pixels; returns the level's description when it is the
// same for every lane in mask.
FEROLT_AVX2 __attribute__((always_inline)) inline const Level*
Coordinates(const FastTexture& f, const StageTex& t, __m256 dx, __m256 dy, __m256 w, const LanePlane& q,
            int mask, __m256* u, __m256* v, __m256i* level)
{
    *u = t.uKept ? _mm256_mul_ps(At(t.u, dx, dy), w) : _mm256_setzero_ps();
    *v = t.vKept ? _mm256_mul_ps(At(t.v, dx, dy), w) : _mm256_setzero_ps();
    *level = _mm256_set1_epi32(t.level);
    bool one = t.constLevel;
    if (one && t.lod)
    {
        // The triangle's level holds where the coordinates are finite.
        const __m256 zero = _mm256_setzero_ps();
        const __m256 finite = _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(*u, *u), zero, _CMP_EQ_OQ),
                                            _mm256_cmp_ps(_mm256_sub_ps(*v, *v), zero, _CMP_EQ_OQ));
        one = (_mm256_movemask_ps(finite) & mask) == mask;
    }
    if (!one && t.lod) *level = LevelFor(f, t, w, *u, *v, q);
    return one ? &t.at : nullptr;
}

// What the stages read at eight pixels: colours, the fog factor, and per textured stage the coordinates
// and level (with the level's description when it is the same for every lane).
struct LaneInputs
{
    Px8 diffuse, specular;
    __m256 fog;
    __m256 u[kMaxStages], v[kMaxStages];
    __m256i level[kMaxStages];
    const Level* one[kMaxStages];
};

// Stores the lanes of value in the given order after the waiting ones.
FEROLT_AVX2 inline void Put(float* lanes, int attribute, __m256 value, __m256i order)
{
    // PixelPipeline::kLaneSlots lanes an attribute
    _mm256_storeu_ps(lanes + 16 * attribute, _mm256_permutevar8x32_ps(value, order));
}

// For each lane mask, its lanes in order, to pack covered lanes together.
struct CompressTable
{
    alignas(8) uint8_t order[256][8];
    constexpr CompressTable() : order{}
    {
        for (int m = 0; m < 256; ++m)
        {
            int n = 0;
            for (int i = 0; i < 8; ++i)
                if (m & (1 << i)) order[m][n++] = static_cast<uint8_t>(i);
        }
    }
};
constexpr CompressTable kCompressTable;
constexpr const uint8_t (&kCompress)[256][8] = kCompressTable.order;

// Pixels of small triangles kept until eight are there: the inputs of each lane by attribute, and where the
// lane's pixel is in the target.
constexpr int kLaneDiffuse = 0, kLaneSpecular = 4, kLaneFog = 8, kLaneU = 9, kLaneV = 10, kLaneLevel = 11;

// The single modulating stage's alpha (PixelPipeline::modulateAlpha_).
enum ModulateAlpha
{
    kAlphaDiffuse,
    kAlphaTexture,
    kAlphaModulate,
};

struct Triangle;

struct SpanAvx2
{
    template <bool kDense>
    FEROLT_AVX2 __attribute__((always_inline)) static inline void
    PrepareTriangle(const PixelPipeline& pp, const SetupPrim& p, const float* arena, int onlyStage,
                    Triangle* t);
    template <bool kDepth, class Body>
    FEROLT_AVX2 __attribute__((always_inline)) static inline void
    Walk(PixelPipeline& pp, const SetupPrim& p, const float* arena, const Triangle& t, int xs, int xe, int ys,
         int ye, Body&& body);
    FEROLT_AVX2 __attribute__((always_inline)) static inline void SampleAt(const PixelPipeline& pp, int s,
                                                                           __m256 u, __m256 v, __m256i level,
                                                                           const Level* one, int mask,
                                                                           Px8* out);
    FEROLT_AVX2 __attribute__((always_inline)) static inline Px8 Combine(const PixelPipeline& pp,
                                                                         const LaneInputs& in, int mask);
    FEROLT_AVX2 static void Flush(PixelPipeline& pp, int count);
    template <bool kDepth, int kBlend>
    FEROLT_AVX2 static void Run(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs, int xe,
                                int ys, int ye);
    template <bool kDepth>
    FEROLT_AVX2 static void NoBlend(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs, int xe,
                                    int ys, int ye);
    template <bool kDepth, bool kDense>
    FEROLT_AVX2 static void Batch(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs, int xe,
                                  int ys, int ye);
};

FEROLT_AVX2 inline void SpanAvx2::SampleAt(const PixelPipeline& pp, int s, __m256 u, __m256 v, __m256i level,
                                           const Level* one, int mask, Px8* out)
{
    const StageConfig& st = pp.px_.stages[s];
    const FastTexture& f = pp.fast_[s];
    const SamplerConfig& smp = st.sampler;
    const bool linear = smp.magFilter == D3DTEXF_LINEAR;
    const bool opaque = f.level[f.base]->Desc().Format == D3DFMT_X8R8G8B8;
    alignas(32) int lv[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lv), level);
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
            const int same = _mm256_movemask_ps(_mm256_castsi256_ps(
                                 _mm256_cmpeq_epi32(level, _mm256_set1_epi32(lv[first])))) &
                             left;
            Px8 r;
            exact = SampleLevel(LevelOf(*f.level[lv[first]]), linear, smp.addressU, smp.addressV, opaque, u,
                                v, same, &r);
            if (same == mask)
                *out = r;
            else
            {
                const __m256 sel = _mm256_castsi256_ps(LaneMask(same));
                for (int ch = 0; ch < 4; ++ch)
                    out->c[ch] = _mm256_blendv_ps(out->c[ch], r.c[ch], sel);
            }
            left &= ~same;
        }
    }
    if (!exact)
    {
        // Pixel by pixel through the general sampler.
        alignas(32) float us[8], vs[8], texel[8][4] = {};
        _mm256_store_ps(us, u);
        _mm256_store_ps(vs, v);
        for (int i = 0; i < 8; ++i)
            if (mask & (1 << i)) Sample2DLevel(st, *f.level[lv[i]], us[i], vs[i], texel[i]);
        for (int ch = 0; ch < 4; ++ch)
            out->c[ch] = _mm256_setr_ps(texel[0][ch], texel[1][ch], texel[2][ch], texel[3][ch], texel[4][ch],
                                        texel[5][ch], texel[6][ch], texel[7][ch]);
    }
}

// The stages, specular add and fog; saturated.
FEROLT_AVX2 inline Px8 SpanAvx2::Combine(const PixelPipeline& pp, const LaneInputs& in, int mask)
{
    const PixelConfig& px = pp.px_;
    const int modulate = pp.modulateAlpha_;
    Px8 current;
    if (modulate >= 0)
    {
        // One stage modulating texture and diffuse colour. Both are in [0, 1] already, so selecting either
        // alpha needs no saturation.
        Px8 tex;
        SampleAt(pp, 0, in.u[0], in.v[0], in.level[0], in.one[0], mask, &tex);
        current = in.diffuse;
        for (int ch = 0; ch < 3; ++ch)
            current.c[ch] = Pixel8::Sat(_mm256_mul_ps(tex.c[ch], in.diffuse.c[ch]));
        if (modulate == kAlphaTexture)
            current.c[3] = tex.c[3];
        else if (modulate == kAlphaModulate)
            current.c[3] = Pixel8::Sat(_mm256_mul_ps(tex.c[3], in.diffuse.c[3]));
    }
    else
        // Each stage samples its texture just before it combines.
        current = Pixel8::CombineStages(
            px, in.diffuse, in.specular, [&](int s) FEROLT_AVX2 __attribute__((always_inline)) {
                Px8 tex = Pixel8::Splat(1.0f);
                if (px.stages[s].texture)
                    SampleAt(pp, s, in.u[s], in.v[s], in.level[s], in.one[s], mask, &tex);
                return tex;
            });
    Px8 color = Pixel8::SpecularAndFog(px, current, in.specular, px.fog ? in.fog : S(1.0f));
    for (auto& c : color.c)
        c = Pixel8::Sat(c);
    return color;
}

// Shades the first `count` (at most eight) waiting lanes and writes them in the order they came.
FEROLT_AVX2 void SpanAvx2::Flush(PixelPipeline& pp, int count)
{
    const float* data = pp.laneData_;
    auto at = [&](int attribute) { return data + PixelPipeline::kLaneSlots * attribute; };
    LaneInputs in;
    for (int ch = 0; ch < 4; ++ch)
    {
        in.diffuse.c[ch] = _mm256_load_ps(at(kLaneDiffuse + ch));
        in.specular.c[ch] = _mm256_load_ps(at(kLaneSpecular + ch));
    }
    in.fog = _mm256_load_ps(at(kLaneFog));
    const int s = pp.laneStage_;
    if (s >= 0)
    {
        in.u[s] = _mm256_load_ps(at(kLaneU));
        in.v[s] = _mm256_load_ps(at(kLaneV));
        in.level[s] = _mm256_castps_si256(_mm256_load_ps(at(kLaneLevel)));
        in.one[s] = nullptr;
    }
    const int mask = (1 << count) - 1;
    const Px8 color = Combine(pp, in, mask);
    alignas(32) uint32_t argb[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(argb), Pixel8::Pack(color));
    uint32_t* target = reinterpret_cast<uint32_t*>(pp.target_->Bits());
    for (int i = 0; i < count; ++i)
        target[pp.lanePixel_[i]] = argb[i];
}

// What a triangle's steps read: its planes, and what holds for all its pixels.
struct Triangle
{
    LanePlane z, q;
    bool affine;   // 1/w is constant: w is the same in every pixel
    __m256 wConst; // that w
    const float* diffuse[4];
    const float* specular[4];
    const float* fog;
    bool specularKept;
    bool colorsConst;        // colours are the same in every pixel,
    Px8 diffuseK, specularK; // these
    StageTex stage[kMaxStages];
};

// Per triangle: the planes, constant colours and levels. Only stage `onlyStage` is prepared when it is not
// -1. kDense: every plane read is there (PixelPipeline::LanePlan::dense), so offsets need no check.
template <bool kDense>
FEROLT_AVX2 inline void SpanAvx2::PrepareTriangle(const PixelPipeline& pp, const SetupPrim& p,
                                                  const float* arena, int onlyStage, Triangle* t)
{
    const PixelConfig& px = pp.px_;
    const PixelPipeline::LanePlan& plan = pp.plan_;
    const float* d = arena + p.data;
    const Plane* planes = reinterpret_cast<const Plane*>(d);
    const Plane& qp = planes[1];
    const float* groups = d + 6;
    const float* flat = p.flat ? d + plan.flatAt : nullptr;
    auto planeAt = [&](int at) -> const float* { return kDense || at >= 0 ? groups + at : kZeroPlane; };

    t->z = {S(planes[0].a), S(planes[0].b), S(planes[0].c)};
    t->q = {S(qp.a), S(qp.b), S(qp.c)};
    // With a constant 1/w plane, w is the same in every pixel: 1 / (a + 0 dx + 0 dy) is 1 / a.
    t->affine = qp.b == 0.0f && qp.c == 0.0f;
    t->wConst = S(t->affine && qp.a != 0.0f ? 1.0f / qp.a : 0.0f);
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
            t->diffuseK.c[ch] = Pixel8::Sat(flat ? S(flat[kVaryDiffuse + ch])
                                                 : _mm256_mul_ps(S(t->diffuse[ch][0]), t->wConst));
            t->specularK.c[ch] = !t->specularKept
                                     ? _mm256_setzero_ps()
                                     : Pixel8::Sat(flat ? S(flat[kVarySpecular + ch])
                                                        : _mm256_mul_ps(S(t->specular[ch][0]), t->wConst));
        }

    auto prepare = [&](int s) FEROLT_AVX2 __attribute__((always_inline))
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
            const __m256i l = LevelFor(f, st, t->wConst, _mm256_setzero_ps(), _mm256_setzero_ps(), t->q);
            st.level = _mm256_cvtsi256_si32(l);
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

// One step of up to eight covered pixels: their lanes, offsets from the plane origin, and w.
struct Step
{
    int mask;
    int hx[2], hy[2]; // the first pixel of each four-pixel half
    __m256 dx, dy, w;
    int bx, by;
};

// Walks the steps of a triangle within [xs, xe] x [ys, ye], takes the depth test, and hands each step with
// pixels left to body: narrow triangles take four columns of two rows a step, others eight columns of one
// row.
template <bool kDepth, class Body>
FEROLT_AVX2 inline void SpanAvx2::Walk(PixelPipeline& pp, const SetupPrim& p, const float* arena,
                                       const Triangle& t, int xs, int xe, int ys, int ye, Body&& body)
{
    const PixelConfig& px = pp.px_;
    const bool narrow = xe - xs < 4 && ye > ys;
    const __m256i lxv =
        narrow ? _mm256_setr_epi32(0, 1, 2, 3, 0, 1, 2, 3) : _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i lyv = narrow ? _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1) : _mm256_setzero_si256();
    const int stepX = narrow ? 4 : 8, stepY = narrow ? 2 : 1;
    const Coverage cover(p, arena, narrow, lxv, lyv);
    const __m256d depthMax = _mm256_set1_pd(static_cast<double>(px.depth.depthMax));
    // As a rule the depth surface holds every pixel the draw may touch.
    const RECT& clip = pp.cfg_.raster.clipRect;
    const bool depthCovers =
        static_cast<int64_t>(pp.depthWidth_) >= clip.right && pp.depthHeight_ >= clip.bottom;
    for (int by = ys; by <= ye; by += stepY)
    {
        const int rows = std::min(stepY, ye - by + 1);
        for (int bx = xs; bx <= xe; bx += stepX)
        {
            // Coverage: lanes inside the box whose three edge functions are >= 0.
            const int cols = std::min(stepX, xe - bx + 1);
            int mask = (1 << cols) - 1;
            if (narrow && rows == 2) mask |= mask << 4;
            mask &= ~cover.Outside(bx, by);
            if (!mask) continue;
            Step st;
            st.bx = bx;
            st.by = by;
            st.hx[0] = bx, st.hx[1] = narrow ? bx : bx + 4;
            st.hy[0] = by, st.hy[1] = narrow ? by + 1 : by;
            st.dx = _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(bx), lxv)), S(p.x0));
            st.dy = _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(by), lyv)), S(p.y0));

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
                            const int n = room <= 0 ? 0 : (room >= 4 ? 4 : static_cast<int>(room));
                            inDepth |= ((1 << n) - 1) << (4 * h);
                        }
                    test &= inDepth;
                }
                if (test)
                {
                    __m256 z = _mm256_add_ps(At(t.z, st.dx, st.dy), S(p.depthOffset));
                    z = _mm256_min_ps(_mm256_max_ps(z, _mm256_setzero_ps()), S(1.0f));
                    const __m256d half = _mm256_set1_pd(0.5);
                    const __m256i depth = Join(
                        _mm256_cvttpd_epi32(_mm256_add_pd(
                            _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(z)), depthMax), half)),
                        _mm256_cvttpd_epi32(_mm256_add_pd(
                            _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(z, 1)), depthMax), half)));
                    int pass = 0;
                    if (__builtin_popcount(static_cast<unsigned>(test)) <= 2)
                    {
                        // A pixel or two, as small triangles have: one by one is cheaper than the lanes.
                        alignas(32) uint32_t lanes[8];
                        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), depth);
                        for (int left = test; left; left &= left - 1)
                        {
                            const int i = __builtin_ctz(static_cast<unsigned>(left)), h = i >> 2;
                            uint32_t* at = pp.depthPlane_ + static_cast<size_t>(st.hy[h]) * pp.depthWidth_ +
                                           st.hx[h] + (i & 3);
                            if (!Passes(px.depth.depthFunc, lanes[i], *at)) continue;
                            pass |= 1 << i;
                            if (px.depth.depthWrite) *at = lanes[i];
                        }
                    }
                    else
                    {
                        uint32_t* dp[2];
                        for (int h = 0; h < 2; ++h)
                            dp[h] = (test >> (4 * h)) & 0xf
                                        ? pp.depthPlane_ + static_cast<size_t>(st.hy[h]) * pp.depthWidth_ +
                                              st.hx[h]
                                        : nullptr;
                        const __m256i old = LoadHalves(dp[0], dp[1], test);
                        pass = _mm256_movemask_ps(
                                   _mm256_castsi256_ps(Pixel8::Compare(px.depth.depthFunc, depth, old))) &
                               test;
                        if (px.depth.depthWrite && pass) StoreHalves(dp[0], dp[1], pass, depth);
                    }
                    mask &= ~(test & ~pass);
                }
                if (!mask) continue;
            }
            st.mask = mask;
            if (t.affine)
                st.w = t.wConst;
            else
            {
                st.w = Pixel8::W(At(t.q, st.dx, st.dy));
            }
            // The lanes' column and row offsets go along for pixels that wait.
            body(st, lxv, lyv);
        }
    }
}

// Small triangles without blending: their pixels pass the depth test at once and wait for the pixels of the
// next ones, so that few pixels from several triangles share a step; they are written in the order they came.
template <bool kDepth, bool kDense>
FEROLT_AVX2 void SpanAvx2::Batch(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs, int xe,
                                 int ys, int ye)
{
    const PixelConfig& px = pp.px_;
    const int stage = pp.laneStage_;
    Triangle t;
    PrepareTriangle<kDense>(pp, p, arena, stage, &t);
    const int rowTexels = static_cast<int>(pp.target_->Pitch() / 4);
    Walk<kDepth>(
        pp, p, arena, t, xs, xe, ys,
        ye, [&](const Step& st, __m256i lxv, __m256i lyv) FEROLT_AVX2 __attribute__((always_inline)) {
            // Packs the covered lanes after the waiting ones; eight make a step.
            const __m256i order =
                _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompress[st.mask])));
            const int n = pp.laneCount_;
            float* const lanes = pp.laneData_ + n;
            for (int ch = 0; ch < 4; ++ch)
                Put(lanes, kLaneDiffuse + ch,
                    t.colorsConst ? t.diffuseK.c[ch] : Colour(t.diffuse[ch], st.dx, st.dy, st.w), order);
            if (t.specularKept)
                for (int ch = 0; ch < 4; ++ch)
                    Put(lanes, kLaneSpecular + ch,
                        t.colorsConst ? t.specularK.c[ch] : Colour(t.specular[ch], st.dx, st.dy, st.w),
                        order);
            if (px.fog) Put(lanes, kLaneFog, Colour(t.fog, st.dx, st.dy, st.w), order);
            if (stage >= 0)
            {
                __m256 u, v;
                __m256i level;
                Coordinates(pp.fast_[stage], t.stage[stage], st.dx, st.dy, st.w, t.q, st.mask, &u, &v,
                            &level);
                Put(lanes, kLaneU, u, order);
                Put(lanes, kLaneV, v, order);
                Put(lanes, kLaneLevel, _mm256_castsi256_ps(level), order);
            }
            const __m256i pixel =
                _mm256_add_epi32(_mm256_add_epi32(_mm256_set1_epi32(st.by * rowTexels + st.bx), lxv),
                                 _mm256_mullo_epi32(lyv, _mm256_set1_epi32(rowTexels)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(pp.lanePixel_ + n),
                                _mm256_permutevar8x32_epi32(pixel, order));
            pp.laneCount_ = n + __builtin_popcount(static_cast<unsigned>(st.mask));
            if (pp.laneCount_ >= 8)
            {
                Flush(pp, 8);
                pp.laneCount_ -= 8;
                // The rest move to the front.
                for (int a = 0; a < PixelPipeline::kLaneAttributes; ++a)
                    _mm256_store_ps(pp.laneData_ + PixelPipeline::kLaneSlots * a,
                                    _mm256_load_ps(pp.laneData_ + PixelPipeline::kLaneSlots * a + 8));
                _mm256_store_si256(reinterpret_cast<__m256i*>(pp.lanePixel_),
                                   _mm256_load_si256(reinterpret_cast<const __m256i*>(pp.lanePixel_ + 8)));
            }
        });
}

template <bool kDepth>
FEROLT_AVX2 void SpanAvx2::NoBlend(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs, int xe,
                                   int ys, int ye)
{
    // Small triangles' pixels wait (Batch); others write directly, after those waiting.
    if (pp.laneStage_ == -2 || xe - xs >= 8 || ye - ys >= 8)
        Run<kDepth, kNoBlend>(pp, p, arena, xs, xe, ys, ye);
    else if (pp.plan_.dense)
        Batch<kDepth, true>(pp, p, arena, xs, xe, ys, ye);
    else
        Batch<kDepth, false>(pp, p, arena, xs, xe, ys, ye);
}

template <bool kDepth, int kBlend>
FEROLT_AVX2 void SpanAvx2::Run(PixelPipeline& pp, const SetupPrim& p, const float* arena, int xs, int xe,
                               int ys, int ye)
{
    if (pp.laneCount_) pp.FlushLanes();
    const PixelConfig& px = pp.px_;
    Triangle t;
    PrepareTriangle<false>(pp, p, arena, -1, &t);
    const BlendConfig& blend = px.blend;
    const uint32_t keep = kBlend == kAnyBlend ? KeptBits(blend.writeMask) : 0;
    const __m256i oldOr =
        _mm256_set1_epi32(pp.targetFormat_ == D3DFMT_X8R8G8B8 ? static_cast<int>(0xff000000u) : 0);
    Walk<kDepth>(
        pp, p, arena, t, xs, xe, ys,
        ye, [&](const Step& st, __m256i, __m256i) FEROLT_AVX2 __attribute__((always_inline)) {
            const int mask = st.mask;
            const int* hx = st.hx;
            const int* hy = st.hy;
            LaneInputs in;
            for (int ch = 0; ch < 4; ++ch)
            {
                in.diffuse.c[ch] =
                    t.colorsConst ? t.diffuseK.c[ch] : Colour(t.diffuse[ch], st.dx, st.dy, st.w);
                in.specular.c[ch] = t.colorsConst    ? t.specularK.c[ch]
                                    : t.specularKept ? Colour(t.specular[ch], st.dx, st.dy, st.w)
                                                     : _mm256_setzero_ps();
            }
            in.fog = px.fog ? Colour(t.fog, st.dx, st.dy, st.w) : _mm256_setzero_ps();
            for (int s = 0; s < px.stageCount; ++s)
                if (px.stages[s].texture)
                    in.one[s] = Coordinates(pp.fast_[s], t.stage[s], st.dx, st.dy, st.w, t.q, mask, &in.u[s],
                                            &in.v[s], &in.level[s]);
            Px8 color = Combine(pp, in, mask);

            // Blend and write.
            uint32_t* out[2];
            for (int h = 0; h < 2; ++h)
                out[h] = (mask >> (4 * h)) & 0xf ? reinterpret_cast<uint32_t*>(pp.target_->Row(hy[h])) + hx[h]
                                                 : nullptr;
            __m256i old = _mm256_setzero_si256();
            if constexpr (kBlend != kNoBlend) old = _mm256_or_si256(LoadHalves(out[0], out[1], mask), oldOr);
            if (kBlend == kSrcAlphaOver || kBlend == kAdditive || (kBlend == kAnyBlend && blend.enable))
            {
                const Px8 dst = Pixel8::Unpack(old, false);
                if constexpr (kBlend == kSrcAlphaOver)
                    color = Pixel8::BlendOver(color, dst);
                else if constexpr (kBlend == kAdditive)
                    color = Pixel8::BlendAdd(color, dst);
                else
                    color = Pixel8::Blend(blend, color, dst);
            }
            __m256i argb = Pixel8::Pack(color);
            if constexpr (kBlend == kAnyBlend) argb = Pixel8::Mask(argb, old, keep);
            StoreHalves(out[0], out[1], mask, argb);
        });
}

void PixelPipeline::FlushLanes()
{
    if (laneCount_) SpanAvx2::Flush(*this, laneCount_);
    laneCount_ = 0;
}

void PixelPipeline::SelectAvx2Loop()
{
    const BlendConfig& b = px_.blend;
    const bool allChannels = b.writeMask == 0xf;
    const bool plainAdd = b.enable && allChannels && b.op == D3DBLENDOP_ADD && !b.separateAlpha;
    const int kind = !b.enable && allChannels                                                  ? kNoBlend
                     : plainAdd && b.src == D3DBLEND_SRCALPHA && b.dst == D3DBLEND_INVSRCALPHA ? kSrcAlphaOver
                     : plainAdd && b.src == D3DBLEND_ONE && b.dst == D3DBLEND_ONE              ? kAdditive
                                                                                               : kAnyBlend;
    static constexpr Avx2Loop kLoops[2][4] = {
        {&SpanAvx2::NoBlend<false>, &SpanAvx2::Run<false, kSrcAlphaOver>, &SpanAvx2::Run<false, kAdditive>,
         &SpanAvx2::Run<false, kAnyBlend>},
        {&SpanAvx2::NoBlend<true>, &SpanAvx2::Run<true, kSrcAlphaOver>, &SpanAvx2::Run<true, kAdditive>,
         &SpanAvx2::Run<true, kAnyBlend>}};
    avx2Loop_ = kLoops[depthActive_ ? 1 : 0][kind];
    for (int s = 0; s < px_.stageCount; ++s)
        plan_.lod[s] = px_.stages[s].texture && needLod_[s] &&
                       px_.stages[s].sampler.mipFilter == D3DTEXF_POINT && fast_[s].levels > 1;
}

void PixelPipeline::PlanLanes(const VaryingSet& active)
{
    plan_.active = &active;
    for (int ch = 0; ch < 4; ++ch)
    {
        plan_.diffuse[ch] = active.PlaneAt(kVaryDiffuse + ch);
        plan_.specular[ch] = active.PlaneAt(kVarySpecular + ch);
    }
    plan_.specularKept = active.group[kVarySpecular] >= 0;
    plan_.fog = active.PlaneAt(kVaryFog);
    for (int s = 0; s < kMaxStages; ++s)
    {
        plan_.u[s] = active.PlaneAt(kVaryTex + 4 * s);
        plan_.v[s] = active.PlaneAt(kVaryTex + 4 * s + 1);
    }
    plan_.flatAt = 6 + active.Floats();
    bool dense = true;
    for (int ch = 0; ch < 4; ++ch)
        dense = dense && plan_.diffuse[ch] >= 0 && (!plan_.specularKept || plan_.specular[ch] >= 0);
    dense = dense && (!px_.fog || plan_.fog >= 0);
    for (int s = 0; s < px_.stageCount; ++s)
        dense = dense && (!px_.stages[s].texture || (plan_.u[s] >= 0 && plan_.v[s] >= 0));
    plan_.dense = dense;
}

#else
void PixelPipeline::SelectAvx2Loop() {}
void PixelPipeline::PlanLanes(const VaryingSet&) {}
void PixelPipeline::FlushLanes()
{
    laneCount_ = 0;
}
#endif
} // namespace ferolt::d3d9
