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
struct Px8
{
    __m256 c[4]; // red, green, blue, alpha of eight pixels
};

FEROLT_AVX2 inline __m256 S(float v)
{
    return _mm256_set1_ps(v);
}

FEROLT_AVX2 inline __m256 Sat(__m256 v)
{
    return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), S(1.0f));
}

FEROLT_AVX2 inline __m256 Operate(DWORD op, __m256 a1, __m256 a2)
{
    switch (op)
    {
    case D3DTOP_SELECTARG1:
        return Sat(a1);
    case D3DTOP_SELECTARG2:
        return Sat(a2);
    case D3DTOP_MODULATE:
        return Sat(_mm256_mul_ps(a1, a2));
    case D3DTOP_MODULATE2X:
        return Sat(_mm256_mul_ps(_mm256_mul_ps(S(2.0f), a1), a2));
    case D3DTOP_MODULATE4X:
        return Sat(_mm256_mul_ps(_mm256_mul_ps(S(4.0f), a1), a2));
    default: // ADD
        return Sat(_mm256_add_ps(a1, a2));
    }
}

FEROLT_AVX2 inline __m256 Factor(DWORD f, int ch, const Px8& s, const Px8& d, const float* constant)
{
    const __m256 one = S(1.0f);
    switch (f)
    {
    case D3DBLEND_ZERO:
        return _mm256_setzero_ps();
    case D3DBLEND_ONE:
        return one;
    case D3DBLEND_SRCCOLOR:
        return s.c[ch];
    case D3DBLEND_INVSRCCOLOR:
        return _mm256_sub_ps(one, s.c[ch]);
    case D3DBLEND_SRCALPHA:
        return s.c[3];
    case D3DBLEND_INVSRCALPHA:
        return _mm256_sub_ps(one, s.c[3]);
    case D3DBLEND_DESTALPHA:
        return d.c[3];
    case D3DBLEND_INVDESTALPHA:
        return _mm256_sub_ps(one, d.c[3]);
    case D3DBLEND_DESTCOLOR:
        return d.c[ch];
    case D3DBLEND_INVDESTCOLOR:
        return _mm256_sub_ps(one, d.c[ch]);
    case D3DBLEND_SRCALPHASAT:
        return ch == 3 ? one : _mm256_min_ps(_mm256_sub_ps(one, d.c[3]), s.c[3]);
    case D3DBLEND_BLENDFACTOR:
        return S(constant[ch]);
    case D3DBLEND_INVBLENDFACTOR:
        return S(1.0f - constant[ch]);
    default:
        return one;
    }
}

FEROLT_AVX2 inline __m256 BlendOp(DWORD op, __m256 s, __m256 d, __m256 fs, __m256 fd)
{
    switch (op)
    {
    case D3DBLENDOP_SUBTRACT:
        return _mm256_sub_ps(_mm256_mul_ps(s, fs), _mm256_mul_ps(d, fd));
    case D3DBLENDOP_REVSUBTRACT:
        return _mm256_sub_ps(_mm256_mul_ps(d, fd), _mm256_mul_ps(s, fs));
    case D3DBLENDOP_MIN:
        return _mm256_min_ps(d, s);
    case D3DBLENDOP_MAX:
        return _mm256_max_ps(d, s);
    default:
        return _mm256_add_ps(_mm256_mul_ps(s, fs), _mm256_mul_ps(d, fd));
    }
}

// A8R8G8B8 values to channels in [0, 1], as Vec4::FromBgra converts them.
FEROLT_AVX2 inline void Unpack(__m256i t, bool opaque, Px8* out)
{
    const __m256i ff = _mm256_set1_epi32(0xff);
    const __m256 k = S(1.0f / 255.0f);
    out->c[0] = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(t, 16), ff)), k);
    out->c[1] = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(t, 8), ff)), k);
    out->c[2] = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(t, ff)), k);
    out->c[3] = opaque ? S(1.0f) : _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(t, 24)), k);
}

// Saturated channels to bytes, as (uint32_t)(v * 255 + 0.5).
FEROLT_AVX2 inline __m256i ToByte(__m256 c)
{
    return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(c, S(255.0f)), S(0.5f)));
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
        Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r0, x0), 4), opaque, out);
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
        Unpack(a, opaque, &t00);
        Unpack(b, opaque, &t10);
        Pairs(l.texels, i1, &a, &b);
        Unpack(a, opaque, &t01);
        Unpack(b, opaque, &t11);
    }
    else
    {
        Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r0, x0), 4), opaque, &t00);
        Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r0, x1), 4), opaque, &t10);
        Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r1, x0), 4), opaque, &t01);
        Unpack(_mm256_i32gather_epi32(l.texels, _mm256_add_epi32(r1, x1), 4), opaque, &t11);
    }
    for (int ch = 0; ch < 4; ++ch)
    {
        const __m256 top = _mm256_add_ps(t00.c[ch], _mm256_mul_ps(_mm256_sub_ps(t10.c[ch], t00.c[ch]), fx));
        const __m256 bottom =
            _mm256_add_ps(t01.c[ch], _mm256_mul_ps(_mm256_sub_ps(t11.c[ch], t01.c[ch]), fx));
        out->c[ch] = _mm256_add_ps(top, _mm256_mul_ps(_mm256_sub_ps(bottom, top), fy));
    }
    return true;
}

// Plane of one varying broadcast to eight lanes; all zero when the draw does not keep it.
struct LanePlane
{
    __m256 a, b, c;
    bool kept;
};

FEROLT_AVX2 inline LanePlane PlaneOf(const float* at)
{
    if (!at) return {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), false};
    return {S(at[0]), S(at[4]), S(at[8]), true};
}

// (a + b dx) + c dy, as Plane::At rounds.
FEROLT_AVX2 inline __m256 At(const LanePlane& p, __m256 dx, __m256 dy)
{
    return _mm256_add_ps(_mm256_add_ps(p.a, _mm256_mul_ps(p.b, dx)), _mm256_mul_ps(p.c, dy));
}

// Whether unsigned a and b compare as func says, lane by lane.
FEROLT_AVX2 inline __m256i CompareDepth(DWORD func, __m256i a, __m256i b)
{
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i sa = _mm256_xor_si256(a, flip), sb = _mm256_xor_si256(b, flip);
    const __m256i all = _mm256_set1_epi32(-1);
    switch (func)
    {
    case D3DCMP_NEVER:
        return _mm256_setzero_si256();
    case D3DCMP_LESS:
        return _mm256_cmpgt_epi32(sb, sa);
    case D3DCMP_EQUAL:
        return _mm256_cmpeq_epi32(sa, sb);
    case D3DCMP_LESSEQUAL:
        return _mm256_xor_si256(_mm256_cmpgt_epi32(sa, sb), all);
    case D3DCMP_GREATER:
        return _mm256_cmpgt_epi32(sa, sb);
    case D3DCMP_NOTEQUAL:
        return _mm256_xor_si256(_mm256_cmpeq_epi32(sa, sb), all);
    case D3DCMP_GREATEREQUAL:
        return _mm256_xor_si256(_mm256_cmpgt_epi32(sb, sa), all);
    default:
        return all;
    }
}

enum BlendKind
{
    kNoBlend,      // no blending and every channel written: the target is not read
    kSrcAlphaOver, // SRCALPHA, INVSRCALPHA, ADD, every channel written
    kAnyBlend,     // the factor and operation switches, and the write mask
};
} // namespace

// A textured stage's coordinate planes and, when it is the same for the whole triangle, its level.
struct StageTex
{
    LanePlane u, v;
    bool lod = false;        // the level follows the derivatives
    bool constLevel = false; // level holds for every pixel whose coordinates are finite
    int level = 0;
    Level at{};
};

// Level of each lane from the screen-space derivatives: dc/dx = w (dP/dx - c dQ/dx), as the general path
// takes them; a coordinate without a plane has none.
FEROLT_AVX2 inline __m256i LevelFor(const FastTexture& t, const StageTex& st, __m256 w, __m256 u, __m256 v,
                                    const LanePlane& q)
{
    const __m256 zero = _mm256_setzero_ps();
    const __m256 ux = st.u.kept ? _mm256_mul_ps(w, _mm256_sub_ps(st.u.b, _mm256_mul_ps(u, q.b))) : zero;
    const __m256 uy = st.u.kept ? _mm256_mul_ps(w, _mm256_sub_ps(st.u.c, _mm256_mul_ps(u, q.c))) : zero;
    const __m256 vx = st.v.kept ? _mm256_mul_ps(w, _mm256_sub_ps(st.v.b, _mm256_mul_ps(v, q.b))) : zero;
    const __m256 vy = st.v.kept ? _mm256_mul_ps(w, _mm256_sub_ps(st.v.c, _mm256_mul_ps(v, q.c))) : zero;
    const __m256 W = S(t.width), H = S(t.height);
    const __m256 uxw = _mm256_mul_ps(ux, W), vxh = _mm256_mul_ps(vx, H);
    const __m256 uyw = _mm256_mul_ps(uy, W), vyh = _mm256_mul_ps(vy, H);
    const __m256 lxs = _mm256_add_ps(_mm256_mul_ps(uxw, uxw), _mm256_mul_ps(vxh, vxh));
    const __m256 lys = _mm256_add_ps(_mm256_mul_ps(uyw, uyw), _mm256_mul_ps(vyh, vyh));
    const __m256 rho2 = _mm256_max_ps(lys, lxs);
    // Levels above the base as PointMipSteps counts them, for rho^2 >= 2 (NaN stays on the base level).
    const __m256i minified = _mm256_castps_si256(_mm256_cmp_ps(rho2, S(2.0f), _CMP_GE_OQ));
    const __m256i e = _mm256_sub_epi32(
        _mm256_and_si256(_mm256_srli_epi32(_mm256_castps_si256(rho2), 23), _mm256_set1_epi32(0xff)),
        _mm256_set1_epi32(126));
    __m256i steps = _mm256_srai_epi32(e, 1);
    steps = _mm256_min_epi32(steps, _mm256_set1_epi32(static_cast<int>(t.levels - 1 - t.base)));
    return _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(t.base)), _mm256_and_si256(steps, minified));
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

FEROLT_AVX2 inline void Put(float* lanes, int attribute, __m256 value)
{
    _mm256_storeu_ps(lanes + 16 * attribute, value); // PixelPipeline::kLaneSlots lanes an attribute
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

struct SpanAvx2
{
    FEROLT_AVX2 __attribute__((always_inline)) static inline void SampleAt(const PixelPipeline& pp, int s,
                                                                           __m256 u, __m256 v, __m256i level,
                                                                           const Level* one, int mask,
                                                                           Px8* out);
    FEROLT_AVX2 __attribute__((always_inline)) static inline Px8 Combine(const PixelPipeline& pp,
                                                                         const LaneInputs& in, int mask);
    FEROLT_AVX2 static void Flush(PixelPipeline& pp, int count);
    template <bool kDepth, int kBlend>
    FEROLT_AVX2 static void Run(PixelPipeline& pp, const SetupPrim& p, const float* arena,
                                const VaryingSet& active, int xs, int xe, int ys, int ye);
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
    const Px8 factor = {
        {S(px.textureFactor[0]), S(px.textureFactor[1]), S(px.textureFactor[2]), S(px.textureFactor[3])}};
    // Each stage samples its texture just before it combines.
    Px8 current = in.diffuse, tex;
    const int modulate = pp.modulateAlpha_;
    if (modulate >= 0)
    {
        // One stage modulating texture and diffuse colour. Both are in [0, 1] already, so selecting either
        // alpha needs no saturation.
        SampleAt(pp, 0, in.u[0], in.v[0], in.level[0], in.one[0], mask, &tex);
        for (int ch = 0; ch < 3; ++ch)
            current.c[ch] = Sat(_mm256_mul_ps(tex.c[ch], in.diffuse.c[ch]));
        if (modulate == kAlphaTexture)
            current.c[3] = tex.c[3];
        else if (modulate == kAlphaModulate)
            current.c[3] = Sat(_mm256_mul_ps(tex.c[3], in.diffuse.c[3]));
    }
    for (int s = modulate >= 0 ? px.stageCount : 0; s < px.stageCount; ++s)
    {
        const StageConfig& st = px.stages[s];
        auto arg = [&](DWORD a) -> const Px8&
        {
            switch (a)
            {
            case D3DTA_DIFFUSE:
                return in.diffuse;
            case D3DTA_TEXTURE:
                return tex;
            case D3DTA_TFACTOR:
                return factor;
            case D3DTA_SPECULAR:
                return in.specular;
            default:
                return current;
            }
        };
        if (st.texture)
            SampleAt(pp, s, in.u[s], in.v[s], in.level[s], in.one[s], mask, &tex);
        else
            for (auto& c : tex.c)
                c = S(1.0f);
        Px8 next;
        const Px8& c1 = arg(st.colorArg[1]);
        const Px8& c2 = arg(st.colorArg[2]);
        for (int ch = 0; ch < 3; ++ch)
            next.c[ch] = Operate(st.colorOp, c1.c[ch], c2.c[ch]);
        next.c[3] = st.alphaOp == D3DTOP_DISABLE
                        ? current.c[3]
                        : Operate(st.alphaOp, arg(st.alphaArg[1]).c[3], arg(st.alphaArg[2]).c[3]);
        current = next;
    }
    Px8 color = current;
    if (px.specularAdd)
        for (int ch = 0; ch < 3; ++ch)
            color.c[ch] = Sat(_mm256_add_ps(color.c[ch], in.specular.c[ch]));
    if (px.fog)
    {
        const __m256 g = _mm256_sub_ps(S(1.0f), in.fog);
        for (int ch = 0; ch < 3; ++ch)
            color.c[ch] =
                _mm256_add_ps(_mm256_mul_ps(in.fog, color.c[ch]), _mm256_mul_ps(g, S(px.fogColor[ch])));
    }
    for (auto& c : color.c)
        c = Sat(c);
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
    _mm256_store_si256(
        reinterpret_cast<__m256i*>(argb),
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(ToByte(color.c[0]), 16),
                                        _mm256_slli_epi32(ToByte(color.c[1]), 8)),
                        _mm256_or_si256(ToByte(color.c[2]), _mm256_slli_epi32(ToByte(color.c[3]), 24))));
    uint32_t* target = reinterpret_cast<uint32_t*>(pp.target_->Bits());
    for (int i = 0; i < count; ++i)
        target[pp.lanePixel_[i]] = argb[i];
}

template <bool kDepth, int kBlend>
FEROLT_AVX2 void SpanAvx2::Run(PixelPipeline& pp, const SetupPrim& p, const float* arena,
                               const VaryingSet& active, int xs, int xe, int ys, int ye)
{
    const PixelConfig& px = pp.px_;
    const float* d = arena + p.data;
    const Plane* planes = reinterpret_cast<const Plane*>(d);
    const Plane& qp = planes[1];
    const float* groups = d + 6;
    const float* flat = p.flat ? d + 6 + active.Floats() : nullptr;
    const EdgeSet ed = Edges(p, arena);
    auto planeAt = [&](int i) -> const float*
    {
        const int at = active.PlaneAt(i);
        return at < 0 ? nullptr : groups + at;
    };

    // Per triangle: the planes in registers.
    const LanePlane zPlane = {S(planes[0].a), S(planes[0].b), S(planes[0].c), true};
    const LanePlane qPlane = {S(qp.a), S(qp.b), S(qp.c), true};
    // With a constant 1/w plane, w is the same in every pixel: 1 / (a + 0 dx + 0 dy) is 1 / a.
    const bool affine = qp.b == 0.0f && qp.c == 0.0f;
    const __m256 wConst = S(affine && qp.a != 0.0f ? 1.0f / qp.a : 0.0f);
    LanePlane diffuseP[4], specularP[4];
    for (int ch = 0; ch < 4; ++ch)
    {
        diffuseP[ch] = PlaneOf(flat ? nullptr : planeAt(kVaryDiffuse + ch));
        specularP[ch] = PlaneOf(flat ? nullptr : planeAt(kVarySpecular + ch));
    }
    const bool specularKept = flat || active.group[kVarySpecular] >= 0;
    // Flat colours, and Gouraud colours that do not change across a triangle with a constant w, are the
    // same in every pixel: (a + 0 dx) + 0 dy is a up to the sign of a zero, which saturation removes.
    bool colorsConst = flat != nullptr;
    if (!flat && affine)
    {
        colorsConst = true;
        for (int ch = 0; ch < 4; ++ch)
            for (const float* at : {planeAt(kVaryDiffuse + ch), planeAt(kVarySpecular + ch)})
                if (at && (at[4] != 0.0f || at[8] != 0.0f)) colorsConst = false;
    }
    Px8 diffuseK, specularK;
    if (colorsConst)
        for (int ch = 0; ch < 4; ++ch)
        {
            diffuseK.c[ch] = Sat(flat ? S(flat[kVaryDiffuse + ch]) : _mm256_mul_ps(diffuseP[ch].a, wConst));
            specularK.c[ch] = !specularKept ? _mm256_setzero_ps()
                                            : Sat(flat ? S(flat[kVarySpecular + ch])
                                                       : _mm256_mul_ps(specularP[ch].a, wConst));
        }

    const LanePlane fogP = PlaneOf(planeAt(kVaryFog));
    StageTex stage[kMaxStages];
    for (int s = 0; s < px.stageCount; ++s)
    {
        StageTex& t = stage[s];
        t.u = PlaneOf(planeAt(kVaryTex + 4 * s));
        t.v = PlaneOf(planeAt(kVaryTex + 4 * s + 1));
        const FastTexture& f = pp.fast_[s];
        if (!px.stages[s].texture) continue;
        t.lod = pp.needLod_[s] && px.stages[s].sampler.mipFilter == D3DTEXF_POINT && f.levels > 1;
        t.level = static_cast<int>(f.base);
        if (t.lod && affine)
        {
            // With w constant the derivatives w (dP/dx - c dQ/dx) are w dP/dx for every finite c, so the
            // level is the triangle's.
            const __m256i l = LevelFor(f, t, wConst, _mm256_setzero_ps(), _mm256_setzero_ps(), qPlane);
            t.level = _mm256_cvtsi256_si32(l);
        }
        t.constLevel = !t.lod || affine;
        // Only a level that holds for the whole triangle is read from here.
        if (t.constLevel) t.at = LevelOf(*f.level[t.level]);
    }

    // Narrow triangles take four columns of two rows a step, others eight columns of one row.
    const bool narrow = xe - xs < 4 && ye > ys;
    const __m256i lxv =
        narrow ? _mm256_setr_epi32(0, 1, 2, 3, 0, 1, 2, 3) : _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i lyv = narrow ? _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1) : _mm256_setzero_si256();
    // Edge function offsets of the lanes from the step's first pixel.
    __m256i edgeOff[3][2];
    for (int e = 0; e < 3; ++e)
    {
        const int64_t a = ed.a[e];
        edgeOff[e][0] = _mm256_setr_epi64x(0, a, 2 * a, 3 * a);
        edgeOff[e][1] = _mm256_add_epi64(edgeOff[e][0], _mm256_set1_epi64x(narrow ? ed.b[e] : 4 * a));
    }
    const int stepX = narrow ? 4 : 8, stepY = narrow ? 2 : 1;

    const BlendConfig& blend = px.blend;
    uint32_t keep = 0;
    if (!(blend.writeMask & D3DCOLORWRITEENABLE_RED)) keep |= 0x00ff0000u;
    if (!(blend.writeMask & D3DCOLORWRITEENABLE_GREEN)) keep |= 0x0000ff00u;
    if (!(blend.writeMask & D3DCOLORWRITEENABLE_BLUE)) keep |= 0x000000ffu;
    if (!(blend.writeMask & D3DCOLORWRITEENABLE_ALPHA)) keep |= 0xff000000u;
    const __m256i oldOr =
        _mm256_set1_epi32(pp.targetFormat_ == D3DFMT_X8R8G8B8 ? static_cast<int>(0xff000000u) : 0);
    const __m256d depthMax = _mm256_set1_pd(static_cast<double>(px.depth.depthMax));
    // Small triangles without blending wait for the pixels of the next ones, so that their few pixels share
    // a step; the pixels are written in the order they come. Others write directly, after those waiting.
    const bool batch = kBlend == kNoBlend && pp.laneStage_ != -2 && xe - xs < 8 && ye - ys < 8;
    const int batchStage = pp.laneStage_;
    const int rowTexels = static_cast<int>(pp.target_->Pitch() / 4);
    if (!batch && pp.laneCount_) pp.FlushLanes();

    for (int by = ys; by <= ye; by += stepY)
    {
        const int rows = std::min(stepY, ye - by + 1);
        for (int bx = xs; bx <= xe; bx += stepX)
        {
            // Coverage: lanes inside the box whose three edge functions are >= 0.
            const int cols = std::min(stepX, xe - bx + 1);
            int mask = (1 << cols) - 1;
            if (narrow && rows == 2) mask |= mask << 4;
            __m256i neg0 = _mm256_setzero_si256(), neg1 = _mm256_setzero_si256();
            for (int e = 0; e < 3; ++e)
            {
                const __m256i base = _mm256_set1_epi64x(ed.a[e] * bx + ed.b[e] * by + ed.c[e]);
                neg0 = _mm256_or_si256(neg0, _mm256_add_epi64(base, edgeOff[e][0]));
                neg1 = _mm256_or_si256(neg1, _mm256_add_epi64(base, edgeOff[e][1]));
            }
            const int outside = _mm256_movemask_pd(_mm256_castsi256_pd(neg0)) |
                                (_mm256_movemask_pd(_mm256_castsi256_pd(neg1)) << 4);
            mask &= ~outside;
            if (!mask) continue;
            // The two four-pixel halves.
            const int hx[2] = {bx, narrow ? bx : bx + 4}, hy[2] = {by, narrow ? by + 1 : by};

            const __m256 dx =
                _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(bx), lxv)), S(p.x0));
            const __m256 dy =
                _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(by), lyv)), S(p.y0));

            if constexpr (kDepth)
            {
                // Lanes inside the depth surface take the test; the others pass untested.
                int inDepth = 0;
                for (int h = 0; h < 2; ++h)
                    if (hy[h] < pp.depthHeight_)
                    {
                        const int64_t room = static_cast<int64_t>(pp.depthWidth_) - hx[h];
                        const int n = room <= 0 ? 0 : (room >= 4 ? 4 : static_cast<int>(room));
                        inDepth |= ((1 << n) - 1) << (4 * h);
                    }
                const int test = mask & inDepth;
                if (test)
                {
                    __m256 z = _mm256_add_ps(At(zPlane, dx, dy), S(p.depthOffset));
                    z = _mm256_min_ps(_mm256_max_ps(z, _mm256_setzero_ps()), S(1.0f));
                    const __m256d half = _mm256_set1_pd(0.5);
                    const __m256i depth = Join(
                        _mm256_cvttpd_epi32(_mm256_add_pd(
                            _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(z)), depthMax), half)),
                        _mm256_cvttpd_epi32(_mm256_add_pd(
                            _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(z, 1)), depthMax), half)));
                    uint32_t* dp[2];
                    for (int h = 0; h < 2; ++h)
                        dp[h] = (test >> (4 * h)) & 0xf
                                    ? pp.depthPlane_ + static_cast<size_t>(hy[h]) * pp.depthWidth_ + hx[h]
                                    : nullptr;
                    const __m256i old = LoadHalves(dp[0], dp[1], test);
                    const int pass = _mm256_movemask_ps(
                                         _mm256_castsi256_ps(CompareDepth(px.depth.depthFunc, depth, old))) &
                                     test;
                    mask &= ~(test & ~pass);
                    if (px.depth.depthWrite && pass) StoreHalves(dp[0], dp[1], pass, depth);
                }
                if (!mask) continue;
            }

            __m256 w;
            if (affine)
                w = wConst;
            else
            {
                const __m256 q = At(qPlane, dx, dy);
                w = _mm256_andnot_ps(_mm256_cmp_ps(q, _mm256_setzero_ps(), _CMP_EQ_OQ),
                                     _mm256_div_ps(S(1.0f), q));
            }

            LaneInputs in;
            if (colorsConst)
            {
                in.diffuse = diffuseK;
                in.specular = specularK;
            }
            else
                for (int ch = 0; ch < 4; ++ch)
                {
                    in.diffuse.c[ch] = Sat(_mm256_mul_ps(At(diffuseP[ch], dx, dy), w));
                    in.specular.c[ch] =
                        specularKept ? Sat(_mm256_mul_ps(At(specularP[ch], dx, dy), w)) : _mm256_setzero_ps();
                }
            in.fog = px.fog ? Sat(_mm256_mul_ps(At(fogP, dx, dy), w)) : _mm256_setzero_ps();
            for (int s = 0; s < px.stageCount; ++s)
            {
                const StageTex& t = stage[s];
                if (!px.stages[s].texture) continue;
                in.u[s] = t.u.kept ? _mm256_mul_ps(At(t.u, dx, dy), w) : _mm256_setzero_ps();
                in.v[s] = t.v.kept ? _mm256_mul_ps(At(t.v, dx, dy), w) : _mm256_setzero_ps();
                in.level[s] = _mm256_set1_epi32(t.level);
                bool one = t.constLevel;
                if (one && t.lod)
                {
                    // The triangle's level holds where the coordinates are finite.
                    const __m256 zero = _mm256_setzero_ps();
                    const __m256 finite =
                        _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(in.u[s], in.u[s]), zero, _CMP_EQ_OQ),
                                      _mm256_cmp_ps(_mm256_sub_ps(in.v[s], in.v[s]), zero, _CMP_EQ_OQ));
                    one = (_mm256_movemask_ps(finite) & mask) == mask;
                }
                if (!one && t.lod) in.level[s] = LevelFor(pp.fast_[s], t, w, in.u[s], in.v[s], qPlane);
                in.one[s] = one ? &t.at : nullptr;
            }

            if (batch)
            {
                // Packs the covered lanes after the waiting ones; eight make a step.
                const __m256i order =
                    _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompress[mask])));
                const int n = pp.laneCount_;
                float* const lanes = pp.laneData_ + n;
                for (int ch = 0; ch < 4; ++ch)
                    Put(lanes, kLaneDiffuse + ch, _mm256_permutevar8x32_ps(in.diffuse.c[ch], order));
                if (specularKept)
                    for (int ch = 0; ch < 4; ++ch)
                        Put(lanes, kLaneSpecular + ch, _mm256_permutevar8x32_ps(in.specular.c[ch], order));
                if (px.fog) Put(lanes, kLaneFog, _mm256_permutevar8x32_ps(in.fog, order));
                if (batchStage >= 0)
                {
                    Put(lanes, kLaneU, _mm256_permutevar8x32_ps(in.u[batchStage], order));
                    Put(lanes, kLaneV, _mm256_permutevar8x32_ps(in.v[batchStage], order));
                    Put(lanes, kLaneLevel,
                        _mm256_permutevar8x32_ps(_mm256_castsi256_ps(in.level[batchStage]), order));
                }
                const __m256i pixel =
                    _mm256_add_epi32(_mm256_add_epi32(_mm256_set1_epi32(by * rowTexels + bx), lxv),
                                     _mm256_mullo_epi32(lyv, _mm256_set1_epi32(rowTexels)));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(pp.lanePixel_ + n),
                                    _mm256_permutevar8x32_epi32(pixel, order));
                pp.laneCount_ = n + __builtin_popcount(static_cast<unsigned>(mask));
                if (pp.laneCount_ >= 8)
                {
                    Flush(pp, 8);
                    pp.laneCount_ -= 8;
                    // The rest move to the front.
                    for (int a = 0; a < PixelPipeline::kLaneAttributes; ++a)
                        _mm256_store_ps(pp.laneData_ + PixelPipeline::kLaneSlots * a,
                                        _mm256_load_ps(pp.laneData_ + PixelPipeline::kLaneSlots * a + 8));
                    _mm256_store_si256(
                        reinterpret_cast<__m256i*>(pp.lanePixel_),
                        _mm256_load_si256(reinterpret_cast<const __m256i*>(pp.lanePixel_ + 8)));
                }
                continue;
            }
            Px8 color = Combine(pp, in, mask);

            // Blend and write.
            uint32_t* out[2];
            for (int h = 0; h < 2; ++h)
                out[h] = (mask >> (4 * h)) & 0xf ? reinterpret_cast<uint32_t*>(pp.target_->Row(hy[h])) + hx[h]
                                                 : nullptr;
            __m256i old = _mm256_setzero_si256();
            if constexpr (kBlend != kNoBlend) old = _mm256_or_si256(LoadHalves(out[0], out[1], mask), oldOr);
            if (kBlend == kSrcAlphaOver || (kBlend == kAnyBlend && blend.enable))
            {
                Px8 dst;
                Unpack(old, false, &dst);
                Px8 r;
                if constexpr (kBlend == kSrcAlphaOver)
                {
                    const __m256 fs = color.c[3], fd = _mm256_sub_ps(S(1.0f), color.c[3]);
                    for (int ch = 0; ch < 4; ++ch)
                        r.c[ch] =
                            Sat(_mm256_add_ps(_mm256_mul_ps(color.c[ch], fs), _mm256_mul_ps(dst.c[ch], fd)));
                }
                else
                    for (int ch = 0; ch < 4; ++ch)
                    {
                        const bool sep = ch == 3 && blend.separateAlpha;
                        const DWORD fs = sep ? blend.srcAlpha : blend.src,
                                    fd = sep ? blend.dstAlpha : blend.dst;
                        r.c[ch] = Sat(BlendOp(sep ? blend.opAlpha : blend.op, color.c[ch], dst.c[ch],
                                              Factor(fs, ch, color, dst, blend.factor),
                                              Factor(fd, ch, color, dst, blend.factor)));
                    }
                color = r;
            }
            __m256i argb = _mm256_or_si256(
                _mm256_or_si256(_mm256_slli_epi32(ToByte(color.c[0]), 16),
                                _mm256_slli_epi32(ToByte(color.c[1]), 8)),
                _mm256_or_si256(ToByte(color.c[2]), _mm256_slli_epi32(ToByte(color.c[3]), 24)));
            if constexpr (kBlend == kAnyBlend)
            {
                const __m256i keepv = _mm256_set1_epi32(static_cast<int>(keep));
                argb = _mm256_or_si256(_mm256_andnot_si256(keepv, argb), _mm256_and_si256(old, keepv));
            }
            StoreHalves(out[0], out[1], mask, argb);
        }
    }
}

void PixelPipeline::FlushLanes()
{
    if (laneCount_) SpanAvx2::Flush(*this, laneCount_);
    laneCount_ = 0;
}

void PixelPipeline::QuadsAvx2(const SetupPrim& p, const float* arena, const VaryingSet& active, int xs,
                              int xe, int ys, int ye)
{
    const BlendConfig& b = px_.blend;
    const bool allChannels = b.writeMask == 0xf;
    const int kind = !b.enable && allChannels ? kNoBlend
                     : b.enable && allChannels && b.src == D3DBLEND_SRCALPHA &&
                             b.dst == D3DBLEND_INVSRCALPHA && b.op == D3DBLENDOP_ADD && !b.separateAlpha
                         ? kSrcAlphaOver
                         : kAnyBlend;
    if (depthActive_)
    {
        if (kind == kNoBlend)
            SpanAvx2::Run<true, kNoBlend>(*this, p, arena, active, xs, xe, ys, ye);
        else if (kind == kSrcAlphaOver)
            SpanAvx2::Run<true, kSrcAlphaOver>(*this, p, arena, active, xs, xe, ys, ye);
        else
            SpanAvx2::Run<true, kAnyBlend>(*this, p, arena, active, xs, xe, ys, ye);
    }
    else
    {
        if (kind == kNoBlend)
            SpanAvx2::Run<false, kNoBlend>(*this, p, arena, active, xs, xe, ys, ye);
        else if (kind == kSrcAlphaOver)
            SpanAvx2::Run<false, kSrcAlphaOver>(*this, p, arena, active, xs, xe, ys, ye);
        else
            SpanAvx2::Run<false, kAnyBlend>(*this, p, arena, active, xs, xe, ys, ye);
    }
}
#else
void PixelPipeline::QuadsAvx2(const SetupPrim&, const float*, const VaryingSet&, int, int, int, int) {}
void PixelPipeline::FlushLanes()
{
    laneCount_ = 0;
}
#endif
} // namespace ferolt::d3d9
