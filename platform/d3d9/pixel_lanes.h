#pragma once
// The pixel rules written once over a lane type: plane evaluation and w, the depth, stencil and alpha
// comparisons, the bilinear filter, derivatives and mip level, the texture stage cascade, specular add and
// fog, the blend factors and operations, the colour write mask and the conversions between channels and
// A8R8G8B8 bytes.
// The general path (output.cpp, sampler.cpp) runs them with one lane, and the span loop (span_loop.h) with
// four SSE lanes (span.cpp) and eight AVX2 lanes (span_avx2.cpp, including this header under the AVX2
// target), so the three paths cannot compute a rule differently. Everything here has internal linkage, so
// that no copy compiled for AVX2 is shared with the other files.
//
// The lane type L provides the float vector V, the integer vector I and the operations used below, each
// the lane-wise form of one SSE instruction (same operand order, same NaN behaviour).
#include <cstdint>
#include <cstring>

#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
// One pixel: the reference.
struct ScalarLane
{
    using V = float;
    using I = uint32_t;
    static V Splat(float v) { return v; }
    static V Zero() { return 0.0f; }
    static V Add(V a, V b) { return a + b; }
    static V Sub(V a, V b) { return a - b; }
    static V Mul(V a, V b) { return a * b; }
    static V Div(V a, V b) { return a / b; }
    // As minps and maxps: the second operand where the comparison fails (NaN included).
    static V Min(V a, V b) { return a < b ? a : b; }
    static V Max(V a, V b) { return a > b ? a : b; }
    static I SplatI(uint32_t v) { return v; }
    // 1 / q, or 0 where q is 0 (either sign), as the masked SSE division gives it.
    static V InverseOrZero(V q) { return q == 0.0f ? 0.0f : 1.0f / q; }
    template <int S> static I Srl(I v) { return v >> S; }
    template <int S> static I Sll(I v) { return v << S; }
    static I AndI(I a, I b) { return a & b; }
    static I AndNotI(I a, I b) { return ~a & b; }
    static I OrI(I a, I b) { return a | b; }
    static I XorI(I a, I b) { return a ^ b; }
    // As pcmpgtd and pcmpeqd: all ones where the (signed) comparison holds.
    static I CmpGtI(I a, I b) { return static_cast<int32_t>(a) > static_cast<int32_t>(b) ? ~0u : 0u; }
    static I CmpEqI(I a, I b) { return a == b ? ~0u : 0u; }
    static I AddI(I a, I b) { return a + b; }
    static I MinI(I a, I b) { return static_cast<int32_t>(a) < static_cast<int32_t>(b) ? a : b; }
    static I MaxI(I a, I b) { return static_cast<int32_t>(a) > static_cast<int32_t>(b) ? a : b; }
    template <int S> static I Sra(I v) { return static_cast<uint32_t>(static_cast<int32_t>(v) >> S); }
    static I AsInt(V v)
    {
        I i;
        std::memcpy(&i, &v, 4);
        return i;
    }
    // As cmpps with the ordered predicate: false where a lane is NaN.
    static I CmpGe(V a, V b) { return a >= b ? ~0u : 0u; }
    static V ToFloat(I v) { return static_cast<float>(static_cast<int32_t>(v)); }
    static I Truncate(V v) { return static_cast<uint32_t>(static_cast<int32_t>(v)); }
    // Doubles of the lanes, and their conversion as cvttpd: 0x80000000 outside the 32-bit range.
    using D = double;
    static D ToDouble(V v) { return v; }
    static D SplatD(double v) { return v; }
    static D AddD(D a, D b) { return a + b; }
    static D SubD(D a, D b) { return a - b; }
    static D MulD(D a, D b) { return a * b; }
    static I TruncateD(D v)
    {
        return v > -2147483649.0 && v < 2147483648.0 ? static_cast<uint32_t>(static_cast<int32_t>(v))
                                                     : 0x80000000u;
    }
};

#if FEROLT_D3D9_SSE
// Four pixels, one per SSE2 lane: the pixel rules and span_loop.h's loop.
struct SseLanes
{
    using V = __m128;
    using I = __m128i;
    static constexpr int N = 4;
    static V Splat(float v) { return _mm_set1_ps(v); }
    static V Zero() { return _mm_setzero_ps(); }
    static V Add(V a, V b) { return _mm_add_ps(a, b); }
    static V Sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V Mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V InverseOrZero(V q) { return _mm_andnot_ps(_mm_cmpeq_ps(q, Zero()), _mm_div_ps(Splat(1.0f), q)); }
    static V Min(V a, V b) { return _mm_min_ps(a, b); }
    static V Max(V a, V b) { return _mm_max_ps(a, b); }
    static V And(V a, V b) { return _mm_and_ps(a, b); }
    static V AndNot(V a, V b) { return _mm_andnot_ps(a, b); }
    static V CmpEq(V a, V b) { return _mm_cmpeq_ps(a, b); }
    static V CmpLt(V a, V b) { return _mm_cmplt_ps(a, b); }
    static V CmpGt(V a, V b) { return _mm_cmpgt_ps(a, b); }
    // b where mask (all ones or zero per lane) is set, a elsewhere.
    static V Blend(V a, V b, V mask) { return _mm_or_ps(_mm_and_ps(mask, b), _mm_andnot_ps(mask, a)); }
    // floor, exact where |v| < 2^31 (SSE2 has no roundps); other lanes get an unspecified value.
    static V Floor(V v)
    {
        const V t = _mm_cvtepi32_ps(_mm_cvttps_epi32(v));
        return _mm_sub_ps(t, _mm_and_ps(_mm_cmpgt_ps(t, v), Splat(1.0f)));
    }
    static int Mask(V v) { return _mm_movemask_ps(v); }
    static V Load(const float* p) { return _mm_load_ps(p); }
    static void Store(float* p, V v) { _mm_store_ps(p, v); }
    static I LoadI(const uint32_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
    static void StoreI(uint32_t* p, I v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
    static I SplatI(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
    template <int S> static I Srl(I v) { return _mm_srli_epi32(v, S); }
    template <int S> static I Sll(I v) { return _mm_slli_epi32(v, S); }
    static I SllCount(I v, int n) { return _mm_sll_epi32(v, _mm_cvtsi32_si128(n)); }
    static I AndI(I a, I b) { return _mm_and_si128(a, b); }
    static I AndNotI(I a, I b) { return _mm_andnot_si128(a, b); }
    static I OrI(I a, I b) { return _mm_or_si128(a, b); }
    static I XorI(I a, I b) { return _mm_xor_si128(a, b); }
    static I CmpGtI(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    static I CmpEqI(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    static I AddI(I a, I b) { return _mm_add_epi32(a, b); }
    static I MinI(I a, I b)
    {
        const I less = _mm_cmplt_epi32(a, b); // SSE2 has no pminsd
        return _mm_or_si128(_mm_and_si128(less, a), _mm_andnot_si128(less, b));
    }
    static I MaxI(I a, I b)
    {
        const I more = _mm_cmpgt_epi32(a, b);
        return _mm_or_si128(_mm_and_si128(more, a), _mm_andnot_si128(more, b));
    }
    // The low 32 bits of each product (SSE2 has no pmulld).
    static I MulloI(I a, I b)
    {
        const I even = _mm_mul_epu32(a, b);
        const I odd = _mm_mul_epu32(_mm_srli_si128(a, 4), _mm_srli_si128(b, 4));
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                  _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
    }
    static uint32_t First(I v) { return static_cast<uint32_t>(_mm_cvtsi128_si32(v)); }
    template <int S> static I Sra(I v) { return _mm_srai_epi32(v, S); }
    static I AsInt(V v) { return _mm_castps_si128(v); }
    static V AsFloat(I v) { return _mm_castsi128_ps(v); }
    static I CmpGe(V a, V b) { return _mm_castps_si128(_mm_cmpge_ps(a, b)); }
    static V ToFloat(I v) { return _mm_cvtepi32_ps(v); }
    static I Truncate(V v) { return _mm_cvttps_epi32(v); }
    // Lanes 0-1 and 2-3 as doubles.
    struct D
    {
        __m128d lo, hi;
    };
    static D ToDouble(V v) { return {_mm_cvtps_pd(v), _mm_cvtps_pd(_mm_movehl_ps(v, v))}; }
    static D SplatD(double v) { return {_mm_set1_pd(v), _mm_set1_pd(v)}; }
    static D AddD(D a, D b) { return {_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)}; }
    static D SubD(D a, D b) { return {_mm_sub_pd(a.lo, b.lo), _mm_sub_pd(a.hi, b.hi)}; }
    static D MulD(D a, D b) { return {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)}; }
    static I TruncateD(D v) { return _mm_unpacklo_epi64(_mm_cvttpd_epi32(v.lo), _mm_cvttpd_epi32(v.hi)); }

    // ---- the memory side of span_loop.h
    // Bit i of a lane mask as all ones in lane i.
    static I LaneMask(int mask)
    {
        const I bit = _mm_setr_epi32(1, 2, 4, 8);
        return _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(mask), bit), bit);
    }
    // texels[index] of each lane.
    static I Gather(const int* texels, I index)
    {
        alignas(16) int32_t i[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
        return _mm_setr_epi32(texels[i[0]], texels[i[1]], texels[i[2]], texels[i[3]]);
    }
    // texels[index] and texels[index + 1] of each lane, one 64-bit load a lane.
    static void GatherPairs(const int* texels, I index, I* first, I* second)
    {
        alignas(16) int32_t i[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
        I pair[4];
        for (int k = 0; k < 4; ++k)
            pair[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + i[k]));
        const I p01 = _mm_unpacklo_epi32(pair[0], pair[1]), p23 = _mm_unpacklo_epi32(pair[2], pair[3]);
        *first = _mm_unpacklo_epi64(p01, p23);
        *second = _mm_unpackhi_epi64(p01, p23);
    }
    // The lanes of two-pixel halves at p0 and p1 that mask selects; the others read as 0. Lane by lane
    // where a half is partial, so as not to read past the pixels.
    static I LoadHalf(const uint32_t* p, int m)
    {
        if (m == 3) return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        if (m == 1) return _mm_cvtsi32_si128(static_cast<int>(p[0]));
        if (m == 2) return _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(p[1])), 4);
        return _mm_setzero_si128();
    }
    static I LoadHalves(const uint32_t* p0, const uint32_t* p1, int mask)
    {
        return _mm_unpacklo_epi64(LoadHalf(p0, mask & 3), LoadHalf(p1, (mask >> 2) & 3));
    }
    static void StoreHalves(uint32_t* p0, uint32_t* p1, int mask, I v)
    {
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
        if ((mask & 3) == 3)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p0), v);
        else
            for (int i = 0; i < 2; ++i)
                if (mask & (1 << i)) p0[i] = lanes[i];
        if ((mask & 12) == 12)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p1), _mm_srli_si128(v, 8));
        else
            for (int i = 0; i < 2; ++i)
                if (mask & (4 << i)) p1[i] = lanes[2 + i];
    }
    // The lanes mask selects, in order, stored from out on.
    static void Compress(float* out, V v, int mask)
    {
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_castps_si128(v));
        uint32_t* to = reinterpret_cast<uint32_t*>(out);
        for (int i = 0; i < 4; ++i)
            if (mask & (1 << i)) *to++ = lanes[i];
    }
    // 64-bit lanes, two a register, for the edge functions of large triangles: (0, a), a broadcast, sums,
    // and the sign bits.
    static I SeqI64(int64_t a) { return _mm_set_epi64x(a, 0); }
    static I SplatI64(int64_t a) { return _mm_set1_epi64x(a); }
    static I AddI64(I a, I b) { return _mm_add_epi64(a, b); }
    static int MaskI64(I v) { return _mm_movemask_pd(_mm_castsi128_pd(v)); }
};
#endif

// Red, green, blue and alpha of L::N pixels.
template <class L> struct Color
{
    typename L::V c[4];
};

// The bits of an A8R8G8B8 value that the colour write mask keeps from the target.
inline uint32_t KeptBits(DWORD writeMask)
{
    uint32_t keep = 0;
    if (!(writeMask & D3DCOLORWRITEENABLE_RED)) keep |= 0x00ff0000u;
    if (!(writeMask & D3DCOLORWRITEENABLE_GREEN)) keep |= 0x0000ff00u;
    if (!(writeMask & D3DCOLORWRITEENABLE_BLUE)) keep |= 0x000000ffu;
    if (!(writeMask & D3DCOLORWRITEENABLE_ALPHA)) keep |= 0xff000000u;
    return keep;
}

template <class L> struct PixelRules
{
    using V = typename L::V;
    using I = typename L::I;
    using C = Color<L>;

    static V One() { return L::Splat(1.0f); }
    // Clamped to [0, 1]; NaN becomes 0.
    static V Sat(V v) { return L::Min(L::Max(v, L::Zero()), One()); }
    static C Splat(const float* rgba)
    {
        return {{L::Splat(rgba[0]), L::Splat(rgba[1]), L::Splat(rgba[2]), L::Splat(rgba[3])}};
    }
    static C Splat(float v) { return {{L::Splat(v), L::Splat(v), L::Splat(v), L::Splat(v)}}; }

    // One byte of A8R8G8B8 values as a channel in [0, 1].
    template <int kShift> static V Channel(I argb)
    {
        const I byte = kShift == 24 ? L::template Srl<24>(argb)
                                    : L::AndI(L::template Srl<kShift>(argb), L::SplatI(0xff));
        return L::Mul(L::ToFloat(byte), L::Splat(1.0f / 255.0f));
    }
    // A8R8G8B8 values to channels; X8R8G8B8 textures read alpha as 1.
    static C Unpack(I argb, bool opaque)
    {
        return {{Channel<16>(argb), Channel<8>(argb), Channel<0>(argb), opaque ? One() : Channel<24>(argb)}};
    }
    // Saturated channels to A8R8G8B8, each byte rounded as (uint32_t)(v * 255 + 0.5).
    static I Pack(const C& c)
    {
        return L::OrI(L::OrI(L::template Sll<16>(Byte(c.c[0])), L::template Sll<8>(Byte(c.c[1]))),
                      L::OrI(Byte(c.c[2]), L::template Sll<24>(Byte(c.c[3]))));
    }
    // (No lambdas here: they would not take the AVX2 target of the file that includes this.)
    static I Byte(V v) { return L::Truncate(L::Add(L::Mul(v, L::Splat(255.0f)), L::Splat(0.5f))); }
    // The channels the write mask keeps (the bits of keep) come from old.
    static I Mask(I argb, I old, uint32_t keep)
    {
        const I k = L::SplatI(keep);
        return L::OrI(L::AndNotI(k, argb), L::AndI(old, k));
    }

    // ---- attributes
    // A screen-space plane at offsets (dx, dy) from its origin: (a + b dx) + c dy.
    static V PlaneAt(V a, V b, V c, V dx, V dy) { return L::Add(L::Add(a, L::Mul(b, dx)), L::Mul(c, dy)); }
    // The same for a plane stored as a, b, c four floats apart (a varying's slot).
    static V PlaneAt(const float* plane, V dx, V dy)
    {
        return PlaneAt(L::Splat(plane[0]), L::Splat(plane[4]), L::Splat(plane[8]), dx, dy);
    }
    // w from the interpolated 1/w; 0 where that is 0.
    static V W(V q) { return L::InverseOrZero(q); }

    // ---- depth, stencil and alpha tests
    // Depth (clamped to [0, 1], NaN as 0) to the integer of a depth format whose largest value is max,
    // rounded to nearest: z max + 0.5 in doubles, truncated.
    static I QuantizeDepth(V z, uint32_t max)
    {
        using D = typename L::D;
        const D d = L::AddD(L::MulD(L::ToDouble(Sat(z)), L::SplatD(max)), L::SplatD(0.5));
        const I low = L::TruncateD(d);
        if (max < 0x80000000u) return low;
        // From 2^31 up the signed conversion gives 0x80000000; there d - 2^31 converts, and the top bit
        // goes back on.
        const I flag = L::SplatI(0x80000000u);
        const I high = L::XorI(L::TruncateD(L::SubD(d, L::SplatD(2147483648.0))), flag);
        const I big = L::CmpEqI(low, flag);
        return L::OrI(L::AndI(big, high), L::AndNotI(big, low));
    }
    // Whether unsigned a and b compare as a D3DCMP function says: all ones in the lanes where they do.
    static I Compare(DWORD func, I a, I b)
    {
        const I flip = L::SplatI(0x80000000u), all = L::SplatI(~0u);
        const I sa = L::XorI(a, flip), sb = L::XorI(b, flip);
        switch (func)
        {
        case D3DCMP_NEVER:
            return L::SplatI(0);
        case D3DCMP_LESS:
            return L::CmpGtI(sb, sa);
        case D3DCMP_EQUAL:
            return L::CmpEqI(sa, sb);
        case D3DCMP_LESSEQUAL:
            return L::XorI(L::CmpGtI(sa, sb), all);
        case D3DCMP_GREATER:
            return L::CmpGtI(sa, sb);
        case D3DCMP_NOTEQUAL:
            return L::XorI(L::CmpEqI(sa, sb), all);
        case D3DCMP_GREATEREQUAL:
            return L::XorI(L::CmpGtI(sb, sa), all);
        default:
            return all;
        }
    }

    // ---- sampling
    // The texel index of a column or row index i on a level of n texels, for the addressing modes every
    // path takes lane by lane: wrap (n a power of two) and clamp.
    static I Address(DWORD mode, I i, int n)
    {
        if (mode == D3DTADDRESS_CLAMP)
            return L::MinI(L::MaxI(i, L::SplatI(0)), L::SplatI(static_cast<uint32_t>(n - 1)));
        return L::AndI(i, L::SplatI(static_cast<uint32_t>(n - 1)));
    }
    // One channel of the bilinear filter over four texels: across by fx, then down by fy.
    static V Bilinear(V t00, V t10, V t01, V t11, V fx, V fy)
    {
        const V top = L::Add(t00, L::Mul(L::Sub(t10, t00), fx));
        const V bottom = L::Add(t01, L::Mul(L::Sub(t11, t01), fx));
        return L::Add(top, L::Mul(L::Sub(bottom, top), fy));
    }
    // Screen-space derivative of a perspective-correct coordinate c = P w (w = 1 / Q): w (dP - c dQ).
    static V Derivative(V w, V dp, V c, V dq) { return L::Mul(w, L::Sub(dp, L::Mul(c, dq))); }
    // rho^2 of the level of detail: the larger squared length of the screen-space derivatives of the
    // coordinates, in texels of a w x h level.
    static V Rho2(V ux, V vx, V uy, V vy, float w, float h)
    {
        const V W = L::Splat(w), H = L::Splat(h);
        const V uxw = L::Mul(ux, W), vxh = L::Mul(vx, H), uyw = L::Mul(uy, W), vyh = L::Mul(vy, H);
        const V lx = L::Add(L::Mul(uxw, uxw), L::Mul(vxh, vxh));
        const V ly = L::Add(L::Mul(uyw, uyw), L::Mul(vyh, vyh));
        return L::Max(ly, lx);
    }
    // The level point mip selection takes without a LOD bias: base plus PointMipSteps(rho2), at most
    // maxSteps, where rho^2 >= 2; the base level below that (and for NaN).
    static I PointMipLevel(V rho2, int base, int maxSteps)
    {
        const I minified = L::CmpGe(rho2, L::Splat(2.0f));
        const I e = L::AddI(L::AndI(L::template Srl<23>(L::AsInt(rho2)), L::SplatI(0xff)),
                            L::SplatI(static_cast<uint32_t>(-126)));
        const I steps = L::MinI(L::template Sra<1>(e), L::SplatI(static_cast<uint32_t>(maxSteps)));
        return L::AddI(L::SplatI(static_cast<uint32_t>(base)), L::AndI(steps, minified));
    }

    // ---- texture stages
    struct Registers
    {
        const PixelConfig& px;
        const C& diffuse;
        const C& specular;
        const C& texture; // the stage's
        C current;
        C temp;
    };

    static C Argument(DWORD a, const Registers& r, const StageConfig& st)
    {
        C v;
        switch (a & D3DTA_SELECTMASK)
        {
        case D3DTA_DIFFUSE:
            v = r.diffuse;
            break;
        case D3DTA_TEXTURE:
            v = r.texture;
            break;
        case D3DTA_TFACTOR:
            v = Splat(r.px.textureFactor);
            break;
        case D3DTA_SPECULAR:
            v = r.specular;
            break;
        case D3DTA_TEMP:
            v = r.temp;
            break;
        case D3DTA_CONSTANT:
            v = Splat(st.constant);
            break;
        default: // CURRENT
            v = r.current;
            break;
        }
        if (a & D3DTA_COMPLEMENT)
            for (auto& ch : v.c)
                ch = L::Sub(One(), ch);
        if (a & D3DTA_ALPHAREPLICATE) v.c[0] = v.c[1] = v.c[2] = v.c[3];
        return v;
    }

    // x alpha + y (1 - alpha)
    static V Lerp(V x, V y, V alpha) { return L::Add(L::Mul(x, alpha), L::Mul(y, L::Sub(One(), alpha))); }
    // (a - 0.5) (b - 0.5) in channel i
    static V Centred(const C& a, const C& b, int i)
    {
        const V h = L::Splat(0.5f);
        return L::Mul(L::Sub(a.c[i], h), L::Sub(b.c[i], h));
    }

    // Channel ch of a stage operation, saturated.
    static V Operate(DWORD op, int ch, const C& a0, const C& a1, const C& a2, const Registers& r)
    {
        const V one = One();
        const V x = a1.c[ch], y = a2.c[ch];
        V v;
        switch (op)
        {
        case D3DTOP_SELECTARG1:
        case D3DTOP_PREMODULATE:
            v = x;
            break;
        case D3DTOP_SELECTARG2:
            v = y;
            break;
        case D3DTOP_MODULATE:
            v = L::Mul(x, y);
            break;
        case D3DTOP_MODULATE2X:
            v = L::Mul(L::Mul(L::Splat(2.0f), x), y);
            break;
        case D3DTOP_MODULATE4X:
            v = L::Mul(L::Mul(L::Splat(4.0f), x), y);
            break;
        case D3DTOP_ADD:
            v = L::Add(x, y);
            break;
        case D3DTOP_ADDSIGNED:
            v = L::Sub(L::Add(x, y), L::Splat(0.5f));
            break;
        case D3DTOP_ADDSIGNED2X:
            v = L::Mul(L::Splat(2.0f), L::Sub(L::Add(x, y), L::Splat(0.5f)));
            break;
        case D3DTOP_SUBTRACT:
            v = L::Sub(x, y);
            break;
        case D3DTOP_ADDSMOOTH:
            v = L::Sub(L::Add(x, y), L::Mul(x, y));
            break;
        case D3DTOP_BLENDDIFFUSEALPHA:
            v = Lerp(x, y, r.diffuse.c[3]);
            break;
        case D3DTOP_BLENDTEXTUREALPHA:
            v = Lerp(x, y, r.texture.c[3]);
            break;
        case D3DTOP_BLENDFACTORALPHA:
            v = Lerp(x, y, L::Splat(r.px.textureFactor[3]));
            break;
        case D3DTOP_BLENDTEXTUREALPHAPM:
            v = L::Add(x, L::Mul(y, L::Sub(one, r.texture.c[3])));
            break;
        case D3DTOP_BLENDCURRENTALPHA:
            v = Lerp(x, y, r.current.c[3]);
            break;
        case D3DTOP_MODULATEALPHA_ADDCOLOR:
            v = L::Add(x, L::Mul(a1.c[3], y));
            break;
        case D3DTOP_MODULATECOLOR_ADDALPHA:
            v = L::Add(L::Mul(x, y), a1.c[3]);
            break;
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
            v = L::Add(L::Mul(L::Sub(one, a1.c[3]), y), x);
            break;
        case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
            v = L::Add(L::Mul(L::Sub(one, x), y), a1.c[3]);
            break;
        case D3DTOP_DOTPRODUCT3:
        {
            v = L::Mul(L::Splat(4.0f),
                       L::Add(L::Add(Centred(a1, a2, 0), Centred(a1, a2, 1)), Centred(a1, a2, 2)));
            break;
        }
        case D3DTOP_MULTIPLYADD:
            v = L::Add(a0.c[ch], L::Mul(x, y));
            break;
        case D3DTOP_LERP:
            v = L::Add(L::Mul(a0.c[ch], x), L::Mul(L::Sub(one, a0.c[ch]), y));
            break;
        default:
            v = r.current.c[ch]; // bump stages pass the current value on
            break;
        }
        return Sat(v);
    }

    // The stage cascade from the diffuse colour: per stage a colour and an alpha operation on up to three
    // arguments, written to the current or the temporary register. texture(s) gives stage s's sample (1 for
    // a stage without a texture); it is asked once per stage, in order, just before the stage combines.
    template <class Texture>
    static C CombineStages(const PixelConfig& px, const C& diffuse, const C& specular, Texture&& texture)
    {
        C current = diffuse, temp = Splat(0.0f);
        for (int s = 0; s < px.stageCount; ++s)
        {
            const StageConfig& st = px.stages[s];
            const C tex = texture(s);
            const Registers r{px, diffuse, specular, tex, current, temp};
            const C c0 = Argument(st.colorArg[0], r, st), c1 = Argument(st.colorArg[1], r, st),
                    c2 = Argument(st.colorArg[2], r, st);
            C result;
            for (int ch = 0; ch < 3; ++ch)
                result.c[ch] = Operate(st.colorOp, ch, c0, c1, c2, r);
            if (st.colorOp == D3DTOP_DOTPRODUCT3)
                result.c[3] = result.c[0]; // the dot product goes to all four channels, alpha included
            else if (st.alphaOp == D3DTOP_DISABLE)
                result.c[3] = current.c[3];
            else
            {
                DWORD op = st.alphaOp;
                // Colour-only operations read alpha as their first argument.
                if (op >= D3DTOP_MODULATEALPHA_ADDCOLOR && op <= D3DTOP_MODULATEINVCOLOR_ADDALPHA)
                    op = D3DTOP_SELECTARG1;
                result.c[3] = Operate(op, 3, Argument(st.alphaArg[0], r, st), Argument(st.alphaArg[1], r, st),
                                      Argument(st.alphaArg[2], r, st), r);
            }
            (st.resultTemp ? temp : current) = result;
        }
        return current;
    }

    // Specular add and fog (factor f, 1 = no fog) after the stages; alpha passes unchanged.
    static C SpecularAndFog(const PixelConfig& px, C color, const C& specular, V f)
    {
        if (px.specularAdd)
            for (int ch = 0; ch < 3; ++ch)
                color.c[ch] = Sat(L::Add(color.c[ch], specular.c[ch]));
        if (px.fog)
        {
            const V g = L::Sub(One(), f);
            for (int ch = 0; ch < 3; ++ch)
                color.c[ch] = L::Add(L::Mul(f, color.c[ch]), L::Mul(g, L::Splat(px.fogColor[ch])));
        }
        return color;
    }

    // ---- blending
    // Blend factor for channel ch.
    static V Factor(DWORD f, int ch, const C& s, const C& d, const float* constant)
    {
        const V one = One();
        switch (f)
        {
        case D3DBLEND_ZERO:
            return L::Zero();
        case D3DBLEND_ONE:
            return one;
        case D3DBLEND_SRCCOLOR:
            return s.c[ch];
        case D3DBLEND_INVSRCCOLOR:
            return L::Sub(one, s.c[ch]);
        case D3DBLEND_SRCALPHA:
        case D3DBLEND_BOTHSRCALPHA:
            return s.c[3];
        case D3DBLEND_INVSRCALPHA:
        case D3DBLEND_BOTHINVSRCALPHA:
            return L::Sub(one, s.c[3]);
        case D3DBLEND_DESTALPHA:
            return d.c[3];
        case D3DBLEND_INVDESTALPHA:
            return L::Sub(one, d.c[3]);
        case D3DBLEND_DESTCOLOR:
            return d.c[ch];
        case D3DBLEND_INVDESTCOLOR:
            return L::Sub(one, d.c[ch]);
        case D3DBLEND_SRCALPHASAT:
            return ch == 3 ? one : L::Min(L::Sub(one, d.c[3]), s.c[3]);
        case D3DBLEND_BLENDFACTOR:
            return L::Splat(constant[ch]);
        case D3DBLEND_INVBLENDFACTOR:
            return L::Splat(1.0f - constant[ch]);
        default:
            return one;
        }
    }

    static V BlendOp(DWORD op, V s, V d, V fs, V fd)
    {
        switch (op)
        {
        case D3DBLENDOP_SUBTRACT:
            return L::Sub(L::Mul(s, fs), L::Mul(d, fd));
        case D3DBLENDOP_REVSUBTRACT:
            return L::Sub(L::Mul(d, fd), L::Mul(s, fs));
        case D3DBLENDOP_MIN:
            return L::Min(d, s);
        case D3DBLENDOP_MAX:
            return L::Max(d, s);
        default:
            return L::Add(L::Mul(s, fs), L::Mul(d, fd));
        }
    }

    // Saturated source s over target d as the draw's blend state says; saturated.
    static C Blend(const BlendConfig& b, const C& s, const C& d)
    {
        DWORD srcF = b.src, dstF = b.dst;
        if (srcF == D3DBLEND_BOTHSRCALPHA) dstF = D3DBLEND_INVSRCALPHA;
        if (srcF == D3DBLEND_BOTHINVSRCALPHA) dstF = D3DBLEND_SRCALPHA;
        C r;
        for (int ch = 0; ch < 4; ++ch)
        {
            const bool sep = ch == 3 && b.separateAlpha;
            const DWORD fs = sep ? b.srcAlpha : srcF, fd = sep ? b.dstAlpha : dstF;
            r.c[ch] = Sat(BlendOp(sep ? b.opAlpha : b.op, s.c[ch], d.c[ch], Factor(fs, ch, s, d, b.factor),
                                  Factor(fd, ch, s, d, b.factor)));
        }
        return r;
    }
    // Blend for source alpha over the target (SRCALPHA, INVSRCALPHA, ADD) without the switches.
    static C BlendOver(const C& s, const C& d)
    {
        const V fs = s.c[3], fd = L::Sub(One(), s.c[3]);
        C r;
        for (int ch = 0; ch < 4; ++ch)
            r.c[ch] = Sat(L::Add(L::Mul(s.c[ch], fs), L::Mul(d.c[ch], fd)));
        return r;
    }
    // Blend for ONE, ONE, ADD: s * 1 + d * 1 rounds as s + d does.
    static C BlendAdd(const C& s, const C& d)
    {
        C r;
        for (int ch = 0; ch < 4; ++ch)
            r.c[ch] = Sat(L::Add(s.c[ch], d.c[ch]));
        return r;
    }
};

// Whether value passes against reference as a D3DCMP function says: the depth, stencil and alpha tests of
// one pixel.
inline bool Passes(DWORD func, uint32_t value, uint32_t reference)
{
    return PixelRules<ScalarLane>::Compare(func, value, reference) != 0;
}

// The depth one value z stores: the clear value, the pixels of the general path.
inline uint32_t QuantizeDepth(float z, uint32_t max)
{
    return PixelRules<ScalarLane>::QuantizeDepth(z, max);
}
} // namespace
} // namespace ferolt::d3d9
