#pragma once
// Eight float lanes of AVX2, the one lane type of the eight-wide pixel and vertex loops. Include it only
// where the AVX2 target is switched on; it has internal linkage, so each such
// file compiles its own copy for that target.
#include <immintrin.h>

#include <cstdint>

namespace ferolt::d3d9
{
namespace
{
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
};
} // namespace
} // namespace ferolt::d3d9
