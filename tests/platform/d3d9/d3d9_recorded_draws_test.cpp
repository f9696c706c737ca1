// Draws are recorded and drawn later, together: every call that needs their pixels, or changes what they
// read or where they go, must see the result of drawing them one by one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "tests/platform/d3d9/d3d9_test_util.h"

namespace
{
using d3d9test::kTVertexFvf;
using d3d9test::Target;
using d3d9test::TVertex;

constexpr D3DCOLOR kRed = 0xffff0000, kGreen = 0xff00ff00, kBlue = 0xff0000ff, kGrey = 0xff404040;

// The four corners of a pre-transformed rectangle as a triangle strip.
void RectVertices(float x0, float y0, float x1, float y1, D3DCOLOR c, TVertex out[4])
{
    out[0] = {x0, y0, 0.5f, 1, c, 0, 0};
    out[1] = {x1, y0, 0.5f, 1, c, 1, 0};
    out[2] = {x0, y1, 0.5f, 1, c, 0, 1};
    out[3] = {x1, y1, 0.5f, 1, c, 1, 1};
}

IDirect3DVertexBuffer9* RectBuffer(IDirect3DDevice9* dev, float x0, float y0, float x1, float y1, D3DCOLOR c)
{
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(dev->CreateVertexBuffer(4 * sizeof(TVertex), 0, kTVertexFvf, D3DPOOL_MANAGED, &vb, nullptr),
              D3D_OK);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    RectVertices(x0, y0, x1, y1, c, static_cast<TVertex*>(p));
    vb->Unlock();
    return vb;
}

void DrawBuffer(IDirect3DDevice9* dev, IDirect3DVertexBuffer9* vb)
{
    dev->SetFVF(kTVertexFvf);
    dev->SetStreamSource(0, vb, 0, sizeof(TVertex));
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
}

uint32_t SurfacePixel(IDirect3DSurface9* s, int x, int y)
{
    D3DLOCKED_RECT lr;
    EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t c;
    std::memcpy(&c, static_cast<const uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
    s->UnlockRect();
    return c;
}

struct Probe
{
    int x, y;
    D3DCOLOR color;
};

struct FlushCase
{
    const char* name;
    // Draws on a 16 x 16 target cleared to grey and returns the pixels it expects on the back buffer.
    std::function<std::vector<Probe>(Target&)> run;
};

TEST(RecordedDrawsTest, CallsThatNeedThePixelsSeeEveryDrawBeforeThem)
{
    const FlushCase cases[] = {
        {"a lock of the target reads the drawn pixels",
         [](Target& t)
         {
             t.Rect(0, 0, 8, 8, kRed);
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"a vertex buffer changed after the draw leaves the draw as it was",
         [](Target& t)
         {
             IDirect3DVertexBuffer9* vb = RectBuffer(t.Get(), 0, 0, 8, 8, kRed);
             DrawBuffer(t.Get(), vb);
             void* p = nullptr;
             EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
             RectVertices(8, 8, 16, 16, kGreen, static_cast<TVertex*>(p));
             vb->Unlock();
             t->SetStreamSource(0, nullptr, 0, 0);
             vb->Release();
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"vertices passed by pointer are the caller's again when the call returns",
         [](Target& t)
         {
             TVertex v[4];
             RectVertices(0, 0, 8, 8, kRed, v);
             t->SetFVF(kTVertexFvf);
             EXPECT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TVertex)), D3D_OK);
             RectVertices(8, 8, 16, 16, kGreen, v);
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"a texture changed and released after the draw leaves the draw as it was",
         [](Target& t)
         {
             IDirect3DTexture9* tex =
                 d3d9test::MakeTexture(t.Get(), 4, 4, [](UINT, UINT, UINT) { return kBlue; });
             t->SetTexture(0, tex);
             t.Rect(0, 0, 8, 8, 0xffffffff);
             D3DLOCKED_RECT lr;
             EXPECT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
             for (int y = 0; y < 4; ++y)
                 for (int x = 0; x < 4; ++x)
                     std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &kGreen, 4);
             tex->UnlockRect(0);
             t.Rect(8, 8, 16, 16, 0xffffffff);
             t->SetTexture(0, nullptr);
             tex->Release();
             return std::vector<Probe>{{2, 2, kBlue}, {12, 12, kGreen}};
         }},
        {"a clear between draws comes after the first and before the second",
         [](Target& t)
         {
             t.Rect(0, 0, 16, 16, kRed);
             t.Clear(kBlue);
             t.Rect(0, 0, 8, 8, kGreen);
             return std::vector<Probe>{{2, 2, kGreen}, {12, 12, kBlue}};
         }},
        {"a render target switch sends each draw to its own target",
         [](Target& t)
         {
             IDirect3DSurface9 *back = nullptr, *other = nullptr;
             EXPECT_EQ(t->GetRenderTarget(0, &back), D3D_OK);
             EXPECT_EQ(t->CreateRenderTarget(16, 16, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &other,
                                             nullptr),
                       D3D_OK);
             t.Rect(0, 0, 8, 8, kRed);
             EXPECT_EQ(t->SetRenderTarget(0, other), D3D_OK);
             EXPECT_EQ(t->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
             t.Rect(8, 8, 16, 16, kGreen);
             EXPECT_EQ(SurfacePixel(other, 2, 2), kBlue);
             EXPECT_EQ(SurfacePixel(other, 12, 12), kGreen);
             EXPECT_EQ(t->SetRenderTarget(0, back), D3D_OK);
             other->Release();
             back->Release();
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"a copy of the target holds the draws before it",
         [](Target& t)
         {
             IDirect3DSurface9 *back = nullptr, *copy = nullptr;
             EXPECT_EQ(t->GetRenderTarget(0, &back), D3D_OK);
             EXPECT_EQ(
                 t->CreateOffscreenPlainSurface(16, 16, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr),
                 D3D_OK);
             t.Rect(0, 0, 8, 8, kRed);
             EXPECT_EQ(t->GetRenderTargetData(back, copy), D3D_OK);
             EXPECT_EQ(SurfacePixel(copy, 2, 2), kRed);
             t.Rect(8, 8, 16, 16, kGreen);
             copy->Release();
             back->Release();
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGreen}};
         }},
        {"a draw whose vertices lie past the buffer's end draws nothing of an earlier flush's primitives",
         [](Target& t)
         {
             t.Rect(0, 0, 8, 8, kRed);
             t.Clear(kBlue);
             IDirect3DVertexBuffer9* vb = RectBuffer(t.Get(), 8, 8, 16, 16, kGreen);
             t->SetFVF(kTVertexFvf);
             t->SetStreamSource(0, vb, 0, sizeof(TVertex));
             EXPECT_EQ(t->DrawPrimitive(D3DPT_TRIANGLESTRIP, 100, 2), D3D_OK);
             t->SetStreamSource(0, nullptr, 0, 0);
             vb->Release();
             return std::vector<Probe>{{2, 2, kBlue}, {12, 12, kBlue}};
         }},
    };
    for (unsigned threads : {1u, 3u})
        for (const FlushCase& c : cases)
        {
            SCOPED_TRACE(testing::Message() << c.name << ", " << threads << " threads");
            Target t(16, 16, D3DFMT_D24S8, threads);
            t.Clear(kGrey);
            const std::vector<Probe> probes = c.run(t);
            for (const Probe& p : probes)
                EXPECT_EQ(t.At(p.x, p.y), p.color) << "at " << p.x << ", " << p.y;
        }
}
} // namespace

namespace
{
// More draws than one flush takes: the second flush reuses the first one's records and bins, and blending
// makes every pixel depend on the order of the draws over it.
TEST(RecordedDrawsTest, DrawsPastTheBudgetGiveTheBytesOfOneThread)
{
    auto render = [](unsigned threads)
    {
        Target t(64, 48, D3DFMT_D24S8, threads);
        t.Clear(kGrey);
        t->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        t->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        t->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        uint32_t seed = 99;
        auto next = [&](uint32_t range)
        {
            seed = seed * 1664525u + 1013904223u;
            return (seed >> 8) % range;
        };
        for (int i = 0; i < 5000; ++i)
        {
            const float x = static_cast<float>(next(60)), y = static_cast<float>(next(44));
            const D3DCOLOR c = 0x80000000u | next(0x1000000);
            t.Rect(x, y, x + 1 + static_cast<float>(next(8)), y + 1 + static_cast<float>(next(8)), c);
        }
        return t.Pixels();
    };
    const std::vector<uint32_t> one = render(1);
    EXPECT_TRUE(render(3) == one);
    EXPECT_TRUE(render(8) == one);
}
} // namespace

namespace
{
// A flush started by the budget holds the target until it is drawn. When it ends before anything waits for
// it, the next call that needs the pixels must still give those references back.
TEST(RecordedDrawsTest, AFlushThatEndsUnwatchedGivesBackWhatItHeld)
{
    Target t(16, 16, D3DFMT_D24S8, 3);
    IDirect3DSurface9* bb = nullptr;
    ASSERT_EQ(t->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
    const ULONG before = bb->AddRef() - 1;
    bb->Release();
    for (int i = 0; i < 1100; ++i)
        t.Rect(0, 0, 4, 4, kRed);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(t.At(1, 1), kRed);
    EXPECT_EQ(bb->AddRef() - 1, before);
    bb->Release();
    bb->Release();
}
} // namespace

namespace
{
// A lit, textured, clipped quad of untransformed vertices, for states that a draw keeps from the one before
// it unless they change.
struct LitVertex
{
    float x, y, z, nx, ny, nz, u, v;
};
constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

D3DMATRIX Scaling(float x, float y, float z)
{
    D3DMATRIX m{};
    m._11 = x, m._22 = y, m._33 = z, m._44 = 1;
    return m;
}

D3DMATRIX Moved(D3DMATRIX m, float x, float y)
{
    m._41 += x, m._42 += y;
    return m;
}

// Vertices 0-5: the quad, its texture coordinates past [0, 1] on both sides; 6-8: a triangle of no area.
IDirect3DVertexBuffer9* LitQuadBuffer(IDirect3DDevice9* dev, float dx = 0)
{
    const LitVertex a{-1.5f + dx, -1.5f, 2, 0.3f, 0, -1, -1, -1}, b{1.5f + dx, -1.5f, 2, 0, 0.3f, -1, 2, -1},
        c{-1.5f + dx, 1.5f, 2, 0, -0.3f, -1, -1, 2}, d{1.5f + dx, 1.5f, 3, -0.3f, 0, -1, 2, 2},
        none{0, 0, 2, 0, 0, -1, 0, 0};
    const LitVertex v[9] = {a, b, c, c, b, d, none, none, none};
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(dev->CreateVertexBuffer(sizeof(v), 0, kLitFvf, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, v, sizeof(v));
    vb->Unlock();
    return vb;
}

IDirect3DTexture9* Checker(IDirect3DDevice9* dev, D3DCOLOR a, D3DCOLOR b)
{
    return d3d9test::MakeTexture(dev, 4, 4, [=](UINT x, UINT y, UINT) { return ((x ^ y) & 1) ? a : b; });
}

void SetBaseState(IDirect3DDevice9* dev)
{
    const D3DMATRIX projection = []
    {
        D3DMATRIX m = Scaling(1, 1, 1);
        m._34 = 1, m._44 = 0, m._43 = -0.5f;
        return m;
    }();
    dev->SetTransform(D3DTS_PROJECTION, &projection);
    dev->SetRenderState(D3DRS_LIGHTING, TRUE);
    dev->SetRenderState(D3DRS_AMBIENT, 0xff202020);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 0.9f, 0.8f, 1};
    light.Direction = {0.2f, -0.3f, 1};
    dev->SetLight(0, &light);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL9 material{};
    material.Diffuse = material.Ambient = {0.9f, 0.8f, 1, 1};
    dev->SetMaterial(&material);
    dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    const float keepRight[4] = {1, 0, 0, 0.5f};
    dev->SetClipPlane(0, keepRight);
    dev->SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
    dev->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
}

struct StateCase
{
    const char* name;
    std::function<void(IDirect3DDevice9*)> change;
};

// Draws the quad on a fresh device: set-up, then `before` (which may draw), then `change`, then the quad.
std::vector<uint32_t> DrawQuad(unsigned threads, const std::function<void(IDirect3DDevice9*)>& before,
                               const std::function<void(IDirect3DDevice9*)>& change)
{
    Target t(32, 32, D3DFMT_D24S8, threads);
    t.Clear(kGrey);
    IDirect3DDevice9* dev = t.Get();
    IDirect3DVertexBuffer9* vb = LitQuadBuffer(dev);
    IDirect3DTexture9* tex = Checker(dev, 0xffffffff, 0xff3060c0);
    SetBaseState(dev);
    dev->SetTexture(0, tex);
    dev->SetFVF(kLitFvf);
    dev->SetStreamSource(0, vb, 0, sizeof(LitVertex));
    before(dev);
    change(dev);
    EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    std::vector<uint32_t> pixels = t.Pixels();
    dev->SetTexture(0, nullptr);
    dev->SetStreamSource(0, nullptr, 0, 0);
    dev->SetVertexDeclaration(nullptr);
    tex->Release();
    vb->Release();
    return pixels;
}

// The device keeps the configuration of the last draw and rebuilds only what a state change touches: every
// state set between two draws must reach the second as if it had been set before any draw.
TEST(RecordedDrawsTest, AStateSetBetweenDrawsReachesTheNextDraw)
{
    auto withSurface = [](IDirect3DDevice9* dev, bool target)
    {
        IDirect3DSurface9* s = nullptr;
        if (target)
        {
            EXPECT_EQ(
                dev->CreateRenderTarget(32, 32, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &s, nullptr),
                D3D_OK);
            EXPECT_EQ(dev->SetRenderTarget(0, s), D3D_OK);
        }
        else
        {
            EXPECT_EQ(dev->CreateDepthStencilSurface(32, 32, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, FALSE, &s,
                                                     nullptr),
                      D3D_OK);
            EXPECT_EQ(dev->SetDepthStencilSurface(s), D3D_OK);
            EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0), D3D_OK);
        }
        s->Release();
    };
    const StateCase cases[] = {
        {"a render state of lighting",
         [](IDirect3DDevice9* d) { d->SetRenderState(D3DRS_AMBIENT, 0xff808080); }},
        {"a render state of the raster",
         [](IDirect3DDevice9* d) { d->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME); }},
        {"a render state of blending",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
             d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
         }},
        {"a render state of the depth test",
         [](IDirect3DDevice9* d) { d->SetRenderState(D3DRS_ZFUNC, D3DCMP_NEVER); }},
        {"the world transform",
         [](IDirect3DDevice9* d)
         {
             const D3DMATRIX m = Moved(Scaling(1, 1, 1), 0.4f, 0);
             d->SetTransform(D3DTS_WORLD, &m);
         }},
        {"the view transform, which the lights are taken into",
         [](IDirect3DDevice9* d)
         {
             const D3DMATRIX m = Moved(Scaling(0.7f, -1, 1), 0, 0.3f);
             d->SetTransform(D3DTS_VIEW, &m);
         }},
        {"the projection",
         [](IDirect3DDevice9* d)
         {
             D3DMATRIX m = Scaling(0.6f, 0.8f, 1);
             m._34 = 1, m._44 = 0, m._43 = -0.5f;
             d->SetTransform(D3DTS_PROJECTION, &m);
         }},
        {"a texture transform",
         [](IDirect3DDevice9* d)
         {
             const D3DMATRIX m = Scaling(2, 3, 1);
             d->SetTransform(D3DTS_TEXTURE0, &m);
         }},
        {"the material",
         [](IDirect3DDevice9* d)
         {
             D3DMATERIAL9 m{};
             m.Diffuse = {1, 0.2f, 0.1f, 1};
             d->SetMaterial(&m);
         }},
        {"a light",
         [](IDirect3DDevice9* d)
         {
             D3DLIGHT9 l{};
             l.Type = D3DLIGHT_DIRECTIONAL;
             l.Diffuse = {0.2f, 1, 0.4f, 1};
             l.Direction = {-0.5f, 0.2f, 1};
             d->SetLight(0, &l);
         }},
        {"a light switched off", [](IDirect3DDevice9* d) { d->LightEnable(0, FALSE); }},
        {"a clip plane",
         [](IDirect3DDevice9* d)
         {
             const float plane[4] = {-1, 0, 0, 0.5f};
             d->SetClipPlane(0, plane);
         }},
        {"a render state of clipping",
         [](IDirect3DDevice9* d) { d->SetRenderState(D3DRS_CLIPPLANEENABLE, 0); }},
        {"a texture",
         [](IDirect3DDevice9* d)
         {
             IDirect3DTexture9* other = Checker(d, 0xffff0000, 0xff00ff00);
             d->SetTexture(0, other);
             other->Release();
         }},
        {"a stage state",
         [](IDirect3DDevice9* d) { d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2); }},
        {"a sampler state",
         [](IDirect3DDevice9* d) { d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP); }},
        {"the viewport",
         [](IDirect3DDevice9* d)
         {
             const D3DVIEWPORT9 vp = {4, 6, 20, 16, 0, 1};
             d->SetViewport(&vp);
         }},
        {"the scissor rectangle",
         [](IDirect3DDevice9* d)
         {
             const RECT r = {3, 5, 21, 19};
             d->SetScissorRect(&r);
         }},
        {"the vertex format", [](IDirect3DDevice9* d) { d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL); }},
        {"a vertex declaration",
         [](IDirect3DDevice9* d)
         {
             const D3DVERTEXELEMENT9 elements[] = {
                 {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                 {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
                 D3DDECL_END()};
             IDirect3DVertexDeclaration9* decl = nullptr;
             EXPECT_EQ(d->CreateVertexDeclaration(elements, &decl), D3D_OK);
             d->SetVertexDeclaration(decl);
             decl->Release();
         }},
        {"the vertex stream",
         [](IDirect3DDevice9* d)
         {
             IDirect3DVertexBuffer9* moved = LitQuadBuffer(d, 0.5f);
             d->SetStreamSource(0, moved, 0, sizeof(LitVertex));
             moved->Release();
         }},
        {"the depth surface", [&](IDirect3DDevice9* d) { withSurface(d, false); }},
        {"the render target", [&](IDirect3DDevice9* d) { withSurface(d, true); }},
    };
    auto nothing = [](IDirect3DDevice9*) {};
    // Draws a triangle of no area, which keeps the configuration and writes no pixel.
    auto drawNothing = [](IDirect3DDevice9* d)
    { EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, 6, 1), D3D_OK); };
    for (unsigned threads : {1u, 3u})
    {
        const std::vector<uint32_t> unchanged = DrawQuad(threads, nothing, nothing);
        for (const StateCase& c : cases)
        {
            SCOPED_TRACE(testing::Message() << c.name << ", " << threads << " threads");
            const std::vector<uint32_t> expected = DrawQuad(threads, nothing, c.change);
            EXPECT_TRUE(expected != unchanged) << "the change shows in no pixel";
            EXPECT_TRUE(DrawQuad(threads, drawNothing, c.change) == expected);
        }
    }
}
} // namespace
