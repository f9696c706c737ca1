#pragma once
// Eight float lanes of AVX2, the one lane type of the eight-wide pixel and vertex loops. Include it only
// where the AVX2 target is switched on (avx2_target.h); it has internal linkage, so each such file compiles
// its own copy for that target.
#include <immintrin.h>

#include <cstdint>

namespace ferolt::d3d9
{
namespace
{
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

struct AvxLanes
{
    using V = __m256;
    using I = __m256i;
    static constexpr int N = 8;
    static V AllOnes() { return _mm256_castsi256_ps(_mm256_set1_epi32(-1)); }
    static V Div(V a, V b) { return _mm256_div_ps(a, b); }
    static V Sqrt(V a) { return _mm256_sqrt_ps(a); }
    static V And(V a, V b) { return _mm256_and_ps(a, b); }
    static V AndNot(V a, V b) { return _mm256_andnot_ps(a, b); }
    static V Or(V a, V b) { return _mm256_or_ps(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_ps(a, b); }
    // The predicates of the SSE comparisons: neq, nlt, nle true where a lane is NaN, the others false.
    static V CmpNeq(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_NEQ_UQ); }
    static V CmpGt(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static V CmpLt(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static V CmpLe(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
    static V CmpNgt(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_NGT_UQ); }
    static V CmpNle(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_NLE_UQ); }
    static int Mask(V a) { return _mm256_movemask_ps(a); }
    static V Load(const float* p) { return _mm256_load_ps(p); }
    static void Store(float* p, V v) { _mm256_store_ps(p, v); }
    static I LoadI(const uint32_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
    static __m128 Quarter(V v, int h) { return h ? _mm256_extractf128_ps(v, 1) : _mm256_castps256_ps128(v); }
    static __m128i QuarterI(I v, int h)
    {
        return h ? _mm256_extracti128_si256(v, 1) : _mm256_castsi256_si128(v);
    }
    static V Splat(float v) { return _mm256_set1_ps(v); }
    static V Zero() { return _mm256_setzero_ps(); }
    static V Add(V a, V b) { return _mm256_add_ps(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_ps(a, b); }
    static V Mul(V a, V b) { return _mm256_mul_ps(a, b); }
    static V InverseOrZero(V q)
    {
        return _mm256_andnot_ps(_mm256_cmp_ps(q, Zero(), _CMP_EQ_OQ), _mm256_div_ps(Splat(1.0f), q));
    }
    static V Min(V a, V b) { return _mm256_min_ps(a, b); }
    static V Max(V a, V b) { return _mm256_max_ps(a, b); }
    static I SplatI(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
    template <int S> static I Srl(I v) { return _mm256_srli_epi32(v, S); }
    template <int S> static I Sll(I v) { return _mm256_slli_epi32(v, S); }
    static I AndI(I a, I b) { return _mm256_and_si256(a, b); }
    static I AndNotI(I a, I b) { return _mm256_andnot_si256(a, b); }
    static I OrI(I a, I b) { return _mm256_or_si256(a, b); }
    static I XorI(I a, I b) { return _mm256_xor_si256(a, b); }
    static I CmpGtI(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static I CmpEqI(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    static I AddI(I a, I b) { return _mm256_add_epi32(a, b); }
    static I MinI(I a, I b) { return _mm256_min_epi32(a, b); }
    template <int S> static I Sra(I v) { return _mm256_srai_epi32(v, S); }
    static I AsInt(V v) { return _mm256_castps_si256(v); }
    static I CmpGe(V a, V b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GE_OQ)); }
    static V ToFloat(I v) { return _mm256_cvtepi32_ps(v); }
    static I Truncate(V v) { return _mm256_cvttps_epi32(v); }
    static V CmpEq(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
    // b where mask is set, a elsewhere.
    static V Blend(V a, V b, V mask) { return _mm256_blendv_ps(a, b, mask); }
    static V Floor(V v) { return _mm256_floor_ps(v); }
    static V AsFloat(I v) { return _mm256_castsi256_ps(v); }
    static void StoreI(uint32_t* p, I v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
    static I MaxI(I a, I b) { return _mm256_max_epi32(a, b); }
    static I MulloI(I a, I b) { return _mm256_mullo_epi32(a, b); }
    static I SllCount(I v, int n) { return _mm256_sll_epi32(v, _mm_cvtsi32_si128(n)); }
    static uint32_t First(I v) { return static_cast<uint32_t>(_mm256_cvtsi256_si32(v)); }

    // ---- the memory side of span_loop.h
    // Bit i of a lane mask as all ones in lane i.
    static I LaneMask(int mask)
    {
        const I bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
        return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(mask), bit), bit);
    }
    static I Gather(const int* texels, I index) { return _mm256_i32gather_epi32(texels, index, 4); }
    // texels[index] and texels[index + 1] of each lane, one 64-bit load a lane.
    static void GatherPairs(const int* texels, I index, I* first, I* second)
    {
        const long long* base = reinterpret_cast<const long long*>(texels);
        const V lo = _mm256_castsi256_ps(_mm256_i32gather_epi64(base, _mm256_castsi256_si128(index), 4));
        const V hi = _mm256_castsi256_ps(_mm256_i32gather_epi64(base, _mm256_extracti128_si256(index, 1), 4));
        *first = _mm256_permute4x64_epi64(
            _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))), _MM_SHUFFLE(3, 1, 2, 0));
        *second = _mm256_permute4x64_epi64(
            _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))), _MM_SHUFFLE(3, 1, 2, 0));
    }
    // The lanes of a four-pixel half that mask selects; the others read as 0. Lane by lane: the pixels of
    // the triangle before were often stored lane by lane just now, and a wider load, or a masked one, would
    // wait until those stores have left for the cache instead of taking their values from the store buffer.
    static __m128i LoadHalf(const uint32_t* p, int mask)
    {
        if (mask == 0xf) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (!mask) return _mm_setzero_si128();
        // Lanes outside the mask read the first lane inside it (always there), then are cleared.
        const int first = __builtin_ctz(static_cast<unsigned>(mask));
        const __m128i v = _mm_setr_epi32(static_cast<int>(p[mask & 1 ? 0 : first]),
                                         static_cast<int>(p[(mask >> 1) & 1 ? 1 : first]),
                                         static_cast<int>(p[(mask >> 2) & 1 ? 2 : first]),
                                         static_cast<int>(p[(mask >> 3) & 1 ? 3 : first]));
        const __m128i bit = _mm_setr_epi32(1, 2, 4, 8);
        return _mm_and_si128(v, _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(mask), bit), bit));
    }
    // The lanes of four-pixel halves at p0 and p1 that mask selects; the others read as 0.
    static I LoadHalves(const uint32_t* p0, const uint32_t* p1, int mask)
    {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(LoadHalf(p0, mask & 0xf)),
                                       LoadHalf(p1, mask >> 4), 1);
    }
    static void StoreHalves(uint32_t* p0, uint32_t* p1, int mask, I v)
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
    // The lanes mask selects, in order, stored from out on (eight floats are written).
    static void Compress(float* out, V v, int mask)
    {
        const I order = _mm256_cvtepu8_epi32(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompressTable.order[mask])));
        _mm256_storeu_ps(out, _mm256_permutevar8x32_ps(v, order));
    }
    // 64-bit lanes, four a register, for the edge functions of large triangles: (0, a, 2a, 3a), a broadcast,
    // sums, and the sign bits.
    static I SeqI64(int64_t a) { return _mm256_setr_epi64x(0, a, 2 * a, 3 * a); }
    static I SplatI64(int64_t a) { return _mm256_set1_epi64x(a); }
    static I AddI64(I a, I b) { return _mm256_add_epi64(a, b); }
    static int MaskI64(I v) { return _mm256_movemask_pd(_mm256_castsi256_pd(v)); }
    // Lanes 0-3 and 4-7 as doubles.
    struct D
    {
        __m256d lo, hi;
    };
    static D ToDouble(V v)
    {
        return {_mm256_cvtps_pd(_mm256_castps256_ps128(v)), _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1))};
    }
    static D SplatD(double v) { return {_mm256_set1_pd(v), _mm256_set1_pd(v)}; }
    static D AddD(D a, D b) { return {_mm256_add_pd(a.lo, b.lo), _mm256_add_pd(a.hi, b.hi)}; }
    static D SubD(D a, D b) { return {_mm256_sub_pd(a.lo, b.lo), _mm256_sub_pd(a.hi, b.hi)}; }
    static D MulD(D a, D b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
    static I TruncateD(D v)
    {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm256_cvttpd_epi32(v.lo)),
                                       _mm256_cvttpd_epi32(v.hi), 1);
    }
};
} // namespace
} // namespace ferolt::d3d9
