// Eight vertices a step on processors with AVX2: vertex_lanes.h's lane path compiled for the AVX2 target.
// Only the functions defined between the target pragmas below use AVX2, and all but ProcessEightVertices
// have internal linkage; vertex.cpp calls it only after checking the processor. The headers come first so
// that nothing they define (and the linker might share with other files) is compiled for AVX2.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/d3d9/raster.h"

#if FEROLT_D3D9_SSE
#include <immintrin.h>
#endif

#if FEROLT_D3D9_SSE && (defined(__GNUC__) || defined(__clang__))
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "platform/d3d9/vertex_lanes.h"

namespace ferolt::d3d9
{
namespace
{
struct Avx8
{
    static constexpr int N = 8;
    using V = __m256;
    using I = __m256i;
    static V Splat(float v) { return _mm256_set1_ps(v); }
    static V Zero() { return _mm256_setzero_ps(); }
    static V AllOnes() { return _mm256_castsi256_ps(_mm256_set1_epi32(-1)); }
    static V Add(V a, V b) { return _mm256_add_ps(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_ps(a, b); }
    static V Mul(V a, V b) { return _mm256_mul_ps(a, b); }
    static V Div(V a, V b) { return _mm256_div_ps(a, b); }
    static V Sqrt(V a) { return _mm256_sqrt_ps(a); }
    static V Min(V a, V b) { return _mm256_min_ps(a, b); }
    static V Max(V a, V b) { return _mm256_max_ps(a, b); }
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
    static I SplatI(int v) { return _mm256_set1_epi32(v); }
    template <int S> static I Srl(I v) { return _mm256_srli_epi32(v, S); }
    static I AndI(I a, I b) { return _mm256_and_si256(a, b); }
    static I AndNotI(I a, I b) { return _mm256_andnot_si256(a, b); }
    static I OrI(I a, I b) { return _mm256_or_si256(a, b); }
    static I AddI(I a, I b) { return _mm256_add_epi32(a, b); }
    static I CmpEqI(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    static V ToFloat(I v) { return _mm256_cvtepi32_ps(v); }
    static I Truncate(V v) { return _mm256_cvttps_epi32(v); }
    static I AsInt(V v) { return _mm256_castps_si256(v); }
    static __m128 Quarter(V v, int h) { return h ? _mm256_extractf128_ps(v, 1) : _mm256_castps256_ps128(v); }
    static __m128i QuarterI(I v, int h)
    {
        return h ? _mm256_extracti128_si256(v, 1) : _mm256_castsi256_si128(v);
    }
    // Vertices 0-3 in the low half, 4-7 in the high half.
    static void Gather3(const uint8_t* p, int64_t stride, V* out)
    {
        __m128 lo[3], hi[3];
        GatherXyz4(p, stride, lo);
        GatherXyz4(p + 4 * stride, stride, hi);
        for (int c = 0; c < 3; ++c)
            out[c] = _mm256_insertf128_ps(_mm256_castps128_ps256(lo[c]), hi[c], 1);
    }
    static void Gather2(const uint8_t* p, int64_t stride, V* out)
    {
        __m128 lo[2], hi[2];
        GatherUv4(p, stride, lo);
        GatherUv4(p + 4 * stride, stride, hi);
        for (int c = 0; c < 2; ++c)
            out[c] = _mm256_insertf128_ps(_mm256_castps128_ps256(lo[c]), hi[c], 1);
    }
};
} // namespace

void ProcessEightVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t index, float* o,
                          ScreenVertex* screen, float guardX, float guardY)
{
    ProcessLanes<Avx8>(cfg, layout, index, o, screen, guardX, guardY);
}
} // namespace ferolt::d3d9

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
