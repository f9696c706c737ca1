#pragma once
// Four floats (red, green, blue, alpha) handled as one SSE register on x86-64 and as plain floats
// elsewhere. Each lane computes exactly what the scalar expression computes, so the bytes written do not
// depend on which form is compiled.
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define FEROLT_D3D9_SSE 1
#endif

namespace ferolt::d3d9
{
#if FEROLT_D3D9_SSE
struct Vec4
{
    __m128 v;
    Vec4() = default;
    explicit Vec4(__m128 m) : v(m) {}
    explicit Vec4(float s) : v(_mm_set1_ps(s)) {}
    Vec4(float x, float y, float z, float w) : v(_mm_setr_ps(x, y, z, w)) {}
    static Vec4 Load(const float* p) { return Vec4(_mm_loadu_ps(p)); }
    void Store(float* p) const { _mm_storeu_ps(p, v); }
    // A8R8G8B8 in memory order (blue first) to red, green, blue, alpha in [0, 1].
    static Vec4 FromBgra(uint32_t c)
    {
        const __m128i zero = _mm_setzero_si128();
        __m128i i = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(c)), zero), zero);
        const __m128 f = _mm_cvtepi32_ps(i);
        return Vec4(_mm_mul_ps(_mm_shuffle_ps(f, f, _MM_SHUFFLE(3, 0, 1, 2)), _mm_set1_ps(1.0f / 255.0f)));
    }
    Vec4 WithW(float w) const
    {
        const __m128 mask = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
        return Vec4(_mm_or_ps(_mm_and_ps(mask, v), _mm_andnot_ps(mask, _mm_set1_ps(w))));
    }
    // x, y, z of this, w of other.
    Vec4 WithWOf(const Vec4& other) const
    {
        const __m128 mask = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
        return Vec4(_mm_or_ps(_mm_and_ps(mask, v), _mm_andnot_ps(mask, other.v)));
    }
    Vec4 SplatW() const { return Vec4(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3))); }
    float W() const { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3))); }
    // Clamped to [0, 1]; NaN becomes 0.
    Vec4 Saturate() const { return Vec4(_mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f))); }
    // min(this, o) as std::min(o, this) picks: o < this ? o : this, lane by lane.
    static Vec4 Min(const Vec4& a, const Vec4& b) { return Vec4(_mm_min_ps(b.v, a.v)); }
    static Vec4 Max(const Vec4& a, const Vec4& b) { return Vec4(_mm_max_ps(b.v, a.v)); }
    // Saturated channels to an A8R8G8B8 value, each rounded as (uint32_t)(v * 255 + 0.5).
    uint32_t ToArgb() const
    {
        const __m128 s = Saturate().v;
        __m128i i = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(s, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
        i = _mm_shuffle_epi32(i, _MM_SHUFFLE(3, 0, 1, 2));
        i = _mm_packs_epi32(i, i);
        i = _mm_packus_epi16(i, i);
        return static_cast<uint32_t>(_mm_cvtsi128_si32(i));
    }
    friend Vec4 operator+(const Vec4& a, const Vec4& b) { return Vec4(_mm_add_ps(a.v, b.v)); }
    friend Vec4 operator-(const Vec4& a, const Vec4& b) { return Vec4(_mm_sub_ps(a.v, b.v)); }
    friend Vec4 operator*(const Vec4& a, const Vec4& b) { return Vec4(_mm_mul_ps(a.v, b.v)); }
};
#else
struct Vec4
{
    float v[4];
    Vec4() = default;
    explicit Vec4(float s) : v{s, s, s, s} {}
    Vec4(float x, float y, float z, float w) : v{x, y, z, w} {}
    static Vec4 Load(const float* p) { return Vec4(p[0], p[1], p[2], p[3]); }
    void Store(float* p) const { std::memcpy(p, v, sizeof(v)); }
    static Vec4 FromBgra(uint32_t c)
    {
        constexpr float k = 1.0f / 255.0f;
        return Vec4(((c >> 16) & 0xff) * k, ((c >> 8) & 0xff) * k, (c & 0xff) * k, (c >> 24) * k);
    }
    Vec4 WithW(float w) const { return Vec4(v[0], v[1], v[2], w); }
    Vec4 WithWOf(const Vec4& o) const { return Vec4(v[0], v[1], v[2], o.v[3]); }
    Vec4 SplatW() const { return Vec4(v[3]); }
    float W() const { return v[3]; }
    static float Sat(float x) { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }
    Vec4 Saturate() const { return Vec4(Sat(v[0]), Sat(v[1]), Sat(v[2]), Sat(v[3])); }
    static Vec4 Min(const Vec4& a, const Vec4& b)
    {
        Vec4 r;
        for (int i = 0; i < 4; ++i)
            r.v[i] = b.v[i] < a.v[i] ? b.v[i] : a.v[i];
        return r;
    }
    static Vec4 Max(const Vec4& a, const Vec4& b)
    {
        Vec4 r;
        for (int i = 0; i < 4; ++i)
            r.v[i] = a.v[i] < b.v[i] ? b.v[i] : a.v[i];
        return r;
    }
    uint32_t ToArgb() const
    {
        const Vec4 s = Saturate();
        auto b = [&](int i) { return static_cast<uint32_t>(s.v[i] * 255.0f + 0.5f); };
        return (b(3) << 24) | (b(0) << 16) | (b(1) << 8) | b(2);
    }
    friend Vec4 operator+(const Vec4& a, const Vec4& b)
    {
        return Vec4(a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]);
    }
    friend Vec4 operator-(const Vec4& a, const Vec4& b)
    {
        return Vec4(a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]);
    }
    friend Vec4 operator*(const Vec4& a, const Vec4& b)
    {
        return Vec4(a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]);
    }
};
#endif
} // namespace ferolt::d3d9
