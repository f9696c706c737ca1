// Vertex processing: reading vertices through a flexible vertex format or a declaration, the
// world-view-projection transform, texture coordinate generation and transforms, vertex fog and the
// clip distances the clipper needs.
#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
std::atomic<bool> fastVertexAllowed{true};

uint32_t ElementBytes(uint8_t type)
{
    static const uint8_t sizes[] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8};
    return type < sizeof(sizes) ? sizes[type] : 0;
}

int ElementComponents(uint8_t type)
{
    static const uint8_t comps[] = {1, 2, 3, 4, 4, 4, 2, 4, 4, 2, 4, 2, 4, 3, 3, 2, 4};
    return type < sizeof(comps) ? comps[type] : 0;
}

float HalfToFloat(uint16_t h)
{
    const uint32_t sign = (h >> 15) & 1, exp = (h >> 10) & 0x1f, mant = h & 0x3ff;
    float v;
    if (exp == 0)
        v = std::ldexp(static_cast<float>(mant), -24);
    else if (exp == 31)
        v = mant ? NAN : INFINITY;
    else
        v = std::ldexp(static_cast<float>(mant | 0x400), static_cast<int>(exp) - 25);
    return sign ? -v : v;
}

// Reads an element into four floats, missing components defaulting to (0, 0, 0, 1).
void ReadElement(const uint8_t* p, uint8_t type, float out[4])
{
    out[0] = out[1] = out[2] = 0.0f;
    out[3] = 1.0f;
    switch (type)
    {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
        std::memcpy(out, p, ElementBytes(type));
        break;
    case D3DDECLTYPE_D3DCOLOR:
        out[0] = p[2] / 255.0f;
        out[1] = p[1] / 255.0f;
        out[2] = p[0] / 255.0f;
        out[3] = p[3] / 255.0f;
        break;
    case D3DDECLTYPE_UBYTE4:
        for (int i = 0; i < 4; ++i)
            out[i] = p[i];
        break;
    case D3DDECLTYPE_UBYTE4N:
        for (int i = 0; i < 4; ++i)
            out[i] = p[i] / 255.0f;
        break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N:
    {
        const int n = ElementComponents(type);
        const bool norm = type == D3DDECLTYPE_SHORT2N || type == D3DDECLTYPE_SHORT4N;
        for (int i = 0; i < n; ++i)
        {
            int16_t v;
            std::memcpy(&v, p + 2 * i, 2);
            out[i] = norm ? std::max(-1.0f, v / 32767.0f) : static_cast<float>(v);
        }
        break;
    }
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
    {
        const int n = ElementComponents(type);
        for (int i = 0; i < n; ++i)
        {
            uint16_t v;
            std::memcpy(&v, p + 2 * i, 2);
            out[i] = v / 65535.0f;
        }
        break;
    }
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N:
    {
        uint32_t v;
        std::memcpy(&v, p, 4);
        for (int i = 0; i < 3; ++i)
        {
            int32_t c = static_cast<int32_t>((v >> (10 * i)) & 0x3ff);
            if (type == D3DDECLTYPE_DEC3N)
            {
                if (c & 0x200) c -= 0x400;
                out[i] = std::max(-1.0f, c / 511.0f);
            }
            else
                out[i] = static_cast<float>(c);
        }
        break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4:
    {
        const int n = ElementComponents(type);
        for (int i = 0; i < n; ++i)
        {
            uint16_t h;
            std::memcpy(&h, p + 2 * i, 2);
            out[i] = HalfToFloat(h);
        }
        break;
    }
    default:
        break;
    }
}

float Dot3(const Vec3& a, const Vec3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 Normalize(const Vec3& v)
{
    const float len = std::sqrt(Dot3(v, v));
    if (!(len > 0.0f)) return v;
    return {v.x / len, v.y / len, v.z / len};
}

void Transform4(const float v[4], const D3DMATRIX& m, float out[4])
{
    for (int j = 0; j < 4; ++j)
        out[j] = v[0] * m.m[0][j] + v[1] * m.m[1][j] + v[2] * m.m[2][j] + v[3] * m.m[3][j];
}

// Missing components of a read coordinate set pad as (u, v, 1, 0) before the transform.
void PadTexCoord(uint8_t type, float t[4])
{
    const int dims = ElementComponents(type);
    if (dims < 4) t[dims] = 1.0f;
    for (int i = dims + 1; i < 4; ++i)
        t[i] = 0.0f;
}

// A stage's coordinates into its varyings, through the texture transform when it is on.
void StoreTexCoord(const TexCoordConfig& tc, const float t[4], float* dst)
{
    if (tc.count)
        Transform4(t, tc.matrix, dst);
    else
        std::memcpy(dst, t, 4 * sizeof(float));
}

float FogFactor(DWORD mode, float d, float start, float end, float density)
{
    float f = 1.0f;
    switch (mode)
    {
    case D3DFOG_LINEAR:
        f = end != start ? (end - d) / (end - start) : (d < end ? 1.0f : 0.0f);
        break;
    case D3DFOG_EXP:
        f = std::exp(-density * d);
        break;
    case D3DFOG_EXP2:
        f = std::exp(-(density * d) * (density * d));
        break;
    default:
        break;
    }
    return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
}
} // namespace

float FogFactorForPixel(DWORD mode, float d, float start, float end, float density)
{
    return FogFactor(mode, d, start, end, density);
}

bool LayoutFromFvf(DWORD fvf, VertexLayout* out, UINT* stride)
{
    *out = VertexLayout{};
    uint32_t offset = 0;
    const DWORD pos = fvf & D3DFVF_POSITION_MASK;
    auto add = [&](VertexElement& e, uint8_t type)
    {
        e.present = true;
        e.stream = 0;
        e.type = type;
        e.offset = offset;
        offset += ElementBytes(type);
    };
    switch (pos)
    {
    case 0:
        break;
    case D3DFVF_XYZ:
        add(out->position, D3DDECLTYPE_FLOAT3);
        break;
    case D3DFVF_XYZRHW:
        add(out->position, D3DDECLTYPE_FLOAT4);
        out->pretransformed = true;
        break;
    case D3DFVF_XYZW:
        add(out->position, D3DDECLTYPE_FLOAT4);
        break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
        // Blend weights are read past; vertex blending is not supported.
        add(out->position, D3DDECLTYPE_FLOAT3);
        offset += 4 * ((pos - D3DFVF_XYZ) / 2);
        break;
    default:
        return false;
    }
    if (fvf & D3DFVF_NORMAL) add(out->normal, D3DDECLTYPE_FLOAT3);
    if (fvf & D3DFVF_PSIZE) add(out->psize, D3DDECLTYPE_FLOAT1);
    if (fvf & D3DFVF_DIFFUSE) add(out->diffuse, D3DDECLTYPE_D3DCOLOR);
    if (fvf & D3DFVF_SPECULAR) add(out->specular, D3DDECLTYPE_D3DCOLOR);
    const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > kMaxTexSets) return false;
    for (DWORD i = 0; i < texCount; ++i)
    {
        static const uint8_t types[] = {D3DDECLTYPE_FLOAT2, D3DDECLTYPE_FLOAT3, D3DDECLTYPE_FLOAT4,
                                        D3DDECLTYPE_FLOAT1};
        add(out->tex[i], types[(fvf >> (16 + 2 * i)) & 3]);
    }
    if (stride) *stride = offset;
    return true;
}

bool LayoutFromDeclaration(const std::vector<D3DVERTEXELEMENT9>& elements, VertexLayout* out)
{
    *out = VertexLayout{};
    for (const D3DVERTEXELEMENT9& e : elements)
    {
        if (e.Type >= D3DDECLTYPE_UNUSED || e.Stream >= kMaxStreams) return false;
        VertexElement el;
        el.present = true;
        el.stream = static_cast<uint8_t>(e.Stream);
        el.type = e.Type;
        el.offset = e.Offset;
        switch (e.Usage)
        {
        case D3DDECLUSAGE_POSITION:
            if (e.UsageIndex == 0) out->position = el;
            break;
        case D3DDECLUSAGE_POSITIONT:
            out->position = el;
            out->pretransformed = true;
            break;
        case D3DDECLUSAGE_NORMAL:
            if (e.UsageIndex == 0) out->normal = el;
            break;
        case D3DDECLUSAGE_PSIZE:
            out->psize = el;
            break;
        case D3DDECLUSAGE_COLOR:
            if (e.UsageIndex == 0) out->diffuse = el;
            if (e.UsageIndex == 1) out->specular = el;
            break;
        case D3DDECLUSAGE_TEXCOORD:
            if (e.UsageIndex < kMaxTexSets) out->tex[e.UsageIndex] = el;
            break;
        default:
            break; // other usages have no meaning to the fixed-function pipeline
        }
    }
    return true;
}

VertexLayoutOut MakeVertexLayout(const DrawConfig& cfg)
{
    VertexLayoutOut l;
    l.clipCount = kFixedClipPlanes + cfg.vertex.clipPlaneCount;
    l.varyCount = cfg.varyCount;
    l.stride = VertexLayoutOut::kClip + l.clipCount + l.varyCount;
    return l;
}

namespace
{
// One vertex through the general path: any element type, any state.
void ProcessVertex(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t index, float* o,
                   float guardX, float guardY)
{
    const VertexConfig& vc = cfg.vertex;
    const VertexLayout& in = vc.layout;
    const int varyBase = layout.Vary();
    const bool needNormal = vc.lighting || vc.texStages > 0;
    uint32_t flags = 0;

    // Every element must lie inside its stream; a vertex that does not is dropped with its primitives.
    auto fetch = [&](const VertexElement& e, float v[4]) -> bool
    {
        v[0] = v[1] = v[2] = 0.0f;
        v[3] = 1.0f;
        if (!e.present) return false;
        const StreamInput& s = vc.streams[e.stream];
        const int64_t at = index * static_cast<int64_t>(s.stride) + e.offset;
        if (!s.data || index < 0 || at < 0 || static_cast<uint64_t>(at) + ElementBytes(e.type) > s.size)
        {
            flags |= kVertexInvalid;
            return false;
        }
        ReadElement(s.data + at, e.type, v);
        return true;
    };

    float p[4], n4[4], dif[4], spec[4], psize[4];
    if (!fetch(in.position, p)) flags |= kVertexInvalid;
    if (in.position.type == D3DDECLTYPE_FLOAT3 ||
        (!in.pretransformed && in.position.type != D3DDECLTYPE_FLOAT4))
        p[3] = 1.0f;
    const bool hasNormal = fetch(in.normal, n4);
    const bool hasDiffuse = fetch(in.diffuse, dif);
    const bool hasSpecular = fetch(in.specular, spec);
    const bool hasPsize = fetch(in.psize, psize);

    float* vary = o + varyBase;
    o[VertexLayoutOut::kPointSize] = hasPsize ? psize[0] : cfg.raster.pointSize;
    float* cd = o + VertexLayoutOut::kClip;

    if (in.pretransformed)
    {
        // Screen position as given; w carries 1 / rhw for perspective-correct attributes.
        float rhw = p[3];
        if (!(rhw > 0.0f) || !std::isfinite(rhw)) rhw = 1.0f;
        o[0] = p[0];
        o[1] = p[1];
        o[2] = p[2];
        o[3] = 1.0f / rhw;
        for (int i = 0; i < layout.clipCount; ++i)
            cd[i] = 1.0f;
        const D3DVIEWPORT9& vp = cfg.raster.viewport;
        const float cx = vp.X + vp.Width * 0.5f, cy = vp.Y + vp.Height * 0.5f;
        const float gx = guardX * vp.Width * 0.5f, gy = guardY * vp.Height * 0.5f;
        cd[3] = gx - (p[0] - cx);
        cd[4] = gx + (p[0] - cx);
        cd[5] = gy - (p[1] - cy);
        cd[6] = gy + (p[1] - cy);
        for (int i = 0; i < 4; ++i)
        {
            vary[kVaryDiffuse + i] = hasDiffuse ? dif[i] : 1.0f;
            vary[kVarySpecular + i] = hasSpecular ? spec[i] : 0.0f;
        }
        vary[kVaryFog] = hasSpecular ? spec[3] : 1.0f;
        for (int s = 0; s < vc.texStages; ++s)
        {
            const TexCoordConfig& tc = vc.texcoord[s];
            float t[4] = {0, 0, 0, 0};
            if (tc.set < kMaxTexSets && fetch(in.tex[tc.set], t)) PadTexCoord(in.tex[tc.set].type, t);
            StoreTexCoord(tc, t, vary + kVaryTex + 4 * s);
        }
        std::memcpy(o + VertexLayoutOut::kFlags, &flags, 4);
        return;
    }

    float world[4], eye4[4], clip[4];
    Transform4(p, vc.world, world);
    Transform4(world, vc.view, eye4);
    Transform4(p, vc.worldViewProj, clip);
    o[0] = clip[0];
    o[1] = clip[1];
    o[2] = clip[2];
    o[3] = clip[3];
    cd[0] = clip[2];                                // near: z >= 0
    cd[1] = clip[3] - 1e-6f;                        // w > 0
    cd[2] = vc.clipping ? clip[3] - clip[2] : 1.0f; // far: z <= w
    cd[3] = guardX * clip[3] - clip[0];
    cd[4] = guardX * clip[3] + clip[0];
    cd[5] = guardY * clip[3] - clip[1];
    cd[6] = guardY * clip[3] + clip[1];
    for (int i = 0; i < vc.clipPlaneCount; ++i)
    {
        const float* pl = vc.clipPlanes[i];
        cd[kFixedClipPlanes + i] = pl[0] * world[0] + pl[1] * world[1] + pl[2] * world[2] + pl[3] * world[3];
    }

    const float invW = eye4[3] != 0.0f ? 1.0f / eye4[3] : 1.0f;
    const Vec3 eye = {eye4[0] * invW, eye4[1] * invW, eye4[2] * invW};
    Vec3 normal = {0, 0, 0};
    if (needNormal && hasNormal)
    {
        const float(*nm)[3] = vc.normalMatrix;
        normal = {n4[0] * nm[0][0] + n4[1] * nm[1][0] + n4[2] * nm[2][0],
                  n4[0] * nm[0][1] + n4[1] * nm[1][1] + n4[2] * nm[2][1],
                  n4[0] * nm[0][2] + n4[1] * nm[1][2] + n4[2] * nm[2][2]};
        if (vc.normalizeNormals) normal = Normalize(normal);
    }

    if (vc.lighting)
    {
        LightVertex(vc, eye, normal, hasDiffuse ? dif : nullptr, hasSpecular ? spec : nullptr,
                    vary + kVaryDiffuse, vary + kVarySpecular);
    }
    else
    {
        for (int i = 0; i < 4; ++i)
        {
            vary[kVaryDiffuse + i] = hasDiffuse ? dif[i] : 1.0f;
            vary[kVarySpecular + i] = hasSpecular ? spec[i] : 0.0f;
        }
    }

    float fog = 1.0f;
    if (vc.fogEnable && vc.fogVertexMode != D3DFOG_NONE)
    {
        // Distance from the eye; the magnitude, so right-handed views fog like left-handed ones.
        const float d = vc.rangeFog ? std::sqrt(Dot3(eye, eye)) : std::fabs(eye.z);
        fog = FogFactor(vc.fogVertexMode, d, vc.fogStart, vc.fogEnd, vc.fogDensity);
    }
    vary[kVaryFog] = fog;

    for (int s = 0; s < vc.texStages; ++s)
    {
        const TexCoordConfig& tc = vc.texcoord[s];
        float t[4] = {0, 0, 0, 0};
        switch (tc.generate)
        {
        case D3DTSS_TCI_CAMERASPACENORMAL:
        {
            const Vec3 nn = Normalize(normal);
            t[0] = nn.x;
            t[1] = nn.y;
            t[2] = nn.z;
            t[3] = 1.0f;
            break;
        }
        case D3DTSS_TCI_CAMERASPACEPOSITION:
            t[0] = eye.x;
            t[1] = eye.y;
            t[2] = eye.z;
            t[3] = 1.0f;
            break;
        case D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR:
        case D3DTSS_TCI_SPHEREMAP:
        {
            const Vec3 nn = Normalize(normal);
            const Vec3 e = vc.localViewer ? Normalize(Vec3{-eye.x, -eye.y, -eye.z}) : Vec3{0.0f, 0.0f, 1.0f};
            const float d2 = 2.0f * Dot3(e, nn);
            t[0] = d2 * nn.x - e.x;
            t[1] = d2 * nn.y - e.y;
            t[2] = d2 * nn.z - e.z;
            t[3] = 1.0f;
            if (tc.generate == D3DTSS_TCI_SPHEREMAP)
            {
                const float m = 2.0f * std::sqrt(t[0] * t[0] + t[1] * t[1] + (t[2] + 1) * (t[2] + 1));
                t[0] = m > 0 ? t[0] / m + 0.5f : 0.5f;
                t[1] = m > 0 ? t[1] / m + 0.5f : 0.5f;
                t[2] = 1.0f;
                t[3] = 0.0f;
            }
            break;
        }
        default:
            if (tc.set < kMaxTexSets && fetch(in.tex[tc.set], t)) PadTexCoord(in.tex[tc.set].type, t);
            break;
        }
        StoreTexCoord(tc, t, vary + kVaryTex + 4 * s);
    }
    std::memcpy(o + VertexLayoutOut::kFlags, &flags, 4);
}

constexpr float kSnap = 1 << kSubPixelBits;

#if FEROLT_D3D9_SSE
// Four vertices at a time, one per SSE lane. Every lane computes the operations of the general path in
// the same order, so the results are the same bits; what the lanes cannot share (pow, exp) runs per lane.
using F4 = __m128;

F4 Splat(float v)
{
    return _mm_set1_ps(v);
}
F4 Add(F4 a, F4 b)
{
    return _mm_add_ps(a, b);
}
F4 Sub(F4 a, F4 b)
{
    return _mm_sub_ps(a, b);
}
F4 Mul(F4 a, F4 b)
{
    return _mm_mul_ps(a, b);
}
F4 Div(F4 a, F4 b)
{
    return _mm_div_ps(a, b);
}
// mask ? a : b, lane by lane.
F4 Select(F4 mask, F4 a, F4 b)
{
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}
// v < 0 ? 0 : (v > 1 ? 1 : v), NaN passing through as it does there.
F4 Saturate4(F4 v)
{
    return _mm_max_ps(_mm_setzero_ps(), _mm_min_ps(Splat(1.0f), v));
}
F4 Dot4(const F4* a, const F4* b)
{
    return Add(Add(Mul(a[0], b[0]), Mul(a[1], b[1])), Mul(a[2], b[2]));
}
// len > 0 ? v / len : v
void Normalize4(F4* v)
{
    const F4 len = _mm_sqrt_ps(Dot4(v, v));
    const F4 pos = _mm_cmpgt_ps(len, _mm_setzero_ps());
    for (int c = 0; c < 3; ++c)
        v[c] = Select(pos, Div(v[c], len), v[c]);
}
// out[j] = v[0] m[0][j] + v[1] m[1][j] + v[2] m[2][j] + v[3] m[3][j], as Transform4 adds them.
void Transform4x4(const F4* v, const D3DMATRIX& m, F4* out)
{
    for (int j = 0; j < 4; ++j)
        out[j] = Add(
            Add(Add(Mul(v[0], Splat(m.m[0][j])), Mul(v[1], Splat(m.m[1][j]))), Mul(v[2], Splat(m.m[2][j]))),
            Mul(v[3], Splat(m.m[3][j])));
}

// The draws the four-lane path takes: untransformed positions, and elements it reads without conversion.
bool FastVertexPath(const DrawConfig& cfg)
{
    const VertexConfig& vc = cfg.vertex;
    const VertexLayout& in = vc.layout;
    if (in.pretransformed || !in.position.present || in.position.type != D3DDECLTYPE_FLOAT3) return false;
    if (in.normal.present && in.normal.type != D3DDECLTYPE_FLOAT3) return false;
    if (in.diffuse.present && in.diffuse.type != D3DDECLTYPE_D3DCOLOR) return false;
    if (in.specular.present && in.specular.type != D3DDECLTYPE_D3DCOLOR) return false;
    if (in.psize.present) return false;
    for (int s = 0; s < vc.texStages; ++s)
    {
        const TexCoordConfig& tc = vc.texcoord[s];
        if (tc.generate != 0) return false;
        if (tc.set < kMaxTexSets && in.tex[tc.set].present && in.tex[tc.set].type > D3DDECLTYPE_FLOAT4)
            return false;
    }
    return true;
}

struct Color4
{
    F4 c[4];
};

// LightVertex for four vertices in camera space.
void LightFour(const VertexConfig& cfg, const F4* position, const F4* normal, const Color4* vertexDiffuse,
               const Color4* vertexSpecular, F4* diffuseOut, F4* specularOut)
{
    const D3DMATERIAL9& m = cfg.material;
    auto source = [&](DWORD src, const D3DCOLORVALUE& material)
    {
        if (cfg.colorVertex)
        {
            if (src == D3DMCS_COLOR1 && vertexDiffuse) return *vertexDiffuse;
            if (src == D3DMCS_COLOR2 && vertexSpecular) return *vertexSpecular;
        }
        return Color4{{Splat(material.r), Splat(material.g), Splat(material.b), Splat(material.a)}};
    };
    const Color4 md = source(cfg.diffuseSource, m.Diffuse);
    const Color4 ma = source(cfg.ambientSource, m.Ambient);
    const Color4 ms = source(cfg.specularSource, m.Specular);
    const Color4 me = source(cfg.emissiveSource, m.Emissive);

    const F4 zero = _mm_setzero_ps();
    const F4 sign = Splat(-0.0f);
    F4 ambient[3] = {zero, zero, zero}, diffuse[3] = {zero, zero, zero}, specular[3] = {zero, zero, zero};
    F4 toEye[3] = {zero, zero, Splat(1.0f)};
    if (cfg.specularEnable && cfg.localViewer)
    {
        for (int c = 0; c < 3; ++c)
            toEye[c] = _mm_xor_ps(position[c], sign);
        Normalize4(toEye);
    }

    for (int i = 0; i < cfg.lightCount; ++i)
    {
        const LightRecord& l = cfg.lights[i];
        F4 dir[3];
        F4 atten = Splat(1.0f);
        F4 active = _mm_castsi128_ps(_mm_set1_epi32(-1));
        if (l.type == D3DLIGHT_DIRECTIONAL)
        {
            dir[0] = Splat(-l.direction.x);
            dir[1] = Splat(-l.direction.y);
            dir[2] = Splat(-l.direction.z);
        }
        else
        {
            const F4 d[3] = {Sub(Splat(l.position.x), position[0]), Sub(Splat(l.position.y), position[1]),
                             Sub(Splat(l.position.z), position[2])};
            const F4 dist = _mm_sqrt_ps(Dot4(d, d));
            active = _mm_cmpngt_ps(dist, Splat(l.range));
            if (_mm_movemask_ps(active) == 0) continue;
            const F4 positive = _mm_cmpgt_ps(dist, zero);
            for (int c = 0; c < 3; ++c)
                dir[c] = Select(positive, Div(d[c], dist), zero);
            const F4 denom =
                Add(Add(Splat(l.att0), Mul(Splat(l.att1), dist)), Mul(Mul(Splat(l.att2), dist), dist));
            atten = Select(_mm_cmpgt_ps(denom, zero), Div(Splat(1.0f), denom), Splat(1.0f));
            if (l.type == D3DLIGHT_SPOT)
            {
                const F4 ld[3] = {Splat(l.direction.x), Splat(l.direction.y), Splat(l.direction.z)};
                const F4 rho = _mm_xor_ps(Dot4(dir, ld), sign);
                active = _mm_and_ps(active, _mm_cmpnle_ps(rho, Splat(l.cosHalfPhi)));
                if (_mm_movemask_ps(active) == 0) continue;
                const F4 inner = _mm_and_ps(active, _mm_cmple_ps(rho, Splat(l.cosHalfTheta)));
                const int innerBits = _mm_movemask_ps(inner);
                if (innerBits)
                {
                    F4 t = Div(Sub(rho, Splat(l.cosHalfPhi)), Splat(l.cosHalfTheta - l.cosHalfPhi));
                    if (l.falloff != 1.0f)
                    {
                        alignas(16) float lanes[4];
                        _mm_store_ps(lanes, t);
                        for (int k = 0; k < 4; ++k)
                            if (innerBits & (1 << k)) lanes[k] = std::pow(lanes[k], l.falloff);
                        t = _mm_load_ps(lanes);
                    }
                    atten = Select(inner, Mul(atten, t), atten);
                }
            }
        }
        for (int c = 0; c < 3; ++c)
            ambient[c] = Select(active, Add(ambient[c], Mul(atten, Splat(l.ambient[c]))), ambient[c]);
        const F4 nDotL = Dot4(normal, dir);
        const F4 lit = _mm_and_ps(active, _mm_cmpnle_ps(nDotL, zero));
        const int litBits = _mm_movemask_ps(lit);
        if (!litBits) continue;
        const F4 scaled = Mul(atten, nDotL);
        for (int c = 0; c < 3; ++c)
            diffuse[c] = Select(lit, Add(diffuse[c], Mul(scaled, Splat(l.diffuse[c]))), diffuse[c]);
        if (cfg.specularEnable)
        {
            F4 h[3] = {Add(dir[0], toEye[0]), Add(dir[1], toEye[1]), Add(dir[2], toEye[2])};
            Normalize4(h);
            const F4 nDotH = Dot4(normal, h);
            const F4 shine = _mm_and_ps(lit, _mm_cmpgt_ps(nDotH, zero));
            const int shineBits = _mm_movemask_ps(shine);
            if (!shineBits) continue;
            F4 s = Splat(1.0f);
            if (m.Power > 0.0f)
            {
                alignas(16) float lanes[4];
                _mm_store_ps(lanes, nDotH);
                for (int k = 0; k < 4; ++k)
                    lanes[k] = (shineBits & (1 << k)) ? std::pow(lanes[k], m.Power) : 1.0f;
                s = _mm_load_ps(lanes);
            }
            const F4 as = Mul(atten, s);
            for (int c = 0; c < 3; ++c)
                specular[c] = Select(shine, Add(specular[c], Mul(as, Splat(l.specular[c]))), specular[c]);
        }
    }

    for (int c = 0; c < 3; ++c)
    {
        diffuseOut[c] = Saturate4(
            Add(Add(Add(me.c[c], Mul(ma.c[c], Splat(cfg.globalAmbient[c]))), Mul(ma.c[c], ambient[c])),
                Mul(md.c[c], diffuse[c])));
        specularOut[c] = cfg.specularEnable ? Saturate4(Mul(ms.c[c], specular[c])) : zero;
    }
    diffuseOut[3] = Saturate4(md.c[3]);
    specularOut[3] = Saturate4(ms.c[3]);
}

// Vertices [index, index + 4) into their records at o; false (nothing written) when an element of one of
// them lies outside its stream, for the general path to flag.
// The vertices [0, end) whose elements all lie inside their streams: the four-lane path reads them
// without checking each one.
int64_t VerticesInside(const DrawConfig& cfg)
{
    const VertexConfig& vc = cfg.vertex;
    const VertexLayout& in = vc.layout;
    int64_t end = INT64_MAX;
    auto limit = [&](const VertexElement& e)
    {
        if (!e.present) return;
        const StreamInput& s = vc.streams[e.stream];
        const uint64_t need = static_cast<uint64_t>(e.offset) + ElementBytes(e.type);
        if (!s.data || need > s.size)
            end = 0;
        else if (s.stride != 0)
            end = std::min<int64_t>(end, static_cast<int64_t>((s.size - need) / s.stride) + 1);
    };
    limit(in.position);
    limit(in.normal);
    limit(in.diffuse);
    limit(in.specular);
    for (int s = 0; s < vc.texStages; ++s)
        if (vc.texcoord[s].set < kMaxTexSets) limit(in.tex[vc.texcoord[s].set]);
    return end;
}

// Vertices [index, index + 4), all inside their streams (VerticesInside), into their records at o and
// their screen records.
void ProcessFourVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t index, float* o,
                         ScreenVertex* screen, float guardX, float guardY)
{
    const VertexConfig& vc = cfg.vertex;
    const VertexLayout& in = vc.layout;
    auto at = [&](const VertexElement& e, int k)
    {
        const StreamInput& s = vc.streams[e.stream];
        return s.data + (index + k) * static_cast<int64_t>(s.stride) + e.offset;
    };
    // Three floats of each vertex, as four-lane x, y, z, gathered in registers.
    auto load3 = [&](const VertexElement& e, F4* out)
    {
        F4 xy[4], z[4];
        for (int k = 0; k < 4; ++k)
        {
            const uint8_t* p = at(e, k);
            double d;
            float f;
            std::memcpy(&d, p, 8);
            std::memcpy(&f, p + 8, 4);
            xy[k] = _mm_castpd_ps(_mm_set_sd(d));
            z[k] = _mm_set_ss(f);
        }
        const F4 xy01 = _mm_movelh_ps(xy[0], xy[1]), xy23 = _mm_movelh_ps(xy[2], xy[3]);
        out[0] = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(2, 0, 2, 0));
        out[1] = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(3, 1, 3, 1));
        out[2] = _mm_movelh_ps(_mm_unpacklo_ps(z[0], z[1]), _mm_unpacklo_ps(z[2], z[3]));
    };
    // Colours in memory order blue, green, red, alpha, each divided by 255 as ReadElement does.
    auto loadColor = [&](const VertexElement& e, Color4* out)
    {
        alignas(16) uint32_t c[4];
        for (int k = 0; k < 4; ++k)
            std::memcpy(&c[k], at(e, k), 4);
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(c));
        const __m128i byte = _mm_set1_epi32(0xff);
        const F4 scale = Splat(255.0f);
        out->c[0] = Div(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(v, 16), byte)), scale);
        out->c[1] = Div(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(v, 8), byte)), scale);
        out->c[2] = Div(_mm_cvtepi32_ps(_mm_and_si128(v, byte)), scale);
        out->c[3] = Div(_mm_cvtepi32_ps(_mm_srli_epi32(v, 24)), scale);
    };

    alignas(16) float f[VertexLayoutOut::kClip + kFixedClipPlanes + kMaxClipPlanes + kMaxVary][4];
    auto put = [&](int field, F4 v) { _mm_store_ps(f[field], v); };

    F4 p[4];
    load3(in.position, p);
    p[3] = Splat(1.0f);
    F4 world[4], eye4[4], clip[4];
    Transform4x4(p, vc.world, world);
    Transform4x4(world, vc.view, eye4);
    Transform4x4(p, vc.worldViewProj, clip);
    for (int j = 0; j < 4; ++j)
        put(j, clip[j]);
    put(VertexLayoutOut::kPointSize, Splat(cfg.raster.pointSize));
    put(VertexLayoutOut::kFlags, _mm_setzero_ps());
    const int cd = VertexLayoutOut::kClip;
    put(cd + 0, clip[2]);
    put(cd + 1, Sub(clip[3], Splat(1e-6f)));
    put(cd + 2, vc.clipping ? Sub(clip[3], clip[2]) : Splat(1.0f));
    put(cd + 3, Sub(Mul(Splat(guardX), clip[3]), clip[0]));
    put(cd + 4, Add(Mul(Splat(guardX), clip[3]), clip[0]));
    put(cd + 5, Sub(Mul(Splat(guardY), clip[3]), clip[1]));
    put(cd + 6, Add(Mul(Splat(guardY), clip[3]), clip[1]));
    for (int i = 0; i < vc.clipPlaneCount; ++i)
    {
        const float* pl = vc.clipPlanes[i];
        put(cd + kFixedClipPlanes + i, Add(Add(Add(Mul(Splat(pl[0]), world[0]), Mul(Splat(pl[1]), world[1])),
                                               Mul(Splat(pl[2]), world[2])),
                                           Mul(Splat(pl[3]), world[3])));
    }

    const F4 zero = _mm_setzero_ps();
    const F4 invW = Select(_mm_cmpneq_ps(eye4[3], zero), Div(Splat(1.0f), eye4[3]), Splat(1.0f));
    const F4 eye[3] = {Mul(eye4[0], invW), Mul(eye4[1], invW), Mul(eye4[2], invW)};
    F4 normal[3] = {zero, zero, zero};
    if (vc.lighting && in.normal.present)
    {
        F4 n[3];
        load3(in.normal, n);
        const float(*nm)[3] = vc.normalMatrix;
        for (int j = 0; j < 3; ++j)
            normal[j] =
                Add(Add(Mul(n[0], Splat(nm[0][j])), Mul(n[1], Splat(nm[1][j]))), Mul(n[2], Splat(nm[2][j])));
        if (vc.normalizeNormals) Normalize4(normal);
    }

    Color4 dif, spec;
    if (in.diffuse.present) loadColor(in.diffuse, &dif);
    if (in.specular.present) loadColor(in.specular, &spec);
    const int vary = layout.Vary();
    if (vc.lighting)
    {
        F4 d[4], s[4];
        LightFour(vc, eye, normal, in.diffuse.present ? &dif : nullptr, in.specular.present ? &spec : nullptr,
                  d, s);
        for (int c = 0; c < 4; ++c)
        {
            put(vary + kVaryDiffuse + c, d[c]);
            put(vary + kVarySpecular + c, s[c]);
        }
    }
    else
        for (int c = 0; c < 4; ++c)
        {
            put(vary + kVaryDiffuse + c, in.diffuse.present ? dif.c[c] : Splat(1.0f));
            put(vary + kVarySpecular + c, in.specular.present ? spec.c[c] : zero);
        }

    F4 fog = Splat(1.0f);
    if (vc.fogEnable && vc.fogVertexMode != D3DFOG_NONE)
    {
        const F4 d = vc.rangeFog ? _mm_sqrt_ps(Dot4(eye, eye)) : _mm_andnot_ps(Splat(-0.0f), eye[2]);
        if (vc.fogVertexMode == D3DFOG_LINEAR)
        {
            // FogFactor's linear ramp, lane by lane.
            const float start = vc.fogStart, end = vc.fogEnd;
            const F4 f = end != start ? Div(Sub(Splat(end), d), Splat(end - start))
                                      : _mm_and_ps(_mm_cmplt_ps(d, Splat(end)), Splat(1.0f));
            fog = Saturate4(f);
        }
        else
        {
            alignas(16) float lanes[4];
            _mm_store_ps(lanes, d);
            for (float& x : lanes)
                x = FogFactor(vc.fogVertexMode, x, vc.fogStart, vc.fogEnd, vc.fogDensity);
            fog = _mm_load_ps(lanes);
        }
    }
    put(vary + kVaryFog, fog);

    for (int s = 0; s < vc.texStages; ++s)
    {
        const TexCoordConfig& tc = vc.texcoord[s];
        const int base = vary + kVaryTex + 4 * s;
        // Missing components pad as (u, v, 1, 0) before the transform, as in the general path; a set
        // that does not exist reads (0, 0, 0, 1), one out of range (0, 0, 0, 0).
        alignas(16) float t[4][4] = {};
        F4 coord[4];
        if (tc.set < kMaxTexSets && in.tex[tc.set].present && in.tex[tc.set].type == D3DDECLTYPE_FLOAT2)
        {
            // The common (u, v): two floats of each vertex straight into lanes.
            F4 uv[4];
            for (int k = 0; k < 4; ++k)
            {
                double d;
                std::memcpy(&d, at(in.tex[tc.set], k), 8);
                uv[k] = _mm_castpd_ps(_mm_set_sd(d));
            }
            const F4 l01 = _mm_movelh_ps(uv[0], uv[1]), l23 = _mm_movelh_ps(uv[2], uv[3]);
            coord[0] = _mm_shuffle_ps(l01, l23, _MM_SHUFFLE(2, 0, 2, 0));
            coord[1] = _mm_shuffle_ps(l01, l23, _MM_SHUFFLE(3, 1, 3, 1));
            coord[2] = Splat(1.0f);
            coord[3] = _mm_setzero_ps();
        }
        else
        {
            if (tc.set < kMaxTexSets)
            {
                const VertexElement& e = in.tex[tc.set];
                const int dims = e.present ? ElementComponents(e.type) : 0;
                for (int k = 0; k < 4; ++k)
                {
                    float c[4] = {0, 0, 0, 1};
                    if (e.present)
                    {
                        const uint8_t* src = at(e, k);
                        switch (dims)
                        {
                        case 1:
                            std::memcpy(c, src, 4);
                            c[1] = 1.0f;
                            c[3] = 0.0f;
                            break;
                        case 2:
                            std::memcpy(c, src, 8);
                            c[2] = 1.0f;
                            c[3] = 0.0f;
                            break;
                        case 3:
                            std::memcpy(c, src, 12);
                            c[3] = 1.0f;
                            break;
                        default:
                            std::memcpy(c, src, 16);
                            break;
                        }
                    }
                    for (int i = 0; i < 4; ++i)
                        t[i][k] = c[i];
                }
            }
            for (int i = 0; i < 4; ++i)
                coord[i] = _mm_load_ps(t[i]);
        }
        if (tc.count)
        {
            F4 r[4];
            Transform4x4(coord, tc.matrix, r);
            for (int i = 0; i < 4; ++i)
                coord[i] = r[i];
        }
        for (int i = 0; i < 4; ++i)
            put(base + i, coord[i]);
    }

    // Screen records as ProjectVertex and the general path's clip bits give them.
    {
        const D3DVIEWPORT9& vp = cfg.raster.viewport;
        const float halfW = vp.Width * 0.5f, halfH = vp.Height * 0.5f, zScale = vp.MaxZ - vp.MinZ;
        const F4 one = Splat(1.0f);
        const F4 q = Div(one, clip[3]);
        F4 xyzq[4] = {Add(Splat(static_cast<float>(vp.X)), Mul(Add(one, Mul(clip[0], q)), Splat(halfW))),
                      Add(Splat(static_cast<float>(vp.Y)), Mul(Sub(one, Mul(clip[1], q)), Splat(halfH))),
                      Add(Splat(vp.MinZ), Mul(Mul(clip[2], q), Splat(zScale))), q};
        // Finite: the exponent is not all ones.
        const __m128i expMask = _mm_set1_epi32(0x7f800000);
        __m128i ok = _mm_set1_epi32(-1);
        for (const F4& c : xyzq)
            ok = _mm_andnot_si128(_mm_cmpeq_epi32(_mm_and_si128(_mm_castps_si128(c), expMask), expMask), ok);
        const F4 limit = Splat(3 * kGuardPixels), sign = Splat(-0.0f);
        ok = _mm_and_si128(ok, _mm_castps_si128(_mm_cmple_ps(_mm_andnot_ps(sign, xyzq[0]), limit)));
        ok = _mm_and_si128(ok, _mm_castps_si128(_mm_cmple_ps(_mm_andnot_ps(sign, xyzq[1]), limit)));
        // floor(v * 256 + 0.5) for |v| within the limit: truncate, then step down where that rounded up.
        auto snap = [&](F4 v)
        {
            const F4 t = Add(Mul(v, Splat(kSnap)), Splat(0.5f));
            const __m128i i = _mm_cvttps_epi32(t);
            const __m128i up = _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(i), t));
            return _mm_and_si128(_mm_add_epi32(i, up), ok);
        };
        __m128i bits = _mm_andnot_si128(ok, _mm_set1_epi32(static_cast<int>(kUnprojected)));
        for (int i = 0; i < layout.clipCount; ++i)
            bits =
                _mm_or_si128(bits, _mm_and_si128(_mm_castps_si128(_mm_cmplt_ps(_mm_load_ps(f[cd + i]), zero)),
                                                 _mm_set1_epi32(1 << i)));
        F4 ints[4] = {_mm_castsi128_ps(snap(xyzq[0])), _mm_castsi128_ps(snap(xyzq[1])),
                      _mm_castsi128_ps(bits), _mm_setzero_ps()};
        _MM_TRANSPOSE4_PS(xyzq[0], xyzq[1], xyzq[2], xyzq[3]);
        _MM_TRANSPOSE4_PS(ints[0], ints[1], ints[2], ints[3]);
        for (int k = 0; k < 4; ++k)
        {
            _mm_storeu_ps(&screen[k].x, xyzq[k]);
            _mm_storeu_ps(reinterpret_cast<float*>(&screen[k].fx), ints[k]);
        }
    }

    // Back to one record per vertex, four fields at a time.
    const int stride = layout.stride;
    int field = 0;
    for (; field + 4 <= stride; field += 4)
    {
        F4 r0 = _mm_load_ps(f[field]), r1 = _mm_load_ps(f[field + 1]), r2 = _mm_load_ps(f[field + 2]),
           r3 = _mm_load_ps(f[field + 3]);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(o + field, r0);
        _mm_storeu_ps(o + stride + field, r1);
        _mm_storeu_ps(o + 2 * stride + field, r2);
        _mm_storeu_ps(o + 3 * stride + field, r3);
    }
    for (; field < stride; ++field)
        for (int k = 0; k < 4; ++k)
            o[k * stride + field] = f[field][k];
}
#endif
} // namespace

bool ProjectVertex(const DrawConfig& cfg, const float* v, ScreenVertex* out)
{
    const D3DVIEWPORT9& vp = cfg.raster.viewport;
    const float halfW = vp.Width * 0.5f, halfH = vp.Height * 0.5f, zScale = vp.MaxZ - vp.MinZ;
    if (cfg.vertex.layout.pretransformed)
    {
        out->x = v[0];
        out->y = v[1];
        out->z = v[2];
        out->q = 1.0f / v[3];
    }
    else
    {
        const float q = 1.0f / v[3];
        out->x = vp.X + (1.0f + v[0] * q) * halfW;
        out->y = vp.Y + (1.0f - v[1] * q) * halfH;
        out->z = vp.MinZ + v[2] * q * zScale;
        out->q = q;
    }
    out->fx = out->fy = 0;
    if (!std::isfinite(out->x) || !std::isfinite(out->y) || !std::isfinite(out->z) || !std::isfinite(out->q))
        return false;
    if (std::fabs(out->x) > 3 * kGuardPixels || std::fabs(out->y) > 3 * kGuardPixels) return false;
    // Within the limit above these fit 32 bits with room to spare.
    out->fx = static_cast<int32_t>(std::floor(out->x * kSnap + 0.5f));
    out->fy = static_cast<int32_t>(std::floor(out->y * kSnap + 0.5f));
    return true;
}

namespace
{
// The screen record of a vertex computed by the general path.
void ScreenOf(const DrawConfig& cfg, const VertexLayoutOut& layout, const float* v, ScreenVertex* s)
{
    const bool ok = ProjectVertex(cfg, v, s);
    uint32_t bits = 0;
    for (int i = 0; i < layout.clipCount; ++i)
        if (v[VertexLayoutOut::kClip + i] < 0.0f) bits |= 1u << i;
    uint32_t flags;
    std::memcpy(&flags, v + VertexLayoutOut::kFlags, 4);
    s->bits = bits | (flags & kVertexInvalid) | (ok ? 0u : kUnprojected);
    s->pad = 0;
}
} // namespace

void SetFastVertexPathAllowed(bool allowed)
{
    fastVertexAllowed.store(allowed, std::memory_order_relaxed);
}

void ProcessVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t first, size_t count,
                     float* out, ScreenVertex* screen, float guardX, float guardY)
{
    size_t k = 0;
#if FEROLT_D3D9_SSE
    if (fastVertexAllowed.load(std::memory_order_relaxed) && FastVertexPath(cfg))
    {
        // Blocks of four wholly inside the streams; the rest, which the general path flags, one by one.
        const int64_t inside = VerticesInside(cfg);
        for (; k + 4 <= count; k += 4)
        {
            float* o = out + k * layout.stride;
            const int64_t index = first + static_cast<int64_t>(k);
            if (index >= 0 && index + 4 <= inside)
                ProcessFourVertices(cfg, layout, index, o, screen + k, guardX, guardY);
            else
                for (int i = 0; i < 4; ++i)
                {
                    ProcessVertex(cfg, layout, index + i, o + i * layout.stride, guardX, guardY);
                    ScreenOf(cfg, layout, o + i * layout.stride, screen + k + i);
                }
        }
    }
#endif
    for (; k < count; ++k)
    {
        float* o = out + k * layout.stride;
        ProcessVertex(cfg, layout, first + static_cast<int64_t>(k), o, guardX, guardY);
        ScreenOf(cfg, layout, o, screen + k);
    }
}
} // namespace ferolt::d3d9
