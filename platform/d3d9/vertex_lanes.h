#pragma once
// The vertex path of the common draws, several vertices a step, one per SIMD lane: a template over the lane
// type, instantiated with four SSE lanes in vertex.cpp and with eight AVX2 lanes in vertex_avx2.cpp, which
// includes this under the AVX2 target. Everything here but ProcessEightVertices therefore has internal
// linkage, so that the two translation units never share (and the linker never merges) a copy. Every lane
// computes the operations of the general path (ProcessVertex) in the same order, so the results are the same
// bits; what the lanes cannot share (pow, exp) runs lane by lane.
//
// The lane type L provides N, the float vector V, the integer vector I, and the operations used below, each
// the lane-wise form of one SSE instruction (same operand order, same NaN behaviour).
#include <cmath>
#include <cstring>

#include "platform/d3d9/avx2_target.h"
#include "platform/d3d9/raster.h"

#if FEROLT_D3D9_SSE
namespace ferolt::d3d9
{
#if FEROLT_D3D9_AVX2
// ProcessLanes with eight AVX2 lanes (vertex_avx2.cpp); only for processors that have AVX2.
void ProcessEightVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t index, float* o,
                          ScreenVertex* screen, float guardX, float guardY);
#endif

namespace
{
// Three floats of each of four vertices (at p, p + stride, ...) as x, y, z lanes.
inline void GatherXyz4(const uint8_t* p, int64_t stride, __m128* out)
{
    __m128 xy[4], z[4];
    for (int k = 0; k < 4; ++k, p += stride)
    {
        double d;
        float f;
        std::memcpy(&d, p, 8);
        std::memcpy(&f, p + 8, 4);
        xy[k] = _mm_castpd_ps(_mm_set_sd(d));
        z[k] = _mm_set_ss(f);
    }
    const __m128 xy01 = _mm_movelh_ps(xy[0], xy[1]), xy23 = _mm_movelh_ps(xy[2], xy[3]);
    out[0] = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(2, 0, 2, 0));
    out[1] = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(3, 1, 3, 1));
    out[2] = _mm_movelh_ps(_mm_unpacklo_ps(z[0], z[1]), _mm_unpacklo_ps(z[2], z[3]));
}

// Two floats of each of four vertices as x, y lanes.
inline void GatherUv4(const uint8_t* p, int64_t stride, __m128* out)
{
    __m128 uv[4];
    for (int k = 0; k < 4; ++k, p += stride)
    {
        double d;
        std::memcpy(&d, p, 8);
        uv[k] = _mm_castpd_ps(_mm_set_sd(d));
    }
    const __m128 l01 = _mm_movelh_ps(uv[0], uv[1]), l23 = _mm_movelh_ps(uv[2], uv[3]);
    out[0] = _mm_shuffle_ps(l01, l23, _MM_SHUFFLE(2, 0, 2, 0));
    out[1] = _mm_shuffle_ps(l01, l23, _MM_SHUFFLE(3, 1, 3, 1));
}

template <class L> struct LaneMath
{
    using V = typename L::V;
    static V Splat(float v) { return L::Splat(v); }
    // mask ? a : b, lane by lane.
    static V Select(V mask, V a, V b) { return L::Or(L::And(mask, a), L::AndNot(mask, b)); }
    // v < 0 ? 0 : (v > 1 ? 1 : v), NaN passing through as it does there.
    static V Saturate(V v) { return L::Max(L::Zero(), L::Min(Splat(1.0f), v)); }
    static V Dot3(const V* a, const V* b)
    {
        return L::Add(L::Add(L::Mul(a[0], b[0]), L::Mul(a[1], b[1])), L::Mul(a[2], b[2]));
    }
    // len > 0 ? v / len : v
    static void Normalize(V* v)
    {
        const V len = L::Sqrt(Dot3(v, v));
        const V pos = L::CmpGt(len, L::Zero());
        for (int c = 0; c < 3; ++c)
            v[c] = Select(pos, L::Div(v[c], len), v[c]);
    }
    // out[j] = v[0] m[0][j] + v[1] m[1][j] + v[2] m[2][j] + v[3] m[3][j], as Transform4 adds them.
    static void Transform(const V* v, const D3DMATRIX& m, V* out)
    {
        for (int j = 0; j < 4; ++j)
            out[j] = L::Add(L::Add(L::Add(L::Mul(v[0], Splat(m.m[0][j])), L::Mul(v[1], Splat(m.m[1][j]))),
                                   L::Mul(v[2], Splat(m.m[2][j]))),
                            L::Mul(v[3], Splat(m.m[3][j])));
    }
    // The lanes of v set in bits through f, the others as given.
    template <class F> static V PerLane(V v, int bits, F f)
    {
        alignas(32) float lanes[L::N];
        L::Store(lanes, v);
        for (int k = 0; k < L::N; ++k)
            if (bits & (1 << k)) lanes[k] = f(lanes[k]);
        return L::Load(lanes);
    }
};

template <class L> struct LaneColor
{
    typename L::V c[4];
};

// LightVertex for L::N vertices in camera space.
template <class L>
void LightLanes(const VertexConfig& cfg, const typename L::V* position, const typename L::V* normal,
                const LaneColor<L>* vertexDiffuse, const LaneColor<L>* vertexSpecular,
                typename L::V* diffuseOut, typename L::V* specularOut)
{
    using V = typename L::V;
    using M = LaneMath<L>;
    const D3DMATERIAL9& m = cfg.material;
    auto source = [&](DWORD src, const D3DCOLORVALUE& material)
    {
        if (cfg.colorVertex)
        {
            if (src == D3DMCS_COLOR1 && vertexDiffuse) return *vertexDiffuse;
            if (src == D3DMCS_COLOR2 && vertexSpecular) return *vertexSpecular;
        }
        return LaneColor<L>{
            {M::Splat(material.r), M::Splat(material.g), M::Splat(material.b), M::Splat(material.a)}};
    };
    const LaneColor<L> md = source(cfg.diffuseSource, m.Diffuse);
    const LaneColor<L> ma = source(cfg.ambientSource, m.Ambient);
    const LaneColor<L> ms = source(cfg.specularSource, m.Specular);
    const LaneColor<L> me = source(cfg.emissiveSource, m.Emissive);

    const V zero = L::Zero();
    const V sign = M::Splat(-0.0f);
    V ambient[3] = {zero, zero, zero}, diffuse[3] = {zero, zero, zero}, specular[3] = {zero, zero, zero};
    V toEye[3] = {zero, zero, M::Splat(kDistantViewer.z)};
    if (cfg.specularEnable && cfg.localViewer)
    {
        for (int c = 0; c < 3; ++c)
            toEye[c] = L::Xor(position[c], sign);
        M::Normalize(toEye);
    }

    for (int i = 0; i < cfg.lightCount; ++i)
    {
        const LightRecord& l = cfg.lights[i];
        V dir[3];
        V atten = M::Splat(1.0f);
        V active = L::AllOnes();
        if (l.type == D3DLIGHT_DIRECTIONAL)
        {
            dir[0] = M::Splat(-l.direction.x);
            dir[1] = M::Splat(-l.direction.y);
            dir[2] = M::Splat(-l.direction.z);
        }
        else
        {
            const V d[3] = {L::Sub(M::Splat(l.position.x), position[0]),
                            L::Sub(M::Splat(l.position.y), position[1]),
                            L::Sub(M::Splat(l.position.z), position[2])};
            const V dist = L::Sqrt(M::Dot3(d, d));
            active = L::CmpNgt(dist, M::Splat(l.range));
            if (L::Mask(active) == 0) continue;
            const V positive = L::CmpGt(dist, zero);
            for (int c = 0; c < 3; ++c)
                dir[c] = M::Select(positive, L::Div(d[c], dist), zero);
            const V denom = L::Add(L::Add(M::Splat(l.att0), L::Mul(M::Splat(l.att1), dist)),
                                   L::Mul(L::Mul(M::Splat(l.att2), dist), dist));
            atten = M::Select(L::CmpGt(denom, zero), L::Div(M::Splat(1.0f), denom), M::Splat(1.0f));
            if (l.type == D3DLIGHT_SPOT)
            {
                const V ld[3] = {M::Splat(l.direction.x), M::Splat(l.direction.y), M::Splat(l.direction.z)};
                const V rho = L::Xor(M::Dot3(dir, ld), sign);
                active = L::And(active, L::CmpNle(rho, M::Splat(l.cosHalfPhi)));
                if (L::Mask(active) == 0) continue;
                const V inner = L::And(active, L::CmpLe(rho, M::Splat(l.cosHalfTheta)));
                const int innerBits = L::Mask(inner);
                if (innerBits)
                {
                    V t =
                        L::Div(L::Sub(rho, M::Splat(l.cosHalfPhi)), M::Splat(l.cosHalfTheta - l.cosHalfPhi));
                    if (l.falloff != 1.0f)
                        t = M::PerLane(t, innerBits, [&](float x) { return std::pow(x, l.falloff); });
                    atten = M::Select(inner, L::Mul(atten, t), atten);
                }
            }
        }
        for (int c = 0; c < 3; ++c)
            ambient[c] =
                M::Select(active, L::Add(ambient[c], L::Mul(atten, M::Splat(l.ambient[c]))), ambient[c]);
        const V nDotL = M::Dot3(normal, dir);
        const V lit = L::And(active, L::CmpNle(nDotL, zero));
        const int litBits = L::Mask(lit);
        if (!litBits) continue;
        const V scaled = L::Mul(atten, nDotL);
        for (int c = 0; c < 3; ++c)
            diffuse[c] =
                M::Select(lit, L::Add(diffuse[c], L::Mul(scaled, M::Splat(l.diffuse[c]))), diffuse[c]);
        if (cfg.specularEnable)
        {
            V h[3] = {L::Add(dir[0], toEye[0]), L::Add(dir[1], toEye[1]), L::Add(dir[2], toEye[2])};
            M::Normalize(h);
            const V nDotH = M::Dot3(normal, h);
            const V shine = L::And(lit, L::CmpGt(nDotH, zero));
            const int shineBits = L::Mask(shine);
            if (!shineBits) continue;
            V s = M::Splat(1.0f);
            if (m.Power > 0.0f)
                s = M::PerLane(M::Select(shine, nDotH, s), shineBits,
                               [&](float x) { return std::pow(x, m.Power); });
            const V as = L::Mul(atten, s);
            for (int c = 0; c < 3; ++c)
                specular[c] =
                    M::Select(shine, L::Add(specular[c], L::Mul(as, M::Splat(l.specular[c]))), specular[c]);
        }
    }

    for (int c = 0; c < 3; ++c)
    {
        diffuseOut[c] =
            M::Saturate(L::Add(L::Add(L::Add(me.c[c], L::Mul(ma.c[c], M::Splat(cfg.globalAmbient[c]))),
                                      L::Mul(ma.c[c], ambient[c])),
                               L::Mul(md.c[c], diffuse[c])));
        specularOut[c] = cfg.specularEnable ? M::Saturate(L::Mul(ms.c[c], specular[c])) : zero;
    }
    diffuseOut[3] = M::Saturate(md.c[3]);
    specularOut[3] = M::Saturate(ms.c[3]);
}

// The steps of ProcessLanes. A step reads the vertices' inputs through Source and writes whole fields of
// the records, one row of lanes per field, to Fields; the records are put together at the end.
template <class L> struct VertexSteps
{
    using V = typename L::V;
    using I = typename L::I;
    using M = LaneMath<L>;
    static constexpr int N = L::N;

    // The input streams of vertices [index, index + N).
    struct Source
    {
        const VertexConfig& vc;
        int64_t index;
        const uint8_t* At(const VertexElement& e, int k) const
        {
            const StreamInput& s = vc.streams[e.stream];
            return s.data + (index + k) * static_cast<int64_t>(s.stride) + e.offset;
        }
        int64_t Stride(const VertexElement& e) const
        {
            return static_cast<int64_t>(vc.streams[e.stream].stride);
        }
        void Gather3(const VertexElement& e, V* out) const { L::Gather3(At(e, 0), Stride(e), out); }
        // Colours in memory order blue, green, red, alpha, each divided by 255 as ReadElement does.
        LaneColor<L> Color(const VertexElement& e) const
        {
            alignas(32) uint32_t c[N];
            for (int k = 0; k < N; ++k)
                std::memcpy(&c[k], At(e, k), 4);
            const I v = L::LoadI(c);
            const I byte = L::SplatI(0xff);
            const V scale = M::Splat(255.0f);
            LaneColor<L> out;
            out.c[0] = L::Div(L::ToFloat(L::AndI(L::template Srl<16>(v), byte)), scale);
            out.c[1] = L::Div(L::ToFloat(L::AndI(L::template Srl<8>(v), byte)), scale);
            out.c[2] = L::Div(L::ToFloat(L::AndI(v, byte)), scale);
            out.c[3] = L::Div(L::ToFloat(L::template Srl<24>(v)), scale);
            return out;
        }
    };

    struct Fields
    {
        alignas(32) float f[VertexLayoutOut::kClip + kFixedClipPlanes + kMaxClipPlanes + kMaxVary][N];
        void Put(int field, V v) { L::Store(f[field], v); }
    };

    // Where the vertices are: in world, camera (homogeneous) and clip space.
    struct Positions
    {
        V world[4], eye4[4], clip[4];
    };

    static Positions Transform(const VertexConfig& vc, const Source& src)
    {
        V p[4];
        src.Gather3(vc.layout.position, p);
        p[3] = M::Splat(1.0f);
        Positions at;
        M::Transform(p, vc.world, at.world);
        M::Transform(at.world, vc.view, at.eye4);
        M::Transform(p, vc.worldViewProj, at.clip);
        return at;
    }

    // The clip-space position, point size, flags and the distances to the clip planes the general path
    // tests: near, w, far, the guard band and the user planes.
    static void ClipFields(const DrawConfig& cfg, const Positions& at, float guardX, float guardY,
                           Fields* out)
    {
        const VertexConfig& vc = cfg.vertex;
        const V* clip = at.clip;
        for (int j = 0; j < 4; ++j)
            out->Put(j, clip[j]);
        out->Put(VertexLayoutOut::kPointSize, M::Splat(cfg.raster.pointSize));
        out->Put(VertexLayoutOut::kFlags, L::Zero());
        const int cd = VertexLayoutOut::kClip;
        out->Put(cd + 0, clip[2]);
        out->Put(cd + 1, L::Sub(clip[3], M::Splat(1e-6f)));
        out->Put(cd + 2, vc.clipping ? L::Sub(clip[3], clip[2]) : M::Splat(1.0f));
        out->Put(cd + 3, L::Sub(L::Mul(M::Splat(guardX), clip[3]), clip[0]));
        out->Put(cd + 4, L::Add(L::Mul(M::Splat(guardX), clip[3]), clip[0]));
        out->Put(cd + 5, L::Sub(L::Mul(M::Splat(guardY), clip[3]), clip[1]));
        out->Put(cd + 6, L::Add(L::Mul(M::Splat(guardY), clip[3]), clip[1]));
        const V* world = at.world;
        for (int i = 0; i < vc.clipPlaneCount; ++i)
        {
            const float* pl = vc.clipPlanes[i];
            out->Put(cd + kFixedClipPlanes + i, L::Add(L::Add(L::Add(L::Mul(M::Splat(pl[0]), world[0]),
                                                                     L::Mul(M::Splat(pl[1]), world[1])),
                                                              L::Mul(M::Splat(pl[2]), world[2])),
                                                       L::Mul(M::Splat(pl[3]), world[3])));
        }
    }

    // The camera-space position divided by its w (1 where w is 0).
    static void EyePosition(const Positions& at, V* eye)
    {
        const V invW =
            M::Select(L::CmpNeq(at.eye4[3], L::Zero()), L::Div(M::Splat(1.0f), at.eye4[3]), M::Splat(1.0f));
        for (int c = 0; c < 3; ++c)
            eye[c] = L::Mul(at.eye4[c], invW);
    }

    // The camera-space normal for lighting; zero without lighting or normals.
    static void EyeNormal(const VertexConfig& vc, const Source& src, V* normal)
    {
        normal[0] = normal[1] = normal[2] = L::Zero();
        if (!vc.lighting || !vc.layout.normal.present) return;
        V n[3];
        src.Gather3(vc.layout.normal, n);
        const float(*nm)[3] = vc.normalMatrix;
        for (int j = 0; j < 3; ++j)
            normal[j] = L::Add(L::Add(L::Mul(n[0], M::Splat(nm[0][j])), L::Mul(n[1], M::Splat(nm[1][j]))),
                               L::Mul(n[2], M::Splat(nm[2][j])));
        if (vc.normalizeNormals) M::Normalize(normal);
    }

    // The diffuse and specular colours: lit, or the vertex colours (white and black where absent).
    static void Colors(const VertexConfig& vc, const Source& src, const V* eye, const V* normal, int vary,
                       Fields* out)
    {
        const VertexLayout& in = vc.layout;
        LaneColor<L> dif, spec;
        if (in.diffuse.present) dif = src.Color(in.diffuse);
        if (in.specular.present) spec = src.Color(in.specular);
        if (vc.lighting)
        {
            V d[4], s[4];
            LightLanes<L>(vc, eye, normal, in.diffuse.present ? &dif : nullptr,
                          in.specular.present ? &spec : nullptr, d, s);
            for (int c = 0; c < 4; ++c)
            {
                out->Put(vary + kVaryDiffuse + c, d[c]);
                out->Put(vary + kVarySpecular + c, s[c]);
            }
            return;
        }
        for (int c = 0; c < 4; ++c)
        {
            out->Put(vary + kVaryDiffuse + c, in.diffuse.present ? dif.c[c] : M::Splat(1.0f));
            out->Put(vary + kVarySpecular + c, in.specular.present ? spec.c[c] : L::Zero());
        }
    }

    // The vertex fog factor, 1 without vertex fog.
    static V Fog(const VertexConfig& vc, const V* eye)
    {
        if (!vc.fogEnable || vc.fogVertexMode == D3DFOG_NONE) return M::Splat(1.0f);
        const V d = vc.rangeFog ? L::Sqrt(M::Dot3(eye, eye)) : L::AndNot(M::Splat(-0.0f), eye[2]);
        if (vc.fogVertexMode == D3DFOG_LINEAR)
        {
            // FogFactor's linear ramp, lane by lane.
            const float start = vc.fogStart, end = vc.fogEnd;
            const V t = end != start ? L::Div(L::Sub(M::Splat(end), d), M::Splat(end - start))
                                     : L::And(L::CmpLt(d, M::Splat(end)), M::Splat(1.0f));
            return M::Saturate(t);
        }
        return M::PerLane(
            d, (1 << N) - 1,
            [&](float x)
            { return FogFactorForPixel(vc.fogVertexMode, x, vc.fogStart, vc.fogEnd, vc.fogDensity); });
    }

    // The four components of one coordinate set. Missing components pad as (u, v, 1, 0), as in the general
    // path; a set that does not exist reads (0, 0, 0, 1), one out of range (0, 0, 0, 0).
    static void TexCoordSet(const VertexConfig& vc, const Source& src, UINT set, V* coord)
    {
        const VertexLayout& in = vc.layout;
        if (set < kMaxTexSets && in.tex[set].present && in.tex[set].type == D3DDECLTYPE_FLOAT2)
        {
            // The common (u, v): two floats of each vertex straight into lanes.
            L::Gather2(src.At(in.tex[set], 0), src.Stride(in.tex[set]), coord);
            coord[2] = M::Splat(1.0f);
            coord[3] = L::Zero();
            return;
        }
        alignas(32) float t[4][N] = {};
        if (set < kMaxTexSets)
        {
            const VertexElement& e = in.tex[set];
            // FastVertexPath admits FLOAT1 to FLOAT4 only.
            const int dims = e.present ? e.type - D3DDECLTYPE_FLOAT1 + 1 : 0;
            for (int k = 0; k < N; ++k)
            {
                float c[4] = {0, 0, 0, 1};
                if (e.present)
                {
                    const uint8_t* at = src.At(e, k);
                    switch (dims)
                    {
                    case 1:
                        std::memcpy(c, at, 4);
                        c[1] = 1.0f;
                        c[3] = 0.0f;
                        break;
                    case 2:
                        std::memcpy(c, at, 8);
                        c[2] = 1.0f;
                        c[3] = 0.0f;
                        break;
                    case 3:
                        std::memcpy(c, at, 12);
                        c[3] = 1.0f;
                        break;
                    default:
                        std::memcpy(c, at, 16);
                        break;
                    }
                }
                for (int i = 0; i < 4; ++i)
                    t[i][k] = c[i];
            }
        }
        for (int i = 0; i < 4; ++i)
            coord[i] = L::Load(t[i]);
    }

    // Each stage's coordinates, through its texture transform.
    static void TexCoords(const VertexConfig& vc, const Source& src, int vary, Fields* out)
    {
        for (int s = 0; s < vc.texStages; ++s)
        {
            const TexCoordConfig& tc = vc.texcoord[s];
            V coord[4];
            TexCoordSet(vc, src, tc.set, coord);
            if (tc.count)
            {
                V r[4];
                M::Transform(coord, tc.matrix, r);
                for (int i = 0; i < 4; ++i)
                    coord[i] = r[i];
            }
            for (int i = 0; i < 4; ++i)
                out->Put(vary + kVaryTex + 4 * s + i, coord[i]);
        }
    }

    // floor(v * 256 + 0.5) for |v| within the guard limit, 0 where ok is not set: truncate, then step down
    // where that rounded up.
    static I Snap(V v, I ok)
    {
        constexpr float kSnap = 1 << kSubPixelBits;
        const V t = L::Add(L::Mul(v, M::Splat(kSnap)), M::Splat(0.5f));
        const I i = L::Truncate(t);
        const I up = L::AsInt(L::CmpGt(L::ToFloat(i), t));
        return L::AndI(L::AddI(i, up), ok);
    }

    // Screen records as ProjectVertex and the general path's clip bits give them.
    static void ScreenRecords(const DrawConfig& cfg, const VertexLayoutOut& layout, const V* clip,
                              const Fields& fields, ScreenVertex* screen)
    {
        const D3DVIEWPORT9& vp = cfg.raster.viewport;
        const float halfW = vp.Width * 0.5f, halfH = vp.Height * 0.5f, zScale = vp.MaxZ - vp.MinZ;
        const V one = M::Splat(1.0f);
        const V q = L::Div(one, clip[3]);
        const V xyzq[4] = {L::Add(M::Splat(static_cast<float>(vp.X)),
                                  L::Mul(L::Add(one, L::Mul(clip[0], q)), M::Splat(halfW))),
                           L::Add(M::Splat(static_cast<float>(vp.Y)),
                                  L::Mul(L::Sub(one, L::Mul(clip[1], q)), M::Splat(halfH))),
                           L::Add(M::Splat(vp.MinZ), L::Mul(L::Mul(clip[2], q), M::Splat(zScale))), q};
        // Finite: the exponent is not all ones.
        const I expMask = L::SplatI(0x7f800000);
        I ok = L::SplatI(-1);
        for (const V& c : xyzq)
            ok = L::AndNotI(L::CmpEqI(L::AndI(L::AsInt(c), expMask), expMask), ok);
        const V limit = M::Splat(3 * kGuardPixels), sign = M::Splat(-0.0f);
        ok = L::AndI(ok, L::AsInt(L::CmpLe(L::AndNot(sign, xyzq[0]), limit)));
        ok = L::AndI(ok, L::AsInt(L::CmpLe(L::AndNot(sign, xyzq[1]), limit)));
        I bits = L::AndNotI(ok, L::SplatI(static_cast<int>(kUnprojected)));
        for (int i = 0; i < layout.clipCount; ++i)
            bits = L::OrI(
                bits, L::AndI(L::AsInt(L::CmpLt(L::Load(fields.f[VertexLayoutOut::kClip + i]), L::Zero())),
                              L::SplatI(1 << i)));
        const I ints[3] = {Snap(xyzq[0], ok), Snap(xyzq[1], ok), bits};
        for (int h = 0; h < N / 4; ++h)
        {
            __m128 a0 = L::Quarter(xyzq[0], h), a1 = L::Quarter(xyzq[1], h), a2 = L::Quarter(xyzq[2], h),
                   a3 = L::Quarter(xyzq[3], h);
            __m128 b0 = _mm_castsi128_ps(L::QuarterI(ints[0], h)),
                   b1 = _mm_castsi128_ps(L::QuarterI(ints[1], h)),
                   b2 = _mm_castsi128_ps(L::QuarterI(ints[2], h)), b3 = _mm_setzero_ps();
            _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
            _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
            ScreenVertex* sv = screen + 4 * h;
            _mm_storeu_ps(&sv[0].x, a0);
            _mm_storeu_ps(&sv[1].x, a1);
            _mm_storeu_ps(&sv[2].x, a2);
            _mm_storeu_ps(&sv[3].x, a3);
            _mm_storeu_ps(reinterpret_cast<float*>(&sv[0].fx), b0);
            _mm_storeu_ps(reinterpret_cast<float*>(&sv[1].fx), b1);
            _mm_storeu_ps(reinterpret_cast<float*>(&sv[2].fx), b2);
            _mm_storeu_ps(reinterpret_cast<float*>(&sv[3].fx), b3);
        }
    }

    // Back to one record per vertex, four fields of four vertices at a time.
    static void Records(const Fields& fields, int recordStride, float* o)
    {
        int field = 0;
        for (; field + 4 <= recordStride; field += 4)
            for (int h = 0; h < N / 4; ++h)
            {
                __m128 r0 = _mm_load_ps(fields.f[field] + 4 * h),
                       r1 = _mm_load_ps(fields.f[field + 1] + 4 * h),
                       r2 = _mm_load_ps(fields.f[field + 2] + 4 * h),
                       r3 = _mm_load_ps(fields.f[field + 3] + 4 * h);
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                float* r = o + 4 * h * recordStride + field;
                _mm_storeu_ps(r, r0);
                _mm_storeu_ps(r + recordStride, r1);
                _mm_storeu_ps(r + 2 * recordStride, r2);
                _mm_storeu_ps(r + 3 * recordStride, r3);
            }
        for (; field < recordStride; ++field)
            for (int k = 0; k < N; ++k)
                o[k * recordStride + field] = fields.f[field][k];
    }
};

// Vertices [index, index + L::N), all inside their streams, into their records at o and their screen
// records.
template <class L>
void ProcessLanes(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t index, float* o,
                  ScreenVertex* screen, float guardX, float guardY)
{
    using Step = VertexSteps<L>;
    const VertexConfig& vc = cfg.vertex;
    const typename Step::Source src{vc, index};
    typename Step::Fields fields;
    const typename Step::Positions at = Step::Transform(vc, src);
    Step::ClipFields(cfg, at, guardX, guardY, &fields);
    typename L::V eye[3], normal[3];
    Step::EyePosition(at, eye);
    Step::EyeNormal(vc, src, normal);
    const int vary = layout.Vary();
    Step::Colors(vc, src, eye, normal, vary, &fields);
    fields.Put(vary + kVaryFog, Step::Fog(vc, eye));
    Step::TexCoords(vc, src, vary, &fields);
    Step::ScreenRecords(cfg, layout, at.clip, fields, screen);
    Step::Records(fields, layout.stride, o);
}
} // namespace
} // namespace ferolt::d3d9
#endif
