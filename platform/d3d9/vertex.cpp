// Vertex processing: reading vertices through a flexible vertex format or a declaration, the
// world-view-projection transform, texture coordinate generation and transforms, vertex fog and the
// clip distances the clipper needs.
#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/d3d9/raster.h"
#include "platform/d3d9/vertex_lanes.h"

namespace ferolt::d3d9
{
namespace
{
std::atomic<bool> fastVertexAllowed{true};
std::atomic<bool> eightLanesAllowed{true};

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
// Reads the elements of one vertex. Every element must lie inside its stream; a vertex that does not is
// dropped with its primitives (kVertexInvalid in flags).
struct VertexFetch
{
    const VertexConfig& vc;
    int64_t index;
    uint32_t flags = 0;
    // The element as four floats (0, 0, 0, 1 where it has fewer); false when it is absent or unreadable.
    bool operator()(const VertexElement& e, float v[4])
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
    }
};

// What the general path reads of a vertex besides its texture coordinates.
struct VertexInputs
{
    float p[4], n4[4], dif[4], spec[4], psize[4];
    bool hasNormal, hasDiffuse, hasSpecular, hasPsize;
};

VertexInputs FetchInputs(const VertexLayout& in, VertexFetch& fetch)
{
    VertexInputs v;
    if (!fetch(in.position, v.p)) fetch.flags |= kVertexInvalid;
    if (in.position.type == D3DDECLTYPE_FLOAT3 ||
        (!in.pretransformed && in.position.type != D3DDECLTYPE_FLOAT4))
        v.p[3] = 1.0f;
    v.hasNormal = fetch(in.normal, v.n4);
    v.hasDiffuse = fetch(in.diffuse, v.dif);
    v.hasSpecular = fetch(in.specular, v.spec);
    v.hasPsize = fetch(in.psize, v.psize);
    return v;
}

// Vertex colours as given (white diffuse and black specular where absent).
void UnlitColours(const VertexInputs& v, float* vary)
{
    for (int i = 0; i < 4; ++i)
    {
        vary[kVaryDiffuse + i] = v.hasDiffuse ? v.dif[i] : 1.0f;
        vary[kVarySpecular + i] = v.hasSpecular ? v.spec[i] : 0.0f;
    }
}

// Screen position as given; w carries 1 / rhw for perspective-correct attributes. The guard band is the only
// clipping such vertices get.
void PretransformedVertex(const DrawConfig& cfg, const VertexLayoutOut& layout, const VertexInputs& v,
                          VertexFetch& fetch, float* o, float guardX, float guardY)
{
    const VertexConfig& vc = cfg.vertex;
    float* vary = o + layout.Vary();
    float* cd = o + VertexLayoutOut::kClip;
    float rhw = v.p[3];
    if (!(rhw > 0.0f) || !std::isfinite(rhw)) rhw = 1.0f;
    o[0] = v.p[0];
    o[1] = v.p[1];
    o[2] = v.p[2];
    o[3] = 1.0f / rhw;
    for (int i = 0; i < layout.clipCount; ++i)
        cd[i] = 1.0f;
    const D3DVIEWPORT9& vp = cfg.raster.viewport;
    const float cx = vp.X + vp.Width * 0.5f, cy = vp.Y + vp.Height * 0.5f;
    const float gx = guardX * vp.Width * 0.5f, gy = guardY * vp.Height * 0.5f;
    cd[3] = gx - (v.p[0] - cx);
    cd[4] = gx + (v.p[0] - cx);
    cd[5] = gy - (v.p[1] - cy);
    cd[6] = gy + (v.p[1] - cy);
    UnlitColours(v, vary);
    vary[kVaryFog] = v.hasSpecular ? v.spec[3] : 1.0f;
    for (int s = 0; s < vc.texStages; ++s)
    {
        const TexCoordConfig& tc = vc.texcoord[s];
        float t[4] = {0, 0, 0, 0};
        if (tc.set < kMaxTexSets && fetch(vc.layout.tex[tc.set], t))
            PadTexCoord(vc.layout.tex[tc.set].type, t);
        StoreTexCoord(tc, t, vary + kVaryTex + 4 * s);
    }
}

// Clip-space position and clip distances of an untransformed vertex, and its world and camera positions.
void ClipPosition(const VertexConfig& vc, const float p[4], float guardX, float guardY, float* o,
                  float world[4], float eye4[4])
{
    float clip[4];
    Transform4(p, vc.world, world);
    Transform4(world, vc.view, eye4);
    Transform4(p, vc.worldViewProj, clip);
    o[0] = clip[0];
    o[1] = clip[1];
    o[2] = clip[2];
    o[3] = clip[3];
    float* cd = o + VertexLayoutOut::kClip;
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
}

// The camera-space normal, where lighting or generated coordinates need it.
Vec3 EyeNormal(const VertexConfig& vc, const VertexInputs& v)
{
    if (!(vc.lighting || vc.texStages > 0) || !v.hasNormal) return {0, 0, 0};
    const float(*nm)[3] = vc.normalMatrix;
    const float* n4 = v.n4;
    Vec3 normal = {n4[0] * nm[0][0] + n4[1] * nm[1][0] + n4[2] * nm[2][0],
                   n4[0] * nm[0][1] + n4[1] * nm[1][1] + n4[2] * nm[2][1],
                   n4[0] * nm[0][2] + n4[1] * nm[1][2] + n4[2] * nm[2][2]};
    return vc.normalizeNormals ? Normalize(normal) : normal;
}

// Vertex fog factor (1 = no fog).
float VertexFog(const VertexConfig& vc, const Vec3& eye)
{
    if (!vc.fogEnable || vc.fogVertexMode == D3DFOG_NONE) return 1.0f;
    // Distance from the eye; the magnitude, so right-handed views fog like left-handed ones.
    const float d = vc.rangeFog ? std::sqrt(Dot3(eye, eye)) : std::fabs(eye.z);
    return FogFactor(vc.fogVertexMode, d, vc.fogStart, vc.fogEnd, vc.fogDensity);
}

// Texture coordinates that a stage generates from the camera-space normal or position; false for a stage
// that reads its coordinate set.
bool GeneratedTexCoord(const VertexConfig& vc, DWORD generate, const Vec3& normal, const Vec3& eye,
                       float t[4])
{
    switch (generate)
    {
    case D3DTSS_TCI_CAMERASPACENORMAL:
    {
        const Vec3 nn = Normalize(normal);
        t[0] = nn.x;
        t[1] = nn.y;
        t[2] = nn.z;
        t[3] = 1.0f;
        return true;
    }
    case D3DTSS_TCI_CAMERASPACEPOSITION:
        t[0] = eye.x;
        t[1] = eye.y;
        t[2] = eye.z;
        t[3] = 1.0f;
        return true;
    case D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR:
    case D3DTSS_TCI_SPHEREMAP:
    {
        const Vec3 nn = Normalize(normal);
        const Vec3 e = vc.localViewer ? Normalize(Vec3{-eye.x, -eye.y, -eye.z}) : kDistantViewer;
        const float d2 = 2.0f * Dot3(e, nn);
        t[0] = d2 * nn.x - e.x;
        t[1] = d2 * nn.y - e.y;
        t[2] = d2 * nn.z - e.z;
        t[3] = 1.0f;
        if (generate == D3DTSS_TCI_SPHEREMAP)
        {
            const float m = 2.0f * std::sqrt(t[0] * t[0] + t[1] * t[1] + (t[2] + 1) * (t[2] + 1));
            t[0] = m > 0 ? t[0] / m + 0.5f : 0.5f;
            t[1] = m > 0 ? t[1] / m + 0.5f : 0.5f;
            t[2] = 1.0f;
            t[3] = 0.0f;
        }
        return true;
    }
    default:
        return false;
    }
}

// One vertex through the general path: any element type, any state.
void ProcessVertex(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t index, float* o,
                   float guardX, float guardY)
{
    const VertexConfig& vc = cfg.vertex;
    VertexFetch fetch{vc, index};
    const VertexInputs v = FetchInputs(vc.layout, fetch);
    float* vary = o + layout.Vary();
    o[VertexLayoutOut::kPointSize] = v.hasPsize ? v.psize[0] : cfg.raster.pointSize;
    if (vc.layout.pretransformed)
    {
        PretransformedVertex(cfg, layout, v, fetch, o, guardX, guardY);
        std::memcpy(o + VertexLayoutOut::kFlags, &fetch.flags, 4);
        return;
    }

    float world[4], eye4[4];
    ClipPosition(vc, v.p, guardX, guardY, o, world, eye4);
    const float invW = eye4[3] != 0.0f ? 1.0f / eye4[3] : 1.0f;
    const Vec3 eye = {eye4[0] * invW, eye4[1] * invW, eye4[2] * invW};
    const Vec3 normal = EyeNormal(vc, v);
    if (vc.lighting)
        LightVertex(vc, eye, normal, v.hasDiffuse ? v.dif : nullptr, v.hasSpecular ? v.spec : nullptr,
                    vary + kVaryDiffuse, vary + kVarySpecular);
    else
        UnlitColours(v, vary);
    vary[kVaryFog] = VertexFog(vc, eye);
    for (int s = 0; s < vc.texStages; ++s)
    {
        const TexCoordConfig& tc = vc.texcoord[s];
        float t[4] = {0, 0, 0, 0};
        if (!GeneratedTexCoord(vc, tc.generate, normal, eye, t) && tc.set < kMaxTexSets &&
            fetch(vc.layout.tex[tc.set], t))
            PadTexCoord(vc.layout.tex[tc.set].type, t);
        StoreTexCoord(tc, t, vary + kVaryTex + 4 * s);
    }
    std::memcpy(o + VertexLayoutOut::kFlags, &fetch.flags, 4);
}

constexpr float kSnap = 1 << kSubPixelBits;

#if FEROLT_D3D9_SSE
// Four vertices a step, one per SSE lane (vertex_lanes.h).
struct Sse4
{
    static constexpr int N = 4;
    using V = __m128;
    using I = __m128i;
    static V Splat(float v) { return _mm_set1_ps(v); }
    static V Zero() { return _mm_setzero_ps(); }
    static V AllOnes() { return _mm_castsi128_ps(_mm_set1_epi32(-1)); }
    static V Add(V a, V b) { return _mm_add_ps(a, b); }
    static V Sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V Mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V Div(V a, V b) { return _mm_div_ps(a, b); }
    static V Sqrt(V a) { return _mm_sqrt_ps(a); }
    static V Min(V a, V b) { return _mm_min_ps(a, b); }
    static V Max(V a, V b) { return _mm_max_ps(a, b); }
    static V And(V a, V b) { return _mm_and_ps(a, b); }
    static V AndNot(V a, V b) { return _mm_andnot_ps(a, b); }
    static V Or(V a, V b) { return _mm_or_ps(a, b); }
    static V Xor(V a, V b) { return _mm_xor_ps(a, b); }
    static V CmpNeq(V a, V b) { return _mm_cmpneq_ps(a, b); }
    static V CmpGt(V a, V b) { return _mm_cmpgt_ps(a, b); }
    static V CmpLt(V a, V b) { return _mm_cmplt_ps(a, b); }
    static V CmpLe(V a, V b) { return _mm_cmple_ps(a, b); }
    static V CmpNgt(V a, V b) { return _mm_cmpngt_ps(a, b); }
    static V CmpNle(V a, V b) { return _mm_cmpnle_ps(a, b); }
    static int Mask(V a) { return _mm_movemask_ps(a); }
    static V Load(const float* p) { return _mm_load_ps(p); }
    static void Store(float* p, V v) { _mm_store_ps(p, v); }
    static I LoadI(const uint32_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
    static I SplatI(int v) { return _mm_set1_epi32(v); }
    template <int S> static I Srl(I v) { return _mm_srli_epi32(v, S); }
    static I AndI(I a, I b) { return _mm_and_si128(a, b); }
    static I AndNotI(I a, I b) { return _mm_andnot_si128(a, b); }
    static I OrI(I a, I b) { return _mm_or_si128(a, b); }
    static I AddI(I a, I b) { return _mm_add_epi32(a, b); }
    static I CmpEqI(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    static V ToFloat(I v) { return _mm_cvtepi32_ps(v); }
    static I Truncate(V v) { return _mm_cvttps_epi32(v); }
    static I AsInt(V v) { return _mm_castps_si128(v); }
    static __m128 Quarter(V v, int) { return v; }
    static __m128i QuarterI(I v, int) { return v; }
    static void Gather3(const uint8_t* p, int64_t stride, V* out) { GatherXyz4(p, stride, out); }
    static void Gather2(const uint8_t* p, int64_t stride, V* out) { GatherUv4(p, stride, out); }
};

// The draws the lane paths take: untransformed positions, and elements they read without conversion.
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

// The vertices [0, end) whose elements all lie inside their streams: the lane paths read them
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

void SetEightLaneVerticesAllowed(bool allowed)
{
    eightLanesAllowed.store(allowed, std::memory_order_relaxed);
}

void ProcessVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t first, size_t count,
                     float* out, ScreenVertex* screen, float guardX, float guardY)
{
    size_t k = 0;
#if FEROLT_D3D9_SSE
    if (fastVertexAllowed.load(std::memory_order_relaxed) && FastVertexPath(cfg))
    {
        // Blocks wholly inside the streams go through the lanes; the rest, which the general path flags,
        // one by one.
        const int64_t inside = VerticesInside(cfg);
        auto within = [&](int64_t index, int n) { return index >= 0 && index + n <= inside; };
#if FEROLT_D3D9_AVX2
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (avx2 && eightLanesAllowed.load(std::memory_order_relaxed))
            for (; k + 8 <= count && within(first + static_cast<int64_t>(k), 8); k += 8)
                ProcessEightVertices(cfg, layout, first + static_cast<int64_t>(k), out + k * layout.stride,
                                     screen + k, guardX, guardY);
#endif
        for (; k + 4 <= count; k += 4)
        {
            float* o = out + k * layout.stride;
            const int64_t index = first + static_cast<int64_t>(k);
            if (within(index, 4))
                ProcessLanes<Sse4>(cfg, layout, index, o, screen + k, guardX, guardY);
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
