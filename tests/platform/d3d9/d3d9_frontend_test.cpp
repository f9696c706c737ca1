// The front end of the draw pipeline: the lane vertex paths against the vertex-by-vertex one, large
// indexed draws whose vertices are processed segment by segment, and dense meshes of triangles smaller
// than a pixel, most of which are dropped before set-up.
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "platform/d3d9/raster.h"
#include "tests/platform/d3d9/d3d9_test_util.h"

using namespace d3d9test;

namespace
{
D3DMATRIX Identity()
{
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1;
    return m;
}

D3DMATRIX Perspective()
{
    D3DMATRIX p{};
    p._11 = p._22 = 1.2f;
    p._33 = 1.1f;
    p._34 = 1;
    p._43 = -0.5f;
    return p;
}

struct Rng
{
    uint32_t seed;
    float operator()()
    {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0f;
    }
};

// ---- the lane vertex paths
struct LitVertex // XYZ | NORMAL | DIFFUSE | SPECULAR | TEX2 (set 0: 1 float, set 1: 3 floats)
{
    float x, y, z, nx, ny, nz;
    D3DCOLOR diffuse, specular;
    float u, s, t, r;
};
constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2 |
                          D3DFVF_TEXCOORDSIZE1(0) | D3DFVF_TEXCOORDSIZE3(1);

struct VertexVariant
{
    const char* name;
    std::function<void(IDirect3DDevice9*)> state;
};

enum class VertexPath
{
    General,
    FourLanes,
    EightLanes, // four lanes on processors without AVX2
};

// Random triangles through every lighting term. The vertex buffer holds `stored` vertices, a few less than
// the draw reads: the vertices past its end are flagged by the general path, and depending on the count
// the last block of eight or four straddles the end and falls back to four lanes or vertex by vertex.
std::vector<uint32_t> RenderLit(const VertexVariant& v, VertexPath path, UINT stored)
{
    ferolt::d3d9::SetFastVertexPathAllowed(path != VertexPath::General);
    ferolt::d3d9::SetEightLaneVerticesAllowed(path == VertexPath::EightLanes);
    Target d(48, 40, D3DFMT_D24S8, 2);
    IDirect3DDevice9* dev = d.Get();
    dev->SetRenderState(D3DRS_LIGHTING, TRUE);
    D3DMATRIX world = Identity(), view = Identity(), proj = Perspective();
    world._11 = 1.3f;
    world._12 = 0.2f;
    view._41 = 0.1f;
    view._43 = 0.3f;
    dev->SetTransform(D3DTS_WORLD, &world);
    dev->SetTransform(D3DTS_VIEW, &view);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_AMBIENT, 0x00203040);
    D3DLIGHT9 lights[3] = {};
    lights[0].Type = D3DLIGHT_DIRECTIONAL;
    lights[0].Diffuse = {0.7f, 0.6f, 0.5f, 1};
    lights[0].Specular = {0.4f, 0.4f, 0.4f, 1};
    lights[0].Ambient = {0.1f, 0.0f, 0.05f, 1};
    lights[0].Direction = {0.3f, -0.4f, 1};
    lights[1].Type = D3DLIGHT_POINT;
    lights[1].Diffuse = {0.5f, 0.7f, 0.3f, 1};
    lights[1].Specular = {1, 1, 1, 1};
    lights[1].Ambient = {0.05f, 0.1f, 0.0f, 1};
    lights[1].Position = {0.3f, 0.2f, 1.5f};
    lights[1].Range = 4;
    lights[1].Attenuation0 = 0.4f;
    lights[1].Attenuation1 = 0.3f;
    lights[1].Attenuation2 = 0.2f;
    lights[2].Type = D3DLIGHT_SPOT;
    lights[2].Diffuse = {0.9f, 0.3f, 0.8f, 1};
    lights[2].Specular = {0.6f, 0.6f, 1, 1};
    lights[2].Position = {-0.5f, 0.4f, 0};
    lights[2].Direction = {0.2f, -0.1f, 1};
    lights[2].Range = 10;
    lights[2].Attenuation0 = 1;
    lights[2].Falloff = 2.5f;
    lights[2].Theta = 0.3f;
    lights[2].Phi = 0.9f;
    for (DWORD i = 0; i < 3; ++i)
    {
        dev->SetLight(i, &lights[i]);
        dev->LightEnable(i, TRUE);
    }
    D3DMATERIAL9 m{};
    m.Diffuse = {0.9f, 0.8f, 0.7f, 0.6f};
    m.Ambient = {0.5f, 0.6f, 0.7f, 1};
    m.Specular = {0.8f, 0.8f, 0.8f, 1};
    m.Emissive = {0.05f, 0.02f, 0.0f, 0};
    m.Power = 12;
    dev->SetMaterial(&m);
    IDirect3DTexture9* tex = MakeTexture(
        dev, 16, 16, [](UINT x, UINT y, UINT) { return 0xff000000u | (x * 16) << 16 | (y * 16) << 8; });
    dev->SetTexture(0, tex);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    dev->SetTexture(1, tex);
    v.state(dev);

    const UINT drawn = 3 * 150; // vertices the draw reads
    std::vector<LitVertex> verts;
    Rng rnd{42};
    for (UINT i = 0; i < stored; ++i)
    {
        const float z = 1.2f + 3 * rnd();
        verts.push_back({(rnd() * 2 - 1) * z, (rnd() * 2 - 1) * z, z, rnd() - 0.5f, rnd() - 0.5f, -rnd(),
                         0x10203040u * (i + 1) ^ 0x9e3779b9u, 0xff000000u | i * 0x00050301u, rnd() * 3, rnd(),
                         rnd() * 2, 0.5f + rnd()});
    }
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(dev->CreateVertexBuffer(stored * sizeof(LitVertex), 0, 0, D3DPOOL_MANAGED, &vb, nullptr),
              D3D_OK);
    void* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, verts.data(), verts.size() * sizeof(LitVertex));
    vb->Unlock();
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
    dev->SetFVF(kLitFvf);
    dev->SetStreamSource(0, vb, 0, sizeof(LitVertex));
    EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, drawn / 3), D3D_OK);
    std::vector<uint32_t> pixels = d.Pixels();
    dev->SetStreamSource(0, nullptr, 0, 0);
    dev->SetTexture(0, nullptr);
    dev->SetTexture(1, nullptr);
    vb->Release();
    tex->Release();
    ferolt::d3d9::SetFastVertexPathAllowed(true);
    ferolt::d3d9::SetEightLaneVerticesAllowed(true);
    return pixels;
}

TEST(FrontEndTest, LaneVerticesMatchTheGeneralPath)
{
    const VertexVariant variants[] = {
        {"lit, vertex colours unused", [](IDirect3DDevice9*) {}},
        {"specular, local viewer, normalised normals, linear fog",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
             d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
             d->SetRenderState(D3DRS_FOGENABLE, TRUE);
             d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
             d->SetRenderState(D3DRS_FOGSTART, F2DW(1.5f));
             d->SetRenderState(D3DRS_FOGEND, F2DW(4.0f));
             d->SetRenderState(D3DRS_FOGCOLOR, 0xff405060);
         }},
        {"materials from vertex colours, distant viewer, range fog",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
             d->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
             d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR2);
             d->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
             d->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR1);
             d->SetRenderState(D3DRS_FOGENABLE, TRUE);
             d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP2);
             d->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
             d->SetRenderState(D3DRS_FOGDENSITY, F2DW(0.4f));
         }},
        {"unlit, clip planes, texture transforms",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_LIGHTING, FALSE);
             const float a[4] = {1, 0.5f, 0, 0.4f}, b[4] = {-0.3f, 1, 0.2f, 0.8f};
             d->SetClipPlane(0, a);
             d->SetClipPlane(1, b);
             d->SetRenderState(D3DRS_CLIPPLANEENABLE, 3);
             D3DMATRIX t = Identity();
             t._11 = 1.7f;
             t._21 = 0.4f;
             t._31 = -0.6f;
             t._41 = 0.25f;
             d->SetTransform(D3DTS_TEXTURE0, &t);
             d->SetTransform(D3DTS_TEXTURE1, &t);
             d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
             d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
         }},
    };
    // Vertices processed: stored + 1 (the first one past the end is read and flagged). 449 ends on a whole
    // block of eight; 446 on a block of four after the eights; 444 with a block of four that straddles
    // the end.
    const UINT storedCounts[] = {448, 445, 443};
    const std::pair<VertexPath, const char*> lanePaths[] = {{VertexPath::FourLanes, "four lanes"},
                                                            {VertexPath::EightLanes, "eight lanes"}};
    for (const VertexVariant& v : variants)
        for (UINT stored : storedCounts)
        {
            const std::vector<uint32_t> general = RenderLit(v, VertexPath::General, stored);
            size_t drawn = 0;
            for (uint32_t p : general)
                drawn += p != 0xff000000u;
            EXPECT_GT(drawn, general.size() / 4) << v.name << ", " << stored << " vertices";
            for (const auto& [path, pathName] : lanePaths)
            {
                const std::vector<uint32_t> lanes = RenderLit(v, path, stored);
                ASSERT_EQ(general.size(), lanes.size());
                size_t differ = 0;
                for (size_t i = 0; i < general.size(); ++i)
                    differ += general[i] != lanes[i];
                EXPECT_EQ(differ, 0u) << v.name << ", " << stored << " vertices, " << pathName;
            }
        }
}

// A distant viewer looks along +z in camera space, so the direction to it is (0, 0, -1). A quad facing
// the camera, lit from behind the camera: the halfway vector equals the normal (full highlight), and the
// reflection vector points straight back at the viewer (u = 0 below). Taking (0, 0, +1) instead loses the
// highlight and flips the reflection.
uint32_t RenderDistantViewerQuad(VertexPath path, bool reflectionTexCoords)
{
    ferolt::d3d9::SetFastVertexPathAllowed(path != VertexPath::General);
    ferolt::d3d9::SetEightLaneVerticesAllowed(path == VertexPath::EightLanes);
    Target d(8, 8);
    IDirect3DDevice9* dev = d.Get();
    const D3DMATRIX world = Identity(), view = Identity(), proj = Perspective();
    dev->SetTransform(D3DTS_WORLD, &world);
    dev->SetTransform(D3DTS_VIEW, &view);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    dev->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    IDirect3DTexture9* tex = nullptr;
    if (reflectionTexCoords)
    {
        // u = 0.5 * r.z + 0.5 picks the red texel for r.z = -1 and the blue one for r.z = +1.
        tex = MakeTexture(dev, 2, 1, [](UINT x, UINT, UINT) { return x ? 0xff0000ffu : 0xffff0000u; });
        dev->SetTexture(0, tex);
        dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
        dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        D3DMATRIX t{};
        t._31 = 0.5f;
        t._41 = 0.5f;
        t._44 = 1;
        dev->SetTransform(D3DTS_TEXTURE0, &t);
    }
    else
    {
        dev->SetRenderState(D3DRS_LIGHTING, TRUE);
        dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Specular = {1, 1, 1, 1};
        light.Direction = {0, 0, 1};
        dev->SetLight(0, &light);
        dev->LightEnable(0, TRUE);
        D3DMATERIAL9 m{};
        m.Specular = {1, 1, 1, 1};
        m.Power = 20;
        dev->SetMaterial(&m);
    }
    // Enough vertices for the lane paths to take whole blocks.
    std::vector<LVertex> quad;
    for (int i = 0; i < 4; ++i)
        for (const auto& [x, y] :
             {std::pair{-2.f, -2.f}, {2.f, -2.f}, {-2.f, 2.f}, {2.f, -2.f}, {2.f, 2.f}, {-2.f, 2.f}})
            quad.push_back({x, y, 2, 0, 0, -1});
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
    dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(quad.size() / 3), quad.data(), sizeof(LVertex)),
              D3D_OK);
    const uint32_t centre = d.At(4, 4);
    dev->SetTexture(0, nullptr);
    if (tex) tex->Release();
    ferolt::d3d9::SetFastVertexPathAllowed(true);
    ferolt::d3d9::SetEightLaneVerticesAllowed(true);
    return centre;
}

TEST(FrontEndTest, DistantViewerLooksAlongPositiveZOnEveryVertexPath)
{
    for (VertexPath path : {VertexPath::General, VertexPath::FourLanes, VertexPath::EightLanes})
    {
        EXPECT_EQ(RenderDistantViewerQuad(path, false) & 0xffffff, 0xffffffu)
            << "highlight, path " << int(path);
        EXPECT_EQ(RenderDistantViewerQuad(path, true) & 0xffffff, 0xff0000u)
            << "reflection, path " << int(path);
    }
}

// ---- segments of a large indexed draw
struct ColorVertex // XYZ | DIFFUSE
{
    float x, y, z;
    D3DCOLOR c;
};

// Enough small triangles for several segments (of 65536); the index list visits the rows of a grid from
// the middle outwards, so every later segment reaches both before and after the vertices processed so far.
// Then it draws the grid again in other colours at the same depths, so that each pixel shows the later of
// two triangles only when they are drawn in order (depth test LESSEQUAL).
struct Scatter
{
    std::vector<ColorVertex> verts;
    std::vector<uint32_t> indices;
    Scatter()
    {
        const int grid = 220; // 220 x 220 vertices, 2 x 219 x 219 triangles, twice
        Rng rnd{7};
        for (int j = 0; j < grid; ++j)
            for (int i = 0; i < grid; ++i)
                verts.push_back({(i / float(grid - 1) * 2 - 1) * 2.0f, (j / float(grid - 1) * 2 - 1) * 2.0f,
                                 2.0f + 0.3f * rnd(), 0xff000000u | static_cast<uint32_t>(rnd() * 0xffffff)});
        for (int k = 0; k + 1 < grid; ++k)
        {
            const int j = (grid - 1) / 2 + ((k & 1) ? -(k + 1) / 2 : k / 2);
            for (int i = 0; i + 1 < grid; ++i)
            {
                const uint32_t a = j * grid + i, b = a + 1, c = a + grid, d = c + 1;
                indices.insert(indices.end(), {a, c, b, b, c, d});
            }
        }
        const uint32_t once = static_cast<uint32_t>(verts.size());
        for (uint32_t v = 0; v < once; ++v)
            verts.push_back({verts[v].x, verts[v].y, verts[v].z, verts[v].c ^ 0x00ffffffu});
        const size_t firstPass = indices.size();
        for (size_t k = 0; k < firstPass; ++k)
            indices.push_back(indices[k] + once);
        // An index past the end: its triangle is dropped, the rest drawn.
        indices.insert(indices.end(), {0, static_cast<uint32_t>(verts.size() + 3), 1});
    }
};

// framed: rectangles at staggered depths drawn before and after the triangles, into the same flushes as
// them when the device records.
std::vector<uint32_t> RenderScatter(const Scatter& s, bool indexed, unsigned threads, bool framed = false)
{
    Target d(64, 48, D3DFMT_D24S8, threads);
    IDirect3DDevice9* dev = d.Get();
    D3DMATRIX id = Identity(), proj = Perspective();
    dev->SetTransform(D3DTS_WORLD, &id);
    dev->SetTransform(D3DTS_VIEW, &id);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
    // Rectangles that pass the depth test wherever they are drawn: before the triangles, those nearer
    // cover them; after, they cover the triangles.
    auto frame = [&](float z0)
    {
        if (!framed) return;
        dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
        for (int k = 0; k < 6; ++k)
            d.Rect(7.0f * k, 5.0f * k, 7.0f * k + 24, 5.0f * k + 14, 0xff102030u * (k + 1), z0 + 0.15f * k);
        dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    };
    frame(0.1f);
    dev->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    const UINT triangles = static_cast<UINT>(s.indices.size() / 3);
    if (indexed)
        EXPECT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(s.verts.size()),
                                              triangles, s.indices.data(), D3DFMT_INDEX32, s.verts.data(),
                                              sizeof(ColorVertex)),
                  D3D_OK);
    else
    {
        // The same triangles spelt out, without the one whose index is out of range.
        std::vector<ColorVertex> flat;
        for (size_t t = 0; t + 1 < triangles; ++t)
            for (int k = 0; k < 3; ++k)
                flat.push_back(s.verts[s.indices[3 * t + k]]);
        EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(flat.size() / 3), flat.data(),
                                       sizeof(ColorVertex)),
                  D3D_OK);
    }
    frame(0.05f);
    return d.Pixels();
}

TEST(FrontEndTest, SegmentedIndexedDrawMatchesTheTrianglesSpeltOut)
{
    const Scatter s;
    ASSERT_GT(s.indices.size() / 3, 2 * 65536u);
    const std::vector<uint32_t> reference = RenderScatter(s, false, 1);
    size_t drawn = 0;
    for (uint32_t p : reference)
        drawn += p != 0xff000000u;
    EXPECT_GT(drawn, reference.size() / 2);
    for (unsigned threads : {1u, 3u, 4u, 8u})
        EXPECT_EQ(RenderScatter(s, true, threads), reference) << threads << " threads";
}

// Small draws recorded before and after a draw of many batches keep their places around it, whichever
// flushes they fall into.
TEST(FrontEndTest, SmallDrawsAroundALargeDrawMatchOneThread)
{
    const Scatter s;
    const std::vector<uint32_t> reference = RenderScatter(s, true, 1, true);
    EXPECT_NE(reference, RenderScatter(s, true, 1, false));
    for (unsigned threads : {3u, 8u})
        EXPECT_EQ(RenderScatter(s, true, threads, true), reference) << threads << " threads";
}

// Unlit, unculled, no depth, added up with ONE, ONE blending: each draw of a pixel adds its colour once.
void CountCoverage(IDirect3DDevice9* dev)
{
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
}

// The triangles of a grid of cells with corners at(i, j), i <= cols, j <= rows, each cell cut along a
// diagonal that turns from cell to cell.
template <class Corner> std::vector<TVertex> GridTriangles(size_t cols, size_t rows, Corner at)
{
    std::vector<TVertex> tris;
    for (size_t j = 0; j < rows; ++j)
        for (size_t i = 0; i < cols; ++i)
        {
            const TVertex a = at(i, j), b = at(i + 1, j), c = at(i, j + 1), e = at(i + 1, j + 1);
            if ((i + j) & 1)
                tris.insert(tris.end(), {a, b, c, b, e, c});
            else
                tris.insert(tris.end(), {a, b, e, a, e, c});
        }
    return tris;
}

void DrawTriangles(IDirect3DDevice9* dev, const std::vector<TVertex>& tris)
{
    dev->SetFVF(kTVertexFvf);
    ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(tris.size() / 3), tris.data(),
                                   sizeof(TVertex)),
              D3D_OK);
}

// Pixels of the target not drawn exactly once by triangles of colour 0x010203 added up (CountCoverage).
size_t PixelsNotDrawnOnce(Target& d)
{
    size_t wrong = 0;
    for (uint32_t p : d.Pixels())
        wrong += (p & 0xffffffu) != 0x010203u;
    return wrong;
}

// ---- triangles smaller than a pixel
// A grid of triangles a fraction of a pixel across tiles [2, 14] x [2, 14] exactly, with corners on
// quarter pixels so that many edges pass through pixel centres. Added up with ONE, ONE
// blending, every pixel centre inside must be drawn exactly once (the top-left rule gives the shared
// edges to one side), and none outside.
TEST(FrontEndTest, SubPixelMeshCoversEachPixelCentreOnce)
{
    for (unsigned threads : {1u, 3u})
    {
        Target d(16, 16, D3DFMT_D24S8, threads);
        IDirect3DDevice9* dev = d.Get();
        CountCoverage(dev);
        dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00000000, 1.0f, 0);
        const int cells = 40; // 12 pixels / 40 = 0.3 px cells
        auto at = [&](int i, int j)
        {
            // Rows of trapezoids: inner corners on quarter pixels, every other row shifted by a quarter; the
            // border stays put.
            float x = 2 + 12.0f * i / cells;
            if (i > 0 && i < cells && j > 0 && j < cells) x += (j & 1) * 0.25f;
            return TVertex{std::round(x * 4) / 4,
                           std::round((2 + 12.0f * j / cells) * 4) / 4,
                           0.5f,
                           1,
                           0x00010203,
                           0,
                           0};
        };
        DrawTriangles(dev, GridTriangles(cells, cells, at));
        const std::vector<uint32_t> px = d.Pixels();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
            {
                const bool inside = x >= 2 && x < 14 && y >= 2 && y < 14;
                EXPECT_EQ(px[y * 16 + x] & 0xffffffu, inside ? 0x010203u : 0u)
                    << "pixel " << x << ", " << y << ", " << threads << " threads";
            }
    }
}

// ---- triangles much larger than the target
// A fan of triangles thousands of pixels across around a pixel centre of the target, so that each triangle's
// edge functions take 64 bits, and the rays between them pass through many pixel centres. Added up with
// ONE, ONE blending, each pixel must be drawn exactly once, by the pixel-by-pixel path (a stencil test that
// passes everything), the four-wide loop and the eight-wide one.
TEST(FrontEndTest, LargeTriangleFanCoversEachPixelCentreOnce)
{
    struct Case
    {
        const char* name;
        float cx, cy;     // centre of the fan, a pixel centre of the 64 x 48 target
        int perQuadrant;  // rays in each quarter turn
        float dirs[3][2]; // their directions in the first quarter, by increasing angle; turned for the others
    };
    const Case cases[] = {
        {"the axes and whole slopes", 20, 30, 3, {{1, 0}, {2, 1}, {1, 2}}},
        {"third slopes", 41, 9, 2, {{3, 1}, {1, 3}}},
        {"near the axes, from a corner", 0, 47, 3, {{8, 1}, {1, 1}, {1, 8}}},
    };
    struct Path
    {
        const char* name;
        bool general, eight;
    };
    const Path paths[] = {
        {"pixel by pixel", true, true}, {"four-wide", false, false}, {"eight-wide", false, true}};
    for (const Case& c : cases)
        for (const Path& path : paths)
            for (unsigned threads : {1u, 3u})
            {
                ferolt::d3d9::SetPixelAvx2Allowed(path.eight);
                Target d(64, 48, D3DFMT_D24S8, threads);
                IDirect3DDevice9* dev = d.Get();
                CountCoverage(dev);
                if (path.general)
                {
                    dev->SetRenderState(D3DRS_STENCILENABLE, TRUE);
                    dev->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
                }
                dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00000000, 1.0f, 0);
                // Rays end some 6000 pixels out, at whole pixels, so that they are exact in 1/256 pixel.
                std::vector<TVertex> ends;
                for (int quadrant = 0; quadrant < 4; ++quadrant)
                    for (int k = 0; k < c.perQuadrant; ++k)
                    {
                        float dx = c.dirs[k][0], dy = c.dirs[k][1];
                        for (int turn = 0; turn < quadrant; ++turn)
                        {
                            const float t = dx;
                            dx = -dy;
                            dy = t;
                        }
                        const float scale = std::floor(6000.0f / std::max(std::fabs(dx), std::fabs(dy)));
                        ends.push_back({c.cx + dx * scale, c.cy + dy * scale, 0.5f, 1, 0x00010203, 0, 0});
                    }
                const size_t rays = ends.size();
                std::vector<TVertex> tris;
                const TVertex centre{c.cx, c.cy, 0.5f, 1, 0x00010203, 0, 0};
                for (size_t k = 0; k < rays; ++k)
                    tris.insert(tris.end(), {centre, ends[k], ends[(k + 1) % rays]});
                DrawTriangles(dev, tris);
                EXPECT_EQ(PixelsNotDrawnOnce(d), 0u)
                    << c.name << ", " << path.name << ", " << threads << " threads";
            }
    ferolt::d3d9::SetPixelAvx2Allowed(true);
}

// ---- set-up arithmetic
// Triangles up to 64 pixels across take 32-bit edge functions, larger ones 64-bit: coverage must be the same
// on both sides of that size. A mesh over the whole 128 x 96 target whose cells are a little less than,
// exactly and more than 64 pixels wide and high (one column is over 128), mixed with thin ones, reaching past
// every side of the target so that the bounds of many triangles are clipped. Most grid lines are on whole
// pixels and the cells' diagonals of slope 1 pass through pixel centres, so the top-left rule decides many of
// them. Added up with ONE, ONE blending, every pixel must be drawn exactly once, in either winding.
TEST(FrontEndTest, MeshAroundSixtyFourPixelsCoversEachPixelCentreOnce)
{
    constexpr int kW = 128, kH = 96;
    const std::vector<float> xs{-100, 33, 96.75f, 97, 161}, ys{-21, 42, 42.75f, 43, 107};
    for (bool mirrored : {false, true})
        for (bool eight : {true, false})
            for (unsigned threads : {1u, 3u})
            {
                ferolt::d3d9::SetPixelAvx2Allowed(eight);
                Target d(kW, kH, D3DFMT_D24S8, threads);
                IDirect3DDevice9* dev = d.Get();
                CountCoverage(dev);
                dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00000000, 1.0f, 0);
                auto at = [&](size_t i, size_t j)
                {
                    // Mirroring about the target's centre line keeps the coverage and turns the winding.
                    const float x = mirrored ? kW - xs[i] : xs[i];
                    return TVertex{x, ys[j], 0.5f, 1, 0x00010203, 0, 0};
                };
                DrawTriangles(dev, GridTriangles(xs.size() - 1, ys.size() - 1, at));
                EXPECT_EQ(PixelsNotDrawnOnce(d), 0u)
                    << (mirrored ? "mirrored" : "as laid out") << ", " << (eight ? "eight-wide" : "four-wide")
                    << ", " << threads << " threads";
            }
    ferolt::d3d9::SetPixelAvx2Allowed(true);
}
} // namespace
